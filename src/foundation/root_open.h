// The confined open under RootFolder and the walk of root_links.h: openat2
// relative to a folder's descriptor, and a descriptor that closes itself.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

// openat2 with the given resolve flags, retried a bounded few times when a
// rename raced a ".." step. -1 with errno set on failure.
int openBeneath(int folder, const char* path, int flags, unsigned mode, std::uint64_t resolve);
// The same with RESOLVE_BENEATH and no magic links: the kernel refuses any
// way out of the root, an absolute link among them.
int openBeneathRoot(int root, const std::string& path, int flags, unsigned mode);

// The descriptor is closed when the scope ends.
class RootDescriptor final {
public:
    explicit RootDescriptor(int fd) : fd_(fd) {}
    ~RootDescriptor();
    RootDescriptor(const RootDescriptor&) = delete;
    RootDescriptor& operator=(const RootDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

} // namespace vantrel

// WriterRegistry: the files this process has open for writing, known by
// device and inode. A file in it cannot be opened for writing a second
// time, and cannot be deleted, renamed or moved: a second upload of the
// same name, or a delete during an upload, would otherwise throw away
// bytes that the first writer is still told it has stored.
#pragma once

#include "foundation/critical_lock.h"

#include <compare>
#include <cstdint>
#include <set>

namespace vantrel {

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    auto operator<=>(const FileIdentity&) const = default;
};

class WriterRegistry final {
public:
    static WriterRegistry& instance();

    // False when the file is open for writing already.
    [[nodiscard]] bool claim(FileIdentity file);
    void release(FileIdentity file);

    // Runs `change` (an unlink or rename of the file) unless the file is
    // open for writing, and returns its result. The lock is held across
    // the change so that no writer claims the file in between; a writer
    // that opened it just before finds it unlinked when it claims it
    // (FileHandle::adopt). The change is one system call, never a wait.
    template <typename Change>
    bool unlessWritten(FileIdentity file, Change&& change)
    {
        LockGuard guard(lock_);
        if (open_.count(file) != 0)
            return false;
        return change();
    }

private:
    WriterRegistry() = default;

    CriticalLock lock_;
    std::set<FileIdentity> open_ VT_GUARDED_BY(lock_);
};

} // namespace vantrel

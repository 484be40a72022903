// InstanceLock: a machine-wide named lock that the system releases when
// the process ends, however it ends (flock on a file in the temporary folder).
#pragma once

#include <string_view>

namespace vantrel {

class InstanceLock final {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False when another process holds the lock of that name.
    [[nodiscard]] bool acquire(std::string_view name);

private:
    int fd_ = -1;
};

} // namespace vantrel

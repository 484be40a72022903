// InstanceLock: a machine-wide named lock that the system releases when
// the process ends, however it ends (flock on a file in the temporary folder).
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// A file of the instance of that name in $TMPDIR: its lock file, its
// control socket.
std::string instanceFilePath(std::string_view name, std::string_view extension);

enum class InstanceLockFailure {
    None,
    HeldElsewhere, // another process holds the lock of that name
    NoLockFile,    // the lock file cannot be made or opened
};

class InstanceLock final {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False when another process holds the lock of that name, or when the
    // lock file cannot be had at all; failure() tells which.
    [[nodiscard]] bool acquire(std::string_view name);
    InstanceLockFailure failure() const { return failure_; }
    // The lock file's path, as acquire() last tried it.
    const std::string& lockFile() const { return lockFile_; }
    // The system's reason of a NoLockFile failure.
    int failureError() const { return failureError_; }

private:
    int fd_ = -1;
    InstanceLockFailure failure_ = InstanceLockFailure::None;
    std::string lockFile_;
    int failureError_ = 0;
};

} // namespace vantrel

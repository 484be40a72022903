// The control socket first, the instance lock second, retried while a
// silent process holds the lock.
#include "tools/server_link.h"

#include "foundation/product.h"
#include "foundation/server_instance.h"

#include <poll.h>

#include <chrono>
#include <cstring>
#include <ostream>

namespace vantrel {

namespace {

constexpr int RetryMs = 50;

enum class Attempt {
    Answered,
    NoServer,
    Failed
};

Attempt ask(const std::string& path, std::span<const std::string> words, ControlReply& reply, std::ostream& err)
{
    ControlFd fd;
    std::string why;
    switch (connectControl(path, fd, why)) {
    case ControlConnect::Connected:
        break;
    case ControlConnect::NoServer:
        return Attempt::NoServer;
    case ControlConnect::Unsafe:
        err << "vantrel-settings: the server's control socket is not safe to use: " << why << "; nothing was changed\n";
        return Attempt::Failed;
    case ControlConnect::Failed:
        err << "vantrel-settings: the server's control socket cannot be used: " << why << "\n";
        return Attempt::Failed;
    }
    // A server that refuses the caller answers without reading the request,
    // so its reply is read even when the request could not be sent whole.
    (void)writeControlMessage(fd.get(), encodeControlRequest(words));
    std::string bytes;
    if (!readControlMessage(fd.get(), ControlReplyLimit, ControlReplyWaitMs, bytes) ||
        !decodeControlReply(bytes, reply)) {
        // The request may or may not have been carried out.
        err << "vantrel-settings: the server did not answer on " << path << "; see its status before trying again\n";
        return Attempt::Failed;
    }
    return Attempt::Answered;
}

} // namespace

LinkResult askServer(std::span<const std::string> words, int waitMs, InstanceLock& lock, ControlReply& reply,
                     std::ostream& err)
{
    const std::string path = controlSocketPath(ServerInstanceName);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        switch (ask(path, words, reply, err)) {
        case Attempt::Answered:
            return LinkResult::Answered;
        case Attempt::Failed:
            return LinkResult::Failed;
        case Attempt::NoServer:
            break;
        }
        if (lock.acquire(ServerInstanceName))
            return LinkResult::Stopped;
        if (lock.failure() != InstanceLockFailure::HeldElsewhere) {
            err << "vantrel-settings: the lock file " << lock.lockFile() << " cannot be made ("
                << std::strerror(lock.failureError())
                << "); TMPDIR must name a folder that exists and may be written\n";
            return LinkResult::Failed;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            err << "vantrel-settings: " << ProductName << " holds its lock " << lock.lockFile()
                << " but does not answer on " << path << "; nothing was changed\n";
            return LinkResult::Failed;
        }
        (void)::poll(nullptr, 0, RetryMs);
    }
}

} // namespace vantrel

// The control socket of a running server: where it lives (a Unix socket
// beside the single-instance lock), the one request and the one reply that
// each connection carries, and the checks each end makes before it trusts
// the other. A request is a list of words, each ended by a zero byte; a
// reply is the line "CODE OUTLENGTH ERRLENGTH" followed by the bytes of the
// standard output and the standard error it stands for. Both ends bound
// what they read and how long they wait.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

constexpr std::size_t ControlRequestLimit = 64 * 1024;
constexpr std::size_t ControlReplyLimit = 16 * 1024 * 1024;
constexpr std::size_t ControlWordLimit = 256;
// How long the server waits for a request's bytes, and either end for its
// bytes to be taken.
constexpr int ControlIoTimeoutMs = 5000;
// How long a client waits for the reply: the server serves one connection
// at a time, each within its time limits, and its owner may be busy.
constexpr int ControlReplyWaitMs = 60000;

struct ControlReply {
    int code = 1;
    std::string out;
    std::string err;
};

// A descriptor that closes itself.
class ControlFd final {
public:
    ControlFd() = default;
    explicit ControlFd(int fd) : fd_(fd) {}
    ~ControlFd() { reset(); }
    ControlFd(ControlFd&& other) noexcept : fd_(other.release()) {}
    ControlFd& operator=(ControlFd&& other) noexcept;
    ControlFd(const ControlFd&) = delete;
    ControlFd& operator=(const ControlFd&) = delete;

    int get() const { return fd_; }
    int release();
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// The socket's path for the instance of that name, in $TMPDIR.
std::string controlSocketPath(std::string_view instanceName);

std::string encodeControlRequest(std::span<const std::string> words);
// False for anything but zero-ended words within the limits.
[[nodiscard]] bool decodeControlRequest(std::string_view bytes, std::vector<std::string>& words);
std::string encodeControlReply(const ControlReply& reply);
[[nodiscard]] bool decodeControlReply(std::string_view bytes, ControlReply& reply);

// Reads until the peer ends its side, at most `limit` bytes, within
// timeoutMs in all. False on more bytes, an error or the time.
[[nodiscard]] bool readControlMessage(int fd, std::size_t limit, int timeoutMs, std::string& bytes);
// Writes all bytes within ControlIoTimeoutMs, then ends this side.
[[nodiscard]] bool writeControlMessage(int fd, std::string_view bytes);

enum class ControlConnect {
    Connected,
    NoServer, // no socket, or nobody listens on it
    Unsafe,   // the socket or its folder could belong to someone else
    Failed,   // another error
};

// Connects to the socket at `path` after checking that only its rightful
// owner could have made it: the folder must not be writable by others
// (unless it is sticky), and the socket must belong to the caller, or, for
// root, to root or the owner of a folder nobody else may write. The
// listening process must run as the socket's owner. `why` explains an
// Unsafe or Failed result.
ControlConnect connectControl(const std::string& path, ControlFd& fd, std::string& why);

// Makes the listening socket at `path`, mode 0600, replacing one that a
// server of the same instance left behind (the caller holds the lock).
[[nodiscard]] bool listenControl(const std::string& path, ControlFd& fd, std::string& why);

// True when the peer of a connected socket runs as this process's user or
// as root.
bool controlPeerAllowed(int fd);

} // namespace vantrel

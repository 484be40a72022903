// The control socket's path, its messages, bounded reads and writes, and
// the ownership checks of both ends.
#include "foundation/control_channel.h"

#include "foundation/instance_lock.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>

namespace vantrel {

namespace {

constexpr std::string_view ControlExtension = ".control";
constexpr int ListenBacklog = 8;

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits until `fd` is ready for `events` or the deadline passes.
bool waitReady(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd item{fd, events, 0};
        const int ready = ::poll(&item, 1, remainingMs(deadline));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

bool fillAddress(const std::string& path, sockaddr_un& address, std::string& why)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        why = "the path " + path + " is too long for a socket";
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool peerUser(int fd, uid_t& user)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return false;
    user = credentials.uid;
    return true;
}

// Only the owner of the socket, or root, could have put it where it is.
bool trustworthy(const std::string& path, const struct stat& folder, const struct stat& socket, std::string& why)
{
    const uid_t me = ::geteuid();
    const bool othersWrite = (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (othersWrite && (folder.st_mode & S_ISVTX) == 0) {
        why = "others may replace " + path + ": its folder may be written by other users";
        return false;
    }
    const bool folderOwnedBySocketOwner = folder.st_uid == socket.st_uid && !othersWrite;
    if (folder.st_uid != 0 && folder.st_uid != me && !(me == 0 && folderOwnedBySocketOwner)) {
        why = "the folder of " + path + " belongs to another user";
        return false;
    }
    if (socket.st_uid == me || socket.st_uid == 0 || (me == 0 && folderOwnedBySocketOwner))
        return true;
    why = path + " belongs to another user";
    return false;
}

} // namespace

ControlFd& ControlFd::operator=(ControlFd&& other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

int ControlFd::release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void ControlFd::reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

std::string controlSocketPath(std::string_view instanceName)
{
    return instanceFilePath(instanceName, ControlExtension);
}

std::string encodeControlRequest(std::span<const std::string> words)
{
    std::string bytes;
    for (const std::string& word : words) {
        bytes += word;
        bytes.push_back('\0');
    }
    return bytes;
}

bool decodeControlRequest(std::string_view bytes, std::vector<std::string>& words)
{
    words.clear();
    if (bytes.empty() || bytes.size() > ControlRequestLimit || bytes.back() != '\0')
        return false;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\0');
        if (words.size() == ControlWordLimit)
            return false;
        words.emplace_back(bytes.substr(0, end));
        bytes.remove_prefix(end + 1);
    }
    return true;
}

std::string encodeControlReply(const ControlReply& reply)
{
    std::string bytes = std::to_string(reply.code) + ' ' + std::to_string(reply.out.size()) + ' ' +
                        std::to_string(reply.err.size()) + '\n';
    bytes += reply.out;
    bytes += reply.err;
    return bytes;
}

bool decodeControlReply(std::string_view bytes, ControlReply& reply)
{
    const std::size_t newline = bytes.find('\n');
    if (newline == std::string_view::npos)
        return false;
    const char* at = bytes.data();
    const char* end = at + newline;
    std::size_t outSize = 0;
    std::size_t errSize = 0;
    auto number = [&](auto& value, bool last) {
        const auto [stop, error] = std::from_chars(at, end, value);
        if (error != std::errc() || stop == at || (last ? stop != end : (stop == end || *stop != ' ')))
            return false;
        at = last ? stop : stop + 1;
        return true;
    };
    if (!number(reply.code, false) || !number(outSize, false) || !number(errSize, true))
        return false;
    const std::string_view body = bytes.substr(newline + 1);
    if (outSize > body.size() || errSize != body.size() - outSize)
        return false;
    reply.out = std::string(body.substr(0, outSize));
    reply.err = std::string(body.substr(outSize));
    return true;
}

bool readControlMessage(int fd, std::size_t limit, int timeoutMs, std::string& bytes)
{
    bytes.clear();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got == 0)
            return true;
        if (got > 0) {
            if (bytes.size() + static_cast<std::size_t>(got) > limit)
                return false;
            bytes.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (errno == EINTR)
            continue;
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || !waitReady(fd, POLLIN, deadline))
            return false;
    }
}

bool writeControlMessage(int fd, std::string_view bytes)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ControlIoTimeoutMs);
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) || !waitReady(fd, POLLOUT, deadline))
            return false;
    }
    return ::shutdown(fd, SHUT_WR) == 0;
}

ControlConnect connectControl(const std::string& path, ControlFd& fd, std::string& why)
{
    struct stat socketInfo {};
    if (::lstat(path.c_str(), &socketInfo) != 0) {
        if (errno == ENOENT)
            return ControlConnect::NoServer;
        why = path + ": " + std::strerror(errno);
        return ControlConnect::Failed;
    }
    struct stat folderInfo {};
    if (::stat(folderOf(path).c_str(), &folderInfo) != 0) {
        why = folderOf(path) + ": " + std::strerror(errno);
        return ControlConnect::Failed;
    }
    if (!S_ISSOCK(socketInfo.st_mode)) {
        why = path + " is not a socket";
        return ControlConnect::Unsafe;
    }
    if (!trustworthy(path, folderInfo, socketInfo, why))
        return ControlConnect::Unsafe;
    sockaddr_un address{};
    if (!fillAddress(path, address, why))
        return ControlConnect::Failed;
    fd.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0) {
        why = std::string("no socket: ") + std::strerror(errno);
        return ControlConnect::Failed;
    }
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        fd.reset();
        if (error == ECONNREFUSED || error == ENOENT)
            return ControlConnect::NoServer;
        why = path + ": " + std::strerror(error);
        return ControlConnect::Failed;
    }
    uid_t server = 0;
    if (!peerUser(fd.get(), server) || server != socketInfo.st_uid) {
        fd.reset();
        why = "the process listening on " + path + " does not run as the socket's owner";
        return ControlConnect::Unsafe;
    }
    return ControlConnect::Connected;
}

bool listenControl(const std::string& path, ControlFd& fd, std::string& why)
{
    sockaddr_un address{};
    if (!fillAddress(path, address, why))
        return false;
    struct stat left {};
    if (::lstat(path.c_str(), &left) == 0) {
        if (!S_ISSOCK(left.st_mode) || ::unlink(path.c_str()) != 0) {
            why = path + " is in the way and cannot be removed";
            return false;
        }
    }
    fd.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    // The socket's mode before bind() becomes the file's, so the file is
    // the owner's only from the moment it appears; the chmod after it
    // makes sure where a system does otherwise.
    if (fd.get() < 0 || ::fchmod(fd.get(), S_IRUSR | S_IWUSR) != 0 ||
        ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(path.c_str(), S_IRUSR | S_IWUSR) != 0 || ::listen(fd.get(), ListenBacklog) != 0) {
        why = path + ": " + std::strerror(errno);
        fd.reset();
        return false;
    }
    return true;
}

bool controlPeerAllowed(int fd)
{
    uid_t user = 0;
    return peerUser(fd, user) && (user == 0 || user == ::geteuid());
}

} // namespace vantrel

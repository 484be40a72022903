// The control socket's thread and its hand-over to the owner's thread
// through two eventfds and one guarded job slot.
#include "foundation/control_server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace vantrel {

namespace {

void signal(int fd)
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof one);
}

void drain(int fd)
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(fd, &count, sizeof count);
}

constexpr std::size_t ControlDrainLimit = 1024 * 1024;
constexpr int ControlDrainMs = 1000;

ControlReply refusal(const char* text)
{
    ControlReply reply;
    reply.err = text;
    return reply;
}

} // namespace

ControlServer::~ControlServer()
{
    close();
}

bool ControlServer::open(std::string& why)
{
    wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    done_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (wake_.get() < 0 || done_.get() < 0) {
        why = std::string("no event: ") + std::strerror(errno);
        return false;
    }
    if (!listenControl(path_, listen_, why))
        return false;
    if (!start()) {
        why = "no thread for the control socket";
        listen_.reset();
        (void)::unlink(path_.c_str());
        return false;
    }
    return true;
}

void ControlServer::close()
{
    if (listen_.get() < 0)
        return;
    {
        LockGuard guard(lock_);
        closing_ = true;
    }
    stop(StopTimeoutMs);
    listen_.reset();
    (void)::unlink(path_.c_str());
}

bool ControlServer::hasPending() const
{
    LockGuard guard(lock_);
    return job_ == Job::Waiting;
}

void ControlServer::runPending(const Handler* handler)
{
    drain(wake_.get());
    std::vector<std::string> words;
    {
        LockGuard guard(lock_);
        if (handler == nullptr || job_ != Job::Waiting || closing_)
            return;
        job_ = Job::Running;
        words = words_;
    }
    ControlReply reply = (*handler)(words);
    {
        LockGuard guard(lock_);
        reply_ = std::move(reply);
        job_ = Job::Done;
    }
    signal(done_.get());
}

void ControlServer::run()
{
    while (!stopRequested()) {
        pollfd items[] = {{listen_.get(), POLLIN, 0}, {stopEventDescriptor(), POLLIN, 0}};
        if (::poll(items, 2, -1) < 0 && errno != EINTR)
            break;
        if ((items[0].revents & POLLIN) == 0)
            continue;
        ControlFd client(::accept4(listen_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (client.get() >= 0)
            serve(client.get());
    }
}

void ControlServer::serve(int client)
{
    // The request is read whole before any answer: closing a socket with
    // unread bytes would reset it, and the caller would lose the answer.
    std::string bytes;
    const bool read = readControlMessage(client, ControlRequestLimit, ControlIoTimeoutMs, bytes);
    if (!controlPeerAllowed(client)) {
        (void)writeControlMessage(client, encodeControlReply(refusal(TextControlForbidden)));
        return;
    }
    std::vector<std::string> words;
    if (!read || !decodeControlRequest(bytes, words)) {
        ControlReply reply = refusal(TextControlGarbled);
        reply.code = 2;
        (void)writeControlMessage(client, encodeControlReply(reply));
        // What an over-long request still sends is taken in, within bounds,
        // so that the close does not reset the answer away.
        (void)readControlMessage(client, ControlDrainLimit, ControlDrainMs, bytes);
        return;
    }
    {
        LockGuard guard(lock_);
        if (closing_) {
            (void)writeControlMessage(client, encodeControlReply(refusal(TextControlEnding)));
            return;
        }
        words_ = std::move(words);
        job_ = Job::Waiting;
    }
    signal(wake_.get());
    (void)writeControlMessage(client, encodeControlReply(awaitOwner()));
}

ControlReply ControlServer::awaitOwner()
{
    int waitMs = ownerWaitMs_;
    for (;;) {
        pollfd items[] = {{done_.get(), POLLIN, 0}, {stopEventDescriptor(), POLLIN, 0}};
        const int ready = ::poll(items, 2, waitMs);
        if (ready < 0 && errno == EINTR)
            continue;
        drain(done_.get());
        LockGuard guard(lock_);
        switch (job_) {
        case Job::Done:
            job_ = Job::None;
            return std::move(reply_);
        case Job::Waiting:
            if (ready != 0 && !stopRequested())
                continue;
            job_ = Job::None;
            drain(wake_.get());
            return refusal(closing_ ? TextControlEnding : TextControlBusy);
        case Job::Running:
            // Started: the owner's answer comes, whatever else happens.
            waitMs = -1;
            continue;
        case Job::None:
            return refusal(TextControlEnding);
        }
    }
}

} // namespace vantrel

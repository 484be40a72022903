// ControlServer: a thread that takes the control socket's requests one at
// a time and has the owner's thread answer them. The owner watches
// wakeDescriptor() and calls runPending() on its own thread, so a request
// touches the live objects only where they are owned, between two of the
// owner's own actions. A request the owner does not take up within
// the owner's wait is answered as refused, and so is every request once close()
// began: none is ever applied after its client was told otherwise.
#pragma once

#include "foundation/control_channel.h"
#include "foundation/critical_lock.h"
#include "foundation/worker_thread.h"

#include <functional>
#include <span>
#include <string>
#include <vector>

namespace vantrel {

constexpr char TextControlBusy[] =
    "vantrel-settings: the server is busy (a message waits in its window); nothing was changed, try again\n";
constexpr char TextControlEnding[] = "vantrel-settings: the server is ending; nothing was changed\n";
constexpr char TextControlGarbled[] = "vantrel-settings: the server could not read the request\n";
constexpr char TextControlForbidden[] =
    "vantrel-settings: only the server's own user and root may use its control socket\n";

class ControlServer final : public WorkerThread {
public:
    using Handler = std::function<ControlReply(std::span<const std::string> words)>;
    static constexpr int DefaultOwnerWaitMs = 20000;

    explicit ControlServer(std::string path, int ownerWaitMs = DefaultOwnerWaitMs)
        : path_(std::move(path)), ownerWaitMs_(ownerWaitMs)
    {
    }
    ~ControlServer() override;

    // Listens and starts the thread; false with the reason otherwise.
    [[nodiscard]] bool open(std::string& why);
    // Refuses what waits, ends the thread and removes the socket. On the
    // owner's thread.
    void close();
    const std::string& path() const { return path_; }

    // Readable while a request waits for runPending().
    int wakeDescriptor() const { return wake_.get(); }
    // On the owner's thread: answers the waiting request, if any, with
    // `handler`. A call while the owner cannot answer yet (it is in the
    // middle of an action) passes null and only quiets the wake.
    void runPending(const Handler* handler);
    bool hasPending() const;

private:
    enum class Job {
        None,
        Waiting,
        Running,
        Done
    };

    void run() override;
    void serve(int client);
    // Waits for the owner's answer; the reply to send.
    ControlReply awaitOwner();

    std::string path_;
    int ownerWaitMs_;
    ControlFd listen_;
    ControlFd wake_; // eventfd: a request waits for the owner
    ControlFd done_; // eventfd: the owner has answered
    mutable CriticalLock lock_;
    Job job_ VT_GUARDED_BY(lock_) = Job::None;
    bool closing_ VT_GUARDED_BY(lock_) = false;
    std::vector<std::string> words_ VT_GUARDED_BY(lock_);
    ControlReply reply_ VT_GUARDED_BY(lock_);
};

} // namespace vantrel

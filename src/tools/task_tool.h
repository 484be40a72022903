// TaskTool: the task commands of vantrel-settings, which speak of accounts,
// sites and switches rather than records. While the server runs, a command
// is handed to it over its control socket and applied there to the live
// services (runLive). Otherwise the command holds the server's
// single-instance lock (so the server cannot start meanwhile), loads the
// service's settings with the service's own code, applies the settings
// window's logic and saves with the service's own code. `status` and
// `service` speak only to a running server.
#pragma once

#include "tools/live_services.h"

#include <iosfwd>
#include <span>
#include <string>
#include <string_view>

namespace vantrel {

class InstanceLock;

// The first word of each control request.
constexpr std::string_view TaskRequest = "task";
constexpr std::string_view StatusRequest = "status";
constexpr std::string_view ServiceRequest = "service";

class TaskTool final {
public:
    static const char UsageText[];
    static constexpr int DefaultServerWaitMs = 15000;

    // serverWaitMs: how long a command waits for a server that holds its
    // lock without answering.
    TaskTool(std::ostream& out, std::ostream& err, int serverWaitMs = DefaultServerWaitMs)
        : out_(out), err_(err), serverWaitMs_(serverWaitMs)
    {
    }

    // True when the first word of a command line starts a task command.
    static bool startsTask(std::string_view word);
    // Runs one command line; returns the exit code (0 done, 1 refused or
    // failed, 2 bad command line, 3 for `status` of a stopped server).
    int run(std::span<const std::string> args);
    // In the running server, on its owning thread: the words of a task
    // request (the caller's folder, the data folder it named, the
    // command). Returns the exit code the caller ends with.
    int runLive(std::span<const std::string> words, const LiveServices& live);

private:
    int status(std::span<const std::string> args);
    int service(std::span<const std::string> args);
    // Hands the request to a running server and prints its answer; false
    // when no server runs, and `lock` is then held.
    bool answeredByServer(std::span<const std::string> request, InstanceLock& lock, int& code);

    std::ostream& out_;
    std::ostream& err_;
    int serverWaitMs_;
};

} // namespace vantrel

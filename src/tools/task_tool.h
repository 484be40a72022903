// TaskTool: the task commands of vantrel-settings, which speak of accounts,
// sites and switches rather than records. Each works on a data folder,
// holds the server's single-instance lock while it runs (so the server
// cannot start meanwhile, nor the command run while it is up), loads the
// service's settings with the service's own code, applies the settings
// window's logic and saves with the service's own code.
#pragma once

#include <iosfwd>
#include <span>
#include <string>
#include <string_view>

namespace vantrel {

class TaskTool final {
public:
    static const char UsageText[];

    TaskTool(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

    // True when the first word of a command line starts a task command.
    static bool startsTask(std::string_view word);
    // Runs one task command; returns the exit code (0 done, 1 refused or
    // failed, 2 bad command line).
    int run(std::span<const std::string> args);

private:
    std::ostream& out_;
    std::ostream& err_;
};

} // namespace vantrel

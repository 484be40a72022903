// What the task commands of vantrel-settings share: the parsed words of one
// command, the prompt that turns the settings windows' messages into lines
// on standard error, and the table entry that ties a command's words to its
// handler and to the service whose settings it edits.
#pragma once

#include "foundation/service_control.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel {

// Operands in order and "--name VALUE" options, as given after the command;
// a switch is there with an empty value.
struct TaskArgs {
    std::vector<std::string> operands;
    std::vector<std::pair<std::string, std::string>> options;

    // The last value given for the option, or null.
    const std::string* option(std::string_view name) const;
};

// Shows each message of a settings panel as "vantrel-settings: TITLE: TEXT"
// on standard error. A message that is not a mere notice means the window
// refused the input, and the command then fails with nothing saved. There
// is no folder picker: folders come from the command line.
class TaskPrompt final : public MessagePrompt, public FolderChooser {
public:
    explicit TaskPrompt(std::ostream& err) : err_(err) {}
    PromptAnswer show(std::string_view text, std::string_view title, PromptButtons buttons, PromptIcon icon) override;
    bool selectFolder(std::string&) override { return false; }
    bool refused() const { return refused_; }

private:
    std::ostream& err_;
    bool refused_ = false;
};

struct TaskContext {
    const TaskArgs& args;
    std::ostream& out;
    std::ostream& err;
    TaskPrompt& prompt;
    // The folder the command was started in: relative folders on the
    // command line are taken from there, not from the data folder.
    std::string callerFolder;

    std::string absoluteFolder(const std::string& folder) const;
};

enum class TaskResult {
    Unchanged,
    Changed,
    Refused
};

template <typename Service>
struct TaskCommand {
    std::string_view group;
    std::string_view action;
    std::size_t operands;
    // The allowed option names, space-separated; a name written with its
    // "--" is a switch, which takes no value.
    std::string_view options;
    TaskResult (*run)(Service& service, TaskContext& context);
};

class EmailService;
class FtpService;
class HttpService;
class TlsSettings;

std::span<const TaskCommand<FtpService>> ftpTaskCommands();
std::span<const TaskCommand<HttpService>> httpTaskCommands();
std::span<const TaskCommand<EmailService>> emailTaskCommands();
std::span<const TaskCommand<TlsSettings>> tlsTaskCommands();

// Parses "on" or "off"; false (with a message) for anything else.
bool parseSwitch(TaskContext& context, const std::string& word, bool& on);
// Parses a port number 0..65535; false (with a message) otherwise.
bool parsePort(TaskContext& context, const std::string& text, std::uint16_t& port);
// Parses a count 0..maximum; false (with a message) otherwise.
bool parseCount(TaskContext& context, const std::string& text, int maximum, int& count);

} // namespace vantrel

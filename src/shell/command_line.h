// The program's command line in the usual GNU form: --help, --version and
// --data-dir DIR of our own; Qt's own options (-platform, -style, ...) are
// recognised and handed on to Qt; anything else is a usage error. Parsed
// before anything is opened, so that --help and --version touch no file.
#pragma once

#include <string>
#include <vector>

namespace vantrel {

enum class CommandAction {
    Run,         // start the program
    ShowHelp,    // print the usage on standard output, exit 0
    ShowVersion, // print the version on standard output, exit 0
    UsageError,  // print `error` and the usage on standard error, exit 2
};

constexpr int ExitUsageError = 2;

struct CommandLine {
    CommandAction action = CommandAction::Run;
    // Empty: the current folder.
    std::string dataDir;
    // The program's name followed by the Qt options with their values, in
    // their order: what QApplication is given.
    std::vector<std::string> qtArguments;
    std::string error;
};

CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// The texts printed for --help and --version, and the one-line reason of a
// usage error's first line, each ending with a line break.
std::string usageText(const std::string& programName);
std::string versionText();
std::string usageErrorText(const std::string& programName, const std::string& error);

} // namespace vantrel

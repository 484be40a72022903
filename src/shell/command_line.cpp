// Parsing of the program's command line; see command_line.h.
#include "shell/command_line.h"

#include "foundation/product.h"
#include "foundation/text.h"

#include <array>
#include <string_view>

namespace vantrel {

namespace {

constexpr char TextUsage[] = "Usage: %s [OPTION]... [QT OPTION]...\n"
                             "Runs the FTP, HTTP, SMTP and POP3 servers of %s.\n"
                             "\n"
                             "  --data-dir DIR  keep settings, accounts, mail and logs in DIR (created\n"
                             "                  if missing) instead of the current folder\n"
                             "  --help          print this help and exit\n"
                             "  --version       print the version and exit\n"
                             "\n"
                             "Qt's options are accepted, for example -platform offscreen or -style NAME.\n"
                             "Without a display the program runs without a window (Qt's offscreen\n"
                             "platform); SIGTERM or SIGINT ends it with its settings saved.\n"
                             "Settings files are edited without the window by vantrel-settings.\n";
constexpr char TextVersion[] = "%s\nby %s, %s\n";
constexpr char TextUsageError[] = "%s: %s\n";
constexpr char TextUnknownOption[] = "unrecognised option '%s'";
constexpr char TextMissingValue[] = "option '%s' needs a value";
constexpr char TextOperand[] = "unexpected argument '%s'";

constexpr std::string_view OptionHelp = "--help";
constexpr std::string_view OptionVersion = "--version";
constexpr std::string_view OptionDataDir = "--data-dir";
constexpr std::size_t MaxShownArgument = 200;

// Qt's command-line options (QGuiApplication, QApplication and the X11
// platform), which Qt also accepts with two dashes.
constexpr std::array<std::string_view, 16> QtOptionsWithValue = {"platform",
                                                                 "platformpluginpath",
                                                                 "platformtheme",
                                                                 "plugin",
                                                                 "qwindowgeometry",
                                                                 "geometry",
                                                                 "qwindowicon",
                                                                 "icon",
                                                                 "qwindowtitle",
                                                                 "title",
                                                                 "session",
                                                                 "style",
                                                                 "stylesheet",
                                                                 "display",
                                                                 "name",
                                                                 "visual"};
constexpr std::array<std::string_view, 6> QtFlags = {"reverse", "testability", "widgetcount",
                                                     "nograb",  "dograb",      "sync"};
// Given as "-style=NAME" rather than as two arguments.
constexpr std::array<std::string_view, 3> QtJoinedOptions = {"style=", "stylesheet=", "qmljsdebugger="};

enum class QtOption {
    None,
    Flag,
    WithValue
};

QtOption qtOption(std::string_view argument)
{
    if (argument.size() < 2 || argument[0] != '-')
        return QtOption::None;
    std::string_view name = argument.substr(argument[1] == '-' ? 2 : 1);
    for (std::string_view option : QtOptionsWithValue)
        if (name == option)
            return QtOption::WithValue;
    for (std::string_view option : QtFlags)
        if (name == option)
            return QtOption::Flag;
    for (std::string_view option : QtJoinedOptions)
        if (name.size() > option.size() && name.substr(0, option.size()) == option)
            return QtOption::Flag;
    return QtOption::None;
}

// A terminal is no place for a megabyte of argument.
std::string shown(std::string_view argument)
{
    return std::string(argument.substr(0, MaxShownArgument));
}

CommandLine usageError(CommandLine line, const char* format, std::string_view argument)
{
    line.action = CommandAction::UsageError;
    line.error = formatText(255 + MaxShownArgument, format, shown(argument).c_str());
    return line;
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments)
{
    CommandLine line;
    line.qtArguments.push_back(arguments.empty() ? std::string("vantrel-server") : arguments[0]);
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (argument == OptionHelp || argument == "-h") {
            line.action = CommandAction::ShowHelp;
            return line;
        }
        if (argument == OptionVersion) {
            line.action = CommandAction::ShowVersion;
            return line;
        }
        if (argument == OptionDataDir || argument.substr(0, OptionDataDir.size() + 1) == "--data-dir=") {
            // "--data-dir DIR" or "--data-dir=DIR"; the last one given counts.
            std::string value;
            if (argument == OptionDataDir) {
                if (i + 1 >= arguments.size())
                    return usageError(line, TextMissingValue, argument);
                value = arguments[++i];
            } else {
                value = argument.substr(OptionDataDir.size() + 1);
            }
            if (value.empty())
                return usageError(line, TextMissingValue, OptionDataDir);
            line.dataDir = value;
            continue;
        }
        // The program takes no operands, so nothing may follow "--".
        if (argument == "--") {
            if (i + 1 < arguments.size())
                return usageError(line, TextOperand, arguments[i + 1]);
            break;
        }
        switch (qtOption(argument)) {
        case QtOption::Flag:
            line.qtArguments.emplace_back(argument);
            continue;
        case QtOption::WithValue:
            if (i + 1 >= arguments.size())
                return usageError(line, TextMissingValue, argument);
            line.qtArguments.emplace_back(argument);
            line.qtArguments.push_back(arguments[++i]);
            continue;
        case QtOption::None:
            break;
        }
        if (!argument.empty() && argument[0] == '-')
            return usageError(line, TextUnknownOption, argument);
        return usageError(line, TextOperand, argument);
    }
    return line;
}

std::string usageText(const std::string& programName)
{
    return formatText(sizeof TextUsage + 2 * MaxShownArgument, TextUsage, shown(programName).c_str(), ProductName);
}

std::string versionText()
{
    return formatText(sizeof TextVersion + 255, TextVersion, ProductName, MakerName, MakerWebPage);
}

std::string usageErrorText(const std::string& programName, const std::string& error)
{
    return formatText(error.size() + MaxShownArgument + 8, TextUsageError, shown(programName).c_str(), error.c_str());
}

} // namespace vantrel

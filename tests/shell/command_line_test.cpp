// The program's command line: our options, Qt's options handed on with
// their values, and every kind of usage error.
#include "shell/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel {
namespace {

using Arguments = std::vector<std::string>;

CommandLine parse(Arguments tail)
{
    tail.insert(tail.begin(), "/usr/bin/vantrel-server");
    return parseCommandLine(tail);
}

TEST(CommandLine, NoArgumentsRunsInTheCurrentFolder)
{
    const CommandLine line = parse({});
    EXPECT_EQ(line.action, CommandAction::Run);
    EXPECT_EQ(line.dataDir, "");
    EXPECT_EQ(line.qtArguments, Arguments{"/usr/bin/vantrel-server"});
}

struct Case {
    Arguments arguments;
    CommandAction action;
    std::string dataDir;
    Arguments qt; // after the program name
    std::string error;
};

TEST(CommandLine, Table)
{
    const std::vector<Case> cases = {
        {{"--help"}, CommandAction::ShowHelp, "", {}, ""},
        {{"-h"}, CommandAction::ShowHelp, "", {}, ""},
        {{"--version"}, CommandAction::ShowVersion, "", {}, ""},
        // The first of --help and --version wins, even after an error.
        {{"--version", "--bogus"}, CommandAction::ShowVersion, "", {}, ""},
        {{"--data-dir", "/srv/data", "--help"}, CommandAction::ShowHelp, "/srv/data", {}, ""},
        {{"--data-dir", "d"}, CommandAction::Run, "d", {}, ""},
        {{"--data-dir=d e"}, CommandAction::Run, "d e", {}, ""},
        {{"--data-dir", "a", "--data-dir", "b"}, CommandAction::Run, "b", {}, ""},
        // A value that looks like an option is still the value.
        {{"--data-dir", "--help"}, CommandAction::Run, "--help", {}, ""},
        {{"-platform", "offscreen", "--data-dir", "d", "-reverse"},
         CommandAction::Run,
         "d",
         {"-platform", "offscreen", "-reverse"},
         ""},
        {{"--platform", "minimal", "-style=Fusion", "-stylesheet", "--version"},
         CommandAction::Run,
         "",
         {"--platform", "minimal", "-style=Fusion", "-stylesheet", "--version"},
         ""},
        {{"-display", ":1", "-geometry", "100x100", "-qwindowtitle", "T", "-widgetcount"},
         CommandAction::Run,
         "",
         {"-display", ":1", "-geometry", "100x100", "-qwindowtitle", "T", "-widgetcount"},
         ""},
        {{"--bogus"}, CommandAction::UsageError, "", {}, "unrecognised option '--bogus'"},
        {{"-x"}, CommandAction::UsageError, "", {}, "unrecognised option '-x'"},
        {{"--help=yes"}, CommandAction::UsageError, "", {}, "unrecognised option '--help=yes'"},
        {{"-platformx"}, CommandAction::UsageError, "", {}, "unrecognised option '-platformx'"},
        {{"-style="}, CommandAction::UsageError, "", {}, "unrecognised option '-style='"},
        {{"--data-dir"}, CommandAction::UsageError, "", {}, "option '--data-dir' needs a value"},
        {{"--data-dir="}, CommandAction::UsageError, "", {}, "option '--data-dir' needs a value"},
        {{"--data-dir", ""}, CommandAction::UsageError, "", {}, "option '--data-dir' needs a value"},
        {{"-platform"}, CommandAction::UsageError, "", {}, "option '-platform' needs a value"},
        {{"data"}, CommandAction::UsageError, "", {}, "unexpected argument 'data'"},
        {{"-"}, CommandAction::UsageError, "", {}, "unrecognised option '-'"},
        {{"--"}, CommandAction::Run, "", {}, ""},
        {{"--", "--help"}, CommandAction::UsageError, "", {}, "unexpected argument '--help'"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& a : c.arguments)
            shown += a + " ";
        SCOPED_TRACE(shown);
        const CommandLine line = parse(c.arguments);
        EXPECT_EQ(line.action, c.action);
        EXPECT_EQ(line.error, c.error);
        if (c.action != CommandAction::Run)
            continue;
        EXPECT_EQ(line.dataDir, c.dataDir);
        Arguments qt{"/usr/bin/vantrel-server"};
        qt.insert(qt.end(), c.qt.begin(), c.qt.end());
        EXPECT_EQ(line.qtArguments, qt);
    }
}

TEST(CommandLine, HugeArgumentIsShownCut)
{
    const CommandLine line = parse({"--" + std::string(100000, 'x')});
    EXPECT_EQ(line.action, CommandAction::UsageError);
    EXPECT_LT(line.error.size(), 400u);
}

TEST(CommandLine, Texts)
{
    const std::string usage = usageText("vantrel-server");
    EXPECT_EQ(usage.rfind("Usage: vantrel-server [OPTION]...", 0), 0u);
    for (const char* option : {"--data-dir DIR", "--help", "--version", "-platform"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    EXPECT_EQ(versionText().rfind("Vantrel Server 2.33\n", 0), 0u);
    EXPECT_EQ(usageErrorText("vantrel-server", "unrecognised option '-x'"),
              "vantrel-server: unrecognised option '-x'\n");
}

} // namespace
} // namespace vantrel

// The task commands of vantrel-settings against the settings windows' own
// logic: each command runs in one data folder while the test drives the
// window's panel on the same service in a second one, and both folders must
// then hold the same bytes; the window's messages must reach stderr as they
// stand. Also the refusals: bad input, a damaged file, a held server lock.
#include "../foundation/scratch_folder.h"

#include "email/email_service.h"
#include "email/email_settings_panel.h"
#include "foundation/control_server.h"
#include "foundation/instance_lock.h"
#include "foundation/server_instance.h"
#include "foundation/settings_store.h"
#include "foundation/tls_certificate.h"
#include "foundation/tls_context.h"
#include "ftp/ftp_service.h"
#include "ftp/ftp_settings_panel.h"
#include "http/http_service.h"
#include "http/http_settings_panel.h"
#include "tools/settings_tool.h"
#include "tools/task_tool.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using testing::readBytes;
using testing::writeBytes;

// Collects the messages as the tool prints them.
class PrintingPrompt final : public MessagePrompt, public FolderChooser {
public:
    PromptAnswer show(std::string_view text, std::string_view title, PromptButtons, PromptIcon) override
    {
        printed += "vantrel-settings: " + std::string(title) + ": " + std::string(text) + "\n";
        return PromptAnswer::Ok;
    }
    bool selectFolder(std::string&) override { return false; }
    std::string printed;
};

class NoInfo final : public AttachmentInfoWindow {
public:
    void open() override {}
};

// Every file below a folder with its bytes, but the logs: the services open
// their logs where a "logs" folder exists, which the tool does not make.
std::map<std::string, std::string> snapshot(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = fs::relative(entry.path(), folder).string();
        if (entry.is_regular_file() && !name.starts_with("logs/"))
            files[name] = readBytes(entry.path().string());
    }
    return files;
}

// "" when both folders hold the same files with the same bytes; otherwise
// the first difference.
std::string difference(const std::string& left, const std::string& right)
{
    const auto a = snapshot(left);
    const auto b = snapshot(right);
    for (const auto& [name, bytes] : a) {
        const auto other = b.find(name);
        if (other == b.end())
            return name + " only in " + left;
        if (other->second != bytes) {
            std::size_t at = 0;
            while (at < bytes.size() && at < other->second.size() && bytes[at] == other->second[at])
                ++at;
            return name + " differs from byte " + std::to_string(at) + " on";
        }
    }
    for (const auto& entry : b)
        if (a.find(entry.first) == a.end())
            return entry.first + " only in " + right;
    return "";
}

class TaskToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        home_ = fs::current_path().string();
        for (const std::string& folder : {toolData, panelData, site})
            fs::create_directory(folder);
        // The program makes these at its start.
        for (const char* folder : {"logs", "email", "ftp", "http"})
            fs::create_directory(panelData + "/" + folder);
    }
    void TearDown() override { fs::current_path(home_); }

    // The tool started in `cwd` on the tool's data folder.
    int tool(std::vector<std::string> words, const std::string& cwd = {})
    {
        words.insert(words.begin(), {"--data-dir", toolData});
        fs::current_path(cwd.empty() ? scratch.path() : cwd);
        out.str("");
        err.str("");
        const int code = SettingsTool(out, err).run(words);
        fs::current_path(home_);
        return code;
    }

    // The window's logic on a service loaded from and saved to the panel's
    // data folder, as the program does when a settings window closes.
    template <typename Service>
    void window(const std::function<void(Service&)>& action)
    {
        fs::current_path(panelData);
        {
            Service service;
            (void)service.loadSettings();
            action(service);
            EXPECT_TRUE(service.saveSettings());
        }
        fs::current_path(home_);
    }
    void ftpWindow(const std::function<void(FtpSettingsPanel&)>& action)
    {
        window<FtpService>([&](FtpService& service) {
            FtpSettingsPanel panel(service, prompt, prompt);
            panel.show();
            action(panel);
        });
    }
    void httpWindow(const std::function<void(HttpSettingsPanel&)>& action)
    {
        window<HttpService>([&](HttpService& service) {
            HttpSettingsPanel panel(service, prompt, prompt);
            panel.show();
            action(panel);
        });
    }
    void emailWindow(const std::function<void(EmailSettingsPanel&)>& action)
    {
        window<EmailService>([&](EmailService& service) {
            NoInfo info;
            EmailSettingsPanel panel(service, prompt, info);
            panel.show();
            action(panel);
        });
    }

    // Runs the command and the window's step, then compares the folders
    // and the messages.
    void expectSame(const std::vector<std::string>& words, const std::function<void()>& windowStep)
    {
        prompt.printed.clear();
        windowStep();
        EXPECT_EQ(tool(words), 0) << err.str();
        EXPECT_EQ(err.str(), prompt.printed);
        EXPECT_EQ(difference(toolData, panelData), "") << words[0] << ' ' << words[1];
    }

    // The command fails with that message and leaves every file as it was.
    void expectRefused(const std::vector<std::string>& words, const std::string& message, int code = 1)
    {
        const auto before = snapshot(toolData);
        EXPECT_EQ(tool(words), code);
        EXPECT_NE(err.str().find(message), std::string::npos) << err.str();
        EXPECT_EQ(snapshot(toolData), before) << words[0] << ' ' << words[1];
    }

    testing::ScratchFolder scratch;
    std::string lockFolder = scratch / "tmp";
    bool lockFolderMade_ = fs::create_directory(lockFolder);
    testing::PrivateTmpDir tmp_{lockFolder};
    std::string toolData = scratch / "tool";
    std::string panelData = scratch / "panel";
    std::string site = scratch / "site";
    std::ostringstream out;
    std::ostringstream err;
    PrintingPrompt prompt;

private:
    std::string home_;
};

TEST_F(TaskToolTest, FtpAccountsAreWrittenAsTheWindowWritesThem)
{
    // The folder is relative to where the command starts and gets its "\".
    expectSame({"ftp-account", "add", "Bob Smith", "--password", "pw", "--folder", "site", "--rights",
                "file-read,file-write,folder-create"},
               [&] {
                   ftpWindow([&](FtpSettingsPanel& panel) {
                       panel.fields().user = "Bob Smith";
                       panel.fields().password = "pw";
                       panel.fields().folder = site;
                       panel.fields().rights =
                           AccessRights::FileRead | AccessRights::FileWrite | AccessRights::FolderCreate;
                       panel.addOrUpdate();
                   });
               });
    expectSame({"ftp-account", "add", "anonymous", "--password=ignored", "--folder", site}, [&] {
        ftpWindow([&](FtpSettingsPanel& panel) {
            panel.fields().user = "anonymous";
            panel.fields().password = "ignored";
            panel.fields().folder = site;
            panel.fields().rights = DefaultAccountRights;
            panel.addOrUpdate();
        });
    });
    EXPECT_NE(err.str().find("Warning: The 'anonymous' account ignores the password."), std::string::npos);
    expectSame({"ftp-account", "set", "BOBSMITH", "--rights", "none", "--password", "new"}, [&] {
        ftpWindow([&](FtpSettingsPanel& panel) {
            ASSERT_EQ(panel.fields().user, "bobsmith");
            panel.fields().rights = AccessRights::None;
            panel.fields().password = "new";
            panel.addOrUpdate();
        });
    });
    // The window's Auto Activate box sets the service's switch.
    expectSame({"autostart", "ftp", "on"}, [&] { window<FtpService>([](FtpService& s) { s.setAutostart(true); }); });

    expectSame({"ftp-site", "set", "--welcome", ""}, [&] {
        ftpWindow([&](FtpSettingsPanel& panel) {
            panel.fields().welcome.clear();
            ASSERT_TRUE(panel.applyGeneralSettings());
        });
    });
    EXPECT_NE(err.str().find("Warning: There is no welcome message supplied."), std::string::npos);
    expectSame({"ftp-site", "set", "--welcome", "Files for Bob."}, [&] {
        ftpWindow([&](FtpSettingsPanel& panel) {
            panel.fields().welcome = "Files for Bob.";
            ASSERT_TRUE(panel.applyGeneralSettings());
        });
    });
    ASSERT_EQ(tool({"ftp-site", "show"}), 0);
    EXPECT_EQ(out.str(), "welcome\tFiles for Bob.\nport\t21\nper-address-cap\t0\nfailed-login-limit\t10\n"
                         "autostart\ton\n");

    ASSERT_EQ(tool({"ftp-account", "list"}), 0);
    EXPECT_EQ(out.str(), "bobsmith\t" + site + "\\\tnone\n" + "anonymous\t" + site + "\\\tfile-read,folder-read\n");

    expectSame({"ftp-account", "remove", "bobsmith"}, [&] {
        ftpWindow([&](FtpSettingsPanel& panel) {
            panel.fields().user = "bobsmith";
            panel.deleteAccount();
        });
    });
}

TEST_F(TaskToolTest, HttpDomainsAndSiteAreWrittenAsTheWindowWritesThem)
{
    expectSame({"http-domain", "add", "HTTP://Shop.Example.com", site}, [&] {
        httpWindow([&](HttpSettingsPanel& panel) {
            panel.fields().domain = "HTTP://Shop.Example.com";
            panel.fields().folder = site;
            panel.addOrUpdate();
        });
    });
    expectSame({"http-site", "set", "--port", "8080", "--default-folder", site, "--default-page", "home.html",
                "--folder-view", "on", "--admin-password", "secret"},
               [&] {
                   httpWindow([&](HttpSettingsPanel& panel) {
                       panel.fields().port = 8080;
                       panel.fields().defaultFolder = site;
                       panel.fields().defaultPage = "home.html";
                       panel.fields().adminPassword = "secret";
                       panel.toggleFolderView();
                       ASSERT_TRUE(panel.applyGeneralSettings());
                   });
               });
    EXPECT_NE(err.str().find("Apply Changes: You must re-activate the HTTP server"), std::string::npos);
    expectSame({"autostart", "http", "on"}, [&] { window<HttpService>([](HttpService& s) { s.setAutostart(true); }); });

    ASSERT_EQ(tool({"http-domain", "list"}), 0);
    EXPECT_EQ(out.str().substr(0, 17), "shop.example.com\t");
    ASSERT_EQ(tool({"http-site", "show"}), 0);
    EXPECT_NE(out.str().find("port\t8080\n"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("folder-view\ton\n"), std::string::npos);
    EXPECT_NE(out.str().find("admin-url\t/adminsecret/logfile/\n"), std::string::npos) << out.str();

    expectSame({"http-domain", "remove", "shop.example.com"}, [&] {
        httpWindow([&](HttpSettingsPanel& panel) {
            panel.fields().domain = "shop.example.com";
            panel.deleteMap();
        });
    });
}

TEST_F(TaskToolTest, MailAccountsAndRoutingAreWrittenAsTheWindowWritesThem)
{
    // "_s" and "_e" would clash with the account's own file names.
    expectSame({"mail-account", "add", "Ann_Smith_e", "--address", "Ann@Example.COM", "--password", "pw"}, [&] {
        emailWindow([&](EmailSettingsPanel& panel) {
            panel.fields().user = "Ann_Smith_e";
            panel.fields().address = "Ann@Example.COM";
            panel.fields().password = "pw";
            panel.addOrUpdate();
        });
    });
    expectSame({"mail-account", "add", "bob", "--address", "ann@example.com", "--password", "pw2"}, [&] {
        emailWindow([&](EmailSettingsPanel& panel) {
            panel.fields().user = "bob";
            panel.fields().address = "ann@example.com";
            panel.fields().password = "pw2";
            panel.addOrUpdate();
        });
    });
    EXPECT_NE(err.str().find("Warning: That email address appears in more than one account."), std::string::npos);
    expectSame({"mail-account", "set", "bob", "--address", "bob@example.com"}, [&] {
        emailWindow([&](EmailSettingsPanel& panel) {
            panel.next();
            ASSERT_EQ(panel.fields().user, "bob");
            panel.fields().address = "bob@example.com";
            panel.addOrUpdate();
        });
    });
    // Sizes below their minimums are raised, each with its warning.
    expectSame({"mail-routing", "set", "--local-domain", "Example.COM", "--relay-host", "relay.example.net",
                "--max-email-size", "10", "--max-account-size", "100", "--pop3-port", "1110", "--catch-all", "nobody"},
               [&] {
                   emailWindow([&](EmailSettingsPanel& panel) {
                       panel.fields().localDomain = "Example.COM";
                       panel.fields().relayHost = "relay.example.net";
                       panel.fields().maxEmailSizeKb = "10";
                       panel.fields().maxAccountSizeKb = "100";
                       panel.fields().popPort = "1110";
                       panel.fields().catchAllUser = "nobody";
                       panel.applyGeneralSettings();
                   });
               });
    for (const char* warning :
         {"There is no relay subnet supplied.", "less than the 1 Mb minumum.", "less than double the email size.",
          "POP3 port change will not take effect", "Relaying will be disabled.", "The 'Catch-All' user does not exist"})
        EXPECT_NE(err.str().find(warning), std::string::npos) << warning;
    expectSame({"autostart", "email", "on"},
               [&] { window<EmailService>([](EmailService& s) { s.setAutostart(true); }); });

    ASSERT_EQ(tool({"mail-account", "list"}), 0);
    EXPECT_EQ(out.str(), "annxxmithxx\tann@example.com\t0 emails, 0 Kb used.\n"
                         "bob\tbob@example.com\t0 emails, 0 Kb used.\n");
    ASSERT_EQ(tool({"mail-routing", "show"}), 0);
    EXPECT_NE(out.str().find("max-email-size\t1024\nmax-account-size\t2048\n"), std::string::npos) << out.str();

    expectSame({"mail-account", "remove", "bob"}, [&] {
        emailWindow([&](EmailSettingsPanel& panel) {
            panel.fields().user = "bob";
            panel.deleteAccount();
        });
    });
}

TEST_F(TaskToolTest, InputTheWindowRefusesChangesNothing)
{
    ASSERT_EQ(tool({"ftp-account", "add", "ann", "--password", "pw", "--folder", site}), 0);
    ASSERT_EQ(tool({"http-domain", "add", "ann.example", site}), 0);
    ASSERT_EQ(tool({"mail-account", "add", "ann", "--address", "ann@example.com", "--password", "pw"}), 0);
    const std::string missing = scratch / "missing";

    struct Case {
        std::vector<std::string> words;
        std::string message;
    };
    const Case cases[] = {
        {{"ftp-account", "add", "a/b", "--password", "pw", "--folder", site},
         "Input Error: The 'user' given may not contain '\\' or '/'."},
        {{"ftp-account", "add", "a\\b", "--password", "pw", "--folder", site}, "may not contain"},
        {{"ftp-account", "add", "bob", "--folder", site}, "Input Error: No 'password' given."},
        {{"ftp-account", "add", "bob", "--password", "pw", "--folder", missing},
         "Input Error: The 'folder' given does not exist."},
        {{"ftp-account", "add", " ", "--password", "pw", "--folder", site}, "Input Error: No 'user' given."},
        {{"ftp-account", "add", "ANN", "--password", "pw", "--folder", site}, "the FTP account ann exists already"},
        {{"ftp-account", "add", "bob", "--password", "pw", "--folder", site, "--rights", "read"},
         "unknown right \"read\""},
        {{"ftp-account", "set", "bob", "--password", "pw"}, "there is no FTP account bob"},
        {{"ftp-account", "remove", "bob"}, "Delete Failed: Could not find account."},
        {{"http-domain", "add", "bob.example", missing}, "Input Error: The 'folder' given does not exist."},
        {{"http-domain", "remove", "bob.example"}, "Error: Domain does not exist."},
        {{"http-site", "set", "--default-folder", missing}, "Input Error: The 'folder' given does not exist."},
        {{"http-site", "set", "--default-folder", "/"}, "Input Error: Incorrect default folder path."},
        {{"http-site", "set", "--port", "65536"}, "not a port number"},
        {{"mail-account", "add", "bob", "--address", "bob@example.com"},
         "Input Error: Please enter a valid user, email address and password."},
        {{"mail-account", "add", "a/b", "--address", "bob@example.com", "--password", "pw"},
         "Input Error: The 'user' given may not contain '\\' or '/'."},
        {{"mail-account", "add", "Ann", "--address", "x@example.com", "--password", "pw"},
         "the mail account ann exists already"},
        {{"mail-account", "set", "bob", "--password", "pw"}, "there is no mail account bob"},
        {{"mail-account", "remove", "bob"}, "Error: Failed to delete account."},
        {{"mail-routing", "set", "--pop3-port", "pop"}, "not a port number"},
        {{"ftp-site", "set", "--per-address-cap", "1001"}, "Input Error: No valid 'connections per address' given"},
        {{"ftp-site", "set", "--failed-login-limit", "ten"}, "Input Error: No valid 'failed logins per minute'"},
        {{"http-site", "set", "--per-address-cap", "-1"}, "not a number from 0 to 1000: -1"},
        {{"mail-routing", "set", "--smtp-per-address-cap", "1001"}, "not a number from 0 to 1000"},
        {{"mail-routing", "set", "--pop3-failed-login-limit", "off"}, "not a number from 0 to 1000"},
        {{"autostart", "ftp", "yes"}, "\"on\" or \"off\" expected"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words[0] + " " + c.words[1] + " " + c.words[2]);
        expectRefused(c.words, c.message);
    }
}

TEST_F(TaskToolTest, BadCommandLinesExitWithTwo)
{
    for (const std::vector<std::string>& words :
         std::vector<std::vector<std::string>>{{"ftp-account", "add"},
                                               {"ftp-account", "list", "extra"},
                                               {"ftp-account", "add", "bob", "--colour", "red"},
                                               {"ftp-account", "add", "bob", "--password"},
                                               {"ftp-account", "rename", "bob"},
                                               {"tls", "set", "--self-signed=yes"},
                                               {"tls", "show", "--cert", "x"},
                                               {"mail-account"}})
        expectRefused(words, "Task commands:", 2);
    EXPECT_TRUE(snapshot(toolData).empty());
}

TEST_F(TaskToolTest, PortsAndLimitsLastFromOneCommandToTheNext)
{
    ASSERT_EQ(tool({"ftp-site", "set", "--port", "2121"}), 0);
    EXPECT_NE(err.str().find("port change"), std::string::npos) << err.str();
    out.str("");
    ASSERT_EQ(tool({"ftp-site", "show"}), 0);
    EXPECT_NE(out.str().find("port\t2121\n"), std::string::npos) << out.str();
    expectRefused({"ftp-site", "set", "--port", "70000"}, "Input Error: No valid 'port' given.");

    ASSERT_EQ(tool({"mail-routing", "show"}), 0);
    EXPECT_NE(out.str().find("max-email-size\t1024\nmax-account-size\t2048\n"), std::string::npos) << out.str();
    ASSERT_EQ(tool({"mail-routing", "set", "--max-email-size", "10240", "--max-account-size", "40960",
                    "--banned-extensions", ".EXE .zip"}),
              0);
    out.str("");
    ASSERT_EQ(tool({"mail-routing", "show"}), 0);
    EXPECT_NE(out.str().find("max-email-size\t10240\nmax-account-size\t40960\n"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find(".exe .zip"), std::string::npos) << out.str();

    // The limits per client address: off by default but for the failed
    // logins, and kept in files of their own.
    EXPECT_NE(out.str().find("smtp-per-address-cap\t0\npop3-per-address-cap\t0\npop3-failed-login-limit\t10\n"),
              std::string::npos)
        << out.str();
    const std::vector<std::string> sets[] = {
        {"ftp-site", "set", "--per-address-cap", "50", "--failed-login-limit", "0"},
        {"http-site", "set", "--per-address-cap", "40", "--default-folder", site},
        {"mail-routing", "set", "--smtp-per-address-cap", "30", "--pop3-per-address-cap", "20",
         "--pop3-failed-login-limit", "5"},
    };
    for (const auto& words : sets)
        ASSERT_EQ(tool(words), 0) << words[0] << err.str();
    const std::pair<std::vector<std::string>, std::string> shown[] = {
        {{"ftp-site", "show"}, "per-address-cap\t50\nfailed-login-limit\t0\n"},
        {{"http-site", "show"}, "per-address-cap\t40\n"},
        {{"mail-routing", "show"}, "smtp-per-address-cap\t30\npop3-per-address-cap\t20\npop3-failed-login-limit\t5\n"},
    };
    for (const auto& [words, text] : shown) {
        out.str("");
        ASSERT_EQ(tool(words), 0);
        EXPECT_NE(out.str().find(text), std::string::npos) << out.str();
    }
    const auto files = snapshot(toolData);
    for (const char* name : {FtpService::GuardFile, HttpService::GuardFile, EmailService::GuardFile})
        EXPECT_EQ(files.count(name), 1u) << name;
}

TEST_F(TaskToolTest, CommandsThatOnlyLookWriteNothing)
{
    const std::vector<std::vector<std::string>> looks{
        {"mail-account", "list"}, {"mail-routing", "show"}, {"ftp-account", "list"}};
    for (const auto& words : looks) {
        EXPECT_EQ(tool(words), 0) << words[0];
        for (const auto& [name, bytes] : snapshot(toolData))
            ADD_FAILURE() << words[0] << " " << words[1] << " wrote " << name;
    }

    ASSERT_EQ(tool({"mail-account", "add", "ann", "--address", "ann@example.com", "--password", "pw"}), 0);
    // Values the program would write otherwise: an extra record, a port
    // beyond the range.
    SettingsStore mapper;
    ASSERT_TRUE(mapper.load(toolData + "/emailmapper.dat"));
    mapper.setText("extra", "kept");
    ASSERT_TRUE(mapper.save(toolData + "/emailmapper.dat"));
    SettingsStore email;
    ASSERT_TRUE(email.load(toolData + "/email.dat"));
    email.setInt("popport", 70000);
    ASSERT_TRUE(email.save(toolData + "/email.dat"));
    const auto before = snapshot(toolData);
    for (const auto& words : looks)
        EXPECT_EQ(tool(words), 0) << words[0];
    expectRefused({"mail-account", "remove", "NoSuchUser"}, "Error: Failed to delete account.");
    EXPECT_EQ(snapshot(toolData), before);
}

TEST_F(TaskToolTest, DamagedSettingsFilesAreLeftAlone)
{
    writeBytes(toolData + "/ftp.dat", "not a settings file");
    expectRefused({"ftp-account", "add", "bob", "--password", "pw", "--folder", site},
                  "ftp.dat is not a readable settings file; nothing was changed");
    writeBytes(toolData + "/emailaccounts.dat", std::string("\3\0\0\0\7\0\0\0", 8));
    expectRefused({"mail-account", "list"}, "emailaccounts.dat is not a readable settings file");
    // An account's own file, cut short, stops the command before it writes.
    fs::remove(toolData + "/emailaccounts.dat");
    ASSERT_EQ(tool({"mail-account", "add", "alice", "--address", "alice@example.com", "--password", "pw"}), 0);
    const std::string settings = readBytes(toolData + "/email/alice_s.dat");
    writeBytes(toolData + "/email/alice_s.dat", settings.substr(0, settings.size() / 2));
    expectRefused({"mail-account", "add", "zz", "--address", "zz@example.com", "--password", "pw"},
                  "email/alice_s.dat is not a readable settings file; nothing was changed");
}

TEST_F(TaskToolTest, ALockHolderThatDoesNotAnswerIsWaitedForThenNamed)
{
    InstanceLock server;
    ASSERT_TRUE(server.acquire(ServerInstanceName));
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"--data-dir", toolData, "autostart", "ftp", "on"},
          {"status"},
          {"service", "ftp", "start"}}) {
        out.str("");
        err.str("");
        EXPECT_EQ(TaskTool(out, err, 200).run(words), 1) << words[0];
        EXPECT_NE(err.str().find("holds its lock"), std::string::npos) << err.str();
        EXPECT_NE(err.str().find("does not answer"), std::string::npos) << err.str();
    }
    // A wrong command line is told as such first.
    expectRefused({"autostart", "ftp"}, "wrong operands for \"autostart ftp\"", 2);
    EXPECT_TRUE(snapshot(toolData).empty());
}

// A running server: its lock, its control socket, and live services in its
// data folder, answering on a thread of their own as the window's does.
class LiveServer final {
public:
    explicit LiveServer(const std::string& folder) : folder_(folder)
    {
        EXPECT_TRUE(lock_.acquire(ServerInstanceName));
        (void)ftp_.loadSettings();
        (void)http_.loadSettings();
        (void)email_.loadSettings();
        std::string why;
        EXPECT_TRUE(control_.open(why)) << why;
        owner_ = std::thread([this] {
            const ControlServer::Handler handler = [this](std::span<const std::string> words) {
                std::ostringstream out, err;
                // The server works in its data folder.
                fs::current_path(folder_);
                ControlReply reply;
                reply.code =
                    TaskTool(out, err).runLive(words.subspan(1), LiveServices{&ftp_, &http_, &email_, &certificate_});
                reply.out = out.str();
                reply.err = err.str();
                return reply;
            };
            while (!stopping_) {
                pollfd item{control_.wakeDescriptor(), POLLIN, 0};
                if (::poll(&item, 1, 20) == 1)
                    control_.runPending(&handler);
            }
        });
    }
    ~LiveServer()
    {
        stopping_ = true;
        owner_.join();
        control_.close();
    }

private:
    // The services are made in the data folder, as the program makes them.
    struct Enter {
        explicit Enter(const std::string& folder)
        {
            fs::current_path(folder);
            for (const char* sub : {"logs", "email", "ftp", "http"})
                fs::create_directory(sub);
        }
    };

    std::string folder_;
    Enter enter_{folder_};
    InstanceLock lock_;
    FtpService ftp_;
    HttpService http_;
    EmailService email_;
    TlsCertificate certificate_;
    ControlServer control_{controlSocketPath(ServerInstanceName)};
    std::atomic<bool> stopping_{false};
    std::thread owner_;
};

TEST_F(TaskToolTest, ARunningServerAnswersEveryCommandAsItsStoppedFilesWould)
{
    const std::string liveData = scratch / "live";
    fs::create_directory(liveData);
    std::string whyNot;
    ASSERT_TRUE(makeSelfSignedCertificate(site + "/chain.pem", site + "/key.pem", "site.example", whyNot));
    ASSERT_TRUE(makeSelfSignedCertificate(site + "/other.pem", site + "/other.key", "other.example", whyNot));
    const std::vector<std::vector<std::string>> commands{
        {"tls", "show"},
        {"tls", "set", "--cert", "site/chain.pem", "--key", "site/other.key"},
        {"tls", "set", "--cert", "site/chain.pem", "--key", "site/key.pem"},
        {"tls", "set", "--self-signed", "--key", "site/key.pem"},
        {"tls", "set", "--cert", "site/missing.pem"},
        {"tls", "show"},
        {"ftp-account", "add", "Bob", "--password", "pw", "--folder", "site", "--rights", "file-read,file-write"},
        {"ftp-account", "add", "anonymous", "--password", "x", "--folder", site},
        {"ftp-account", "add", "bob", "--password", "pw", "--folder", site},
        {"ftp-account", "list"},
        {"ftp-site", "set", "--welcome", "", "--port", "2121"},
        {"ftp-site", "show"},
        {"http-site", "set", "--port", "8080", "--default-folder", site, "--folder-view", "on"},
        {"http-domain", "add", "shop.example", "site"},
        {"http-domain", "list"},
        {"mail-account", "add", "joe", "--address", "joe@example.com", "--password", "pw"},
        {"mail-account", "remove", "nosuchuser"},
        {"mail-routing", "set", "--local-domain", "example.com", "--max-email-size", "10"},
        {"mail-routing", "show"},
        {"mail-account", "list"},
        {"autostart", "email", "on"},
        {"ftp-account", "remove", "bob"},
    };
    std::vector<int> codes;
    std::vector<std::string> outs, errs;
    for (const auto& words : commands) {
        codes.push_back(tool(words));
        outs.push_back(out.str());
        errs.push_back(err.str());
    }
    LiveServer server(liveData);
    for (std::size_t i = 0; i < commands.size(); ++i) {
        std::vector<std::string> words = commands[i];
        words.insert(words.begin(), {"--data-dir", liveData});
        std::ostringstream liveOut, liveErr;
        // Relative folders are the caller's, not the server's.
        fs::current_path(scratch.path());
        EXPECT_EQ(TaskTool(liveOut, liveErr).run(words), codes[i]) << liveErr.str();
        EXPECT_EQ(liveOut.str(), outs[i]) << commands[i][0] << ' ' << commands[i][1];
        EXPECT_EQ(liveErr.str(), errs[i]) << commands[i][0] << ' ' << commands[i][1];
    }
    // What the live objects saved is what the files got.
    EXPECT_EQ(difference(toolData, liveData), "");
    EXPECT_EQ(outs[0], "certificate\tself-signed\nkey\tself-signed\n");
    EXPECT_EQ(codes[1], 1);
    EXPECT_EQ(errs[1], "vantrel-settings: Certificate Error: The certificate could not be loaded: the key does not "
                       "match the certificate\n");
    EXPECT_EQ(codes[3], 1);
    EXPECT_EQ(errs[4], "vantrel-settings: Certificate Error: The certificate could not be loaded: the certificate "
                       "file " +
                           site + "/missing.pem cannot be opened: No such file or directory\n");
    std::string fingerprint;
    if (const auto context = TlsContext::fromFiles(site + "/chain.pem", site + "/key.pem", whyNot))
        fingerprint = context->fingerprint();
    EXPECT_EQ(outs[5],
              "certificate\t" + site + "/chain.pem\nkey\t" + site + "/key.pem\nfingerprint\t" + fingerprint + "\n");
    SettingsStore general;
    ASSERT_TRUE(general.load(liveData + "/general.dat"));
    EXPECT_EQ(general.getText("tlskey", 4095), site + "/key.pem");

    // A command for another data folder is not applied to this server's.
    std::ostringstream otherOut, otherErr;
    EXPECT_EQ(
        TaskTool(otherOut, otherErr).run(std::vector<std::string>{"--data-dir", toolData, "autostart", "ftp", "on"}),
        1);
    EXPECT_NE(otherErr.str().find("the running server keeps its data in " + liveData), std::string::npos)
        << otherErr.str();
}

TEST_F(TaskToolTest, AMissingDataFolderIsNotCreated)
{
    std::ostringstream out, err;
    const std::vector<std::string> words{"--data-dir=" + scratch / "none", "ftp-account", "list"};
    EXPECT_EQ(SettingsTool(out, err).run(words), 1);
    EXPECT_NE(err.str().find("the data folder " + scratch / "none" + " does not exist"), std::string::npos);
    EXPECT_FALSE(fs::exists(scratch / "none"));
}

TEST_F(TaskToolTest, HelpDocumentsBothForms)
{
    std::ostringstream out, err;
    const std::vector<std::string> words{"--help"};
    EXPECT_EQ(SettingsTool(out, err).run(words), 0);
    for (const char* text :
         {"vantrel-settings FILE", "Record commands:", "ftp-account add USER", "ftp-site set [--welcome TEXT]",
          "http-site set", "http-domain add", "mail-account add", "mail-routing set", "autostart ftp|http|email",
          "tls set --cert FILE --key FILE", "tls set --self-signed"})
        EXPECT_NE(out.str().find(text), std::string::npos) << text;
}

} // namespace
} // namespace vantrel

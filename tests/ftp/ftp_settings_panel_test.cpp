// The "FTP Settings" window's steps and messages, driven with scripted
// message boxes and a scripted folder chooser against a live account table.
#include "ftp/ftp_settings_panel.h"

#include "foundation/file_system.h"

#include "panel_test_support.h"

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

namespace vantrel {
namespace {

using testing::FakeService;
using testing::RecordingPrompt;
using testing::ScriptedChooser;
using testing::Shown;

constexpr char Relogin[] =
    "Any currently logged in users using this account will not be\naffected until they re-login.\n"
    "To force re-login you should De-Activate and Re-Activate the\nFTP server.";

class PanelTest : public testing::WorkingFolderTest {
protected:
    void SetUp() override
    {
        WorkingFolderTest::SetUp();
        std::filesystem::create_directory(folder_ / "root");
        root = (folder_ / "root").string();
        panel.show();
    }

    // Fills the account fields and presses Add/Update.
    void add(const std::string& user, const std::string& password, const std::string& folder,
             AccessRights rights = DefaultAccountRights)
    {
        auto& f = panel.fields();
        f.user = user;
        f.password = password;
        f.folder = folder;
        f.rights = rights;
        panel.addOrUpdate();
    }

    // Welcome message, port and auto-activation of the service.
    std::tuple<std::string, int, bool> general() { return {target.table.welcome(), target.port(), target.autostart()}; }

    std::string root;
    FakeService target{5};
    RecordingPrompt prompt;
    ScriptedChooser chooser;
    FtpSettingsPanel panel{target, prompt, chooser};
};

TEST_F(PanelTest, AddCleansTheUserNameAndCompletesTheFolder)
{
    add("  Ann  Marie ", "Pass Word", root, AccessRights::FileRead | AccessRights::FileWrite);
    EXPECT_TRUE(prompt.takeShown().empty());
    const FtpAccount stored = target.table.copyAt(0);
    EXPECT_EQ(std::tie(stored.user, stored.password, stored.folder, stored.rights),
              std::make_tuple("annmarie", "Pass Word", root + "\\", AccessRights::FileRead | AccessRights::FileWrite));
    EXPECT_EQ(panel.fields().user, "annmarie");
    EXPECT_EQ(panel.fields().folder, root + "\\");
    EXPECT_EQ(panel.fields().caption, "FTP Accounts (1 of 1 --- 5 max)");
    EXPECT_TRUE(panel.fields().arrowsEnabled);

    add("bob", "pw", root + "\\");
    EXPECT_EQ(target.table.copyAt(1).folder, root + "\\") << "a completed folder is kept as typed";

    add("Anonymous", "guest@example.org", root);
    EXPECT_EQ(prompt.takeShown(), (std::vector<Shown>{{"The 'anonymous' account ignores the password.", "Warning"}}));
    EXPECT_EQ(target.table.copyAt(2).user, "anonymous");
    EXPECT_EQ(target.table.copyAt(2).password, "");
}

TEST_F(PanelTest, InvalidInputIsReportedAndChangesNothing)
{
    const struct {
        const char* user;
        const char* password;
        std::string folder;
        Shown message;
    } cases[] = {
        {"   ", "pw", root, {"No 'user' given.", "Input Error"}},
        {"ann", "", root, {"No 'password' given.", "Input Error"}},
        {"ann", "pw", "", {"No 'folder' given.", "Input Error"}},
        {"ann", "pw", root + "/missing", {"The 'folder' given does not exist.", "Input Error"}},
        {"ann", "pw", "/" + std::string(98, 'd'), {"The 'folder' given is too long.", "Input Error"}},
        {"..\\general", "pw", root, {"The 'user' given may not contain '\\' or '/'.", "Input Error"}},
        {"a/b", "pw", root, {"The 'user' given may not contain '\\' or '/'.", "Input Error"}},
    };
    for (const auto& c : cases) {
        add(c.user, c.password, c.folder);
        EXPECT_EQ(prompt.takeShown(), std::vector<Shown>{c.message}) << c.user << " " << c.folder;
        EXPECT_EQ(target.table.count(), 0) << c.message.text;
    }
    // The cleaned name and the completed folder are written back even when
    // the folder is refused.
    add(" Ann", "pw", root + "/missing");
    EXPECT_EQ(panel.fields().user, "ann");
    EXPECT_EQ(panel.fields().folder, root + "/missing\\");
}

TEST_F(PanelTest, AFullTableRefusesNewNamesButTakesChangesOfOldOnes)
{
    for (const char* user : {"a", "b", "c", "d", "e"})
        add(user, "pw", root);
    add("f", "pw", root);
    EXPECT_EQ(prompt.takeShown(),
              (std::vector<Shown>{{"Account failed to be added, you have reached your maximum\naccount allocation.",
                                   "Creation Failed"}}));
    EXPECT_FALSE(target.table.containsName("f"));

    add("c", "pw", root, AccessRights::FolderModify);
    EXPECT_TRUE(prompt.takeShown().empty());
    EXPECT_EQ(target.table.copyAt(2).rights, AccessRights::FolderModify);
    EXPECT_EQ(panel.fields().caption, "FTP Accounts (3 of 5 --- 5 max)");
}

TEST_F(PanelTest, TheArrowsWrapAroundAndDeleteGoesBackToTheFirst)
{
    panel.previous();
    panel.next();
    EXPECT_EQ(panel.position(), 0) << "no account: nothing moves";

    for (const char* user : {"one", "two", "three"})
        add(user, "pw", root);
    ASSERT_EQ(panel.position(), 2);
    panel.next();
    EXPECT_EQ(panel.fields().user, "one");
    EXPECT_EQ(panel.fields().caption, "FTP Accounts (1 of 3 --- 5 max)");
    panel.previous();
    EXPECT_EQ(panel.fields().user, "three");
    panel.previous();
    EXPECT_EQ(panel.fields().user, "two");

    panel.fields().user = "Three";
    panel.deleteAccount();
    EXPECT_EQ(panel.position(), 0);
    EXPECT_EQ(panel.fields().user, "one");
    EXPECT_EQ(panel.fields().caption, "FTP Accounts (1 of 2 --- 5 max)");
    EXPECT_TRUE(panel.fields().arrowsEnabled);
}

TEST_F(PanelTest, DeletingTheLastAccountEmptiesThePanel)
{
    add("ann", "pw", root, AccessRights::FileWrite);
    panel.fields().user = "nobody";
    panel.deleteAccount();
    panel.fields().user = "";
    panel.deleteAccount();
    EXPECT_EQ(prompt.takeShown(),
              (std::vector<Shown>{{"Could not find account.", "Delete Failed"}, {"No 'user' given.", "Input Error"}}));

    panel.fields().user = "ann";
    panel.deleteAccount();
    EXPECT_EQ(target.table.count(), 0);
    const auto& f = panel.fields();
    EXPECT_EQ(std::tie(f.caption, f.user, f.password, f.folder, f.rights, f.arrowsEnabled),
              std::make_tuple("FTP Accounts (0 of 0 --- 5 max)", "", "", "", DefaultAccountRights, false));
}

TEST_F(PanelTest, TheReloginWarningComesOnlyWhileActiveAndForExistingAccounts)
{
    const std::vector<Shown> relogin{{Relogin, "Warning"}};
    add("ann", "pw", root);
    add("ann", "pw2", root);
    EXPECT_TRUE(prompt.takeShown().empty()) << "inactive service";

    target.active = true;
    add("bob", "pw", root);
    EXPECT_TRUE(prompt.takeShown().empty()) << "a new account has no logged in users";
    add("bob", "pw3", root);
    EXPECT_EQ(prompt.takeShown(), relogin);
    panel.fields().user = "bob";
    panel.deleteAccount();
    EXPECT_EQ(prompt.takeShown(), relogin);

    target.active = false;
    panel.fields().user = "ann";
    panel.deleteAccount();
    EXPECT_TRUE(prompt.takeShown().empty());
}

TEST_F(PanelTest, SelectStartsAtTheFieldOrTheCurrentFolder)
{
    chooser.answer = "/chosen";
    panel.selectFolder();
    EXPECT_EQ(chooser.startedAt, currentDirectory());
    EXPECT_EQ(panel.fields().folder, "/chosen");

    chooser.answer.reset();
    panel.selectFolder();
    EXPECT_EQ(chooser.startedAt, "/chosen");
    EXPECT_EQ(panel.fields().folder, "/chosen") << "cancel keeps the field";
}

TEST_F(PanelTest, GeneralSettingsChangeOnlyOnAValidApply)
{
    auto& f = panel.fields();
    for (const char* port : {"", "65536", "80x", "-1"}) {
        f.welcome = "Changed";
        f.port = port;
        f.autoActivate = true;
        EXPECT_FALSE(panel.applyGeneralSettings()) << port;
        EXPECT_EQ(prompt.takeShown(), (std::vector<Shown>{{"No valid 'port' given.", "Input Error"}})) << port;
        EXPECT_EQ(general(), std::make_tuple("Welcome", 21, false));
    }

    f.port = " 2121 ";
    EXPECT_TRUE(panel.applyGeneralSettings());
    EXPECT_EQ(prompt.takeShown(), (std::vector<Shown>{{"Please note that the port change will not take effect\n"
                                                       "until the FTP Server has been restarted.",
                                                       "Warning"}}));
    EXPECT_EQ(general(), std::make_tuple("Changed", 2121, true));

    f.welcome = "";
    f.autoActivate = false;
    EXPECT_TRUE(panel.applyGeneralSettings());
    EXPECT_EQ(prompt.takeShown(),
              (std::vector<Shown>{
                  {"There is no welcome message supplied.\nSome FTP clients may not function correctly.", "Warning"}}))
        << "and no port warning for the same port";
    EXPECT_EQ(target.table.welcome(), "");
    EXPECT_FALSE(target.autostart());
}

TEST_F(PanelTest, TheLimitsPerAddressTakeCountsInRangeOnly)
{
    auto& f = panel.fields();
    EXPECT_EQ(f.perAddressCap, "0");
    EXPECT_EQ(f.failedLoginLimit, "10");
    const char* const BadCap = "No valid 'connections per address' given (0 to 1000, 0 for no cap).";
    const char* const BadLimit = "No valid 'failed logins per minute' given (0 to 1000, 0 for no limit).";
    // (cap, limit, message): a refused Apply changes nothing, the welcome included.
    const struct {
        const char* cap;
        const char* limit;
        const char* message;
    } refused[] = {
        {"", "10", BadCap},  {"1001", "10", BadCap},  {"-1", "10", BadCap},   {"5x", "10", BadCap},
        {"5", "", BadLimit}, {"5", "1001", BadLimit}, {"5", "ten", BadLimit},
    };
    for (const auto& c : refused) {
        f.welcome = "Changed";
        f.perAddressCap = c.cap;
        f.failedLoginLimit = c.limit;
        EXPECT_FALSE(panel.applyGeneralSettings()) << c.cap << " " << c.limit;
        EXPECT_EQ(prompt.takeShown(), (std::vector<Shown>{{c.message, "Input Error"}}));
        EXPECT_EQ(std::make_tuple(target.cap, target.loginLimit, target.table.welcome()),
                  std::make_tuple(0, 10, std::string("Welcome")));
    }
    f.perAddressCap = " 50 ";
    f.failedLoginLimit = "0";
    EXPECT_TRUE(panel.applyGeneralSettings());
    EXPECT_TRUE(prompt.takeShown().empty());
    EXPECT_EQ(std::make_pair(target.cap, target.loginLimit), std::make_pair(50, 0));
    panel.show();
    EXPECT_EQ(std::make_pair(f.perAddressCap, f.failedLoginLimit), std::make_pair(std::string("50"), std::string("0")));
}

TEST_F(PanelTest, TlsSettingsAreCheckedBeforeAnythingIsApplied)
{
    auto& f = panel.fields();
    EXPECT_EQ(std::make_tuple(f.tlsMode, f.implicitPort, f.tlsAnyData), std::make_tuple(TlsMode::Off, "0", false));
    target.otherPorts = {{"HTTP server", 80}, {"POP3 server", 110}};
    target.certificateProblem = "the key does not match the certificate";
    // (mode, implicit port, message): a refused Apply changes nothing.
    const struct {
        TlsMode mode;
        const char* implicitPort;
        Shown message;
    } refused[] = {
        {TlsMode::On, "99999", {"No valid 'implicit TLS port' given (0 for none).", "Input Error"}},
        {TlsMode::Off, "110", {"The 'implicit TLS port' 110 is already used by the POP3 server.", "Input Error"}},
        {TlsMode::On, "80", {"The 'implicit TLS port' 80 is already used by the HTTP server.", "Input Error"}},
        {TlsMode::On,
         "21",
         {"The 'implicit TLS port' 21 is already used by the FTP control connection.", "Input Error"}},
        {TlsMode::Require,
         "0",
         {"The certificate could not be loaded: the key does not match the certificate", "TLS Error"}},
    };
    for (const auto& c : refused) {
        f.welcome = "Changed";
        f.tlsMode = c.mode;
        f.implicitPort = c.implicitPort;
        EXPECT_FALSE(panel.applyGeneralSettings()) << c.implicitPort;
        EXPECT_EQ(prompt.takeShown(), (std::vector<Shown>{c.message}));
        EXPECT_EQ(target.tls, FtpTlsSettings{});
        EXPECT_EQ(target.table.welcome(), "Welcome");
    }

    target.certificateProblem.clear();
    target.active = true;
    f.tlsMode = TlsMode::Require;
    f.implicitPort = "990";
    f.tlsAnyData = true;
    EXPECT_TRUE(panel.applyGeneralSettings());
    EXPECT_EQ(prompt.takeShown(), (std::vector<Shown>{{"Please note that the TLS change will not take effect\n"
                                                       "until the FTP Server has been restarted.",
                                                       "Warning"}}));
    EXPECT_EQ(target.tls, (FtpTlsSettings{TlsMode::Require, 990, true}));
    // Once on, a certificate gone bad does not keep the other settings from changing.
    target.certificateProblem = "missing";
    f.welcome = "Again";
    EXPECT_TRUE(panel.applyGeneralSettings());
    EXPECT_TRUE(prompt.takeShown().empty());
    panel.show();
    EXPECT_EQ(std::make_tuple(f.tlsMode, f.implicitPort, f.tlsAnyData), std::make_tuple(TlsMode::Require, "990", true));
}

} // namespace
} // namespace vantrel

// The "Email Settings" panel driven as the window drives it: fields typed,
// buttons pressed, message boxes answered by a script that records them,
// against a live mail directory.
#include "email_panel_test_support.h"

#include "email/email_settings_panel.h"
#include "foundation/file_system.h"

#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace vantrel {
namespace {

using testing::CountingInfoWindow;
using testing::FakeEmailService;
using testing::RecordingPrompt;
using testing::Shown;

const Shown MissingInput{"Please enter a valid user, email address and password.", "Input Error"};
const Shown BadUser{"The 'user' given may not contain '\\' or '/'.", "Input Error"};
const Shown SharedFiles{"The 'user' given would share its files with another account: user names may not differ "
                        "only in letter case or in '.' against blank.",
                        "Input Error"};
const Shown Relogin{"Any currently logged in users using this account will not be\naffected until they re-login.\n"
                    "To force re-login you should De-Activate and Re-Activate the\nEmail server.",
                    "Warning"};
const Shown CreateFailed{"Failed to create new account.\nYou may of reached the 'allowable' account limit.", "Error"};
const Shown SharedAddress{"That email address appears in more than one account.\n"
                          "Only one account will recieve any emails sent to that address.",
                          "Warning"};
const Shown LastAccount{"Cannot delete last account.\nThe server must have at least 1 account to be active.\n"
                        "To delete the last account you must De-activate the server first.",
                        "Error"};
const Shown DeleteFailed{"Failed to delete account.", "Error"};
const Shown NoSubnet{"There is no relay subnet supplied.\nThe relay subnet allows you to control which email "
                     "connections\ncan be relayed. Without this setting any incoming connection\noff the internet "
                     "or within your LAN will be granted relaying\naccess. This can be a potentional security issue.",
                     "Warning"};
const Shown EmailSize{"The email size was less than the 1 Mb minumum.\nThe email size was increased to this value.",
                      "Warning"};
const Shown AccountSize{"The account size was less than double the email size.\n"
                        "The account size was increased to this value.",
                        "Warning"};
const Shown PopPort{"Please note that the POP3 port change will not take effect\n"
                    "until the Email Server has been restarted.",
                    "Warning"};
const Shown CatchAllAndRelay{"Both the 'Catch-All' user and the SMTP Relay host are given.\nRelaying will be disabled.",
                             "Warning"};
const Shown NoCatchAllUser{"The 'Catch-All' user does not exist", "Warning"};

class EmailPanelTest : public ::testing::Test {
protected:
    void SetUp() override { panel.show(); }

    void add(const std::string& user, const std::string& address, const std::string& password)
    {
        auto& f = panel.fields();
        f.user = user;
        f.address = address;
        f.password = password;
        panel.addOrUpdate();
    }

    // Puts a message of `bytes` bytes into the mailbox at `position`.
    void deliver(int position, std::size_t bytes)
    {
        const std::string source = scratch / ("m" + std::to_string(++messages));
        std::ofstream(source, std::ios::binary) << std::string(bytes, 'x');
        auto mailbox = service.directory().openMailboxAt(position);
        mailbox->addMessage(source, service.directory().newMessageId(), bytes);
        service.directory().commitDelivery(std::move(mailbox));
    }

    testing::WorkingFolder scratch;
    FakeEmailService service{5};
    EmailPanelTarget& target{service};
    RecordingPrompt prompt;
    CountingInfoWindow info;
    EmailSettingsPanel panel{target, prompt, info};
    int messages = 0;
};

TEST_F(EmailPanelTest, ShowFillsTheGeneralSettingsAndAnEmptyAccountArea)
{
    const EmailPanelFields& f = panel.fields();
    EXPECT_EQ(f.caption, "Email Accounts (0 of 0 --- 5 max)");
    EXPECT_FALSE(f.arrowsEnabled);
    EXPECT_EQ(f.moreInfoLabel, "More Info");
    EXPECT_EQ(f.maxEmailSizeKb, "1024");
    EXPECT_EQ(f.maxAccountSizeKb, "2048");
    EXPECT_EQ(f.popPort, "110");
    EXPECT_EQ(f.bannedExtensions, MailDirectory::RecommendedBannedExtensions);
    EXPECT_EQ(f.localDomain, "");
    EXPECT_FALSE(f.autoActivate);
    EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(EmailPanelTest, AddLowercasesAndRenamesTheFilePairs)
{
    add("John_Smith", "John.Smith@Example.ORG", "Pass Word");
    EXPECT_TRUE(prompt.takeShown().empty());
    EXPECT_TRUE(service.directory().checkLogin("johnxxmith", "Pass Word"));
    EXPECT_EQ(panel.fields().user, "johnxxmith");
    EXPECT_EQ(panel.fields().address, "john.smith@example.org");
    EXPECT_EQ(panel.fields().password, "Pass Word");
    EXPECT_EQ(panel.fields().caption, "Email Accounts (1 of 1 --- 5 max)");
    EXPECT_EQ(panel.fields().inboxStatus, "0 emails, 0 Kb used.");
    EXPECT_TRUE(panel.fields().arrowsEnabled);

    add("Ann_Eve_S", "ann@example.org", "pw");
    EXPECT_TRUE(service.directory().userExists("annxxvexx"));
    EXPECT_EQ(panel.position(), 1);
    EXPECT_EQ(panel.fields().caption, "Email Accounts (2 of 2 --- 5 max)");
}

TEST_F(EmailPanelTest, IncompleteOrUnsafeInputIsRefused)
{
    const struct {
        const char* user;
        const char* address;
        const char* password;
        Shown message;
    } cases[] = {
        {"", "a@example.org", "pw", MissingInput},       {"ann", "", "pw", MissingInput},
        {"ann", "a@example.org", "", MissingInput},      {"..\\emailaccounts", "a@example.org", "pw", BadUser},
        {"../../etc/x", "a@example.org", "pw", BadUser},
    };
    for (const auto& c : cases) {
        add(c.user, c.address, c.password);
        EXPECT_EQ(prompt.takeShown(), std::vector<Shown>{c.message}) << c.user;
        EXPECT_EQ(service.directory().accountCount(), 0) << c.user;
    }
    // "a.b" and "a b" would share the files "email\a b.dat" and "email\a b_s.dat".
    add("a.b", "ab@example.org", "pw");
    EXPECT_TRUE(prompt.takeShown().empty());
    add("a b", "ab2@example.org", "pw");
    EXPECT_EQ(prompt.takeShown(), std::vector<Shown>{SharedFiles});
    EXPECT_EQ(service.directory().accountCount(), 1);
}

TEST_F(EmailPanelTest, UpdateKeepsTheMailboxAndWarnsWhileActive)
{
    add("ann", "ann@example.org", "one");
    add("bob", "bob@example.org", "two");
    deliver(0, 1000);
    deliver(0, 535);
    panel.previous();
    // 1535 bytes in two messages: (1535 + 512) / 1024 rounds down to 1.
    EXPECT_EQ(panel.fields().inboxStatus, "2 emails, 1 Kb used.");

    add("ANN", "Ann@Other.example", "three");
    EXPECT_TRUE(prompt.takeShown().empty()) << "no warning while inactive";
    EXPECT_EQ(panel.position(), 0);
    EXPECT_EQ(panel.fields().address, "ann@other.example");
    EXPECT_EQ(panel.fields().inboxStatus, "2 emails, 1 Kb used.");
    EXPECT_TRUE(service.directory().checkLogin("ann", "three"));

    service.active = true;
    panel.next();
    add("ann", "ann@other.example", "four");
    EXPECT_EQ(prompt.takeShown(), std::vector<Shown>{Relogin});
    EXPECT_EQ(panel.position(), 1) << "updating another account does not move the position";
    EXPECT_EQ(panel.fields().user, "bob");

    // A 3-byte file is not listed but counts toward the size used.
    deliver(1, 3);
    deliver(1, 2045);
    panel.next();
    panel.previous();
    EXPECT_EQ(panel.fields().inboxStatus, "1 emails, 2 Kb used.");
}

TEST_F(EmailPanelTest, SharedAddressesAndAFullTableAreReported)
{
    add("ann", "same@example.org", "pw");
    add("bob", "Same@Example.org", "pw");
    EXPECT_EQ(prompt.takeShown(), std::vector<Shown>{SharedAddress});

    for (const char* user : {"c", "d", "e"})
        add(user, std::string(user) + "@example.org", "pw");
    panel.next();
    ASSERT_EQ(panel.position(), 0);
    add("f", "same@example.org", "pw");
    EXPECT_EQ(prompt.takeShown(), (std::vector<Shown>{CreateFailed, SharedAddress}));
    EXPECT_FALSE(service.directory().userExists("f"));
    EXPECT_EQ(panel.position(), 4) << "a failed creation still moves to the last account";
    EXPECT_EQ(panel.fields().user, "e");
}

TEST_F(EmailPanelTest, TheArrowsWrapAround)
{
    panel.previous();
    panel.next();
    EXPECT_EQ(panel.position(), 0) << "no account: nothing moves";

    for (const char* user : {"one", "two", "three", "four"})
        add(user, std::string(user) + "@example.org", "pw");
    panel.next();
    ASSERT_EQ(panel.position(), 0);
    panel.previous();
    EXPECT_EQ(panel.position(), 3);
    EXPECT_EQ(panel.fields().user, "four");
    EXPECT_EQ(panel.fields().caption, "Email Accounts (4 of 4 --- 5 max)");
    panel.next();
    EXPECT_EQ(panel.position(), 0);
    EXPECT_EQ(panel.fields().user, "one");
    panel.next();
    EXPECT_EQ(panel.fields().user, "two");
}

TEST_F(EmailPanelTest, DeleteTakesTheNameAsTypedAndKeepsTheLastAccountWhileActive)
{
    add("ann", "ann@example.org", "pw");
    add("bob", "bob@example.org", "pw");
    panel.fields().user = "Bob";
    panel.deleteAccount();
    EXPECT_EQ(prompt.takeShown(), std::vector<Shown>{DeleteFailed});
    EXPECT_EQ(service.directory().accountCount(), 2);
    EXPECT_EQ(panel.position(), 0);
    EXPECT_EQ(panel.fields().user, "ann");

    service.active = true;
    panel.fields().user = "bob";
    panel.deleteAccount();
    EXPECT_TRUE(prompt.takeShown().empty());
    EXPECT_EQ(panel.fields().caption, "Email Accounts (1 of 1 --- 5 max)");

    panel.deleteAccount();
    EXPECT_EQ(prompt.takeShown(), std::vector<Shown>{LastAccount});
    EXPECT_TRUE(service.directory().userExists("ann"));

    service.active = false;
    panel.deleteAccount();
    EXPECT_TRUE(prompt.takeShown().empty());
    EXPECT_EQ(service.directory().accountCount(), 0);
    EXPECT_FALSE(panel.fields().arrowsEnabled);
    EXPECT_EQ(panel.fields().caption, "Email Accounts (0 of 0 --- 5 max)");
    EXPECT_EQ(panel.fields().user, "");
    EXPECT_EQ(panel.fields().inboxStatus, "");
    // The account's files stay behind for a later account of that name.
    EXPECT_TRUE(pathExists("email\\ann_s.dat"));
}

TEST_F(EmailPanelTest, ApplyCorrectsEveryValueAndWarnsInOrder)
{
    add("ann", "ann@example.org", "pw");
    prompt.takeShown();
    auto& f = panel.fields();
    f.localDomain = "Mail.Example";
    f.relayHost = "Relay.Example";
    f.relaySubnet = "";
    f.maxEmailSizeKb = "500";
    f.maxAccountSizeKb = "1500";
    f.popPort = "1100";
    f.catchAllUser = "Nobody";
    f.autoActivate = true;
    f.bannedExtensions = ".EXE .Bat";
    panel.applyGeneralSettings();

    EXPECT_EQ(prompt.takeShown(),
              (std::vector<Shown>{NoSubnet, EmailSize, AccountSize, PopPort, CatchAllAndRelay, NoCatchAllUser}));
    MailDirectory& d = service.directory();
    EXPECT_EQ(d.localHostName(), "mail.example");
    EXPECT_EQ(d.relayHost(), "relay.example");
    EXPECT_EQ(d.maxEmailSize(), 1048576);
    EXPECT_EQ(d.maxAccountSize(), 2097152);
    EXPECT_EQ(service.popPort(), 1100);
    EXPECT_EQ(d.catchAllUser(), "nobody");
    EXPECT_TRUE(service.autostart());
    EXPECT_EQ(d.bannedExtensions(), ".exe .bat");
    EXPECT_FALSE(d.extensionAllowed(".exe"));
    EXPECT_TRUE(d.extensionAllowed(".pif"));
}

TEST_F(EmailPanelTest, ApplyWithSoundValuesIsQuiet)
{
    add("ann", "ann@example.org", "pw");
    prompt.takeShown();
    auto& f = panel.fields();
    f.relayHost = "relay.example";
    f.relaySubnet = "192.168.1.";
    f.maxEmailSizeKb = " 2048 ";
    f.maxAccountSizeKb = "4096";
    f.catchAllUser = "ANN";
    f.autoActivate = false;
    panel.applyGeneralSettings();
    EXPECT_EQ(prompt.takeShown(), std::vector<Shown>{CatchAllAndRelay}) << "only the relaying warning";
    EXPECT_EQ(service.directory().relaySubnet(), "192.168.1.");
    EXPECT_EQ(service.directory().maxEmailSize(), 2048 * 1024);
    EXPECT_EQ(service.directory().maxAccountSize(), 4096 * 1024);
    EXPECT_EQ(service.popPort(), 110);

    f.relayHost = "";
    f.catchAllUser = "";
    panel.applyGeneralSettings();
    EXPECT_TRUE(prompt.takeShown().empty());
    EXPECT_FALSE(service.directory().relayHostSet());
}

TEST_F(EmailPanelTest, NumberFieldsReadGarbageAsZeroAndStayWithinRange)
{
    const struct {
        const char* emailKb;
        const char* accountKb;
        const char* port;
        std::int32_t emailBytes;
        std::int32_t accountBytes;
        int port_;
        std::vector<Shown> shown;
    } cases[] = {
        {"", "x", "", 1048576, 2097152, 0, {EmailSize, AccountSize, PopPort}},
        {"-5", "12k", "1 1", 1048576, 2097152, 0, {EmailSize, AccountSize}},
        {"99999999999999999999", "1", "70000", 1048575 * 1024, 2 * 1048575 * 1024, 65535, {AccountSize, PopPort}},
        {"1048575", "99999999999", "110", 1048575 * 1024, 2097151 * 1024, 110, {PopPort}},
    };
    for (const auto& c : cases) {
        auto& f = panel.fields();
        f.maxEmailSizeKb = c.emailKb;
        f.maxAccountSizeKb = c.accountKb;
        f.popPort = c.port;
        panel.applyGeneralSettings();
        EXPECT_EQ(prompt.takeShown(), c.shown) << c.emailKb << " " << c.accountKb << " " << c.port;
        EXPECT_EQ(service.directory().maxEmailSize(), c.emailBytes) << c.emailKb;
        EXPECT_EQ(service.directory().maxAccountSize(), c.accountBytes) << c.accountKb;
        EXPECT_EQ(service.popPort(), c.port_) << c.port;
    }
}

TEST_F(EmailPanelTest, TheLimitsPerAddressReadLikeTheOtherNumberFields)
{
    auto& f = panel.fields();
    EXPECT_EQ(std::make_tuple(f.smtpPerAddressCap, f.popPerAddressCap, f.popFailedLoginLimit),
              std::make_tuple("0", "0", "10"));
    f.smtpPerAddressCap = " 50 ";
    f.popPerAddressCap = "99999";
    f.popFailedLoginLimit = "x";
    panel.applyGeneralSettings();
    EXPECT_EQ(std::make_tuple(service.smtpCap, service.popCap, service.popLoginLimit), std::make_tuple(50, 1000, 0));
    panel.show();
    EXPECT_EQ(std::make_tuple(f.smtpPerAddressCap, f.popPerAddressCap, f.popFailedLoginLimit),
              std::make_tuple("50", "1000", "0"));
}

TEST_F(EmailPanelTest, MoreInfoOpensTheAttachmentWindowWithTheRecommendedList)
{
    panel.moreInfo();
    EXPECT_EQ(info.opened, 1);
    EXPECT_STREQ(AttachmentInfo::Title, "Dangerous Email Attachments");
    EXPECT_STREQ(AttachmentInfo::Warning,
                 "Even with anti-virus software, your system may still be vulnerable to dangerous email viruses. "
                 "Usually, the viruses travel in the form of an attachment contained within the email.");
    EXPECT_STREQ(AttachmentInfo::Advice,
                 "Vantrel Server can completely block these potentially dangerous attachments, preventing them "
                 "from ever entering your system.\n\nBelow is a list of recommended file types that should be "
                 "blocked for email attachments.");
    const std::string list = AttachmentInfo::listText();
    EXPECT_EQ(list, " .dat .exe .pif .scr .com .ade .adp .bas .bat .chm .cmd .cpl .crt .hlp .hta .inf .ins .isp .js "
                    ".jse .lnk .mda .mdb .mde .mdz .msc .msi .msp .mst .pcd .reg .sct .shs .url .vb .vbe .vbs .wsc "
                    ".wsf .wsh ");
    std::istringstream words(list);
    int count = 0;
    for (std::string word; words >> word;)
        ++count;
    EXPECT_EQ(count, 40);
}

} // namespace
} // namespace vantrel

namespace vantrel {
namespace {

TEST_F(EmailPanelTest, MailTlsIsCheckedBeforeAnythingIsApplied)
{
    auto& f = panel.fields();
    EXPECT_EQ(std::make_tuple(f.tlsMode, f.smtpsPort, f.pop3sPort, f.relayRequiresTls),
              std::make_tuple(TlsMode::Off, "0", "0", false));
    service.knowOtherPorts([] { return ServicePorts{{"HTTP server", 443}, {"FTP server", 21}}; });
    service.certificateProblem = "the key does not match the certificate";
    // (mode, SMTPS port, POP3S port, message): a refused Apply changes nothing.
    const struct {
        TlsMode mode;
        const char* smtpsPort;
        const char* pop3sPort;
        Shown message;
    } refused[] = {
        {TlsMode::On, "465x", "0", {"No valid 'SMTPS port' given (0 for none).", "Input Error"}},
        {TlsMode::On, "465", "99999", {"No valid 'POP3S port' given (0 for none).", "Input Error"}},
        {TlsMode::Off, "0", "21", {"The 'POP3S port' 21 is already used by the FTP server.", "Input Error"}},
        {TlsMode::On, "443", "0", {"The 'SMTPS port' 443 is already used by the HTTP server.", "Input Error"}},
        {TlsMode::On, "0", "25", {"The 'POP3S port' 25 is already used by the SMTP server.", "Input Error"}},
        {TlsMode::On, "0", "110", {"The 'POP3S port' 110 is already used by the POP3 server.", "Input Error"}},
        {TlsMode::On,
         "995",
         "995",
         {"The 'POP3S port' 995 is already used by the SMTP server's implicit TLS port.", "Input Error"}},
        {TlsMode::Require,
         "0",
         "0",
         {"The certificate could not be loaded: the key does not match the certificate", "TLS Error"}},
    };
    for (const auto& c : refused) {
        f.localDomain = "changed.example";
        f.tlsMode = c.mode;
        f.smtpsPort = c.smtpsPort;
        f.pop3sPort = c.pop3sPort;
        EXPECT_FALSE(panel.applyGeneralSettings()) << c.message.text;
        EXPECT_EQ(prompt.takeShown(), (std::vector<Shown>{c.message}));
        EXPECT_EQ(service.tls, MailTlsSettings{});
        EXPECT_EQ(service.directory().localHostName(), "");
    }

    service.certificateProblem.clear();
    service.active = true;
    f.tlsMode = TlsMode::Require;
    f.smtpsPort = "465";
    f.pop3sPort = " 995 ";
    f.relayRequiresTls = true;
    EXPECT_TRUE(panel.applyGeneralSettings());
    EXPECT_EQ(prompt.takeShown(), (std::vector<Shown>{{"Please note that the TLS change will not take effect\n"
                                                       "until the Email Server has been restarted.",
                                                       "Warning"}}));
    EXPECT_EQ(service.tls, (MailTlsSettings{TlsMode::Require, 465, 995, true}));
    // Once on, a certificate gone bad does not keep the other settings from changing.
    service.certificateProblem = "missing";
    f.localDomain = "again.example";
    EXPECT_TRUE(panel.applyGeneralSettings());
    EXPECT_TRUE(prompt.takeShown().empty());
    EXPECT_EQ(service.directory().localHostName(), "again.example");
    panel.show();
    EXPECT_EQ(std::make_tuple(f.tlsMode, f.smtpsPort, f.pop3sPort, f.relayRequiresTls),
              std::make_tuple(TlsMode::Require, "465", "995", true));
}

} // namespace
} // namespace vantrel

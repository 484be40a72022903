// MailDirectory: who receives and who collects mail (exact addresses, the
// catch-all account, shared addresses, logins), the routing tests, the
// account table's rules, and what loading makes of the files.
#include "mail_test_support.h"

#include "email/mail_account.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace vantrel {
namespace {

using testing::deliver;
using testing::listedMessages;
using testing::MailFolderTest;
using testing::messageText;

class MailDirectoryTest : public MailFolderTest {
protected:
    void addAccounts(MailDirectory& directory)
    {
        ASSERT_TRUE(directory.addOrUpdateAccount("ann", "ann@x.org", "pw-ann"));
        ASSERT_TRUE(directory.addOrUpdateAccount("bob", "shared@x.org", "pw-bob"));
        ASSERT_TRUE(directory.addOrUpdateAccount("carol", "shared@x.org", "pw-carol"));
        ASSERT_TRUE(directory.addOrUpdateAccount("dave", "dave@y.org", "pw-dave"));
    }

    static std::string recipient(MailDirectory& directory, const std::string& address)
    {
        auto transaction = directory.openMailboxForAddress(address);
        if (!transaction)
            return "";
        std::string user = transaction->user();
        directory.commitDelivery(std::move(transaction));
        return user;
    }
};

TEST_F(MailDirectoryTest, RecipientResolution)
{
    MailDirectory directory(10);
    addAccounts(directory);
    struct Case {
        const char* address;
        const char* catchAll;
        const char* user; // "" when no account receives it
    };
    const Case cases[] = {
        {"ann@x.org", "", "ann"},
        {"dave@y.org", "", "dave"},
        {"shared@x.org", "", "bob"}, // the earlier of two accounts
        {"nobody@z.com", "", ""},
        {"ann@other.org", "", ""},        // no domain test: only listed addresses
        {"ANN@x.org", "", ""},            // exact: callers lowercase first
        {"nobody@z.com", "dave", "dave"}, // any address, any domain
        {"ann@x.org", "dave", "ann"},     // an exact match comes first
        {"nobody@z.com", "ghost", ""},    // a catch-all that names no account
        {"", "", ""},
    };
    for (const Case& c : cases) {
        directory.setCatchAllUser(c.catchAll);
        EXPECT_EQ(recipient(directory, c.address), c.user) << c.address << " catch-all " << c.catchAll;
    }
    directory.setCatchAllUser("");
    EXPECT_TRUE(directory.addressIsShared("shared@x.org"));
    EXPECT_FALSE(directory.addressIsShared("ann@x.org"));
    EXPECT_FALSE(directory.addressIsShared("nobody@z.com"));
}

TEST_F(MailDirectoryTest, LoginResolution)
{
    MailDirectory directory(10);
    addAccounts(directory);
    struct Case {
        const char* user;
        const char* password;
        bool accepted;
    };
    const Case cases[] = {
        {"ann", "pw-ann", true}, {"ann", "PW-ANN", false},   {"Ann", "pw-ann", false},    {"ann", "pw-bob", false},
        {"ann", "", false},      {"ghost", "pw-ann", false}, {"carol", "pw-carol", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(directory.checkLogin(c.user, c.password), c.accepted) << c.user << "/" << c.password;
        auto transaction = directory.openMailboxForLogin(c.user, c.password);
        EXPECT_EQ(transaction != nullptr, c.accepted) << c.user << "/" << c.password;
        if (transaction) {
            EXPECT_EQ(transaction->user(), c.user);
            EXPECT_EQ(transaction->password(), c.password);
            directory.commitAndUnlock(std::move(transaction));
        }
    }
    EXPECT_TRUE(directory.userExists("dave"));
    EXPECT_FALSE(directory.userExists("Dave"));
}

TEST_F(MailDirectoryTest, RoutingTests)
{
    MailDirectory directory(10);
    struct SubnetCase {
        const char* subnet;
        const char* client;
        bool allowed;
    };
    // Whole octets: a subnet that ends inside one matches no longer number.
    const SubnetCase subnets[] = {
        {"", "203.0.113.9", true},          {"10.0.0.", "10.0.0.15", true},
        {"10.0.0.", "10.0.1.15", false},    {"192.168.1", "192.168.10.7", false},
        {"192.168.1", "192.168.1.7", true}, {"192.168.1", "192.168.2.1", false},
        {"10.0.0.15", "10.0.0.1", false},   {"127.0.0.1", "127.0.0.1", true},
        {"127.0.0.1", "127.0.0.15", false}, {"127.0.0.1", "127.0.0.100", false},
    };
    for (const SubnetCase& c : subnets) {
        directory.setRelaySubnet(c.subnet);
        EXPECT_EQ(directory.relayAllowedFrom(c.client), c.allowed) << c.subnet << " " << c.client;
    }
    directory.setRelaySubnet("123456789.123456789.123");
    EXPECT_EQ(directory.relaySubnet(), "123456789.123456789"); // 19 characters

    EXPECT_TRUE(directory.isLocalDomain(""));
    EXPECT_FALSE(directory.isLocalDomain("mail.x.org"));
    directory.setLocalDomain("mail.x.org");
    EXPECT_TRUE(directory.isLocalDomain("mail.x.org"));
    EXPECT_FALSE(directory.isLocalDomain("MAIL.x.org"));
    EXPECT_EQ(directory.localHostName(), "mail.x.org");

    EXPECT_FALSE(directory.relayHostSet());
    directory.setRelayHost("relay.x.org");
    EXPECT_TRUE(directory.relayHostSet());
    directory.setRelayHost(std::string(150, 'r'));
    EXPECT_EQ(directory.relayHost(), std::string(99, 'r'));
}

TEST_F(MailDirectoryTest, BannedExtensions)
{
    MailDirectory directory(10);
    EXPECT_EQ(directory.bannedExtensions(), MailDirectory::RecommendedBannedExtensions);
    struct Case {
        const char* ext;
        bool allowed;
    };
    const Case cases[] = {{".exe", false}, {".dat", false}, {".wsh", false}, {".EXE", true},
                          {".ex", true},   {".txt", true},  {".js", false},  {"exe", true}};
    for (const Case& c : cases)
        EXPECT_EQ(directory.extensionAllowed(c.ext), c.allowed) << c.ext;

    directory.setBannedExtensions(".zip .rar");
    EXPECT_EQ(directory.bannedExtensions(), ".zip .rar");
    EXPECT_FALSE(directory.extensionAllowed(".rar"));
    EXPECT_TRUE(directory.extensionAllowed(".exe"));
    directory.setBannedExtensions("");
    EXPECT_EQ(directory.bannedExtensions(), "");
    EXPECT_TRUE(directory.extensionAllowed(".zip"));
}

TEST_F(MailDirectoryTest, AccountTableRules)
{
    MailDirectory directory(3);
    ASSERT_TRUE(directory.addOrUpdateAccount("ann", "ann@x.org", "one"));
    struct Case {
        std::string user;
        bool accepted;
    };
    // Names that cannot name files, or whose files another account uses.
    const Case refused[] = {
        {"a\\b", false},
        {"a/b", false},
        {"..\\ann", false},
        {"../x", false},
        {"", false},
        {"ANN", false},
        {std::string("a\0b", 3), false},
    };
    for (const Case& c : refused)
        EXPECT_EQ(directory.addOrUpdateAccount(c.user, "x@x.org", "pw"), c.accepted) << c.user;
    EXPECT_EQ(directory.accountCount(), 1);

    ASSERT_TRUE(directory.addOrUpdateAccount("j.doe", "j@x.org", "two"));
    EXPECT_FALSE(directory.addOrUpdateAccount("j doe", "k@x.org", "pw")); // the same files as j.doe
    EXPECT_FALSE(directory.addOrUpdateAccount("J.Doe", "k@x.org", "pw"));

    // An existing name is updated, also with a full table.
    ASSERT_TRUE(directory.addOrUpdateAccount("carl", "c@x.org", "three"));
    EXPECT_FALSE(directory.addOrUpdateAccount("dora", "d@x.org", "pw"));
    EXPECT_TRUE(directory.addOrUpdateAccount("ann", "new@x.org", std::string(120, 'p')));
    EXPECT_TRUE(directory.checkLogin("ann", std::string(99, 'p')));
    EXPECT_EQ(directory.account("ann")->address(), "new@x.org");
    EXPECT_EQ(directory.accountCount(), 3);

    EXPECT_FALSE(directory.removeAccount("dora"));
    EXPECT_FALSE(directory.removeAccount("ANN"));
    EXPECT_TRUE(directory.removeAccount("ann"));
    EXPECT_FALSE(directory.userExists("ann"));
    EXPECT_TRUE(directory.addOrUpdateAccount("dora", "d@x.org", "pw"));
}

TEST_F(MailDirectoryTest, ReAddingAnAccountBringsItsMailBack)
{
    MailDirectory directory(10);
    ASSERT_TRUE(directory.addOrUpdateAccount("ann", "ann@x.org", "pw"));
    deliver(directory, "ann@x.org", messageText(1));
    deliver(directory, "ann@x.org", messageText(2));
    ASSERT_TRUE(directory.removeAccount("ann"));
    EXPECT_EQ(directory.openMailboxForAddress("ann@x.org"), nullptr);
    EXPECT_TRUE(std::filesystem::exists("email/ann.dat"));

    ASSERT_TRUE(directory.addOrUpdateAccount("ann", "ann@new.org", "new"));
    EXPECT_EQ(listedMessages(directory, "ann", "new"), (std::vector<std::string>{messageText(1), messageText(2)}));
    EXPECT_EQ(directory.account("ann")->nextMessageNumber(), 2u);
    deliver(directory, "ann@new.org", messageText(3));
    EXPECT_TRUE(std::filesystem::exists("email/2@ann_e.dat"));
}

TEST_F(MailDirectoryTest, LoadMakesAccountsOnceAndSkipsEmptyNames)
{
    {
        MailDirectory directory(10);
        ASSERT_TRUE(directory.addOrUpdateAccount("ann", "ann@x.org", "pw"));
        directory.setLocalDomain("mail.x.org");
        directory.setCatchAllUser("ann");
        ASSERT_TRUE(directory.save());
    }
    // A hand-made table: an empty name, then three accounts; the empty name
    // counts towards the maximum of three.
    const std::string zero(1, '\0');
    testing::writeBytes("emailaccounts.dat",
                        testing::settingsFile(4, testing::record("", zero) + testing::record("ann", zero) +
                                                     testing::record("bob", zero) + testing::record("carl", zero)));
    MailDirectory directory(3);
    EXPECT_FALSE(directory.load()); // bob's files are missing
    EXPECT_EQ(directory.accountCount(), 2);
    EXPECT_TRUE(directory.userExists("ann"));
    EXPECT_TRUE(directory.userExists("bob"));
    EXPECT_FALSE(directory.userExists("carl"));
    EXPECT_EQ(directory.localHostName(), "mail.x.org");
    EXPECT_EQ(directory.catchAllUser(), "ann");
    EXPECT_EQ(directory.account("ann")->address(), "ann@x.org");
    EXPECT_EQ(directory.account("bob")->address(), "");

    // A second load refreshes, but makes no accounts again; a missing
    // mapper key leaves its field alone.
    testing::writeBytes("emailmapper.dat",
                        testing::settingsFile(1, testing::record("relayhost", "relay.x.org" + zero)));
    EXPECT_FALSE(directory.load());
    EXPECT_EQ(directory.accountCount(), 2);
    EXPECT_EQ(directory.relayHost(), "relay.x.org");
    EXPECT_EQ(directory.localHostName(), "mail.x.org");
}

// Whether text has the shape: 'd' a digit, 'A' an upper-case and 'a' a
// lower-case letter, anything else itself.
bool hasShape(std::string_view text, std::string_view shape)
{
    if (text.size() != shape.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool fits = shape[i] == 'd'   ? std::isdigit(c) != 0
                          : shape[i] == 'A' ? std::isupper(c) != 0
                          : shape[i] == 'a' ? std::islower(c) != 0
                                            : text[i] == shape[i];
        if (!fits)
            return false;
    }
    return true;
}

TEST_F(MailDirectoryTest, MessageIdsCountAndCarryTheDate)
{
    MailDirectory directory(1);
    constexpr std::string_view Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    for (int k = 0; k < 3; ++k) {
        const std::string id = directory.newMessageId();
        const std::string counter = std::to_string(k) + ":";
        ASSERT_EQ(id.substr(0, counter.size()), counter) << id;
        const std::string_view date = std::string_view(id).substr(counter.size());
        EXPECT_TRUE(hasShape(date, "Aaa::dd:Aaa:dddd:dd:dd:dd")) << id;
        EXPECT_NE(std::find(std::begin(Days), std::end(Days), date.substr(0, 3)), std::end(Days)) << id;
        EXPECT_LE(id.size(), MailDirectory::MaxMessageId);
    }
}

} // namespace
} // namespace vantrel

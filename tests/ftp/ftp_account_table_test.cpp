// The FTP account table: its files byte for byte, loading of hand-made
// files, the capacity, the cut to 99 characters and the login rules.
#include "ftp/ftp_account_table.h"

#include "panel_test_support.h"

#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

namespace vantrel {
namespace {

using testing::header;
using testing::readBytes;
using testing::record;
using testing::textValue;
using testing::writeBytes;

class AccountTableFiles : public testing::WorkingFolderTest {
protected:
    void writeList(const std::vector<std::string>& users)
    {
        std::string bytes = header(static_cast<int>(users.size()));
        for (const std::string& user : users)
            bytes += record("NONE", textValue(user));
        writeBytes(path("ftpaccounts.dat"), bytes);
    }
};

TEST_F(AccountTableFiles, SavesOneAccountAsTheseExactBytes)
{
    const std::uint32_t pinned[] = {1, 2, 4, 8, 16, 32, 9};
    const AccessRights rights[] = {AccessRights::FileRead,   AccessRights::FileWrite,    AccessRights::FileModify,
                                   AccessRights::FolderRead, AccessRights::FolderCreate, AccessRights::FolderModify,
                                   DefaultAccountRights};
    for (std::size_t i = 0; i < std::size(pinned); ++i)
        EXPECT_EQ(rightsValue(rights[i]), pinned[i]);

    FtpAccountTable table(FtpAccountCapacity);
    ASSERT_TRUE(
        table.addOrUpdate({"ann", "Secret", "/srv/ftp\\", AccessRights::FileRead | AccessRights::FolderCreate}));
    ASSERT_TRUE(table.saveAccounts());

    const std::string list =
        std::string("\3\0\0\0\1\0\0\0NONE", 12) + std::string(296, '\0') + std::string("\4\0\0\0ann\0", 8);
    EXPECT_EQ(readBytes(path("ftpaccounts.dat")), list);
    const std::string account = std::string("\3\0\0\0\3\0\0\0folder", 14) + std::string(294, '\0') +
                                std::string("\x0a\0\0\0/srv/ftp\\\0", 14) + "pass" + std::string(296, '\0') +
                                std::string("\7\0\0\0Secret\0", 11) + "rights" + std::string(294, '\0') +
                                std::string("\4\0\0\0\x11\0\0\0", 8);
    EXPECT_EQ(readBytes(path("ftp/ann.dat")), account);
}

TEST_F(AccountTableFiles, SaveAndLoadGiveBackEveryAccountInOrder)
{
    const std::vector<FtpAccount> accounts{{"zed", "pw1", "/srv/a\\", AccessRights::FolderModify},
                                           {"anonymous", "", "/srv/pub\\", DefaultAccountRights},
                                           {"bob", "P w", "/home/bob/\\", static_cast<AccessRights>(63)}};
    {
        FtpAccountTable table(10);
        for (const FtpAccount& account : accounts)
            ASSERT_TRUE(table.addOrUpdate(account));
        ASSERT_TRUE(table.saveAccounts());
    }
    FtpAccountTable loaded(10);
    ASSERT_TRUE(loaded.loadAccounts());
    ASSERT_EQ(loaded.count(), 3);
    for (int i = 0; i < 3; ++i) {
        const FtpAccount copy = loaded.copyAt(i);
        EXPECT_EQ(std::tie(copy.user, copy.password, copy.folder, copy.rights),
                  std::tie(accounts[i].user, accounts[i].password, accounts[i].folder, accounts[i].rights));
    }
    // A table that holds accounts is not loaded over.
    ASSERT_TRUE(loaded.removeByName("zed"));
    EXPECT_TRUE(loaded.loadAccounts());
    EXPECT_EQ(loaded.count(), 2);
}

TEST_F(AccountTableFiles, LoadsHandMadeFilesAndSkipsWhatIsMissing)
{
    FtpAccountTable none(10);
    EXPECT_FALSE(none.loadAccounts()) << "no list file";

    writeList({"ann", "ghost", "norights", "ann", "over"});
    const std::string longFolder(150, 'f');
    writeBytes(path("ftp/ann.dat"), header(3) + record("folder", textValue(longFolder)) +
                                        record("pass", textValue("x")) +
                                        record("rights", std::string("\x09\0\0\0", 4)));
    writeBytes(path("ftp/norights.dat"), header(1) + record("pass", textValue("pw")));
    writeBytes(path("ftp/over.dat"), header(1) + record("pass", textValue("pw")));

    FtpAccountTable table(4); // "over" lies beyond the capacity
    EXPECT_FALSE(table.loadAccounts()) << "the missing file of \"ghost\" fails the load";
    ASSERT_EQ(table.count(), 3);
    EXPECT_EQ(table.copyAt(0).folder, longFolder.substr(0, 99));
    EXPECT_EQ(table.copyAt(0).rights, DefaultAccountRights);
    EXPECT_EQ(table.copyAt(1).user, "norights");
    EXPECT_EQ(table.copyAt(1).folder, "");
    EXPECT_EQ(table.copyAt(1).rights, AccessRights::None);
    EXPECT_EQ(table.copyAt(2).user, "ann") << "duplicates load as listed";

    // Removal takes the first of two equal names and closes the gap.
    ASSERT_TRUE(table.removeByName("ann"));
    EXPECT_EQ(table.copyAt(0).user, "norights");
    EXPECT_EQ(table.indexOfName("ann"), 1);
}

// An account whose own file is missing, damaged or cut short stays in the
// list through a save, its file untouched, and takes no login meanwhile.
TEST_F(AccountTableFiles, AnAccountWhoseFileFailsStaysListedAndItsFileAlone)
{
    writeList({"ann", "ghost", "bad", "cut", "zed"});
    const std::string list = readBytes(path("ftpaccounts.dat"));
    const std::string annFile =
        header(2) + record("pass", textValue("pw")) + record("rights", std::string("\x09\0\0\0", 4));
    writeBytes(path("ftp/ann.dat"), annFile);
    writeBytes(path("ftp/zed.dat"), annFile);
    writeBytes(path("ftp/bad.dat"), "garbage");
    writeBytes(path("ftp/cut.dat"), annFile.substr(0, 400));

    FtpAccountTable table(10);
    EXPECT_FALSE(table.loadAccounts());
    ASSERT_EQ(table.count(), 2);
    EXPECT_EQ(table.copyAt(1).user, "zed");
    EXPECT_EQ(table.unreadableNames(), (std::vector<std::string>{"ghost", "bad", "cut"}));
    for (const char* user : {"ghost", "bad", "cut"}) {
        FtpLogin login{user, "", "", AccessRights::None};
        EXPECT_FALSE(table.findLogin(login)) << user;
    }

    ASSERT_TRUE(table.saveAccounts());
    EXPECT_EQ(readBytes(path("ftpaccounts.dat")), list) << "every name listed, in its place";
    EXPECT_EQ(readBytes(path("ftp/bad.dat")), "garbage");
    EXPECT_EQ(readBytes(path("ftp/cut.dat")), annFile.substr(0, 400));
    EXPECT_FALSE(std::filesystem::exists(path("ftp/ghost.dat")));
    EXPECT_FALSE(std::filesystem::exists(path("ftp/bad.dat.damaged")));

    // Entered anew, an account replaces its damaged file, which is kept.
    ASSERT_TRUE(table.addOrUpdate({"bad", "new", "/srv/bad\\", DefaultAccountRights}));
    EXPECT_EQ(table.unreadableNames(), (std::vector<std::string>{"ghost", "cut"}));
    ASSERT_TRUE(table.saveAccounts());
    EXPECT_EQ(readBytes(path("ftp/bad.dat.damaged")), "garbage");
    FtpAccountTable reloaded(10);
    EXPECT_FALSE(reloaded.loadAccounts());
    ASSERT_EQ(reloaded.count(), 3);
    EXPECT_EQ(reloaded.copyAt(2).user, "bad");
    EXPECT_EQ(reloaded.copyAt(2).password, "new");
    EXPECT_EQ(reloaded.unreadableNames(), (std::vector<std::string>{"ghost", "cut"}));
}

// A list cut short gives the accounts named before the cut; the next save
// keeps the damaged list as ftpaccounts.dat.damaged.
TEST_F(AccountTableFiles, ACutListGivesTheAccountsBeforeTheCut)
{
    writeList({"ann", "bob", "cid"});
    const std::string list = readBytes(path("ftpaccounts.dat"));
    const std::string cut = list.substr(0, 8 + 2 * 308 + 100);
    writeBytes(path("ftpaccounts.dat"), cut);
    for (const char* user : {"ann", "bob", "cid"})
        writeBytes(path(std::string("ftp/") + user + ".dat"), header(1) + record("pass", textValue("pw")));

    FtpAccountTable table(10);
    EXPECT_FALSE(table.loadAccounts());
    ASSERT_EQ(table.count(), 2);
    EXPECT_EQ(table.copyAt(1).user, "bob");
    ASSERT_TRUE(table.saveAccounts());
    EXPECT_EQ(readBytes(path("ftpaccounts.dat.damaged")), cut);
    EXPECT_EQ(readBytes(path("ftpaccounts.dat")), list.substr(0, 8 + 2 * 308).replace(4, 1, "\x02"));
}

TEST(AccountTableTest, AFullTableTakesOnlyUpdatesAndTextsAreCut)
{
    FtpAccountTable table(2);
    const std::string longUser(150, 'u');
    ASSERT_TRUE(table.addOrUpdate({longUser, std::string(150, 'p'), std::string(150, 'f'), AccessRights::None}));
    ASSERT_TRUE(table.addOrUpdate({"b", "2", "/b\\", AccessRights::FileRead}));
    const FtpAccount cut = table.copyAt(0);
    EXPECT_EQ(cut.user, longUser.substr(0, 99));
    EXPECT_EQ(cut.password.size(), 99u);
    EXPECT_EQ(cut.folder.size(), 99u);

    EXPECT_FALSE(table.addOrUpdate({"c", "3", "/c\\", AccessRights::FileRead}));
    EXPECT_FALSE(table.containsName("c"));
    // The same over-long name matches the stored account.
    EXPECT_TRUE(table.addOrUpdate({longUser, "new", "/n\\", AccessRights::FolderModify}));
    ASSERT_EQ(table.count(), 2);
    EXPECT_EQ(table.copyAt(0).password, "new");
    EXPECT_EQ(table.copyAt(0).rights, AccessRights::FolderModify);
    EXPECT_FALSE(table.removeByName("c"));
}

TEST(AccountTableTest, LoginRules)
{
    FtpAccountTable table(10);
    ASSERT_TRUE(table.addOrUpdate({"ann", "Secret", "/ann\\", AccessRights::FileRead}));
    ASSERT_TRUE(table.addOrUpdate({"bob", "", "/bob\\", AccessRights::FileWrite}));
    const struct {
        const char* user;
        const char* password;
        bool ok;
    } cases[] = {
        {"ann", "Secret", true}, {"ann", "secret", false}, {"Ann", "Secret", false},     {"ann", "", false},
        {"bob", "", true},       {"bob", "x", false},      {"anonymous", "me@x", false}, // no "anonymous" account yet
    };
    for (const auto& c : cases) {
        FtpLogin login{c.user, c.password, {}, AccessRights::None};
        EXPECT_EQ(table.findLogin(login), c.ok) << c.user << " / " << c.password;
        EXPECT_EQ(login.folder.empty(), !c.ok) << c.user << " / " << c.password;
    }

    ASSERT_TRUE(table.addOrUpdate({"anonymous", "", "/pub\\", AccessRights::FolderRead}));
    for (const char* password : {"", "me@example.org"}) {
        FtpLogin login{"anonymous", password, {}, AccessRights::None};
        ASSERT_TRUE(table.findLogin(login)) << password;
        EXPECT_EQ(login.folder, "/pub\\");
        EXPECT_EQ(login.rights, AccessRights::FolderRead);
    }
}

TEST(AccountTableTest, WelcomeIsKeptUpTo499Characters)
{
    EXPECT_EQ(FtpAccountTable(1, std::string(600, 'c')).welcome(), std::string(499, 'c'));
    FtpAccountTable table(1, "Hello");
    table.setWelcome(std::string(600, 'w'));
    EXPECT_EQ(table.welcome(), std::string(499, 'w'));
    char small[6];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(table.getWelcome(small, sizeof small), 5u);
    EXPECT_STREQ(small, "wwwww");
}

} // namespace
} // namespace vantrel

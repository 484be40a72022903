// A mail account made without the window: vantrel-settings writes
// "emailaccounts.dat" and the account's "_s.dat" with its 101-byte values,
// and the mail directory loads the account from them.
#include "mail_test_support.h"

#include "email/mail_account.h"
#include "tools/settings_tool.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace vantrel {
namespace {

using testing::fixed101;
using testing::le32;
using testing::readBytes;
using testing::record;
using testing::settingsFile;

class AccountFileToolTest : public testing::MailFolderTest {
protected:
    int run(const std::vector<std::string>& words)
    {
        out.str("");
        err.str("");
        return SettingsTool(out, err).run(words);
    }

    std::ostringstream out;
    std::ostringstream err;

private:
    // The changing commands take the server's lock: a private one.
    testing::PrivateTmpDir tmp_{folder()};
};

TEST_F(AccountFileToolTest, MakesAnAccountTheDirectoryLoads)
{
    // The commands of the README, one call per file.
    ASSERT_EQ(run({"emailaccounts.dat", "set-text", "j.doe", ""}), 0) << err.str();
    ASSERT_EQ(run({"email/j doe_s.dat", "set-int", "count", "0", "set-text-fixed", "address", "101", "j.doe@x.org",
                   "set-text-fixed", "password", "101", std::string(100, 'p')}),
              0)
        << err.str();
    ASSERT_EQ(run({"email/j doe.dat", "create"}), 0) << err.str();
    ASSERT_EQ(run({"email.dat", "set-int", "popport", "110", "set-int", "smtplogfilecount", "0", "set-int",
                   "pop3logfilecount", "0", "set-int", "autostart", "1"}),
              0)
        << err.str();
    ASSERT_EQ(run({"emailmapper.dat", "create"}), 0) << err.str();

    EXPECT_EQ(readBytes("emailaccounts.dat"), settingsFile(1, record("j.doe", std::string(1, '\0'))));
    EXPECT_EQ(readBytes("email/j doe_s.dat"),
              settingsFile(3, record("count", le32(0)) + record("address", fixed101("j.doe@x.org")) +
                                  record("password", fixed101(std::string(100, 'p')))));
    EXPECT_EQ(readBytes("email.dat"),
              settingsFile(4, record("popport", le32(110)) + record("smtplogfilecount", le32(0)) +
                                  record("pop3logfilecount", le32(0)) + record("autostart", le32(1))));

    MailDirectory directory(10);
    ASSERT_TRUE(directory.load());
    ASSERT_EQ(directory.accountCount(), 1);
    EXPECT_EQ(directory.account("j.doe")->address(), "j.doe@x.org");
    // Readers take at most 99 characters.
    EXPECT_TRUE(directory.checkLogin("j.doe", std::string(99, 'p')));
}

TEST_F(AccountFileToolTest, AChainWritesNothingUnlessEveryCommandSucceeds)
{
    ASSERT_EQ(run({"a.dat", "set-int", "count", "1"}), 0);
    const std::string before = readBytes("a.dat");
    EXPECT_EQ(run({"a.dat", "set-int", "count", "2", "set-text-fixed", "address", "3", "abc"}), 1);
    EXPECT_EQ(run({"a.dat", "set-int", "count", "2", "set-text-fixed", "address"}), 2);
    EXPECT_EQ(run({"a.dat", "set-int", "count", "2", "frobnicate"}), 2);
    EXPECT_EQ(readBytes("a.dat"), before);
    EXPECT_EQ(run({"a.dat", "set-int", "count", "2", "get", "count"}), 0);
    EXPECT_EQ(out.str(), "2\n");
}

TEST_F(AccountFileToolTest, RefusesValuesThatDoNotFit)
{
    ASSERT_EQ(run({"a.dat", "set-text-fixed", "address", "4", "abc"}), 0);
    const std::string before = readBytes("a.dat");
    EXPECT_EQ(before, settingsFile(1, record("address", std::string("abc") + std::string(1, '\0'))));
    for (const std::vector<std::string>& words :
         std::vector<std::vector<std::string>>{{"a.dat", "set-text-fixed", "address", "3", "abc"},
                                               {"a.dat", "set-text-fixed", "address", "0", ""},
                                               {"a.dat", "set-text-fixed", "address", "-5", ""},
                                               {"a.dat", "set-text-fixed", "address", "x101", "abc"},
                                               {"a.dat", "set-text-fixed", "address", "2147483647", "abc"}})
        EXPECT_EQ(run(words), 1) << words[3];
    EXPECT_EQ(run({"a.dat", "set-text-fixed", "address", "101"}), 2);
    EXPECT_EQ(readBytes("a.dat"), before);
}

} // namespace
} // namespace vantrel

// The mail store's files byte for byte: "emailaccounts.dat",
// "emailmapper.dat", an account's "_s.dat" with its 101-byte values, its
// index and message files, names with "@" and blanks, and names that
// differ from the files on disk only in letter case.
#include "mail_test_support.h"

#include "email/mail_account.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel {
namespace {

using testing::deliver;
using testing::fixed101;
using testing::folderNames;
using testing::le32;
using testing::listedMessages;
using testing::messageText;
using testing::readBytes;
using testing::record;
using testing::settingsFile;
using testing::writeBytes;
using testing::zeroEnded;

using MailFilesTest = testing::MailFolderTest;

TEST_F(MailFilesTest, AccountTableAndRoutingSettings)
{
    {
        MailDirectory directory(10);
        ASSERT_TRUE(directory.addOrUpdateAccount("ann", "ann@x.org", "pw"));
        ASSERT_TRUE(directory.addOrUpdateAccount("j.doe", "j@x.org", "pw"));
        directory.setRelayHost("relay.x.org");
        directory.setRelaySubnet("10.0.0.");
        directory.setLocalDomain("mail.x.org");
        directory.setCatchAllUser("ann");
        ASSERT_TRUE(directory.save());
    }
    const std::string zero(1, '\0');
    EXPECT_EQ(readBytes("emailaccounts.dat"), settingsFile(2, record("ann", zero) + record("j.doe", zero)));
    EXPECT_EQ(
        readBytes("emailmapper.dat"),
        settingsFile(4, record("relayhost", zeroEnded("relay.x.org")) + record("relaysubnet", zeroEnded("10.0.0.")) +
                            record("localhost", zeroEnded("mail.x.org")) + record("catchalluser", zeroEnded("ann"))));

    // Empty settings are single zero bytes.
    MailDirectory empty(10);
    ASSERT_TRUE(empty.save());
    EXPECT_EQ(readBytes("emailaccounts.dat"), settingsFile(0, ""));
    EXPECT_EQ(readBytes("emailmapper.dat"),
              settingsFile(4, record("relayhost", zero) + record("relaysubnet", zero) + record("localhost", zero) +
                                  record("catchalluser", zero)));
}

TEST_F(MailFilesTest, AccountFilesWithAtSignsAndBlanks)
{
    MailDirectory directory(10);
    ASSERT_TRUE(directory.addOrUpdateAccount("j.doe", "j@x.org", "Secret"));
    const std::string id0 = deliver(directory, "j@x.org", messageText(0));
    const std::string id1 = deliver(directory, "j@x.org", messageText(1));

    EXPECT_EQ(folderNames("email"),
              (std::vector<std::string>{"0@j doe_e.dat", "1@j doe_e.dat", "j doe.dat", "j doe_s.dat"}));
    EXPECT_EQ(readBytes("email/j doe_s.dat"),
              settingsFile(3, record("count", le32(2)) + record("address", fixed101("j@x.org")) +
                                  record("password", fixed101("Secret"))));
    EXPECT_EQ(readBytes("email/j doe.dat"), settingsFile(2, record("email\\0@j doe_e.dat", zeroEnded(id0)) +
                                                                record("email\\1@j doe_e.dat", zeroEnded(id1))));
    EXPECT_EQ(readBytes("email/0@j doe_e.dat"), messageText(0));
    EXPECT_EQ(readBytes("email/1@j doe_e.dat"), messageText(1));

    // Longest values: 99 characters, their zero and one byte of filler.
    ASSERT_TRUE(directory.addOrUpdateAccount("j.doe", std::string(120, 'a'), std::string(99, 'p')));
    ASSERT_TRUE(directory.save());
    EXPECT_EQ(readBytes("email/j doe_s.dat"),
              settingsFile(3, record("count", le32(2)) + record("address", fixed101(std::string(99, 'a'))) +
                                  record("password", fixed101(std::string(99, 'p')))));
}

TEST_F(MailFilesTest, FixedValuesAreReadUpToTheirZero)
{
    testing::writeAccountTable({"ann"});
    writeBytes("email/ann.dat", settingsFile(0, ""));
    std::string address = "ann@x.org";
    address += '\0';
    address += std::string(101 - address.size(), 'G'); // filler that readers ignore
    writeBytes("email/ann_s.dat", settingsFile(3, record("count", le32(7)) + record("address", address) +
                                                      record("password", std::string(150, 'p'))));
    MailDirectory directory(10);
    ASSERT_TRUE(directory.load());
    EXPECT_EQ(directory.account("ann")->address(), "ann@x.org");
    EXPECT_TRUE(directory.checkLogin("ann", std::string(99, 'p')));
    EXPECT_EQ(directory.account("ann")->nextMessageNumber(), 7u);
    deliver(directory, "ann@x.org", messageText(7));
    EXPECT_TRUE(std::filesystem::exists("email/7@ann_e.dat"));
}

TEST_F(MailFilesTest, NamesDifferingInCaseNeverBecomeTwoFiles)
{
    // Files made elsewhere with a capital letter, for the user "ann".
    testing::writeAccountTable({"ann"});
    writeBytes("email/Ann.dat", settingsFile(1, record("email\\0@Ann_e.dat", zeroEnded("id-0"))));
    writeBytes("email/Ann_s.dat", settingsFile(3, record("count", le32(1)) + record("address", fixed101("ann@x.org")) +
                                                      record("password", fixed101("pw"))));
    writeBytes("email/0@Ann_e.dat", messageText(0));

    MailDirectory directory(10);
    ASSERT_TRUE(directory.load());
    EXPECT_EQ(listedMessages(directory, "ann", "pw"), std::vector<std::string>{messageText(0)});
    const std::string id1 = deliver(directory, "ann@x.org", messageText(1));
    ASSERT_TRUE(directory.save());

    EXPECT_EQ(folderNames("email"), (std::vector<std::string>{"0@Ann_e.dat", "1@ann_e.dat", "Ann.dat", "Ann_s.dat"}));
    EXPECT_EQ(readBytes("email/Ann.dat"), settingsFile(2, record("email\\0@Ann_e.dat", zeroEnded("id-0")) +
                                                              record("email\\1@ann_e.dat", zeroEnded(id1))));
    EXPECT_EQ(readBytes("email/Ann_s.dat"),
              settingsFile(3, record("count", le32(2)) + record("address", fixed101("ann@x.org")) +
                                  record("password", fixed101("pw"))));
    // A user whose name differs only in case would share these files.
    EXPECT_FALSE(directory.addOrUpdateAccount("ANN", "other@x.org", "pw"));
}

TEST_F(MailFilesTest, AnUnindexedFileOfTheNewNameGivesWay)
{
    // Left by a crash between placing a message and indexing it, once as
    // the server writes names and once spelt in capitals by hand: either
    // way one file of that name remains, holding the new message.
    struct Case {
        const char* leftOver;
        const char* expectedName;
    };
    const Case cases[] = {{"0@ann_e.dat", "0@ann_e.dat"}, {"0@ANN_E.DAT", "0@ann_e.dat"}};
    for (const Case& c : cases) {
        std::filesystem::remove_all("email");
        std::filesystem::create_directory("email");
        testing::writeAccountTable({"ann"});
        writeBytes("email/ann.dat", settingsFile(0, ""));
        writeBytes("email/ann_s.dat",
                   settingsFile(3, record("count", le32(0)) + record("address", fixed101("ann@x.org")) +
                                       record("password", fixed101("pw"))));
        writeBytes(std::string("email/") + c.leftOver, "left over");
        MailDirectory directory(10);
        ASSERT_TRUE(directory.load());
        const std::string id = deliver(directory, "ann@x.org", messageText(0));
        EXPECT_EQ(folderNames("email"), (std::vector<std::string>{c.expectedName, "ann.dat", "ann_s.dat"}));
        EXPECT_EQ(readBytes(std::string("email/") + c.expectedName), messageText(0));
        EXPECT_EQ(readBytes("email/ann.dat"), settingsFile(1, record("email\\0@ann_e.dat", zeroEnded(id))));
        EXPECT_EQ(listedMessages(directory, "ann", "pw"), std::vector<std::string>{messageText(0)});
    }
}

} // namespace
} // namespace vantrel

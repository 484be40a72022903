// EmailService: "email.dat" byte for byte, its keys' odd values, the two
// numbered logs, and activation: none without an account or without its
// folders, both ports released when the POP3 port is taken.
#include "mail_test_support.h"

#include "../foundation/net_test_support.h"

#include "email/email_service.h"
#include "foundation/tcp_socket.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace vantrel {
namespace {

using testing::le32;
using testing::readBytes;
using testing::record;
using testing::settingsFile;
using testing::writeBytes;

class EmailServiceTest : public testing::MailFolderTest {
protected:
    static void writeEmailDat(const std::string& records, int count)
    {
        writeBytes("email.dat", settingsFile(count, records));
    }

    // A port that was free a moment ago.
    static std::uint16_t freePort()
    {
        TcpSocket probe;
        EXPECT_TRUE(probe.listenOn(0));
        return probe.localPort();
    }

    static bool canListenOn(std::uint16_t port)
    {
        TcpSocket socket;
        return socket.listenOn(port);
    }
};

TEST_F(EmailServiceTest, FirstStartKeepsTheDefaults)
{
    EmailService service(0);
    EXPECT_FALSE(service.loadSettings());
    EXPECT_EQ(service.popPort(), 110);
    EXPECT_FALSE(service.autostart());
    EXPECT_EQ(service.smtpLogNumber(), 0);
    EXPECT_EQ(service.popLogNumber(), 0);
    EXPECT_EQ(service.directory().accountCount(), 0);
    EXPECT_FALSE(service.isActive());
}

TEST_F(EmailServiceTest, SettingsFileBytes)
{
    {
        EmailService service(0);
        service.setAutostart(true);
        service.setPopPort(1110);
        ASSERT_TRUE(service.saveSettings());
        EXPECT_EQ(readBytes("email.dat"),
                  settingsFile(4, record("popport", le32(1110)) + record("smtplogfilecount", le32(0)) +
                                      record("pop3logfilecount", le32(0)) + record("autostart", le32(1))));
    }
    EmailService service(0);
    EXPECT_TRUE(service.loadSettings());
    EXPECT_EQ(service.popPort(), 1110);
    EXPECT_TRUE(service.autostart());
}

TEST_F(EmailServiceTest, OddValuesOfTheKeys)
{
    struct Case {
        std::string records;
        int count;
        std::uint16_t popPort;
        bool autostart;
    };
    const Case cases[] = {
        {record("popport", le32(995)) + record("autostart", le32(2)), 2, 995, false},
        {record("autostart", le32(1)), 1, 0, true}, // no "popport": port 0
        {record("popport", le32(110)) + record("autostart", std::string("1", 1)), 2, 110, false},
        // A port beyond the range is its top, never wrapped to another port.
        {record("popport", le32(70000)), 1, 65535, false},
    };
    for (const Case& c : cases) {
        writeEmailDat(c.records, c.count);
        EmailService service(0);
        (void)service.loadSettings();
        EXPECT_EQ(service.popPort(), c.popPort) << c.count;
        EXPECT_EQ(service.autostart(), c.autostart) << c.count;
    }
}

TEST_F(EmailServiceTest, AnUnreadableSettingsFileStillLoadsTheAccounts)
{
    {
        EmailService service(0);
        service.setPopPort(2110);
        ASSERT_TRUE(service.directory().addOrUpdateAccount("ann", "ann@x.org", "pw"));
        ASSERT_TRUE(service.saveSettings());
    }
    writeBytes("email.dat", "garbage");
    EmailService service(0);
    service.setPopPort(3110);
    EXPECT_FALSE(service.loadSettings());
    EXPECT_EQ(service.popPort(), 3110);
    EXPECT_EQ(service.directory().accountCount(), 1);
}

TEST_F(EmailServiceTest, NumberedLogs)
{
    writeEmailDat(
        record("popport", le32(110)) + record("smtplogfilecount", le32(3)) + record("pop3logfilecount", le32(5)), 3);
    writeBytes("logs/smtplog_3.txt", std::string(51200, 'x'));
    EmailService service(0);
    (void)service.loadSettings();
    EXPECT_EQ(service.smtpLogNumber(), 4);
    EXPECT_EQ(service.popLogNumber(), 5);
    EXPECT_NE(readBytes("logs/smtplog_4.txt").find(" -> Vantrel Server 2.33: SMTP log file\r\n\r\n"),
              std::string::npos);
    EXPECT_NE(readBytes("logs/pop3log_5.txt").find(" -> Vantrel Server 2.33: POP3 log file\r\n\r\n"),
              std::string::npos);
    ASSERT_TRUE(service.saveSettings());
    EXPECT_EQ(readBytes("email.dat"),
              settingsFile(4, record("popport", le32(110)) + record("smtplogfilecount", le32(4)) +
                                  record("pop3logfilecount", le32(5)) + record("autostart", le32(0))));
}

TEST_F(EmailServiceTest, ActivationNeedsAnAccount)
{
    const std::uint16_t smtpPort = freePort();
    EmailService service(smtpPort);
    service.setPopPort(0);
    EXPECT_FALSE(service.activate());
    EXPECT_FALSE(service.isActive());
    EXPECT_TRUE(canListenOn(smtpPort));

    ASSERT_TRUE(service.directory().addOrUpdateAccount("ann", "ann@x.org", "pw"));
    ASSERT_TRUE(service.activate());
    EXPECT_TRUE(service.isActive());
    EXPECT_EQ(service.smtpListeningPort(), smtpPort);
    EXPECT_NE(service.popListeningPort(), 0);
    EXPECT_EQ(service.connectionCount(), 0);
    EXPECT_FALSE(canListenOn(smtpPort));
    service.deactivate();
    EXPECT_FALSE(service.isActive());

    // With the last account gone it fails again.
    ASSERT_TRUE(service.directory().removeAccount("ann"));
    EXPECT_FALSE(service.activate());
}

TEST_F(EmailServiceTest, ActivationNeedsItsFoldersWritable)
{
    const std::uint16_t smtpPort = freePort();
    EmailService service(smtpPort);
    service.setPopPort(0);
    ASSERT_TRUE(service.directory().addOrUpdateAccount("ann", "ann@x.org", "pw"));
    for (const char* folder : {"email", "logs"}) {
        SCOPED_TRACE(folder);
        // A file in the folder's place: not even root can make files there.
        std::filesystem::rename(folder, "moved");
        writeBytes(folder, "not a folder");
        EXPECT_FALSE(service.activate());
        EXPECT_TRUE(canListenOn(smtpPort));
        std::filesystem::remove(folder);
        std::filesystem::rename("moved", folder);
        ASSERT_TRUE(service.activate());
        service.deactivate();
    }
}

TEST_F(EmailServiceTest, EachPortGreetsWithItsProtocol)
{
    EmailService service(0);
    service.setPopPort(0);
    ASSERT_TRUE(service.directory().addOrUpdateAccount("ann", "ann@x.org", "pw"));
    ASSERT_TRUE(service.activate());
    LineSocket smtp;
    LineSocket pop;
    ASSERT_TRUE(smtp.connectTo("127.0.0.1", service.smtpListeningPort()));
    ASSERT_TRUE(pop.connectTo("127.0.0.1", service.popListeningPort()));
    EXPECT_EQ(testing::readLineText(smtp), "220 Welcome, Quorvell-Labs Vantrel Server 2.33 ready and waiting.");
    EXPECT_EQ(testing::readLineText(pop), "+OK Welcome, with Vantrel Server 2.33 by Quorvell-Labs");
    EXPECT_TRUE(testing::waitUntil([&] { return service.connectionCount() == 2; }));
    smtp.close();
    pop.close();
    EXPECT_TRUE(testing::waitUntil([&] { return service.connectionCount() == 0; }));
    EXPECT_GT(service.totalBytesOut(), 0u);
}

TEST_F(EmailServiceTest, ATakenPopPortReleasesTheSmtpPort)
{
    TcpSocket taken;
    ASSERT_TRUE(taken.listenOn(0));
    const std::uint16_t smtpPort = freePort();
    EmailService service(smtpPort);
    ASSERT_TRUE(service.directory().addOrUpdateAccount("ann", "ann@x.org", "pw"));
    service.setPopPort(taken.localPort());
    EXPECT_FALSE(service.activate());
    EXPECT_FALSE(service.isActive());
    EXPECT_TRUE(canListenOn(smtpPort));

    // Once the port is free again both come up.
    taken.close();
    ASSERT_TRUE(service.activate());
    EXPECT_EQ(service.popListeningPort(), service.popPort());
}

} // namespace
} // namespace vantrel

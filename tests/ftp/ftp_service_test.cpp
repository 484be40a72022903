// FtpService: its settings file, the numbered log and activation, each in
// a fresh working folder.
#include "ftp/ftp_service.h"

#include "foundation/settings_store.h"
#include "foundation/tcp_socket.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace vantrel {
namespace {

namespace fs = std::filesystem;

class FtpServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string name = (fs::temp_directory_path() / "vt-ftpsvc-XXXXXX").string();
        ASSERT_NE(::mkdtemp(name.data()), nullptr);
        folder_ = name;
        previous_ = fs::current_path();
        fs::current_path(folder_);
        fs::create_directory("logs");
        fs::create_directory("ftp");
    }
    void TearDown() override
    {
        fs::current_path(previous_);
        fs::remove_all(folder_);
    }

    static void writeSettings(int logNumber, int autostart, const std::string* welcome)
    {
        SettingsStore accounts;
        ASSERT_TRUE(accounts.save("ftpaccounts.dat"));
        SettingsStore store;
        store.setInt("logfilecount", logNumber);
        store.setInt("autostart", autostart);
        if (welcome != nullptr)
            store.setText("welcome", *welcome);
        ASSERT_TRUE(store.save("ftp.dat"));
    }

    static std::string read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    fs::path folder_;
    fs::path previous_;
};

TEST_F(FtpServiceTest, FirstStartKeepsTheDefaults)
{
    FtpService service;
    EXPECT_FALSE(service.loadSettings());
    EXPECT_EQ(service.accounts().welcome(), "Welcome to Quorvell-Labs - Vantrel Server 2.33.");
    EXPECT_EQ(service.port(), 21);
    EXPECT_FALSE(service.autostart());
    EXPECT_EQ(service.logNumber(), 0);
    EXPECT_EQ(service.accounts().count(), 0);
    EXPECT_FALSE(service.isActive());
}

TEST_F(FtpServiceTest, LoadsWelcomeCutAndAutostartOnlyForOne)
{
    const std::string longWelcome(600, 'w');
    writeSettings(0, 2, &longWelcome);
    FtpService service;
    ASSERT_TRUE(service.loadSettings());
    EXPECT_EQ(service.accounts().welcome(), std::string(499, 'w'));
    EXPECT_FALSE(service.autostart());

    writeSettings(0, 1, nullptr);
    FtpService second;
    ASSERT_TRUE(second.loadSettings());
    EXPECT_TRUE(second.autostart());
    EXPECT_EQ(second.accounts().welcome(), "");
}

TEST_F(FtpServiceTest, SaveAndLoadRoundTrip)
{
    {
        FtpService service;
        service.setAutostart(true);
        service.accounts().setWelcome("Hi");
        ASSERT_TRUE(service.accounts().addOrUpdate(FtpAccount{"ann", "pw", "/srv/ann\\", AccessRights::FileRead}));
        ASSERT_TRUE(service.saveSettings());
    }
    SettingsStore store;
    ASSERT_TRUE(store.load("ftp.dat"));
    EXPECT_EQ(store.nameAt(0), "logfilecount");
    EXPECT_EQ(store.nameAt(1), "autostart");
    EXPECT_EQ(store.nameAt(2), "welcome");
    FtpService service;
    ASSERT_TRUE(service.loadSettings());
    EXPECT_TRUE(service.autostart());
    EXPECT_EQ(service.accounts().welcome(), "Hi");
    ASSERT_EQ(service.accounts().count(), 1);
    EXPECT_EQ(service.accounts().copyAt(0).folder, "/srv/ann\\");
    // The port is never stored.
    EXPECT_EQ(service.port(), 21);
}

TEST_F(FtpServiceTest, TlsKeysAreWrittenOnlyWhenNotOff)
{
    const auto saved = [](const FtpTlsSettings& tls) {
        FtpService service;
        service.setTlsSettings(tls);
        EXPECT_TRUE(service.saveSettings());
        SettingsStore store;
        EXPECT_TRUE(store.load("ftp.dat"));
        std::string names;
        for (int i = 3; i < store.count(); ++i)
            names += store.nameAt(i) + "=" + std::to_string(store.getInt(store.nameAt(i))) + " ";
        FtpService loaded;
        EXPECT_TRUE(loaded.loadSettings());
        EXPECT_EQ(loaded.tlsSettings(), tls);
        return names;
    };
    EXPECT_EQ(saved({}), "");
    EXPECT_EQ(saved({TlsMode::Require, 0, false}), "tls=2 ");
    EXPECT_EQ(saved({TlsMode::On, 990, true}), "tls=1 tlsimplicitport=990 tlsanydata=1 ");

    SettingsStore store;
    ASSERT_TRUE(store.load("ftp.dat"));
    store.setInt("tls", 7);
    ASSERT_TRUE(store.save("ftp.dat"));
    FtpService unknown;
    ASSERT_TRUE(unknown.loadSettings());
    EXPECT_EQ(unknown.tlsSettings().mode, TlsMode::Off);
}

TEST_F(FtpServiceTest, LogMovesOnFromAFullFileOnly)
{
    writeSettings(3, 0, nullptr);
    {
        std::ofstream("logs/ftplog_3.txt", std::ios::binary) << std::string(51199, 'x');
        FtpService service;
        ASSERT_TRUE(service.loadSettings());
        EXPECT_EQ(service.logNumber(), 3);
    }
    std::ofstream("logs/ftplog_3.txt", std::ios::binary | std::ios::app) << "x";
    FtpService service;
    ASSERT_TRUE(service.loadSettings());
    EXPECT_EQ(service.logNumber(), 4);
    const std::string header = read("logs/ftplog_4.txt");
    EXPECT_NE(header.find(" -> Vantrel Server 2.33: FTP log file\r\n\r\n"), std::string::npos) << header;
    ASSERT_TRUE(service.saveSettings());
    SettingsStore store;
    ASSERT_TRUE(store.load("ftp.dat"));
    EXPECT_EQ(store.getInt("logfilecount"), 4);
}

TEST_F(FtpServiceTest, ActivationAndPortChanges)
{
    FtpService service;
    service.setPort(0);
    ASSERT_TRUE(service.activate());
    const std::uint16_t bound = service.listeningPort();
    EXPECT_NE(bound, 0);
    EXPECT_TRUE(service.isActive());

    // A second service cannot take a port in use.
    FtpService rival;
    rival.setPort(bound);
    EXPECT_FALSE(rival.activate());
    EXPECT_FALSE(rival.isActive());

    // A new port counts from the next activation on.
    service.setPort(bound);
    EXPECT_EQ(service.listeningPort(), bound);
    service.deactivate();
    EXPECT_FALSE(service.isActive());
    EXPECT_EQ(service.connectionCount(), 0);
    ASSERT_TRUE(service.activate());
    EXPECT_EQ(service.listeningPort(), bound);
}

} // namespace
} // namespace vantrel

// The site configuration's tables and the service's settings files and
// activation rules.
#include "foundation/settings_store.h"
#include "http/http_service.h"
#include "http/http_site_config.h"
#include "http/http_status_pages.h"
#include "http_test_folder.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <string>

namespace vantrel {
namespace {

using testing::TestWorkFolder;

// While it lives, writes past `bytes` fail (EFBIG) instead of ending the
// process: the disk-full case without a full disk.
class FileSizeLimit final {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST(HttpSiteConfig, DomainKeysAndFoldersAreCleanedOnAdd)
{
    HttpSiteConfig site;
    ASSERT_TRUE(site.addDomainMap("Shop.Example.ORG:81", "d:/site/"));
    ASSERT_TRUE(site.addDomainMap(" my site.example ", "e:\\www"));
    ASSERT_EQ(site.domainMapCount(), 2);
    EXPECT_EQ(site.domainMapAt(0).domain, "shop.example.org");
    EXPECT_EQ(site.domainMapAt(0).folder, "d:\\site");
    EXPECT_EQ(site.domainMapAt(1).domain, "mysite.example");
    EXPECT_EQ(site.lookupDomain("shop.example.org"), "d:\\site");
    EXPECT_EQ(site.lookupDomain("Shop.Example.ORG"), "");
    EXPECT_EQ(site.domainMapAt(2).domain, "");
}

TEST(HttpSiteConfig, RemovalIsExactAndReAddingReplacesInPlace)
{
    HttpSiteConfig site;
    ASSERT_TRUE(site.addDomainMap("a.example", "one"));
    ASSERT_TRUE(site.addDomainMap("shop.example.org", "two"));
    EXPECT_FALSE(site.removeDomainMap("SHOP.EXAMPLE.ORG"));
    EXPECT_TRUE(site.hasDomainMap("shop.example.org"));
    ASSERT_TRUE(site.addDomainMap("A.EXAMPLE", "three"));
    EXPECT_EQ(site.domainMapCount(), 2);
    EXPECT_EQ(site.domainMapAt(0).folder, "three");
    EXPECT_TRUE(site.removeDomainMap("shop.example.org"));
    EXPECT_EQ(site.domainMapCount(), 1);
}

TEST(HttpSiteConfig, CapacityIsTwoHundredMaps)
{
    HttpSiteConfig site;
    EXPECT_EQ(site.maxDomainMaps(), 200);
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(site.addDomainMap("d" + std::to_string(i), "f"));
    EXPECT_FALSE(site.addDomainMap("one.more", "f"));
    EXPECT_TRUE(site.addDomainMap("d7", "replaced"));
    EXPECT_EQ(site.domainMapCount(), 200);
    EXPECT_EQ(site.lookupDomain("d7"), "replaced");
}

TEST(HttpSiteConfig, TextLimitsAndTheAdminPrefix)
{
    HttpSiteConfig site;
    EXPECT_EQ(site.defaultPage(), "index.html");
    EXPECT_EQ(site.adminPrefix(), "\\admin\\logfile");
    site.setAdminPassword(std::string(30, 'p'));
    EXPECT_EQ(site.adminPassword(), std::string(24, 'p'));
    EXPECT_EQ(site.adminPrefix(), "\\admin" + std::string(24, 'p') + "\\logfile");
    EXPECT_EQ(site.adminUrl(), "/admin" + std::string(24, 'p') + "/logfile/");
    site.setDefaultFolder("C:/web/");
    EXPECT_EQ(site.defaultFolder(), "C:\\web");
    site.setDefaultFolder(std::string(255, 'f') + "//");
    EXPECT_EQ(site.defaultFolder(), std::string(255, 'f'));
    site.setDefaultPage(std::string(300, 'x'));
    EXPECT_EQ(site.defaultPage(), std::string(256, 'x'));
}

class HttpServiceTest : public ::testing::Test {
protected:
    TestWorkFolder folder;
};

TEST_F(HttpServiceTest, ConstructionWritesMissingErrorPagesOnly)
{
    folder.write("http/400badrequest.html", "mine");
    HttpService service;
    EXPECT_NE(folder.read("http/404notfound.html").find("Error 404"), std::string::npos);
    EXPECT_EQ(folder.read("http/400badrequest.html"), "mine");
}

// An error page is written whole or not at all: a write that fails part
// way leaves no cut page behind to be served, and the next start writes it.
TEST_F(HttpServiceTest, AnErrorPageThatCannotBeWrittenWholeIsNotLeft)
{
    {
        const FileSizeLimit limit(200);
        HttpService service;
    }
    EXPECT_FALSE(folder.exists("http/404notfound.html"));
    EXPECT_FALSE(folder.exists("http/400badrequest.html"));
    for (const auto& entry : std::filesystem::directory_iterator(folder.root() / "http"))
        ADD_FAILURE() << entry.path() << " was left behind";
    HttpService service;
    EXPECT_EQ(folder.read("http/404notfound.html"), builtInPage(StatusPage::NotFound));
    EXPECT_EQ(folder.read("http/400badrequest.html"), builtInPage(StatusPage::BadRequest));
}

// A missing domains file fails the load but does not cost the settings
// file: it is read all the same, so that the next save keeps it.
TEST_F(HttpServiceTest, WithoutDomainsFileTheSettingsFileIsStillRead)
{
    SettingsStore settings;
    settings.setInt("port", 8080);
    settings.setText("defaultfolder", "/srv/site");
    settings.setInt("folderview", 1);
    ASSERT_TRUE(settings.save("http.dat"));
    HttpService service;
    EXPECT_FALSE(service.loadSettings());
    EXPECT_EQ(service.port(), 8080);
    EXPECT_EQ(service.site().defaultFolder(), "\\srv\\site");
    EXPECT_EQ(service.site().defaultPage(), "index.html");
    EXPECT_TRUE(service.site().folderView());
    EXPECT_EQ(service.site().domainMapCount(), 0);
}

TEST_F(HttpServiceTest, MissingKeysGivePortZeroAndKeepTexts)
{
    ASSERT_TRUE(SettingsStore().save("httpdomains.dat"));
    ASSERT_TRUE(SettingsStore().save("http.dat"));
    HttpService service;
    ASSERT_TRUE(service.loadSettings());
    EXPECT_EQ(service.port(), 0);
    EXPECT_EQ(service.site().defaultPage(), "index.html");
    EXPECT_FALSE(service.autostart());
    // Loading rolled the log over: its first file carries the header.
    EXPECT_NE(folder.read("logs/httplog_0.txt").find(" -> Vantrel Server 2.33: HTTP log file\r\n\r\n"),
              std::string::npos);
}

TEST_F(HttpServiceTest, SettingsRoundTripInTheirRecordOrder)
{
    {
        HttpService service;
        service.setPort(8080);
        service.setAutostart(true);
        service.site().setDefaultFolder("/srv/site");
        service.site().setDefaultPage("home.htm");
        service.site().setAdminPassword("Secret");
        service.site().setFolderView(true);
        ASSERT_TRUE(service.site().addDomainMap("b.example", "/srv/b"));
        ASSERT_TRUE(service.saveSettings());
    }
    SettingsStore stored;
    ASSERT_TRUE(stored.load("http.dat"));
    const char* order[] = {"logfilecount", "port", "admin", "defaultfolder", "defaultpage", "folderview", "autostart"};
    ASSERT_EQ(stored.count(), 7);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(stored.nameAt(i), order[i]);
    char text[32];
    EXPECT_EQ(stored.getData("admin", text, sizeof text), 7u); // with its zero
    SettingsStore domains;
    ASSERT_TRUE(domains.load("httpdomains.dat"));
    ASSERT_EQ(domains.count(), 1);
    EXPECT_EQ(domains.getData("b.example", text, sizeof text), 6u); // without a zero

    HttpService loaded;
    ASSERT_TRUE(loaded.loadSettings());
    EXPECT_EQ(loaded.port(), 8080);
    EXPECT_TRUE(loaded.autostart());
    EXPECT_EQ(loaded.site().defaultFolder(), "\\srv\\site");
    EXPECT_EQ(loaded.site().defaultPage(), "home.htm");
    EXPECT_EQ(loaded.site().adminPassword(), "Secret");
    EXPECT_TRUE(loaded.site().folderView());
    EXPECT_EQ(loaded.site().lookupDomain("b.example"), "\\srv\\b");
}

TEST_F(HttpServiceTest, AnOverfullDomainsFileLoadsItsFirstRecords)
{
    SettingsStore domains;
    for (int i = 0; i < 205; ++i)
        domains.setData("d" + std::to_string(i), "f", 1);
    ASSERT_TRUE(domains.save("httpdomains.dat"));
    ASSERT_TRUE(SettingsStore().save("http.dat"));
    HttpService service;
    ASSERT_TRUE(service.loadSettings());
    EXPECT_EQ(service.site().domainMapCount(), 200);
    EXPECT_EQ(service.site().domainMapAt(199).domain, "d199");
}

TEST_F(HttpServiceTest, ActivationNeedsADefaultFolderOfTwoCharacters)
{
    HttpService service;
    service.setPort(0);
    EXPECT_FALSE(service.activate());
    service.site().setDefaultFolder("x");
    EXPECT_FALSE(service.activate());
    EXPECT_FALSE(service.isActive());
    service.site().setDefaultFolder("C:");
    ASSERT_TRUE(service.activate());
    EXPECT_TRUE(service.isActive());
    EXPECT_NE(service.listeningPort(), 0);
    service.deactivate();
    EXPECT_FALSE(service.isActive());
}

} // namespace
} // namespace vantrel

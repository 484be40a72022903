// The "HTTP Settings" panel driven as the window drives it: fields typed,
// buttons pressed, message boxes answered by a script that records them.
#include "../foundation/scratch_folder.h"

#include "foundation/critical_lock.h"
#include "foundation/service_control.h"
#include "http/http_settings_panel.h"
#include "http/http_site_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <vector>

namespace vantrel {
namespace {

using Shown = std::vector<std::string>; // "title: text" of each message box

const std::string MissingFolder = "Input Error: The 'folder' given does not exist.";
const std::string BadMap = "Input Error: Incorrect folder path or domain.";
const std::string TableFull = "Error: Failed to create domain map.\n"
                              "You may of reached the 'allowable' domain map limit.";
const std::string UnknownDomain = "Error: Domain does not exist.";
const std::string BadDefaultFolder = "Input Error: Incorrect default folder path.";
const std::string PortChanged = "Apply Changes: You must re-activate the HTTP server for the\n"
                                "port changes to take effect.";

class RecordingPrompt final : public MessagePrompt {
public:
    PromptAnswer show(std::string_view text, std::string_view title, PromptButtons, PromptIcon) override
    {
        shown.push_back(std::string(title) + ": " + std::string(text));
        if (onShow)
            onShow();
        return PromptAnswer::Ok;
    }
    Shown shown;
    std::function<void()> onShow;
};

class NoChooser final : public FolderChooser {
public:
    bool selectFolder(std::string&) override { return false; }
};

class FakeTarget final : public HttpPanelTarget {
public:
    HttpSiteConfig& site() override { return site_; }
    std::uint16_t port() const override { return port_; }
    void setPort(std::uint16_t port) override { port_ = port; }
    bool autostart() const override { return autostart_; }
    void setAutostart(bool on) override { autostart_ = on; }
    bool isActive() const override { return false; }
    int perAddressCap() const override { return cap_; }
    void setPerAddressCap(int cap) override { cap_ = cap; }

    HttpSiteConfig site_{3};
    std::uint16_t port_ = 80;
    int cap_ = 0;
    bool autostart_ = false;
};

class HttpSettingsPanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"one", "two"})
            std::filesystem::create_directory(scratch / name);
        panel.show();
    }

    // The site's domain maps in table order, "domain=folder" each.
    std::vector<std::string> maps() const
    {
        std::vector<std::string> all;
        for (int i = 0; i < target.site_.domainMapCount(); ++i) {
            HttpDomainMap map = target.site_.domainMapAt(i);
            all.push_back(map.domain + "=" + map.folder);
        }
        return all;
    }

    // A folder as the site keeps it.
    std::string kept(const std::string& name) const
    {
        std::string folder = scratch / name;
        std::replace(folder.begin(), folder.end(), '/', '\\');
        return folder;
    }

    void add(const std::string& domain, const std::string& folder)
    {
        panel.fields().domain = domain;
        panel.fields().folder = folder;
        panel.addOrUpdate();
    }

    void remove(const std::string& domain)
    {
        panel.fields().domain = domain;
        panel.deleteMap();
    }

    testing::ScratchFolder scratch;
    FakeTarget target;
    RecordingPrompt prompt;
    NoChooser chooser;
    HttpSettingsPanel panel{target, prompt, chooser};
};

TEST_F(HttpSettingsPanelTest, AddStoresTypedAddressesUntilTheTableIsFull)
{
    EXPECT_EQ(panel.fields().caption, "Domain Maps (0 of 0 --- 3 max)");
    EXPECT_FALSE(panel.fields().arrowsEnabled);

    add("a.example", scratch / "one");
    add("HTTP://Shop.Example.org ", scratch / "two/");
    EXPECT_EQ(panel.current(), 1);
    EXPECT_EQ(panel.fields().caption, "Domain Maps (2 of 2 --- 3 max)");
    EXPECT_EQ(panel.fields().domain, "shop.example.org");
    EXPECT_EQ(panel.fields().folder, kept("two"));
    EXPECT_TRUE(panel.fields().arrowsEnabled);

    add("c.example", scratch / "one");
    add("d.example", scratch / "one"); // one too many
    panel.next();                      // wraps round to the first map
    add("A.EXAMPLE", scratch / "two"); // a known key is updated in place
    EXPECT_EQ(prompt.shown, Shown{TableFull});
    EXPECT_EQ(maps(), (std::vector<std::string>{"a.example=" + kept("two"), "shop.example.org=" + kept("two"),
                                                "c.example=" + kept("one")}));
    panel.previous();
    EXPECT_EQ(panel.fields().domain, "c.example");
}

TEST_F(HttpSettingsPanelTest, AddRefusesMissingFoldersAndEmptyDomains)
{
    add("", scratch / "nowhere"); // the folder is checked first
    add("", scratch / "one");
    add(" http:// ", scratch / "one");
    add("a.example", "/");
    EXPECT_EQ(prompt.shown, (Shown{MissingFolder, BadMap, BadMap, BadMap}));
    EXPECT_TRUE(maps().empty());
}

TEST_F(HttpSettingsPanelTest, DeleteNeedsTheExactKey)
{
    const std::string longDomain = std::string(180, 'x') + ".example";
    add("a.example", scratch / "one");
    add(longDomain, scratch / "two");

    remove("");
    remove("A.example");
    EXPECT_EQ(prompt.shown, (Shown{"Input Error: Please enter a domain.", UnknownDomain}));
    EXPECT_EQ(maps().size(), 2u);

    remove(longDomain); // every key that Add can store can be deleted
    EXPECT_EQ(maps(), std::vector<std::string>{"a.example=" + kept("one")});
    EXPECT_EQ(panel.fields().caption, "Domain Maps (1 of 1 --- 3 max)");
    remove("a.example");
    EXPECT_EQ(panel.fields().caption, "Domain Maps (0 of 0 --- 3 max)");
    EXPECT_TRUE(panel.fields().domain.empty() && panel.fields().folder.empty());
    EXPECT_FALSE(panel.fields().arrowsEnabled);
    EXPECT_EQ(prompt.shown.size(), 2u);
}

TEST_F(HttpSettingsPanelTest, ApplyChangesGeneralSettingsAndReportsOnlyANewPort)
{
    HttpPanelFields& f = panel.fields();
    f.defaultFolder = scratch / "nowhere";
    f.defaultPage = "home.html";
    f.port = 8081;
    EXPECT_FALSE(panel.applyGeneralSettings()); // stays open, nothing applied
    EXPECT_EQ(target.site_.defaultPage(), "index.html");
    EXPECT_EQ(target.port_, 80);

    f.defaultFolder = scratch / "one";
    f.port = 80;
    f.adminPassword = "new";
    f.autoActivate = true;
    panel.toggleFolderView();
    EXPECT_FALSE(target.site_.folderView()); // the toggle alone applies nothing
    EXPECT_TRUE(panel.applyGeneralSettings());
    EXPECT_EQ(prompt.shown, Shown{MissingFolder}); // and none for the same port
    EXPECT_EQ(target.site_.defaultFolder(), kept("one"));
    EXPECT_EQ(target.site_.defaultPage(), "home.html");
    EXPECT_EQ(target.site_.adminPassword(), "new");
    EXPECT_TRUE(target.site_.folderView());
    EXPECT_TRUE(target.autostart_);
    EXPECT_EQ(f.adminUrl, "/admin/logfile/"); // follows when the window reopens

    // A one-character folder is refused, the rest still applies.
    prompt.shown.clear();
    f.defaultFolder = "/";
    f.port = 8081;
    panel.toggleFolderView();
    EXPECT_TRUE(panel.applyGeneralSettings());
    EXPECT_EQ(prompt.shown, (Shown{BadDefaultFolder, PortChanged}));
    EXPECT_EQ(target.site_.defaultFolder(), kept("one"));
    EXPECT_EQ(target.port_, 8081);
    EXPECT_FALSE(target.site_.folderView());
}

TEST_F(HttpSettingsPanelTest, TheCapPerAddressIsACountInRange)
{
    HttpPanelFields& f = panel.fields();
    EXPECT_EQ(f.perAddressCap, 0);
    f.defaultFolder = scratch / "one";
    for (const int cap : {-1, 1001}) {
        f.perAddressCap = cap;
        f.defaultPage = "other.html";
        EXPECT_FALSE(panel.applyGeneralSettings()) << cap;
        EXPECT_EQ(prompt.shown,
                  Shown{"Input Error: No valid 'connections per address' given (0 to 1000, 0 for no cap)."});
        EXPECT_EQ(target.site_.defaultPage(), "index.html") << "nothing applied";
        prompt.shown.clear();
    }
    f.perAddressCap = 50;
    EXPECT_TRUE(panel.applyGeneralSettings());
    EXPECT_EQ(target.cap_, 50);
    panel.show();
    EXPECT_EQ(f.perAddressCap, 50);
}

// A message box waits for the operator; requests routed meanwhile must not
// wait for it. Each box checks that another thread can take the site lock.
TEST_F(HttpSettingsPanelTest, MessagesAreShownWithoutHoldingTheSiteLock)
{
    std::vector<std::future<void>> takers;
    bool allFree = true;
    prompt.onShow = [&] {
        takers.push_back(std::async(std::launch::async, [this] { LockGuard guard(target.site_.lock()); }));
        allFree = allFree && takers.back().wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    };
    for (const char* domain : {"a.example", "b.example", "c.example", "d.example"})
        add(domain, scratch / "one");
    remove("x.example");
    panel.fields().defaultFolder = "/";
    panel.fields().port = 1;
    EXPECT_TRUE(panel.applyGeneralSettings());

    EXPECT_EQ(prompt.shown, (Shown{TableFull, UnknownDomain, BadDefaultFolder, PortChanged}));
    EXPECT_TRUE(allFree);
    prompt.onShow = nullptr;
    takers.clear(); // joins a taker still blocked, now that the lock is free
}

} // namespace
} // namespace vantrel

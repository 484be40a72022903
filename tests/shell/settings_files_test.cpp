// Every settings file of the program, damaged in every way, through the
// window's start-up load and its final save with the real services: the
// good files come out byte for byte as they went in, a file that did not
// load is kept as NAME.damaged before it is replaced (and that is said on
// standard error), a missing file costs nothing else, and an FTP account
// whose own file fails stays listed with its file left alone.
#include "foundation/settings_store.h"
#include "ftp/ftp_service.h"
#include "http/http_service.h"
#include "shell/main_window_logic.h"
#include "shell_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace vantrel {
namespace {

using test::ScriptedPrompt;
using test::TempFolder;

constexpr char HttpRetry[] = "Some HTTP settings failed to load, try again?";
constexpr char FtpRetry[] = "Some FTP settings failed to load, try again?";

enum class Damage {
    Garbage,
    Truncated,
    Missing
};

constexpr const char* DamageNames[] = {"garbage", "truncated", "missing"};

struct SettingsFile {
    const char* path;
    const char* retryQuestion; // asked at start when it fails; null: none
    bool perAccount;           // an FTP account's own file
};

constexpr SettingsFile Files[] = {
    {"general.dat", nullptr, false}, {"ftp.dat", FtpRetry, false},   {"ftpaccounts.dat", FtpRetry, false},
    {"ftp/ann.dat", FtpRetry, true}, {"http.dat", HttpRetry, false}, {"httpdomains.dat", HttpRetry, false},
};

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class QuietView final : public MainWindowView {
public:
    void setStatusText(ServiceKind, std::string_view) override {}
    void setActivateText(ServiceKind, std::string_view) override {}
    void setNewsText(std::string_view) override {}
    void setAutoHide(bool ticked) override { hide = ticked; }
    bool autoHide() const override { return hide; }
    void startTimer(MainTimer, int) override {}
    void stopTimer(MainTimer) override {}
    void hideToTray() override {}
    void setCaption(std::string_view) override {}
    bool hide = false;
};

// Runs in a fresh working folder, as the program does in its data folder.
class SettingsFilesTest : public ::testing::Test {
protected:
    SettingsFilesTest() : previous_(std::filesystem::current_path())
    {
        std::filesystem::current_path(folder_.path());
        for (const char* name : {"logs", "email", "ftp", "http"})
            std::filesystem::create_directory(name);
    }
    ~SettingsFilesTest() override { std::filesystem::current_path(previous_); }

    // Every file holds something other than its defaults.
    static void writeGoodFiles()
    {
        SettingsStore general;
        general.setInt("loadedbefore", 1);
        general.setInt("hide", 1);
        ASSERT_TRUE(general.save("general.dat"));

        FtpService ftp;
        ASSERT_TRUE(ftp.accounts().addOrUpdate({"ann", "pw", "/srv/ann\\", DefaultAccountRights}));
        ASSERT_TRUE(ftp.accounts().addOrUpdate({"bob", "secret", "/srv/bob\\", AccessRights::FileWrite}));
        ftp.accounts().setWelcome("Hello from the test.");
        ASSERT_TRUE(ftp.saveSettings());

        HttpService http;
        http.setPort(8181);
        http.site().setDefaultFolder("/srv/www");
        http.site().setDefaultPage("start.html");
        http.site().setAdminPassword("logpw");
        http.site().setFolderView(true);
        ASSERT_TRUE(http.site().addDomainMap("shop.example", "/srv/shop"));
        ASSERT_TRUE(http.site().addDomainMap("blog.example", "/srv/blog"));
        ASSERT_TRUE(http.saveSettings());
    }

    static std::map<std::string, std::string> snapshot()
    {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(".")) {
            const std::string path = entry.path().lexically_relative(".").string();
            if (path.ends_with(".dat") || path.ends_with(".damaged") || path.ends_with(".tmp"))
                files[path] = readFile(path);
        }
        return files;
    }

    // Starts and ends the window's work as the program does: load, then
    // the final save. Returns the questions asked.
    static std::vector<std::string> runProgram()
    {
        FtpService ftp;
        ftp.setPort(0);
        HttpService http;
        QuietView view;
        ScriptedPrompt prompt; // answers No, as a run without a display does
        MainWindowOptions options;
        options.wait = [](std::uint32_t) {};
        MainWindowLogic logic(view, prompt, ServicePointers{&http, nullptr, &ftp}, nullptr, std::move(options));
        logic.initialiseView();
        logic.onFirstShow();
        EXPECT_TRUE(logic.shutdown(SaveRetry::SingleAttempt));
        std::vector<std::string> asked;
        for (const auto& call : prompt.calls)
            asked.push_back(call.text);
        return asked;
    }

    TempFolder folder_;
    std::filesystem::path previous_;
};

TEST_F(SettingsFilesTest, GoodFilesComeOutAsTheyWentIn)
{
    writeGoodFiles();
    const auto before = snapshot();
    ASSERT_EQ(before.size(), 10u); // ftpport.dat, ftpguard.dat and httpguard.dat too
    EXPECT_TRUE(runProgram().empty());
    EXPECT_EQ(snapshot(), before);
}

TEST_F(SettingsFilesTest, EachDamagedFileCostsNothingElse)
{
    for (const SettingsFile& file : Files) {
        for (const Damage damage : {Damage::Garbage, Damage::Truncated, Damage::Missing}) {
            SCOPED_TRACE(std::string(file.path) + ", " + DamageNames[static_cast<int>(damage)]);
            for (const auto& entry : std::filesystem::directory_iterator("."))
                std::filesystem::remove_all(entry.path());
            for (const char* name : {"logs", "email", "ftp", "http"})
                std::filesystem::create_directory(name);
            writeGoodFiles();
            const auto good = snapshot();

            const std::string path = file.path;
            std::string damaged;
            if (damage == Damage::Garbage)
                damaged = "this is no settings file";
            if (damage == Damage::Truncated)
                damaged = good.at(path).substr(0, good.at(path).size() / 2);
            if (damage == Damage::Missing)
                std::filesystem::remove(path);
            else
                writeFile(path, damaged);

            ::testing::internal::CaptureStderr();
            const std::vector<std::string> asked = runProgram();
            const std::string said = ::testing::internal::GetCapturedStderr();
            const auto after = snapshot();

            // The retry question keeps its text; general.dat is what tells
            // whether settings were saved before, so without it none is asked.
            if (file.retryQuestion != nullptr)
                EXPECT_EQ(asked, std::vector<std::string>{file.retryQuestion});
            else
                EXPECT_TRUE(asked.empty());

            for (const auto& [name, bytes] : good) {
                if (name == path)
                    continue;
                EXPECT_EQ(after.count(name) ? after.at(name) : "<gone>", bytes) << name;
            }
            const std::string kept = path + SettingsStore::DamagedSuffix;
            if (file.perAccount) {
                // Listed still (ftpaccounts.dat is unchanged above), and its
                // file left exactly as it was found.
                EXPECT_EQ(after.count(kept), 0u);
                if (damage == Damage::Missing)
                    EXPECT_EQ(after.count(path), 0u);
                else
                    EXPECT_EQ(after.at(path), damaged);
                EXPECT_NE(said.find("the account \"ann\" stays listed"), std::string::npos) << said;
                continue;
            }
            SettingsStore saved;
            EXPECT_EQ(saved.loadFile(path), SettingsLoad::Loaded);
            if (damage == Damage::Missing) {
                EXPECT_EQ(after.count(kept), 0u);
                EXPECT_EQ(after.size(), good.size());
            } else {
                ASSERT_EQ(after.count(kept), 1u);
                EXPECT_EQ(after.at(kept), damaged);
                EXPECT_EQ(after.size(), good.size() + 1);
                EXPECT_NE(said.find(path + " could not be read; it was kept as"), std::string::npos) << said;
            }
        }
    }
}

} // namespace
} // namespace vantrel

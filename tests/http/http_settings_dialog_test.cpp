// The "HTTP Settings" window on the offscreen platform, on a live service:
// controls are found by name, show what the service holds, and their
// buttons reach the service through the panel.
#include "../foundation/scratch_folder.h"

#include "foundation/product.h"
#include "foundation/service_control.h"
#include "http/http_service.h"
#include "shell/qt/http_settings_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantrel {
namespace {

class RecordingPrompt final : public MessagePrompt {
public:
    PromptAnswer show(std::string_view text, std::string_view title, PromptButtons, PromptIcon) override
    {
        shown.push_back(std::string(title) + ": " + std::string(text));
        return PromptAnswer::Ok;
    }
    std::vector<std::string> shown;
};

class ScriptedChooser final : public FolderChooser {
public:
    bool selectFolder(std::string& folder) override
    {
        folder = answer;
        return true;
    }
    std::string answer;
};

template <typename Widget>
Widget& control(QWidget& window, const char* name)
{
    auto* widget = window.findChild<Widget*>(QString::fromLatin1(name));
    if (widget == nullptr)
        throw std::runtime_error(std::string("no control named ") + name);
    return *widget;
}

// An offscreen application, and a working folder of its own for the error
// pages that the service writes.
class HttpSettingsDialogTest : public ::testing::Test {
protected:
    HttpSettingsDialogTest() : previous_(std::filesystem::current_path())
    {
        std::filesystem::current_path(scratch.path());
        for (const char* name : {"http", "site", "other"})
            std::filesystem::create_directory(name);
        service = std::make_unique<HttpService>();
    }
    ~HttpSettingsDialogTest() override { std::filesystem::current_path(previous_); }

    bool offscreen_ = setenv("QT_QPA_PLATFORM", "offscreen", 1) == 0;
    int argc_ = 1;
    char name_[8] = "dialog";
    char* argv_[2] = {name_, nullptr};
    QApplication app_{argc_, argv_};
    testing::ScratchFolder scratch;
    std::filesystem::path previous_;
    std::unique_ptr<HttpService> service;
    RecordingPrompt prompt;
    ScriptedChooser chooser;
};

TEST_F(HttpSettingsDialogTest, ShowsTheServiceAndAppliesThroughItsButtons)
{
    service->site().setDefaultFolder(scratch / "site");
    service->setPort(8080);
    HttpSettingsDialog dialog(*service, prompt, chooser, nullptr);

    EXPECT_EQ(dialog.windowTitle(), "HTTP Settings");
    EXPECT_EQ(control<QGroupBox>(dialog, "domainMapsGroup").title(), "Domain Maps (0 of 0 --- 200 max)");
    EXPECT_FALSE(control<QPushButton>(dialog, "nextButton").isEnabled());
    EXPECT_EQ(control<QPushButton>(dialog, "folderViewButton").text(), "Disabled");
    EXPECT_EQ(control<QSpinBox>(dialog, "portBox").value(), 8080);
    EXPECT_EQ(control<QLineEdit>(dialog, "adminUrlEdit").text(), "/admin/logfile/");
    EXPECT_TRUE(control<QLabel>(dialog, "setupInfoLabel").text().contains(MakerWebPage));

    control<QLineEdit>(dialog, "domainEdit").setText("HTTP://Shop.Example.org");
    control<QLineEdit>(dialog, "folderEdit").setText(QString::fromStdString(scratch / "other"));
    control<QPushButton>(dialog, "addUpdateButton").click();
    EXPECT_EQ(service->site().domainMapCount(), 1);
    EXPECT_TRUE(service->site().hasDomainMap("shop.example.org"));
    EXPECT_EQ(control<QGroupBox>(dialog, "domainMapsGroup").title(), "Domain Maps (1 of 1 --- 200 max)");
    EXPECT_EQ(control<QLineEdit>(dialog, "domainEdit").text(), "shop.example.org");
    EXPECT_TRUE(control<QPushButton>(dialog, "previousButton").isEnabled());

    chooser.answer = scratch / "other";
    control<QPushButton>(dialog, "selectDefaultFolderButton").click();
    EXPECT_EQ(control<QLineEdit>(dialog, "defaultFolderEdit").text().toStdString(), scratch / "other");
    control<QPushButton>(dialog, "folderViewButton").click();
    EXPECT_EQ(control<QPushButton>(dialog, "folderViewButton").text(), "Enabled");
    control<QLineEdit>(dialog, "adminPasswordEdit").setText("Secret");
    control<QSpinBox>(dialog, "portBox").setValue(8081);
    control<QCheckBox>(dialog, "autoActivateBox").setChecked(true);
    EXPECT_TRUE(prompt.shown.empty());

    // A folder that does not exist keeps the window open.
    control<QLineEdit>(dialog, "defaultFolderEdit").setText(QString::fromStdString(scratch / "nowhere"));
    control<QPushButton>(dialog, "applyButton").click();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(service->port(), 8080);

    control<QLineEdit>(dialog, "defaultFolderEdit").setText(QString::fromStdString(scratch / "other"));
    control<QPushButton>(dialog, "applyButton").click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(prompt.shown, (std::vector<std::string>{"Input Error: The 'folder' given does not exist.",
                                                      "Apply Changes: You must re-activate the HTTP server "
                                                      "for the\nport changes to take effect."}));
    EXPECT_EQ(service->port(), 8081);
    EXPECT_TRUE(service->autostart());
    EXPECT_TRUE(service->site().folderView());
    EXPECT_EQ(service->site().adminPassword(), "Secret");
    std::string kept = scratch / "other";
    std::replace(kept.begin(), kept.end(), '/', '\\');
    EXPECT_EQ(service->site().defaultFolder(), kept);
}

} // namespace
} // namespace vantrel

// Support for the email settings panel and window tests: a working folder
// per test with its "email" folder (the mail directory keeps its files
// there), the scripted message boxes, the More Info window and the service
// that the panel works on.
#pragma once

#include "email/email_settings_panel.h"
#include "email/mail_directory.h"
#include "foundation/service_control.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel::testing {

// Made before and destroyed after the directory, which saves its files
// into the working directory when it goes.
class WorkingFolder final {
public:
    WorkingFolder()
    {
        previous_ = std::filesystem::current_path();
        std::string name = (std::filesystem::temp_directory_path() / "vt-epanel-XXXXXX").string();
        EXPECT_NE(::mkdtemp(name.data()), nullptr);
        folder_ = name;
        std::filesystem::create_directory(folder_ / "email");
        std::filesystem::current_path(folder_);
    }
    ~WorkingFolder()
    {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(folder_, ignored);
    }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

    std::string operator/(const std::string& name) const { return (folder_ / name).string(); }

private:
    std::filesystem::path previous_;
    std::filesystem::path folder_;
};

struct Shown {
    std::string text;
    std::string title;
    bool operator==(const Shown&) const = default;
};

inline void PrintTo(const Shown& shown, std::ostream* out)
{
    *out << shown.title << ": " << shown.text;
}

class RecordingPrompt final : public MessagePrompt {
public:
    PromptAnswer show(std::string_view text, std::string_view title, PromptButtons buttons, PromptIcon icon) override
    {
        EXPECT_EQ(buttons, PromptButtons::Ok) << text;
        EXPECT_EQ(icon, title == "Warning" ? PromptIcon::Warning : PromptIcon::Error) << text;
        shown.push_back({std::string(text), std::string(title)});
        return PromptAnswer::Ok;
    }
    std::vector<Shown> takeShown() { return std::exchange(shown, {}); }

    std::vector<Shown> shown;
};

class CountingInfoWindow final : public AttachmentInfoWindow {
public:
    void open() override { ++opened; }
    int opened = 0;
};

// Has the members the panel reaches through EmailPanelTargetOf.
class FakeEmailService final {
public:
    explicit FakeEmailService(int capacity) : directory_(capacity) {}
    MailDirectory& directory() { return directory_; }
    std::uint16_t popPort() const { return popPort_; }
    void setPopPort(std::uint16_t port) { popPort_ = port; }
    bool autostart() const { return autostart_; }
    void setAutostart(bool on) { autostart_ = on; }
    bool isActive() const { return active; }

    MailDirectory directory_;
    std::uint16_t popPort_ = 110;
    bool autostart_ = false;
    bool active = false;
};

} // namespace vantrel::testing

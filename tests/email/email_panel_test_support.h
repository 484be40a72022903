// Support for the email settings panel and window tests: the scripted
// message boxes, the More Info window and the service that the panel works
// on.
#pragma once

#include "working_folder.h"

#include "email/email_settings_panel.h"
#include "email/mail_directory.h"
#include "foundation/service_control.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel::testing {

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
    int smtpPerAddressCap() const { return smtpCap; }
    void setSmtpPerAddressCap(int value) { smtpCap = value; }
    int popPerAddressCap() const { return popCap; }
    void setPopPerAddressCap(int value) { popCap = value; }
    int popFailedLoginLimit() const { return popLoginLimit; }
    void setPopFailedLoginLimit(int value) { popLoginLimit = value; }

    MailDirectory directory_;
    std::uint16_t popPort_ = 110;
    int smtpCap = 0;
    int popCap = 0;
    int popLoginLimit = 10;
    bool autostart_ = false;
    bool active = false;
};

} // namespace vantrel::testing

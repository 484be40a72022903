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

// The email service as the panel sees it.
class FakeEmailService final : public EmailPanelTarget {
public:
    explicit FakeEmailService(int capacity) : directory_(capacity) {}
    MailDirectory& directory() override { return directory_; }
    std::uint16_t port() const override { return popPort_; }
    void setPort(std::uint16_t port) override { popPort_ = port; }
    std::uint16_t popPort() const { return popPort_; }
    bool autostart() const override { return autostart_; }
    void setAutostart(bool on) override { autostart_ = on; }
    bool isActive() const override { return active; }
    int smtpPerAddressCap() const override { return smtpCap; }
    void setSmtpPerAddressCap(int value) override { smtpCap = value; }
    int popPerAddressCap() const override { return popCap; }
    void setPopPerAddressCap(int value) override { popCap = value; }
    int popFailedLoginLimit() const override { return popLoginLimit; }
    void setPopFailedLoginLimit(int value) override { popLoginLimit = value; }
    std::uint16_t smtpPort() const override { return 25; }
    MailTlsSettings tlsSettings() const override { return tls; }
    void setTlsSettings(const MailTlsSettings& settings) override { tls = settings; }
    bool certificateLoads(std::string& whyNot) override
    {
        whyNot = certificateProblem;
        return certificateProblem.empty();
    }

    MailDirectory directory_;
    std::uint16_t popPort_ = 110;
    int smtpCap = 0;
    int popCap = 0;
    int popLoginLimit = 10;
    bool autostart_ = false;
    bool active = false;
    MailTlsSettings tls;
    // Empty: the certificate loads.
    std::string certificateProblem;
};

} // namespace vantrel::testing

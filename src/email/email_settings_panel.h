// The logic of the "Email Settings" window: its fields, the account actions
// (Add/Update, Delete Account, the two arrows), More Info and Apply General
// Settings, with every message and correction it shows. Account changes go
// straight into the live mail directory; the general settings change only
// on Apply, which also closes the window. The window that shows it only
// copies widgets to the fields and back.
#pragma once

#include "email/mail_directory.h"
#include "email/mail_tls_settings.h"
#include "foundation/service_settings.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

class MessagePrompt;

// What the panel edits of the email service; the service implements it,
// and tests give the panel a fake. Its port is POP3's: SMTP's is fixed.
class EmailPanelTarget : public ServiceSettings {
public:
    virtual MailDirectory& directory() = 0;
    virtual int smtpPerAddressCap() const = 0;
    virtual void setSmtpPerAddressCap(int cap) = 0;
    virtual int popPerAddressCap() const = 0;
    virtual void setPopPerAddressCap(int cap) = 0;
    virtual int popFailedLoginLimit() const = 0;
    virtual void setPopFailedLoginLimit(int limit) = 0;
    // SMTP's port, which the implicit TLS ports may not take.
    virtual std::uint16_t smtpPort() const = 0;
    // Mail TLS, used from the next activation on.
    virtual MailTlsSettings tlsSettings() const = 0;
    virtual void setTlsSettings(const MailTlsSettings& settings) = 0;
    // Whether the program's certificate can be loaded now; why not, if not.
    virtual bool certificateLoads(std::string& whyNot) = 0;
};

// The "Dangerous Email Attachments" window that More Info opens; it returns
// once the operator has closed it.
class AttachmentInfoWindow {
public:
    virtual ~AttachmentInfoWindow() = default;
    virtual void open() = 0;
};

// The texts of the "Dangerous Email Attachments" window.
struct AttachmentInfo {
    static constexpr char Title[] = "Dangerous Email Attachments";
    static constexpr char Warning[] =
        "Even with anti-virus software, your system may still be vulnerable to dangerous email viruses. "
        "Usually, the viruses travel in the form of an attachment contained within the email.";
    static constexpr char Advice[] =
        "Vantrel Server can completely block these potentially dangerous attachments, preventing them from "
        "ever entering your system.\n\nBelow is a list of recommended file types that should be blocked for "
        "email attachments.";
    // The read-only list field: the recommended list with a blank on each side.
    static std::string listText();
};

// The window's controls as texts and flags. `caption`, `inboxStatus`,
// `arrowsEnabled` and `moreInfoLabel` are shown only; the others are read
// back before every action. The number fields are texts as typed: one that
// holds no number reads as 0.
struct EmailPanelFields {
    std::string caption;
    std::string user;
    std::string address;
    std::string password;
    std::string inboxStatus;
    bool arrowsEnabled = false;
    std::string localDomain;
    std::string popPort;
    std::string maxEmailSizeKb;
    std::string maxAccountSizeKb;
    std::string catchAllUser;
    std::string relayHost;
    std::string relaySubnet;
    std::string bannedExtensions;
    // Connections one client address may hold at once on each port ("0":
    // no cap), and failed POP3 logins from one address within a minute
    // before its logins are refused for a minute ("0": never).
    std::string smtpPerAddressCap;
    std::string popPerAddressCap;
    std::string popFailedLoginLimit;
    std::string moreInfoLabel;
    bool autoActivate = false;
    // Mail TLS: STARTTLS and STLS offered ("on"), and POP3 logins refused
    // before STLS ("require"); the implicit ports ("0": none); relaying
    // only for clients on TLS.
    TlsMode tlsMode = TlsMode::Off;
    std::string smtpsPort;
    std::string pop3sPort;
    bool relayRequiresTls = false;
    // The relay client only over TLS with a verified certificate.
    bool relayHostRequiresTls = false;
};

class EmailSettingsPanel final {
public:
    static constexpr char WindowTitle[] = "Email Settings";
    static constexpr char GeneralGroupTitle[] = "General Settings";
    static constexpr char MoreInfoLabel[] = "More Info";
    // The line at the bottom of the window: this text and the product page.
    static constexpr char SetupInfoText[] = "Setup information: ";
    // Sizes are entered in kilobytes; these keep every byte count, twice
    // the email size included, within the directory's 32-bit values.
    static constexpr std::int64_t MaxEmailSizeKb = 1048575;
    static constexpr std::int64_t MaxAccountSizeKb = 2097151;
    // The largest connection cap per address: the service's session limit.
    static constexpr int MaxPerAddressCap = 1000;
    static constexpr char TlsGroupTitle[] = "Mail Over TLS";
    static constexpr char RelayRequiresTlsLabel[] = "Relay only over TLS";
    static constexpr char RelayHostRequiresTlsLabel[] = "Require TLS to the relay host";

    EmailSettingsPanel(EmailPanelTarget& target, MessagePrompt& prompt, AttachmentInfoWindow& info);

    // The user name that Add/Update stores for the text of the user field:
    // lower case, cut to 99 characters, "_s" and "_e" (the endings of the
    // account's own files) replaced by "xx".
    static std::string cleanedUser(std::string_view field);

    EmailPanelFields& fields() { return fields_; }
    const EmailPanelFields& fields() const { return fields_; }
    int position() const { return position_; }

    // Fills every field from the service, as when the window opens.
    void show();
    void addOrUpdate();
    void deleteAccount();
    void previous();
    void next();
    void moreInfo();
    // Every value is corrected and stored, with its warning; the window
    // then closes. Only changed mail TLS fields can refuse: a port that is
    // no port or is taken, or TLS switched on without a certificate that
    // loads. Then nothing is stored, the message says why, and the answer
    // is false (the window stays open).
    bool applyGeneralSettings();

private:
    void fillGeneral();
    void showAccount();
    void message(const char* text, const char* title);
    // The TLS fields as settings; false once a message has refused them.
    bool takeTls(MailTlsSettings& settings);

    EmailPanelTarget& target_;
    MessagePrompt& prompt_;
    AttachmentInfoWindow& info_;
    EmailPanelFields fields_;
    int position_ = 0;
};

} // namespace vantrel

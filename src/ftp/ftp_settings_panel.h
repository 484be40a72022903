// The logic of the "FTP Settings" window: its fields, the account actions
// (Add/Update, Delete, the two arrows, Select) and Apply General Settings,
// with every message it shows. Account changes go straight into the live
// account table; the general settings change only on Apply. The window
// that shows it only copies widgets to the fields and back.
#pragma once

#include "foundation/service_settings.h"
#include "ftp/ftp_account_table.h"
#include "ftp/ftp_tls_settings.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

class FolderChooser;
class MessagePrompt;

// What the panel edits of the FTP service; the service implements it, and
// tests give the panel a fake.
class FtpPanelTarget : public ServiceSettings {
public:
    virtual FtpAccountTable& accounts() = 0;
    virtual int perAddressCap() const = 0;
    virtual void setPerAddressCap(int cap) = 0;
    virtual int failedLoginLimit() const = 0;
    virtual void setFailedLoginLimit(int limit) = 0;
    // The TLS settings, used from the next activation on.
    virtual FtpTlsSettings tlsSettings() const = 0;
    virtual void setTlsSettings(const FtpTlsSettings& settings) = 0;
    // Whether the program's certificate can be loaded now; why not, if not.
    virtual bool certificateLoads(std::string& whyNot) = 0;
};

// The window's controls as texts and flags. `caption` and `arrowsEnabled`
// are shown only; the others are read back before every action.
struct FtpPanelFields {
    std::string caption;
    std::string user;
    std::string password;
    std::string folder;
    AccessRights rights = DefaultAccountRights;
    bool arrowsEnabled = false;
    std::string welcome;
    std::string port;
    // Connections one client address may hold at once; "0": no cap.
    std::string perAddressCap;
    // Failed logins from one address within a minute before its logins
    // are refused for a minute; "0": never.
    std::string failedLoginLimit;
    bool autoActivate = false;
    TlsMode tlsMode = TlsMode::Off;
    // "0": no implicit TLS port.
    std::string implicitPort;
    // "Accept data connections that do not resume the session".
    bool tlsAnyData = false;
};

class FtpSettingsPanel final {
public:
    static constexpr char WindowTitle[] = "FTP Settings";
    static constexpr char RightsGroupTitle[] = "File And Folder Access Rights";
    // The line at the bottom of the window: this text and the product page.
    static constexpr char SetupInfoText[] = "Setup information: ";
    // The largest connection cap per address: the service's session limit.
    static constexpr int MaxPerAddressCap = 1000;
    static constexpr char TlsAnyDataLabel[] = "Accept data connections that do not resume the session";

    FtpSettingsPanel(FtpPanelTarget& target, MessagePrompt& prompt, FolderChooser& chooser);

    // The user name that Add/Update stores for the text of the user field:
    // lower case, without spaces, cut to the account's length.
    static std::string cleanedUser(std::string_view field);

    FtpPanelFields& fields() { return fields_; }
    const FtpPanelFields& fields() const { return fields_; }
    int position() const { return position_; }

    // Fills every field from the service, as when the window opens.
    void show();
    void addOrUpdate();
    void deleteAccount();
    void previous();
    void next();
    void selectFolder();
    // True when the window is to close; an invalid port, cap or limit
    // keeps it open with nothing applied.
    [[nodiscard]] bool applyGeneralSettings();

private:
    void showAccount();
    void message(const char* text, const char* title);
    void warnRelogin();
    bool takeUser(FtpAccount& account);
    bool takePassword(FtpAccount& account);
    bool takeFolder(FtpAccount& account);
    // The TLS fields as settings; false once a message has refused them.
    bool takeTls(std::uint16_t controlPort, FtpTlsSettings& settings);

    FtpPanelTarget& target_;
    MessagePrompt& prompt_;
    FolderChooser& chooser_;
    FtpPanelFields fields_;
    int position_ = 0;
};

} // namespace vantrel

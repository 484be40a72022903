// The logic of the "HTTP Settings" window: its fields, the domain map
// actions (Add/Update, Delete, the two arrows, the Select buttons), the
// Folder View toggle and Apply General Settings, with every message it
// shows, and the HTTPS fields (port, redirect of the plain port, TLS for
// the log area). Domain map changes go straight into the live site configuration;
// the general settings change only on Apply. The window that shows it only
// copies widgets to the fields and back.
#pragma once

#include "foundation/service_settings.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

class FolderChooser;
class HttpSiteConfig;
class MessagePrompt;

// What the panel edits of the HTTP service; the service implements it, and
// tests give the panel a fake.
class HttpPanelTarget : public ServiceSettings {
public:
    virtual HttpSiteConfig& site() = 0;
    virtual int perAddressCap() const = 0;
    virtual void setPerAddressCap(int cap) = 0;
    // The HTTPS port (0: none), which may not share a port of the
    // program's other services (otherServicePorts). A target that cannot
    // serve HTTPS keeps these defaults.
    virtual std::uint16_t httpsPort() const { return 0; }
    virtual void setHttpsPort(std::uint16_t) {}
};

// The window's controls as texts and flags. `caption`, `adminUrl` and
// `arrowsEnabled` are shown only; the others are read back before every
// action. `folderView` is the caption of the Folder View button.
struct HttpPanelFields {
    std::string caption;
    std::string domain;
    std::string folder;
    bool arrowsEnabled = false;
    std::string defaultFolder;
    std::string adminPassword;
    std::string adminUrl;
    std::string defaultPage;
    std::string folderView;
    std::uint16_t port = 0;
    // Connections one client address may hold at once; 0: no cap.
    int perAddressCap = 0;
    bool autoActivate = false;
    // 0: no HTTPS.
    std::uint16_t httpsPort = 0;
    bool httpsRedirect = false;
    bool logsRequireTls = false;
};

class HttpSettingsPanel final {
public:
    static constexpr char WindowTitle[] = "HTTP Settings";
    static constexpr char GeneralGroupTitle[] = "General Settings";
    static constexpr char FolderViewOn[] = "Enabled";
    static constexpr char FolderViewOff[] = "Disabled";
    // The line at the bottom of the window: this text and the product page.
    static constexpr char SetupInfoText[] = "Setup information: ";
    static constexpr std::size_t MaxPasswordField = 24;
    // The largest connection cap per address: the service's session limit.
    static constexpr int MaxPerAddressCap = 1000;

    HttpSettingsPanel(HttpPanelTarget& target, MessagePrompt& prompt, FolderChooser& chooser);

    HttpPanelFields& fields() { return fields_; }
    const HttpPanelFields& fields() const { return fields_; }
    int current() const { return current_; }

    // Fills every field from the service, as when the window opens.
    void show();
    void addOrUpdate();
    void deleteMap();
    void previous();
    void next();
    void toggleFolderView();
    void selectFolder();
    void selectDefaultFolder();
    // True when the window is to close; a default folder that does not
    // exist, a cap out of range, or an HTTPS port that another port of the
    // program has, keeps it open with nothing applied.
    [[nodiscard]] bool applyGeneralSettings();

private:
    struct Message {
        const char* text;
        const char* title;
    };

    void showMap();
    void refreshAdminUrl();
    // The message refusing the HTTPS port field, or null when it may be used.
    const char* httpsPortRefusal() const;
    // Messages wait until the site lock is released: a message box stays
    // up until the operator answers, and requests must not wait for that.
    void queue(const char* text, const char* title);
    void showQueued();
    void chooseFolder(std::string& field);

    HttpPanelTarget& target_;
    MessagePrompt& prompt_;
    FolderChooser& chooser_;
    HttpPanelFields fields_;
    int current_ = 0;
    std::vector<Message> queued_;
};

} // namespace vantrel

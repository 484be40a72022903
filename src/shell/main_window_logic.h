// MainWindowLogic: everything the main window does, as plain code. It loads
// and saves the settings with the operator's consent to retry, toggles the
// services, builds the status lines and the news line, and decides about
// closing. A front end implements MainWindowView, forwards its events here
// and shows every message box through the MessagePrompt it passes in.
#pragma once

#include "foundation/service_control.h"
#include "foundation/settings_store.h"
#include "shell/news_feed.h"
#include "shell/service_kind.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace vantrel {

class TlsCertificate;

enum class MainTimer {
    Refresh = 0,  // status lines, news line, log roll-over
    Save = 1,     // periodic save of all settings
    AutoHide = 2, // hides the window once, shortly after the first show
};

// What the logic asks of the window.
class MainWindowView {
public:
    virtual ~MainWindowView() = default;
    virtual void setStatusText(ServiceKind kind, std::string_view text) = 0;
    virtual void setActivateText(ServiceKind kind, std::string_view text) = 0;
    virtual void setNewsText(std::string_view text) = 0;
    virtual void setAutoHide(bool ticked) = 0;
    virtual bool autoHide() const = 0;
    // The window calls MainWindowLogic::onTimer every periodMs until stopped.
    virtual void startTimer(MainTimer timer, int periodMs) = 0;
    virtual void stopTimer(MainTimer timer) = 0;
    virtual void hideToTray() = 0;
    virtual void setCaption(std::string_view text) = 0;
};

// The services by kind; a null pointer is a service that does not exist
// yet: it shows "Offline." and cannot be activated.
struct ServicePointers {
    ServiceControl* http = nullptr;
    ServiceControl* email = nullptr;
    ServiceControl* ftp = nullptr;

    ServiceControl* of(ServiceKind kind) const
    {
        switch (kind) {
        case ServiceKind::Http:
            return http;
        case ServiceKind::Email:
            return email;
        case ServiceKind::Ftp:
            return ftp;
        }
        return nullptr;
    }
};

struct MainWindowOptions {
    std::string generalPath = "general.dat";
    // Sleeps between the two attempts to load the general settings.
    std::function<void(std::uint32_t milliseconds)> wait;
    // Runs the settings window of a service modally; false when there is
    // no window for it (then nothing is saved).
    std::function<bool(ServiceKind kind)> openSettings;
    // How long closing waits for the news thread before leaving it to end
    // on its own.
    std::uint32_t newsStopTimeoutMs = 3000;
    // The program's certificate, named from general.dat at load and written
    // back at every save; null: general.dat's records pass through as read.
    TlsCertificate* certificate = nullptr;
    // Runs the certificate window modally; false when there is none.
    std::function<bool()> openCertificate;
};

enum class SaveRetry {
    AskOperator,
    SingleAttempt
};

class MainWindowLogic final {
public:
    static constexpr int RefreshPeriodMs = 1000;
    static constexpr int SavePeriodMs = 60000;
    static constexpr int AutoHideDelayMs = 250;
    static constexpr std::uint32_t LoadRetryDelayMs = 1000;
    static constexpr std::size_t NewsCapacity = 2048;

    // news may be null (no news line).
    MainWindowLogic(MainWindowView& view, MessagePrompt& prompt, ServicePointers services,
                    std::unique_ptr<NewsFeed> news, MainWindowOptions options);
    ~MainWindowLogic();
    MainWindowLogic(const MainWindowLogic&) = delete;
    MainWindowLogic& operator=(const MainWindowLogic&) = delete;

    // Puts the initial texts into the view.
    void initialiseView();
    // Runs once, on the first show of the window; later calls do nothing.
    void onFirstShow();
    void onTimer(MainTimer timer);
    void onActivate(ServiceKind kind);
    // The Activate / De-Activate button asked for one direction, with its
    // messages through `prompt`; nothing when the service is already so.
    // False when the service could not be activated.
    bool switchService(ServiceKind kind, bool on, MessagePrompt& prompt);
    void onSettings(ServiceKind kind);
    // The certificate window; general.dat is saved when it closes.
    void onCertificate();
    // The close command: false when the operator wants to keep the window.
    bool confirmClose();
    // The window goes: stops the timers and saves everything (once; only if
    // the window was ever shown), then stops the news retrieval. False when
    // the settings could not all be saved.
    bool shutdown(SaveRetry retry);

    void refreshStatus();
    [[nodiscard]] bool saveAll();
    bool wasShown() const { return shown_; }

    static std::string statusText(const ServiceControl* service);
    // Rounded to the nearest kilobyte from the full 64-bit count; narrowed
    // for the status line's "%u", where a total past 4 TiB stays at the top.
    static std::uint32_t kilobytes(std::uint64_t bytes)
    {
        const std::uint64_t rounded = bytes / 1024u + (bytes % 1024u >= 512u ? 1u : 0u);
        return rounded > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(rounded);
    }

private:
    ServiceControl* service(ServiceKind kind) const;
    void loadSettings();
    void loadGeneral();
    void loadService(ServiceKind kind);
    bool saveGeneral();
    // Saves until it succeeds or the operator no longer wants to retry.
    void saveWithConsent(const std::function<bool()>& save);
    bool anyActive() const;
    void stopNews();

    MainWindowView& view_;
    MessagePrompt& prompt_;
    ServicePointers services_;
    MainWindowOptions options_;
    bool shown_ = false;
    bool finished_ = false;
    bool finalSaveFailed_ = false;
    SettingsStore general_;
    // Declared last: stopped and destroyed before the general settings.
    std::unique_ptr<NewsFeed> news_;
};

} // namespace vantrel

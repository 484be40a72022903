// The main window's behaviour: start-up loading with retry prompts, the
// Activate and Settings buttons, the once-a-second status refresh, the
// periodic and final saves, and the quit question.
#include "shell/main_window_logic.h"

#include "foundation/clock.h"
#include "foundation/product.h"
#include "foundation/text.h"
#include "foundation/tls_settings.h"

#include <utility>

namespace vantrel {

namespace {

constexpr char KeyLoadedBefore[] = "loadedbefore";
constexpr char KeyHide[] = "hide";

constexpr char TextOffline[] = "Offline.";
constexpr char TextOnline[] = "Online, %d connections. %u Kb in and %u Kb out.";
constexpr char TextActivate[] = "Activate";
constexpr char TextDeactivate[] = "De-Activate";

constexpr char TitleFileAccess[] = "File Access Error";
constexpr char TextSettingsSaveRetry[] = "Some settings failed to save to hard drive, try again?";
constexpr char TextFinalSaveRetry[] = "Some settings failed to save, try again?";
constexpr char TitleQuit[] = "Quit";
constexpr char TextQuit[] = "Currently active services.\nAre you sure you want to quit?";

struct ServiceTexts {
    const char* loadRetry;
    const char* activationFailed;
    const char* activationTitle;
};

constexpr ServiceTexts Texts[] = {
    {"Some HTTP settings failed to load, try again?",
     "Activation of HTTP server failed.\nPlease check settings, that no other program is using\n"
     "the same port or that your computer has the port blocked.",
     "HTTP Error"},
    {"Some email settings failed to load, try again?",
     "Activation of Email server failed.\nPlease check settings (at least 1 account needs to be "
     "set). \nCheck that no other program is using the same ports and\nthat your computer does "
     "not have the ports blocked.",
     "Email Error"},
    {"Some FTP settings failed to load, try again?",
     "Activation of FTP server failed.\nPlease check settings, that no other program is using\n"
     "the same port or that your computer has the port blocked.",
     "FTP Error"},
};

const ServiceTexts& textsOf(ServiceKind kind)
{
    return Texts[static_cast<int>(kind)];
}

} // namespace

MainWindowLogic::MainWindowLogic(MainWindowView& view, MessagePrompt& prompt, ServicePointers services,
                                 std::unique_ptr<NewsFeed> news, MainWindowOptions options)
    : view_(view), prompt_(prompt), services_(services), options_(std::move(options)), news_(std::move(news))
{
    if (!options_.wait)
        options_.wait = [](std::uint32_t ms) { sleepMs(ms); };
}

MainWindowLogic::~MainWindowLogic()
{
    stopNews();
}

ServiceControl* MainWindowLogic::service(ServiceKind kind) const
{
    return services_.of(kind);
}

void MainWindowLogic::initialiseView()
{
    for (ServiceKind kind : AllServiceKinds) {
        view_.setStatusText(kind, TextOffline);
        view_.setActivateText(kind, TextActivate);
    }
    view_.setNewsText("");
}

void MainWindowLogic::onFirstShow()
{
    if (shown_)
        return;
    shown_ = true;
    loadSettings();
    for (ServiceKind kind : AllServiceKinds) {
        ServiceControl* s = service(kind);
        if (s != nullptr && s->autostart())
            onActivate(kind);
    }
    if (view_.autoHide())
        view_.startTimer(MainTimer::AutoHide, AutoHideDelayMs);
    view_.startTimer(MainTimer::Refresh, RefreshPeriodMs);
    view_.startTimer(MainTimer::Save, SavePeriodMs);
    view_.setCaption(ProductName);
    refreshStatus();
    if (news_)
        (void)news_->startNews();
}

void MainWindowLogic::loadGeneral()
{
    if (general_.load(options_.generalPath))
        return;
    options_.wait(LoadRetryDelayMs);
    if (!general_.load(options_.generalPath))
        general_.clear();
}

void MainWindowLogic::loadService(ServiceKind kind)
{
    ServiceControl* s = service(kind);
    if (s == nullptr)
        return;
    // Only once settings were saved before is a missing file worth a question.
    const bool savedBefore = general_.getInt(KeyLoadedBefore) == 1;
    while (!s->loadSettings() && savedBefore) {
        if (prompt_.show(textsOf(kind).loadRetry, TitleFileAccess, PromptButtons::YesNo, PromptIcon::None) !=
            PromptAnswer::Yes)
            break;
    }
}

void MainWindowLogic::loadSettings()
{
    loadGeneral();
    if (general_.hasKey(KeyHide))
        view_.setAutoHide(general_.getInt(KeyHide) == 1);
    if (options_.certificate != nullptr)
        TlsSettings::nameFrom(general_, *options_.certificate);
    for (ServiceKind kind : AllServiceKinds)
        loadService(kind);
}

bool MainWindowLogic::saveGeneral()
{
    general_.setInt(KeyLoadedBefore, 1);
    general_.setInt(KeyHide, view_.autoHide() ? 1 : 0);
    // The certificate in use may have been renamed by a task command since.
    if (options_.certificate != nullptr)
        (void)TlsSettings::storeInto(*options_.certificate, general_);
    return general_.save(options_.generalPath);
}

bool MainWindowLogic::saveAll()
{
    bool ok = saveGeneral();
    for (ServiceKind kind : AllServiceKinds) {
        ServiceControl* s = service(kind);
        if (s != nullptr && !s->saveSettings())
            ok = false;
    }
    return ok;
}

std::string MainWindowLogic::statusText(const ServiceControl* service)
{
    if (service == nullptr || !service->isActive())
        return TextOffline;
    return formatText(255, TextOnline, service->connectionCount(), kilobytes(service->totalBytesIn()),
                      kilobytes(service->totalBytesOut()));
}

void MainWindowLogic::refreshStatus()
{
    if (news_ && news_->hasNewText()) {
        char text[NewsCapacity];
        news_->copyText(text, sizeof text);
        view_.setNewsText(text);
        news_->markShown();
    }
    for (ServiceKind kind : AllServiceKinds) {
        ServiceControl* s = service(kind);
        view_.setStatusText(kind, statusText(s));
        if (s != nullptr && s->isActive())
            s->tick();
    }
}

void MainWindowLogic::onTimer(MainTimer timer)
{
    switch (timer) {
    case MainTimer::Refresh:
        refreshStatus();
        break;
    case MainTimer::Save:
        (void)saveAll(); // a failure is retried a minute later
        break;
    case MainTimer::AutoHide:
        view_.hideToTray();
        view_.stopTimer(MainTimer::AutoHide);
        break;
    }
}

void MainWindowLogic::onActivate(ServiceKind kind)
{
    const ServiceControl* s = service(kind);
    (void)switchService(kind, s == nullptr || !s->isActive(), prompt_);
}

bool MainWindowLogic::switchService(ServiceKind kind, bool on, MessagePrompt& prompt)
{
    ServiceControl* s = service(kind);
    if (s != nullptr && s->isActive() == on)
        return true;
    bool switched = true;
    if (s != nullptr && !on) {
        s->deactivate();
        view_.setActivateText(kind, TextActivate);
    } else if (s != nullptr && s->activate()) {
        view_.setActivateText(kind, TextDeactivate);
    } else {
        prompt.show(textsOf(kind).activationFailed, textsOf(kind).activationTitle, PromptButtons::Ok, PromptIcon::None);
        view_.setActivateText(kind, TextActivate);
        switched = false;
    }
    refreshStatus();
    return switched;
}

void MainWindowLogic::onSettings(ServiceKind kind)
{
    ServiceControl* s = service(kind);
    if (s == nullptr || !options_.openSettings || !options_.openSettings(kind))
        return;
    saveWithConsent([s] { return s->saveSettings(); });
}

void MainWindowLogic::onCertificate()
{
    if (!options_.openCertificate || !options_.openCertificate())
        return;
    saveWithConsent([this] { return saveGeneral(); });
}

void MainWindowLogic::saveWithConsent(const std::function<bool()>& save)
{
    while (!save()) {
        if (prompt_.show(TextSettingsSaveRetry, TitleFileAccess, PromptButtons::YesNo, PromptIcon::None) !=
            PromptAnswer::Yes)
            break;
    }
}

bool MainWindowLogic::anyActive() const
{
    for (ServiceKind kind : AllServiceKinds) {
        const ServiceControl* s = service(kind);
        if (s != nullptr && s->isActive())
            return true;
    }
    return false;
}

bool MainWindowLogic::confirmClose()
{
    if (!anyActive())
        return true;
    return prompt_.show(TextQuit, TitleQuit, PromptButtons::YesNo, PromptIcon::Question) == PromptAnswer::Yes;
}

bool MainWindowLogic::shutdown(SaveRetry retry)
{
    if (finished_)
        return !finalSaveFailed_;
    finished_ = true;
    if (shown_) {
        view_.stopTimer(MainTimer::Refresh);
        view_.stopTimer(MainTimer::Save);
        view_.stopTimer(MainTimer::AutoHide);
        bool saved;
        while (!(saved = saveAll()) && retry == SaveRetry::AskOperator) {
            if (prompt_.show(TextFinalSaveRetry, TitleFileAccess, PromptButtons::YesNo, PromptIcon::None) !=
                PromptAnswer::Yes)
                break;
        }
        finalSaveFailed_ = !saved;
    }
    stopNews();
    return !finalSaveFailed_;
}

void MainWindowLogic::stopNews()
{
    if (!news_)
        return;
    news_->stop(options_.newsStopTimeoutMs);
    // A thread still inside a blocking name lookup or connect keeps using
    // the object after the stop gave up: it goes when that thread is done.
    WorkerThread::destroyWhenEnded(std::move(news_));
}

} // namespace vantrel

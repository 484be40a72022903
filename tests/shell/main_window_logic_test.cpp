// The main window's behaviour without a window: start-up loading and its
// retry questions, the Activate buttons, status lines, saving and closing.
#include "shell/main_window_logic.h"

#include "foundation/settings_store.h"
#include "foundation/tcp_socket.h"
#include "foundation/tls_certificate.h"
#include "shell_test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <utility>

namespace vantrel {
namespace {

using test::FakeService;
using test::ScriptedPrompt;
using test::TempFolder;

constexpr char Offline[] = "Offline.";
constexpr char FileAccessTitle[] = "File Access Error";

class FakeView final : public MainWindowView {
public:
    std::map<ServiceKind, std::string> status;
    std::map<ServiceKind, std::string> activateText;
    std::string news;
    bool hideTicked = false;
    std::map<MainTimer, int> running; // timer -> period
    int hides = 0;
    std::string caption = "Vantrel Server";

    void setStatusText(ServiceKind kind, std::string_view text) override { status[kind] = text; }
    void setActivateText(ServiceKind kind, std::string_view text) override { activateText[kind] = text; }
    void setNewsText(std::string_view text) override { news = text; }
    void setAutoHide(bool ticked) override { hideTicked = ticked; }
    bool autoHide() const override { return hideTicked; }
    void startTimer(MainTimer timer, int periodMs) override { running[timer] = periodMs; }
    void stopTimer(MainTimer timer) override { running.erase(timer); }
    void hideToTray() override { ++hides; }
    void setCaption(std::string_view text) override { caption = text; }
};

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The general settings file read back byte by byte: version, count, then
// per record a 300-byte name, a 32-bit length and the value.
std::map<std::string, std::int32_t> readGeneralFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto int32At = [&](std::size_t at) {
        std::int32_t value = 0;
        for (int i = 3; i >= 0; --i)
            value = (value << 8) | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i)));
        return value;
    };
    std::map<std::string, std::int32_t> keys;
    EXPECT_EQ(int32At(0), 3);
    const std::int32_t count = int32At(4);
    std::size_t at = 8;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::string name(bytes.c_str() + at);
        const std::int32_t length = int32At(at + 300);
        EXPECT_EQ(length, 4) << name;
        keys[name] = int32At(at + 304);
        at += 304 + static_cast<std::size_t>(length);
    }
    EXPECT_EQ(at, bytes.size());
    return keys;
}

void writeGeneral(const std::string& path, std::int32_t loadedBefore, std::int32_t hide)
{
    SettingsStore store;
    store.setInt("loadedbefore", loadedBefore);
    store.setInt("hide", hide);
    ASSERT_TRUE(store.save(path));
}

class MainWindowLogicTest : public ::testing::Test {
protected:
    std::unique_ptr<MainWindowLogic> makeLogic(std::unique_ptr<NewsFeed> news = nullptr,
                                               std::uint32_t newsStopTimeoutMs = 3000)
    {
        MainWindowOptions options;
        options.newsStopTimeoutMs = newsStopTimeoutMs;
        options.generalPath = generalPath;
        options.wait = [this](std::uint32_t ms) { waits.push_back(ms); };
        options.openSettings = [this](ServiceKind kind) {
            settingsOpened.push_back(kind);
            return settingsWindowExists;
        };
        options.certificate = certificate;
        options.openCertificate = [this] {
            ++certificateOpened;
            return certificate != nullptr;
        };
        auto logic = std::make_unique<MainWindowLogic>(view, prompt, services, std::move(news), std::move(options));
        logic->initialiseView();
        return logic;
    }

    TempFolder folder;
    std::string generalPath = folder / "general.dat";
    std::vector<std::string> journal;
    FakeService http{"http", journal};
    FakeService email{"email", journal};
    FakeService ftp{"ftp", journal};
    ServicePointers services{&http, &email, &ftp};
    FakeView view;
    ScriptedPrompt prompt;
    std::vector<std::uint32_t> waits;
    std::vector<ServiceKind> settingsOpened;
    bool settingsWindowExists = true;
    TlsCertificate* certificate = nullptr;
    int certificateOpened = 0;
};

TEST_F(MainWindowLogicTest, FirstRunWithoutFilesAsksNothingAndSavesDefaults)
{
    http.loadResults = email.loadResults = ftp.loadResults = {false};
    auto logic = makeLogic();
    logic->onFirstShow();

    EXPECT_TRUE(prompt.calls.empty());
    EXPECT_EQ(http.loads + email.loads + ftp.loads, 3); // no retries
    EXPECT_EQ(waits, std::vector<std::uint32_t>{1000}); // general.dat tried twice
    for (ServiceKind kind : AllServiceKinds) {
        EXPECT_EQ(view.status[kind], Offline);
        EXPECT_EQ(view.activateText[kind], "Activate");
    }
    EXPECT_EQ(view.caption, "Vantrel Server 2.33");
    EXPECT_EQ(view.running, (std::map<MainTimer, int>{{MainTimer::Refresh, 1000}, {MainTimer::Save, 60000}}));

    logic->onTimer(MainTimer::Save);
    EXPECT_EQ(readGeneralFile(generalPath), (std::map<std::string, std::int32_t>{{"loadedbefore", 1}, {"hide", 0}}));
    EXPECT_EQ(http.saves + email.saves + ftp.saves, 3);
}

TEST_F(MainWindowLogicTest, FailedLoadsAreRetriedOnlyWithConsentOnceSavedBefore)
{
    writeGeneral(generalPath, 1, 0);
    http.loadResults = {false, false, true};
    email.loadResults = {false};
    ftp.loadResults = {false, true};
    prompt.answers = {PromptAnswer::Yes, PromptAnswer::Yes, PromptAnswer::No, PromptAnswer::Yes};
    auto logic = makeLogic();
    logic->onFirstShow();

    EXPECT_TRUE(waits.empty());
    EXPECT_EQ(http.loads, 3);
    EXPECT_EQ(email.loads, 1);
    EXPECT_EQ(ftp.loads, 2);
    ASSERT_EQ(prompt.calls.size(), 4u);
    EXPECT_EQ(prompt.calls[0].text, "Some HTTP settings failed to load, try again?");
    EXPECT_EQ(prompt.calls[1].text, prompt.calls[0].text);
    EXPECT_EQ(prompt.calls[2].text, "Some email settings failed to load, try again?");
    EXPECT_EQ(prompt.calls[3].text, "Some FTP settings failed to load, try again?");
    for (const auto& call : prompt.calls) {
        EXPECT_EQ(call.title, FileAccessTitle);
        EXPECT_EQ(call.buttons, PromptButtons::YesNo);
    }
}

TEST_F(MainWindowLogicTest, HideKeyTicksAutoHideWhichHidesOnce)
{
    writeGeneral(generalPath, 1, 1);
    auto logic = makeLogic();
    logic->onFirstShow();
    EXPECT_TRUE(view.hideTicked);
    ASSERT_EQ(view.running.count(MainTimer::AutoHide), 1u);
    EXPECT_EQ(view.running[MainTimer::AutoHide], 250);
    logic->onTimer(MainTimer::AutoHide);
    EXPECT_EQ(view.hides, 1);
    EXPECT_EQ(view.running.count(MainTimer::AutoHide), 0u);

    // "hide" 0 clears a ticked box; the next save writes what the box shows.
    writeGeneral(generalPath, 1, 0);
    view.hideTicked = true;
    auto second = makeLogic();
    second->onFirstShow();
    EXPECT_FALSE(view.hideTicked);
    view.hideTicked = true;
    ASSERT_TRUE(second->saveAll());
    EXPECT_EQ(readGeneralFile(generalPath).at("hide"), 1);
}

TEST_F(MainWindowLogicTest, AutostartActivatesInServiceOrderAfterLoading)
{
    http.autostartFlag = true;
    ftp.autostartFlag = true;
    makeLogic()->onFirstShow();
    EXPECT_EQ(journal,
              (std::vector<std::string>{"http.load", "email.load", "ftp.load", "http.activate", "ftp.activate"}));
    EXPECT_EQ(view.activateText[ServiceKind::Http], "De-Activate");
    EXPECT_EQ(view.activateText[ServiceKind::Email], "Activate");
    EXPECT_EQ(view.activateText[ServiceKind::Ftp], "De-Activate");
    EXPECT_EQ(view.status[ServiceKind::Http], "Online, 0 connections. 0 Kb in and 0 Kb out.");
    EXPECT_EQ(view.status[ServiceKind::Email], Offline);
}

TEST(MainWindowStatus, KilobytesRoundToNearestFrom64BitTotals)
{
    struct Case {
        std::uint64_t bytes;
        std::uint32_t kilobytes;
    };
    // Past 4 GiB the total goes on growing; past what "%u" holds it stays.
    for (const Case& c :
         {Case{0, 0}, Case{511, 0}, Case{512, 1}, Case{1535, 1}, Case{1536, 2}, Case{0xFFFFFDFFu, 4194303},
          Case{0xFFFFFE00u, 4194304}, Case{5ull << 30, 5242880}, Case{UINT64_MAX, UINT32_MAX}})
        EXPECT_EQ(MainWindowLogic::kilobytes(c.bytes), c.kilobytes) << c.bytes;
}

TEST_F(MainWindowLogicTest, StatusLinesAndRollOverFollowActivity)
{
    auto logic = makeLogic();
    logic->onFirstShow();
    email.active = true;
    email.connections = 3;
    email.bytesIn = 1535;
    email.bytesOut = 1536;
    logic->onTimer(MainTimer::Refresh);
    EXPECT_EQ(view.status[ServiceKind::Email], "Online, 3 connections. 1 Kb in and 2 Kb out.");
    EXPECT_EQ(view.status[ServiceKind::Http], Offline);
    EXPECT_EQ(email.ticks, 1);
    EXPECT_EQ(http.ticks + ftp.ticks, 0);
}

TEST_F(MainWindowLogicTest, ActivateTogglesAndRefreshesAtOnce)
{
    auto logic = makeLogic();
    logic->onActivate(ServiceKind::Ftp);
    EXPECT_TRUE(ftp.active);
    EXPECT_EQ(view.activateText[ServiceKind::Ftp], "De-Activate");
    EXPECT_EQ(view.status[ServiceKind::Ftp], "Online, 0 connections. 0 Kb in and 0 Kb out.");
    logic->onActivate(ServiceKind::Ftp);
    EXPECT_FALSE(ftp.active);
    EXPECT_EQ(view.activateText[ServiceKind::Ftp], "Activate");
    EXPECT_EQ(view.status[ServiceKind::Ftp], Offline);
    EXPECT_TRUE(prompt.calls.empty());
}

TEST_F(MainWindowLogicTest, ActivationFailureShowsTheServiceMessage)
{
    struct Case {
        ServiceKind kind;
        const char* text;
        const char* title;
    };
    const Case cases[] = {
        {ServiceKind::Http,
         "Activation of HTTP server failed.\nPlease check settings, that no other program is "
         "using\nthe same port or that your computer has the port blocked.",
         "HTTP Error"},
        {ServiceKind::Email,
         "Activation of Email server failed.\nPlease check settings (at least 1 account needs "
         "to be set). \nCheck that no other program is using the same ports and\nthat your "
         "computer does not have the ports blocked.",
         "Email Error"},
        {ServiceKind::Ftp,
         "Activation of FTP server failed.\nPlease check settings, that no other program is "
         "using\nthe same port or that your computer has the port blocked.",
         "FTP Error"},
    };
    http.activateResult = false; // a service that refuses
    services.email = nullptr;    // services that do not exist yet
    services.ftp = nullptr;
    auto logic = makeLogic();
    for (const Case& c : cases) {
        prompt.calls.clear();
        logic->onActivate(c.kind);
        ASSERT_EQ(prompt.calls.size(), 1u);
        EXPECT_EQ(prompt.calls[0].text, c.text);
        EXPECT_EQ(prompt.calls[0].title, c.title);
        EXPECT_EQ(prompt.calls[0].buttons, PromptButtons::Ok);
        EXPECT_EQ(view.activateText[c.kind], "Activate");
        EXPECT_EQ(view.status[c.kind], Offline);
    }
}

TEST_F(MainWindowLogicTest, CloseAsksOnlyWithAnActiveService)
{
    auto logic = makeLogic();
    EXPECT_TRUE(logic->confirmClose());
    EXPECT_TRUE(prompt.calls.empty());

    email.active = true;
    prompt.answers = {PromptAnswer::No, PromptAnswer::Yes};
    EXPECT_FALSE(logic->confirmClose());
    EXPECT_TRUE(logic->confirmClose());
    ASSERT_EQ(prompt.calls.size(), 2u);
    EXPECT_EQ(prompt.calls[0].text, "Currently active services.\nAre you sure you want to quit?");
    EXPECT_EQ(prompt.calls[0].title, "Quit");
    EXPECT_EQ(prompt.calls[0].buttons, PromptButtons::YesNo);
    EXPECT_EQ(prompt.calls[0].icon, PromptIcon::Question);
}

TEST_F(MainWindowLogicTest, SettingsWindowSaveIsRetriedWithConsent)
{
    auto logic = makeLogic();
    http.saveResults = {false, false, true};
    prompt.answers = {PromptAnswer::Yes, PromptAnswer::Yes};
    logic->onSettings(ServiceKind::Http);
    EXPECT_EQ(settingsOpened, std::vector<ServiceKind>{ServiceKind::Http});
    EXPECT_EQ(http.saves, 3);
    ASSERT_EQ(prompt.calls.size(), 2u);
    EXPECT_EQ(prompt.calls[0].text, "Some settings failed to save to hard drive, try again?");
    EXPECT_EQ(prompt.calls[0].title, FileAccessTitle);
    EXPECT_EQ(email.saves + ftp.saves, 0);

    settingsWindowExists = false; // nothing shown, nothing saved
    logic->onSettings(ServiceKind::Email);
    EXPECT_EQ(email.saves, 0);
}

TEST_F(MainWindowLogicTest, SaveAllSavesEveryServiceAndReportsAnyFailure)
{
    auto logic = makeLogic();
    email.saveResults = {false};
    EXPECT_FALSE(logic->saveAll());
    EXPECT_EQ(journal, (std::vector<std::string>{"http.save", "email.save", "ftp.save"}));
    EXPECT_EQ(readGeneralFile(generalPath).at("loadedbefore"), 1);
}

TEST_F(MainWindowLogicTest, TheCertificatesNamesAreInGeneralDatOnlyWhileNamed)
{
    TlsCertificate inUse;
    certificate = &inUse;
    auto logic = makeLogic();
    logic->onFirstShow();
    // Never named: general.dat holds what it always held.
    ASSERT_TRUE(logic->saveAll());
    EXPECT_EQ(readGeneralFile(generalPath), (std::map<std::string, std::int32_t>{{"loadedbefore", 1}, {"hide", 0}}));
    const std::string unnamed = readBytes(generalPath);

    // Named meanwhile (by a task command): the window's next save keeps it.
    inUse.name("/etc/site/chain.pem", "/etc/site/key.pem");
    logic->onCertificate();
    EXPECT_EQ(certificateOpened, 1);
    SettingsStore saved;
    ASSERT_TRUE(saved.load(generalPath));
    EXPECT_EQ(saved.getText("tlscertificate", 4095), "/etc/site/chain.pem");
    EXPECT_EQ(saved.getText("tlskey", 4095), "/etc/site/key.pem");
    EXPECT_EQ(saved.getInt("hide"), 0);

    // The next start names them before any service is activated.
    TlsCertificate atStart;
    certificate = &atStart;
    makeLogic()->onFirstShow();
    EXPECT_EQ(atStart.certificateFile(), "/etc/site/chain.pem");
    EXPECT_EQ(atStart.keyFile(), "/etc/site/key.pem");

    // Back to the self-signed pair: the records go again.
    inUse.name("", "");
    ASSERT_TRUE(logic->saveAll());
    EXPECT_EQ(readBytes(generalPath), unnamed);
}

TEST_F(MainWindowLogicTest, ClosingSavesOnlyAfterTheFirstShow)
{
    makeLogic()->shutdown(SaveRetry::AskOperator);
    EXPECT_FALSE(std::filesystem::exists(generalPath));
    EXPECT_EQ(http.saves, 0);

    auto logic = makeLogic();
    logic->onFirstShow();
    logic->shutdown(SaveRetry::AskOperator);
    EXPECT_TRUE(view.running.empty());
    EXPECT_TRUE(std::filesystem::exists(generalPath));
    logic->shutdown(SaveRetry::AskOperator); // once only
    EXPECT_EQ(http.saves, 1);
    EXPECT_TRUE(prompt.calls.empty());
}

TEST_F(MainWindowLogicTest, FailedFinalSaveAsksUntilNoOrSavesOnceOnSignal)
{
    ftp.saveResults = {false};
    prompt.answers = {PromptAnswer::Yes, PromptAnswer::No};
    auto logic = makeLogic();
    logic->onFirstShow();
    EXPECT_FALSE(logic->shutdown(SaveRetry::AskOperator)) << "the program must learn of it";
    EXPECT_EQ(ftp.saves, 2);
    ASSERT_EQ(prompt.calls.size(), 2u);
    EXPECT_EQ(prompt.calls[0].text, "Some settings failed to save, try again?");
    EXPECT_EQ(prompt.calls[0].title, FileAccessTitle);
    EXPECT_FALSE(logic->shutdown(SaveRetry::AskOperator)) << "and still on asking again";

    prompt.calls.clear();
    ftp.saves = 0;
    auto quiet = makeLogic();
    quiet->onFirstShow();
    EXPECT_FALSE(quiet->shutdown(SaveRetry::SingleAttempt));
    EXPECT_EQ(ftp.saves, 1);
    EXPECT_TRUE(prompt.calls.empty());

    // A retry that succeeds, and a save that never failed, report success.
    ftp.saveResults = {false, true};
    ftp.saves = 0;
    prompt.answers = {PromptAnswer::Yes};
    auto retried = makeLogic();
    retried->onFirstShow();
    EXPECT_TRUE(retried->shutdown(SaveRetry::AskOperator));
    ftp.saveResults = {true};
    auto fine = makeLogic();
    fine->onFirstShow();
    EXPECT_TRUE(fine->shutdown(SaveRetry::SingleAttempt));
}

TEST_F(MainWindowLogicTest, NewsLineShowsTheFeedsTextOnRefresh)
{
    // A closed port: the feed settles on the no-news text.
    int port = 0;
    {
        TcpSocket probe;
        ASSERT_TRUE(probe.listenOn(0));
        port = probe.localPort();
    }
    NewsFeedTiming quick;
    quick.initialDelayMs = 0;
    auto news = std::make_unique<NewsFeed>(NewsFeed::DefaultIntervalMs, "127.0.0.1", static_cast<std::uint16_t>(port),
                                           "/news.txt", "Vantrel Server 2.33", quick);
    NewsFeed* feed = news.get();
    auto logic = makeLogic(std::move(news));
    logic->onFirstShow();
    EXPECT_TRUE(feed->isRunning());
    ASSERT_TRUE(test::waitUntil([&] {
        logic->onTimer(MainTimer::Refresh);
        return view.news == "Vantrel Server 2.33: No news available.";
    }));
    EXPECT_FALSE(feed->hasNewText());
}

// A listening port whose backlog is full: the system drops further
// connection requests, so a connect to it stays pending.
class FullListener final {
public:
    FullListener()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 0) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            ADD_FAILURE() << "cannot listen";
        port_ = ntohs(address.sin_port);
        filler_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (connect(filler_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            ADD_FAILURE() << "cannot fill the backlog";
    }
    ~FullListener() { close(); }
    // From now on the pending connect is refused.
    void close()
    {
        if (filler_ >= 0)
            ::close(std::exchange(filler_, -1));
        if (listener_ >= 0)
            ::close(std::exchange(listener_, -1));
    }
    std::uint16_t port() const { return port_; }

private:
    int listener_ = -1;
    int filler_ = -1;
    std::uint16_t port_ = 0;
};

// Whether a connection to the local port waits for its SYN to be answered.
bool connectPending(std::uint16_t port)
{
    std::ifstream table("/proc/net/tcp");
    std::string line;
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    std::getline(table, line); // the column names
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (remote.ends_with(wanted) && state == "02")
            return true; // SYN_SENT
    }
    return false;
}

// Closing while the news thread hangs in a connect: the stop gives up, and
// the feed must live on until its thread is done with it (under the
// sanitizers, freeing it here is a use after free once the connect fails).
TEST_F(MainWindowLogicTest, ClosingLeavesANewsThreadStuckInConnectItsFeed)
{
    FullListener server;
    NewsFeedTiming quick;
    quick.initialDelayMs = 0;
    auto news = std::make_unique<NewsFeed>(NewsFeed::DefaultIntervalMs, "127.0.0.1", server.port(), "/news.txt",
                                           "Vantrel Server 2.33", quick);
    auto logic = makeLogic(std::move(news), 50);
    logic->onFirstShow();
    ASSERT_TRUE(test::waitUntil([&] { return connectPending(server.port()); }));
    const std::size_t parked = parkedThreadCount();
    EXPECT_TRUE(logic->shutdown(SaveRetry::SingleAttempt));
    logic.reset();
    server.close();
    // The connect is refused at its next try; the thread sets the no-news
    // text on its feed, sees the stop and ends, destroying the feed.
    EXPECT_TRUE(test::waitUntil([&] { return parkedThreadCount() > parked; }, std::chrono::seconds(20)));
}

} // namespace
} // namespace vantrel

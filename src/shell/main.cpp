// Program entry: the command line, one instance per machine (a relative
// TMPDIR made absolute first), the data folder and its working folders,
// the services and the main window, torn down in a fixed order. --help and
// --version answer before anything is opened.
// SIGTERM and SIGINT close the window as its close command does, without
// the question, so that settings are saved and the services stopped; they
// are caught from the first moment, before anything is written. The exit
// status is 0 only when the settings were saved at the end. Without a
// display Qt's own chatter is kept off standard error (the journal of the
// service).
#include "email/email_service.h"
#include "foundation/control_server.h"
#include "foundation/file_replace.h"
#include "foundation/file_system.h"
#include "foundation/instance_lock.h"
#include "foundation/process_limits.h"
#include "foundation/product.h"
#include "foundation/server_instance.h"
#include "foundation/text.h"
#include "ftp/ftp_service.h"
#include "http/http_service.h"
#include "shell/command_line.h"
#include "shell/control_requests.h"
#include "shell/data_folder.h"
#include "shell/news_feed.h"
#include "shell/qt/main_window.h"
#include "shell/qt/qt_message_prompt.h"
#include "shell/services.h"

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <QtGlobal>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr char TextAlreadyRunning[] = "%s is already running.";
constexpr char TextNoLockFile[] =
    "%s cannot start: its lock file %s cannot be made (%s).\nTMPDIR must name a folder that "
    "exists and may be written.";
constexpr char TextNoDataFolder[] = "%s cannot start: its data folder %s cannot be made or entered (%s).";
constexpr char TextFewFiles[] =
    "%s: at most %llu files may be open, too few for every service's sessions with their data "
    "connections (%llu); raise the hard limit of open files (ulimit -Hn).\n";
constexpr char TextNoControl[] = "%s: vantrel-settings cannot reach this server while it runs: %s\n";
constexpr char TextNotSaved[] = "%s: the settings could not all be saved; ending with an error.\n";
constexpr const char* WorkFolders[] = {"logs", "email", "ftp", "http"};
// Folders where settings and pages are written through temporary files.
constexpr const char* SavedFolders[] = {".", "ftp", "email", "http"};
// Open files of the program itself: Qt, the display, logs, pipes.
constexpr unsigned long long OwnDescriptors = 64;

// The write end of the self-pipe: the only thing a signal handler may
// touch. Written once before the handlers are installed.
int signalWriteEnd = -1;

extern "C" void onTerminationSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(signalWriteEnd, &byte, 1);
    errno = saved;
}

// Returns the read end, or -1 when the pipe could not be made.
int installTerminationSignals()
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    signalWriteEnd = ends[1];
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    return ends[0];
}

// Before anything is written a signal may simply end the program, as it
// must while a refusal waits for its message box to be closed.
void restoreDefaultSignals()
{
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
}

void chooseHeadlessPlatform()
{
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
        std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

// Without a display Qt's debug, info and warning messages (no
// XDG_RUNTIME_DIR, size hints the offscreen platform cannot pass on) tell an
// operator nothing, and under systemd each is a journal line per start.
// Critical and fatal ones still go out. The program's own messages are
// written with fprintf and never pass through here.
QtMessageHandler qtPreviousHandler = nullptr;
bool qtQuiet = false;

void dropQtChatter(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg)
        return;
    if (qtPreviousHandler != nullptr)
        qtPreviousHandler(type, context, text);
}

// Before QApplication exists only the environment tells which platform it
// will load: the first name of QT_QPA_PLATFORM, without its options.
bool headlessPlatformChosen()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform == nullptr)
        return false;
    const std::string name(platform, std::strcspn(platform, ":;"));
    return name == "offscreen" || name == "minimal";
}

void quietQt(bool quiet)
{
    if (quiet == qtQuiet)
        return;
    if (quiet)
        qtPreviousHandler = qInstallMessageHandler(dropQtChatter);
    else
        qInstallMessageHandler(qtPreviousHandler);
    qtQuiet = quiet;
}

template <typename Service>
void destroyService(std::unique_ptr<Service>& service)
{
    if (service && service->isActive())
        service->deactivate();
    service.reset();
}

// Shows a message that ends the start, on standard error as well when a
// display shows it.
void refuseStart(const std::string& text)
{
    if (!vantrel::runsHeadless())
        std::fprintf(stderr, "%s\n", text.c_str());
    vantrel::QtMessagePrompt(nullptr).show(text, vantrel::ProductName, vantrel::PromptButtons::Ok,
                                           vantrel::PromptIcon::Warning);
}

void warnAboutOpenFiles(const vantrel::Services& services, vantrel::OpenFileLimit limit)
{
    unsigned long long needed = OwnDescriptors;
    const vantrel::ServicePointers controls = services.controls();
    for (const vantrel::ServiceControl* service : {controls.http, controls.email, controls.ftp}) {
        if (service != nullptr)
            needed += static_cast<unsigned long long>(service->descriptorsAtFullLoad());
    }
    if (limit.soft < needed)
        std::fprintf(stderr, TextFewFiles, vantrel::ProductName, static_cast<unsigned long long>(limit.soft), needed);
}

// How often a control request that waits for a message box to be answered
// looks again.
constexpr int ControlRetryMs = 100;

// Serves the control socket's requests on the window's thread. A message
// box in the middle of one of the window's actions runs its own event
// loop; a request waits until that action is over, so the two never mix.
class ControlLink final {
public:
    ControlLink(vantrel::ControlServer& server, vantrel::ControlRequests& requests, QObject* context)
        : server_(server), requests_(requests), notifier_(server.wakeDescriptor(), QSocketNotifier::Read)
    {
        QObject::connect(&notifier_, &QSocketNotifier::activated, context, [this] { serve(); });
        retry_.setSingleShot(true);
        retry_.setInterval(ControlRetryMs);
        QObject::connect(&retry_, &QTimer::timeout, context, [this] { serve(); });
    }

private:
    void serve()
    {
        if (qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr) {
            server_.runPending(nullptr);
            if (server_.hasPending())
                retry_.start();
            return;
        }
        const vantrel::ControlServer::Handler handler = [this](std::span<const std::string> words) {
            return requests_.answer(words);
        };
        server_.runPending(&handler);
    }

    vantrel::ControlServer& server_;
    vantrel::ControlRequests& requests_;
    QSocketNotifier notifier_;
    QTimer retry_;
};

std::string programName(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace vantrel;
    // First of all: a signal that arrives from here on is answered with a
    // clean end, whatever the start has already written.
    const int signalReadEnd = installTerminationSignals();
    const std::string name = programName(argc > 0 ? argv[0] : "vantrel-server");
    CommandLine commandLine = parseCommandLine(std::vector<std::string>(argv, argv + argc));
    switch (commandLine.action) {
    case CommandAction::ShowHelp:
        std::fputs(usageText(name).c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case CommandAction::ShowVersion:
        std::fputs(versionText().c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case CommandAction::UsageError:
        std::fputs(usageErrorText(name, commandLine.error).c_str(), stderr);
        std::fputs(usageText(name).c_str(), stderr);
        return ExitUsageError;
    case CommandAction::Run:
        break;
    }
    // A relative TMPDIR means the folder the program was started in, also
    // once it works in its data folder. When the start folder cannot be
    // named, the lock below reports the folder as unusable.
    (void)anchorTempFolder();
    chooseHeadlessPlatform();
    quietQt(headlessPlatformChosen());
    const OpenFileLimit openFiles = raiseOpenFileLimit();
    InstanceLock instance;
    const bool onlyInstance = instance.acquire(ServerInstanceName);
    // Qt sees only its own options; it keeps pointers into them for its life.
    std::vector<char*> qtArgv;
    for (std::string& argument : commandLine.qtArguments)
        qtArgv.push_back(argument.data());
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(qtArgv.size()) - 1;
    QApplication app(qtArgc, qtArgv.data());
    // The platform Qt loaded decides (-platform, a fallback list).
    quietQt(runsHeadless());
    if (!onlyInstance) {
        restoreDefaultSignals();
        if (instance.failure() == InstanceLockFailure::HeldElsewhere)
            refuseStart(formatText(255, TextAlreadyRunning, ProductName));
        else
            refuseStart(formatText(1023, TextNoLockFile, ProductName, instance.lockFile().c_str(),
                                   std::strerror(instance.failureError())));
        return 1;
    }
    if (!commandLine.dataDir.empty() && !enterDataFolder(commandLine.dataDir)) {
        const int error = errno;
        restoreDefaultSignals();
        refuseStart(formatText(1023, TextNoDataFolder, ProductName, commandLine.dataDir.c_str(), std::strerror(error)));
        return 1;
    }

    for (const char* folder : WorkFolders)
        (void)createDirectory(folder);
    // Left behind by a copy that was killed while it saved.
    for (const char* folder : SavedFolders)
        (void)removeStaleTemporaryFiles(folder);

    Services services = makeServices();
    warnAboutOpenFiles(services, openFiles);
    app.setQuitOnLastWindowClosed(false);
    bool settingsSaved = true;
    {
        auto news = std::make_unique<NewsFeed>(NewsFeed::DefaultIntervalMs, NewsHost, NewsFeed::DefaultPort, NewsPath,
                                               ProductName);
        MainWindow window(services.live(), std::move(news), [] { QCoreApplication::exit(0); });
        std::unique_ptr<QSocketNotifier> signalNotifier;
        if (signalReadEnd >= 0) {
            signalNotifier = std::make_unique<QSocketNotifier>(signalReadEnd, QSocketNotifier::Read);
            QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &window, [&] {
                char bytes[16];
                while (read(signalReadEnd, bytes, sizeof bytes) > 0) {
                }
                window.closeWithoutQuestion();
            });
        }
        ControlRequests requests(services.controls(), services.live(),
                                 [&window](ServiceKind kind, bool on, MessagePrompt& prompt) {
                                     return window.switchService(kind, on, prompt);
                                 });
        ControlServer control(controlSocketPath(ServerInstanceName));
        std::unique_ptr<ControlLink> controlLink;
        if (std::string why; control.open(why))
            controlLink = std::make_unique<ControlLink>(control, requests, &window);
        else
            std::fprintf(stderr, TextNoControl, ProductName, why.c_str());
        window.show();
        app.exec();
        // No request is taken up once the final save has begun.
        controlLink.reset();
        control.close();
        settingsSaved = window.finish(SaveRetry::SingleAttempt);
    }
    // Services go in the order FTP, email, HTTP; each stops its threads.
    destroyService(services.ftp);
    destroyService(services.email);
    destroyService(services.http);
    if (!settingsSaved) {
        std::fprintf(stderr, TextNotSaved, ProductName);
        return 1;
    }
    return 0;
}

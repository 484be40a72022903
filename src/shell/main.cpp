// Program entry: one instance per machine, the working folders, the
// services and the main window, torn down in a fixed order.
// SIGTERM and SIGINT close the window as its close command does, without
// the question, so that settings are saved and the services stopped.
#include "foundation/file_system.h"
#include "foundation/instance_lock.h"
#include "foundation/product.h"
#include "foundation/text.h"
#include "shell/news_feed.h"
#include "shell/qt/main_window.h"
#include "shell/qt/qt_message_prompt.h"
#include "shell/services.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

constexpr char InstanceName[] = "QUORVELL_LABS_VANTREL_SERVER";
constexpr char TextAlreadyRunning[] = "%s is already running.";
constexpr const char* WorkFolders[] = {"logs", "email", "ftp", "http"};

// The write end of the self-pipe: the only thing a signal handler may
// touch. Written once before the handlers are installed.
int signalWriteEnd = -1;

extern "C" void onTerminationSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(signalWriteEnd, &byte, 1);
    errno = saved;
}

// Returns the read end, or -1 when the pipe could not be made.
int installTerminationSignals() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    signalWriteEnd = ends[1];
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    return ends[0];
}

void chooseHeadlessPlatform() {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
        std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

void destroyService(std::unique_ptr<vantrel::ServiceControl>& service) {
    if (service && service->isActive()) service->deactivate();
    service.reset();
}

} // namespace

int main(int argc, char** argv) {
    using namespace vantrel;
    chooseHeadlessPlatform();
    InstanceLock instance;
    const bool onlyInstance = instance.acquire(InstanceName);
    QApplication app(argc, argv);
    if (!onlyInstance) {
        const std::string text = formatText(255, TextAlreadyRunning, ProductName);
        if (!runsHeadless()) std::fprintf(stderr, "%s\n", text.c_str());
        QtMessagePrompt(nullptr).show(text, ProductName, PromptButtons::Ok, PromptIcon::Warning);
        return 1;
    }

    for (const char* folder : WorkFolders) (void)createDirectory(folder);
    Services services = makeServices();
    app.setQuitOnLastWindowClosed(false);
    const int signalReadEnd = installTerminationSignals();
    {
        auto news = std::make_unique<NewsFeed>(NewsFeed::DefaultIntervalMs, NewsHost,
                                               NewsFeed::DefaultPort, NewsPath, ProductName);
        MainWindow window(ServicePointers{services.http.get(), services.email.get(),
                                          services.ftp.get()},
                          std::move(news), [] { QCoreApplication::exit(0); });
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
        window.show();
        app.exec();
    }
    // Services go in the order FTP, email, HTTP; each stops its threads.
    destroyService(services.ftp);
    destroyService(services.email);
    destroyService(services.http);
    return 0;
}

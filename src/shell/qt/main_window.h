// MainWindow: the program's main window. It lays out the controls, binds
// them to MainWindowLogic and realises what the logic asks of a window:
// texts, timers, the caption and hiding to the notification area.
#pragma once

#include "shell/main_window_logic.h"
#include "shell/qt/qt_message_prompt.h"
#include "tools/live_services.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <string>

class QCheckBox;
class QLabel;
class QPushButton;
class QSystemTrayIcon;

namespace vantrel {

class MainWindow final : public QWidget, private MainWindowView {
public:
    // onClosed runs once the window has closed and saved its settings.
    MainWindow(LiveServices services, std::unique_ptr<NewsFeed> news, std::function<void()> onClosed = {},
               std::string generalPath = "general.dat", QWidget* parent = nullptr);
    ~MainWindow() override;

    // Closes as the close command does, without the question, saving once;
    // the program's answer to a termination signal.
    void closeWithoutQuestion();
    // Ends the window's work: saves once (asking the operator to retry a
    // failure when `retry` says so), stops the news and runs onClosed.
    // Later calls only repeat the result: false when the settings could
    // not all be saved.
    bool finish(SaveRetry retry);
    // The Activate / De-Activate button asked for one direction, with its
    // messages through `prompt`.
    bool switchService(ServiceKind kind, bool on, MessagePrompt& prompt)
    {
        return logic_.switchService(kind, on, prompt);
    }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    struct ServiceGroup {
        QLabel* status = nullptr;
        QPushButton* activate = nullptr;
        QPushButton* settings = nullptr;
    };

    void buildControls();
    QWidget* buildGroup(ServiceKind kind);
    ServiceGroup& group(ServiceKind kind) { return groups_[static_cast<int>(kind)]; }
    QTimer& timer(MainTimer which) { return timers_[static_cast<int>(which)]; }
    // Called while logic_ is built: services_ is set by then.
    MainWindowOptions logicOptions(std::string generalPath);
    bool openSettings(ServiceKind kind);
    void openHelp();
    void showFromTray();

    // MainWindowView
    void setStatusText(ServiceKind kind, std::string_view text) override;
    void setActivateText(ServiceKind kind, std::string_view text) override;
    void setNewsText(std::string_view text) override;
    void setAutoHide(bool ticked) override;
    bool autoHide() const override;
    void startTimer(MainTimer which, int periodMs) override;
    void stopTimer(MainTimer which) override;
    void hideToTray() override;
    void setCaption(std::string_view text) override;

    LiveServices services_;
    std::function<void()> onClosed_;
    std::array<ServiceGroup, 3> groups_;
    QLabel* news_ = nullptr;
    QCheckBox* autoHide_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    std::array<QTimer, 3> timers_;
    bool firstShowQueued_ = false;
    QtMessagePrompt prompt_;
    // Last: goes first, while the controls and timers it drives still exist.
    MainWindowLogic logic_;
};

} // namespace vantrel

// The main window's widgets and their binding to MainWindowLogic. The first
// show is handed to the logic from the event loop, so that its message
// boxes appear over a visible window.
#include "shell/qt/main_window.h"

#include "foundation/product.h"
#include "shell/qt/artwork.h"
#include "shell/qt/help_dialog.h"
#include "shell/qt/settings_windows.h"
#include "shell/services.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace vantrel {

namespace {

constexpr char InitialCaption[] = "Vantrel Server";
constexpr int TrayTipLimit = 63;
constexpr int LogoMinimumWidth = 340;
// Status lines keep this width, so the window does not grow as counts rise.
constexpr char WidestStatus[] = "Online, 1000 connections. 999999 Kb in and 999999 Kb out.";
constexpr int LogoHeight = 64;

struct GroupNames {
    const char* title;
    const char* prefix;
};

constexpr GroupNames Groups[] = {{"HTTP Server", "http"}, {"Email Server", "email"}, {"FTP Server", "ftp"}};

QString latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString controlName(ServiceKind kind, const char* control)
{
    return QLatin1String(Groups[static_cast<int>(kind)].prefix) + QLatin1String(control);
}

} // namespace

MainWindow::MainWindow(LiveServices services, std::unique_ptr<NewsFeed> news, std::function<void()> onClosed,
                       std::string generalPath, QWidget* parent)
    : QWidget(parent), services_(services), onClosed_(std::move(onClosed)), prompt_(this),
      logic_(*this, prompt_, controlsOf(services), std::move(news), logicOptions(std::move(generalPath)))
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QLatin1String(InitialCaption));
    setWindowIcon(mainIcon());
    buildControls();

    tray_ = new QSystemTrayIcon(mainIcon(), this);
    tray_->setObjectName(QStringLiteral("trayIcon"));
    tray_->setToolTip(QLatin1String(ProductName).left(TrayTipLimit));
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            showFromTray();
    });

    for (std::size_t i = 0; i < timers_.size(); ++i) {
        connect(&timers_[i], &QTimer::timeout, this, [this, i] { logic_.onTimer(static_cast<MainTimer>(i)); });
    }
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    logic_.initialiseView();
}

MainWindowOptions MainWindow::logicOptions(std::string generalPath)
{
    MainWindowOptions options;
    options.generalPath = std::move(generalPath);
    options.openSettings = [this](ServiceKind kind) { return openSettings(kind); };
    options.certificate = services_.certificate;
    options.openCertificate = [this] { return openCertificateWindow(services_, this); };
    return options;
}

MainWindow::~MainWindow()
{
    logic_.shutdown(SaveRetry::AskOperator);
}

QWidget* MainWindow::buildGroup(ServiceKind kind)
{
    auto* box = new QGroupBox(QLatin1String(Groups[static_cast<int>(kind)].title), this);
    box->setObjectName(controlName(kind, "Group"));
    ServiceGroup& g = group(kind);
    g.status = new QLabel(box);
    g.status->setObjectName(controlName(kind, "Status"));
    g.status->setMinimumWidth(g.status->fontMetrics().horizontalAdvance(QLatin1String(WidestStatus)));
    g.activate = new QPushButton(box);
    g.activate->setObjectName(controlName(kind, "Activate"));
    g.settings = new QPushButton(QStringLiteral("Settings"), box);
    g.settings->setObjectName(controlName(kind, "Settings"));
    // Wide enough for "De-Activate" without the row jumping.
    g.activate->setMinimumWidth(g.activate->fontMetrics().horizontalAdvance(QStringLiteral("De-Activate")) + 24);

    auto* row = new QHBoxLayout(box);
    row->addWidget(g.status, 1);
    row->addWidget(g.activate);
    row->addWidget(g.settings);

    connect(g.activate, &QPushButton::clicked, this, [this, kind] { logic_.onActivate(kind); });
    connect(g.settings, &QPushButton::clicked, this, [this, kind] { logic_.onSettings(kind); });
    return box;
}

void MainWindow::buildControls()
{
    auto* logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("logo"));

    news_ = new QLabel(this);
    news_->setObjectName(QStringLiteral("newsLine"));
    news_->setWordWrap(true);
    news_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    news_->setMinimumHeight(2 * news_->fontMetrics().lineSpacing());

    auto* help = new QPushButton(QStringLiteral("Help"), this);
    help->setObjectName(QStringLiteral("helpButton"));
    autoHide_ = new QCheckBox(QStringLiteral("Auto Hide"), this);
    autoHide_->setObjectName(QStringLiteral("autoHide"));
    auto* hide = new QPushButton(QStringLiteral("Hide"), this);
    hide->setObjectName(QStringLiteral("hideButton"));
    // The program's one certificate, for every service that speaks TLS.
    auto* tls = new QPushButton(QStringLiteral("TLS"), this);
    tls->setObjectName(QStringLiteral("tlsButton"));
    connect(help, &QPushButton::clicked, this, &MainWindow::openHelp);
    connect(tls, &QPushButton::clicked, this, [this] { logic_.onCertificate(); });
    connect(hide, &QPushButton::clicked, this, [this] { hideToTray(); });

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(help);
    bottom->addWidget(tls);
    bottom->addStretch(1);
    bottom->addWidget(autoHide_);
    bottom->addWidget(hide);

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(logo);
    layout->addWidget(news_);
    for (ServiceKind kind : AllServiceKinds)
        layout->addWidget(buildGroup(kind));
    layout->addLayout(bottom);

    // The logo spans the window, whose width the status lines decide.
    const QMargins margins = layout->contentsMargins();
    const int width = std::max(LogoMinimumWidth, layout->sizeHint().width() - margins.left() - margins.right());
    logo->setPixmap(logoPicture(width, LogoHeight));
    news_->setFixedWidth(width);
}

bool MainWindow::openSettings(ServiceKind kind)
{
    return openSettingsWindow(kind, services_, this);
}

void MainWindow::openHelp()
{
    HelpDialog help(this);
    help.exec();
}

void MainWindow::showFromTray()
{
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::closeWithoutQuestion()
{
    // Queued behind a pending first show, so that what it loads is saved.
    QTimer::singleShot(0, this, [this] {
        finish(SaveRetry::SingleAttempt);
        hide();
    });
}

bool MainWindow::finish(SaveRetry retry)
{
    const bool saved = logic_.shutdown(retry);
    tray_->hide();
    if (onClosed_)
        std::exchange(onClosed_, nullptr)();
    return saved;
}

void MainWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!firstShowQueued_) {
        firstShowQueued_ = true;
        QTimer::singleShot(0, this, [this] { logic_.onFirstShow(); });
        return;
    }
    tray_->hide();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!logic_.confirmClose()) {
        event->ignore();
        return;
    }
    finish(SaveRetry::AskOperator);
    event->accept();
}

void MainWindow::setStatusText(ServiceKind kind, std::string_view text)
{
    group(kind).status->setText(latin1(text));
}

void MainWindow::setActivateText(ServiceKind kind, std::string_view text)
{
    group(kind).activate->setText(latin1(text));
}

void MainWindow::setNewsText(std::string_view text)
{
    QString shown = latin1(text);
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    news_->setText(shown);
}

void MainWindow::setAutoHide(bool ticked)
{
    autoHide_->setChecked(ticked);
}

bool MainWindow::autoHide() const
{
    return autoHide_->isChecked();
}

void MainWindow::startTimer(MainTimer which, int periodMs)
{
    timer(which).start(periodMs);
}

void MainWindow::stopTimer(MainTimer which)
{
    timer(which).stop();
}

void MainWindow::hideToTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        showMinimized();
        return;
    }
    tray_->show();
    hide();
}

void MainWindow::setCaption(std::string_view text)
{
    setWindowTitle(latin1(text));
}

} // namespace vantrel

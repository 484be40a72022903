// The Qt main window on the offscreen platform: its controls are found by
// name with their first texts, the first show loads and starts the news,
// a failing activation leaves the button alone, and closing saves. The
// certificate window binds its widgets to its panel.
#include "shell/qt/main_window.h"

#include "foundation/tcp_socket.h"
#include "foundation/tls_certificate.h"
#include "foundation/tls_context.h"
#include "shell/qt/tls_certificate_dialog.h"
#include "shell_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <cstdlib>

namespace vantrel {
namespace {

class QtEnvironment final : public ::testing::Environment {
public:
    void SetUp() override
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "shell_qt_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

template <typename Widget>
Widget* control(QWidget& window, const char* name)
{
    auto* widget = window.findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

std::uint16_t closedPort()
{
    TcpSocket probe;
    if (!probe.listenOn(0))
        return 0;
    return probe.localPort();
}

TEST(MainWindowQt, ControlsStartWithTheirTextsAndFirstShowRuns)
{
    test::TempFolder folder;
    NewsFeedTiming quick;
    quick.initialDelayMs = 0;
    auto news = std::make_unique<NewsFeed>(NewsFeed::DefaultIntervalMs, "127.0.0.1", closedPort(), "/news.txt",
                                           "Vantrel Server 2.33", quick);
    bool closed = false;
    {
        MainWindow window(
            LiveServices{}, std::move(news), [&] { closed = true; }, folder / "general.dat");
        EXPECT_EQ(window.windowTitle(), "Vantrel Server");
        for (const char* prefix : {"http", "email", "ftp"}) {
            const std::string p(prefix);
            auto* status = control<QLabel>(window, (p + "Status").c_str());
            auto* activate = control<QPushButton>(window, (p + "Activate").c_str());
            auto* settings = control<QPushButton>(window, (p + "Settings").c_str());
            ASSERT_TRUE(status && activate && settings);
            EXPECT_EQ(status->text(), "Offline.");
            EXPECT_EQ(activate->text(), "Activate");
            EXPECT_EQ(settings->text(), "Settings");
        }
        auto* newsLine = control<QLabel>(window, "newsLine");
        auto* autoHide = control<QCheckBox>(window, "autoHide");
        auto* help = control<QPushButton>(window, "helpButton");
        auto* hide = control<QPushButton>(window, "hideButton");
        ASSERT_TRUE(newsLine && autoHide && help && hide && control<QLabel>(window, "logo"));
        EXPECT_EQ(control<QPushButton>(window, "tlsButton")->text(), "TLS");
        EXPECT_TRUE(newsLine->text().isEmpty());
        EXPECT_EQ(autoHide->text(), "Auto Hide");
        EXPECT_FALSE(autoHide->isChecked());
        EXPECT_EQ(help->text(), "Help");
        EXPECT_EQ(hide->text(), "Hide");

        window.show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.windowTitle() == "Vantrel Server 2.33"; }));
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return newsLine->text() == "Vantrel Server 2.33: No news available."; }, 10000));

        // No HTTP service in this window: the failure message is answered
        // headlessly and the button keeps its text.
        control<QPushButton>(window, "httpActivate")->click();
        EXPECT_EQ(control<QPushButton>(window, "httpActivate")->text(), "Activate");

        EXPECT_TRUE(window.close());
        EXPECT_TRUE(closed);
    }
    EXPECT_TRUE(std::filesystem::exists(folder / "general.dat"));
}

TEST(TlsCertificateDialogQt, AppliesTheFilesTypedIn)
{
    test::TempFolder folder;
    std::string whyNot;
    ASSERT_TRUE(makeSelfSignedCertificate(folder / "chain.pem", folder / "key.pem", "site.example", whyNot));
    TlsCertificate certificate;
    test::ScriptedPrompt prompt;
    TlsCertificateDialog dialog(certificate, prompt);
    auto* selfSigned = control<QCheckBox>(dialog, "selfSignedBox");
    auto* certificateEdit = control<QLineEdit>(dialog, "certificateEdit");
    auto* keyEdit = control<QLineEdit>(dialog, "keyEdit");
    auto* fingerprint = control<QLabel>(dialog, "fingerprintLabel");
    ASSERT_TRUE(selfSigned && certificateEdit && keyEdit && fingerprint);
    EXPECT_TRUE(selfSigned->isChecked());
    EXPECT_FALSE(certificateEdit->isEnabled());

    selfSigned->setChecked(false);
    EXPECT_TRUE(certificateEdit->isEnabled());
    certificateEdit->setText(QString::fromStdString(folder / "chain.pem"));
    keyEdit->setText(QString::fromStdString(folder / "chain.pem"));
    control<QPushButton>(dialog, "applyButton")->click();
    ASSERT_EQ(prompt.calls.size(), 1u);
    EXPECT_EQ(prompt.calls[0].title, "Certificate Error");
    EXPECT_TRUE(certificate.selfSigned());

    keyEdit->setText(QString::fromStdString(folder / "key.pem"));
    control<QPushButton>(dialog, "applyButton")->click();
    EXPECT_EQ(prompt.calls.size(), 1u);
    EXPECT_EQ(certificate.certificateFile(), folder / "chain.pem");
    EXPECT_EQ(fingerprint->text().toStdString(), certificate.fingerprint());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

} // namespace
} // namespace vantrel

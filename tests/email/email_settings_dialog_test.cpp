// The "Email Settings" window and the "Dangerous Email Attachments" window
// on the offscreen platform: their controls carry the panel's fields both
// ways, found by their object names.
#include "shell/qt/attachment_info_dialog.h"
#include "shell/qt/email_settings_dialog.h"

#include "email_panel_test_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <memory>

namespace vantrel {
namespace {

using testing::CountingInfoWindow;
using testing::FakeEmailService;
using testing::RecordingPrompt;

class EmailDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "email_dialog_tests";
        static char* argv[] = {name, nullptr};
        static QApplication app(argc, argv);
    }

    void SetUp() override { dialog = std::make_unique<EmailSettingsDialog>(target, prompt, info); }

    template <typename Widget>
    Widget* find(const char* name)
    {
        auto* widget = dialog->findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QLineEdit* edit(const char* name) { return find<QLineEdit>(name); }
    void click(const char* name) { find<QPushButton>(name)->click(); }

    testing::WorkingFolder scratch;
    FakeEmailService service{4};
    EmailPanelTarget& target{service};
    RecordingPrompt prompt;
    CountingInfoWindow info;
    std::unique_ptr<EmailSettingsDialog> dialog;
};

TEST_F(EmailDialogTest, AccountControlsCarryTheFieldsBothWays)
{
    EXPECT_EQ(dialog->windowTitle(), "Email Settings");
    EXPECT_EQ(find<QGroupBox>("accountsGroup")->title(), "Email Accounts (0 of 0 --- 4 max)");
    EXPECT_EQ(edit("passwordEdit")->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(find<QPushButton>("previousButton")->isEnabled());
    EXPECT_EQ(find<QPushButton>("deleteButton")->text(), "&Delete Account");
    EXPECT_EQ(find<QPushButton>("moreInfoButton")->text(), "More Info");
    EXPECT_TRUE(find<QLabel>("setupInfoLabel")->text().contains("http://www.quorvell-labs.example/vantrel/"));

    edit("userEdit")->setText("John_Smith");
    edit("addressEdit")->setText("John@Example.org");
    edit("passwordEdit")->setText("secret");
    click("addUpdateButton");
    EXPECT_TRUE(service.directory().checkLogin("johnxxmith", "secret"));
    EXPECT_EQ(edit("userEdit")->text(), "johnxxmith");
    EXPECT_EQ(edit("addressEdit")->text(), "john@example.org");
    EXPECT_EQ(find<QLabel>("inboxStatusLabel")->text(), "0 emails, 0 Kb used.");
    EXPECT_EQ(find<QGroupBox>("accountsGroup")->title(), "Email Accounts (1 of 1 --- 4 max)");
    EXPECT_TRUE(find<QPushButton>("nextButton")->isEnabled());

    click("deleteButton");
    EXPECT_EQ(service.directory().accountCount(), 0);
    EXPECT_EQ(edit("userEdit")->text(), "");
    EXPECT_FALSE(find<QPushButton>("previousButton")->isEnabled());
    EXPECT_TRUE(prompt.takeShown().empty());
}

TEST_F(EmailDialogTest, MoreInfoAndApplyGoThroughThePanel)
{
    EXPECT_EQ(edit("maxEmailSizeEdit")->text(), "1024");
    EXPECT_EQ(edit("maxAccountSizeEdit")->text(), "2048");
    EXPECT_EQ(edit("popPortEdit")->text(), "110");
    EXPECT_EQ(edit("bannedExtensionsEdit")->text().toStdString(), MailDirectory::RecommendedBannedExtensions);

    click("moreInfoButton");
    EXPECT_EQ(info.opened, 1);

    edit("localDomainEdit")->setText("Mail.Example");
    edit("popPortEdit")->setText("1110");
    edit("maxEmailSizeEdit")->setText("2048");
    edit("maxAccountSizeEdit")->setText("8192");
    edit("relayHostEdit")->setText("relay.example");
    edit("relaySubnetEdit")->setText("10.0.0.");
    edit("bannedExtensionsEdit")->setText(".EXE");
    find<QCheckBox>("autoActivateBox")->setChecked(true);
    click("applyButton");
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(service.directory().localHostName(), "mail.example");
    EXPECT_EQ(service.popPort(), 1110);
    EXPECT_EQ(service.directory().maxEmailSize(), 2048 * 1024);
    EXPECT_EQ(service.directory().maxAccountSize(), 8192 * 1024);
    EXPECT_EQ(service.directory().relaySubnet(), "10.0.0.");
    EXPECT_EQ(service.directory().bannedExtensions(), ".exe");
    EXPECT_TRUE(service.autostart());
    EXPECT_EQ(prompt.takeShown().size(), 1u) << "the POP3 port note";
}

TEST_F(EmailDialogTest, AttachmentWindowShowsTheRecommendedList)
{
    AttachmentInfoDialog window;
    EXPECT_EQ(window.windowTitle(), "Dangerous Email Attachments");
    EXPECT_TRUE(window.isModal());
    auto* list = window.findChild<QPlainTextEdit*>(QStringLiteral("extensionsList"));
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->isReadOnly());
    EXPECT_EQ(list->toPlainText().toStdString(), AttachmentInfo::listText());
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("warningLabel"))->text(), AttachmentInfo::Warning);
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("adviceLabel"))->text(), AttachmentInfo::Advice);
    auto* ok = window.findChild<QPushButton*>(QStringLiteral("okButton"));
    ASSERT_NE(ok, nullptr);
    ok->click();
    EXPECT_EQ(window.result(), QDialog::Accepted);
}

TEST_F(EmailDialogTest, TheTlsControlsCarryTheFieldsBothWaysAndARefusalKeepsTheWindowOpen)
{
    EXPECT_EQ(find<QComboBox>("tlsModeBox")->currentIndex(), 0);
    EXPECT_EQ(edit("smtpsPortEdit")->text(), "0");
    EXPECT_EQ(edit("pop3sPortEdit")->text(), "0");
    EXPECT_EQ(find<QCheckBox>("relayRequiresTlsBox")->text(), EmailSettingsPanel::RelayRequiresTlsLabel);
    EXPECT_EQ(find<QCheckBox>("relayHostRequiresTlsBox")->text(), EmailSettingsPanel::RelayHostRequiresTlsLabel);
    find<QComboBox>("tlsModeBox")->setCurrentIndex(2);
    edit("smtpsPortEdit")->setText("465");
    edit("pop3sPortEdit")->setText("110");
    find<QCheckBox>("relayRequiresTlsBox")->setChecked(true);
    find<QCheckBox>("relayHostRequiresTlsBox")->setChecked(true);
    click("applyButton");
    EXPECT_NE(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(prompt.takeShown().size(), 1u) << "the POP3 port is taken";
    edit("pop3sPortEdit")->setText("995");
    click("applyButton");
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(service.tls, (MailTlsSettings{TlsMode::Require, 465, 995, true, true}));
}

} // namespace
} // namespace vantrel

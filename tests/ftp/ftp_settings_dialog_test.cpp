// The "FTP Settings" window on the offscreen platform: its controls carry
// the panel's fields both ways, found by their object names.
#include "shell/qt/ftp_settings_dialog.h"

#include "panel_test_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include <filesystem>
#include <memory>

namespace vantrel {
namespace {

using testing::FakeService;
using testing::RecordingPrompt;
using testing::ScriptedChooser;

class DialogTest : public testing::WorkingFolderTest {
protected:
    static void SetUpTestSuite()
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "ftp_dialog_tests";
        static char* argv[] = {name, nullptr};
        static QApplication app(argc, argv);
    }

    void SetUp() override
    {
        WorkingFolderTest::SetUp();
        std::filesystem::create_directory(folder_ / "root");
        root = (folder_ / "root").string();
        dialog = std::make_unique<FtpSettingsDialog>(service, prompt, chooser);
    }

    template <typename Widget>
    Widget* find(const char* name)
    {
        auto* widget = dialog->findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString caption() { return find<QGroupBox>("accountsGroup")->title(); }

    std::string root;
    FakeService service{5};
    RecordingPrompt prompt;
    ScriptedChooser chooser;
    std::unique_ptr<FtpSettingsDialog> dialog;
};

TEST_F(DialogTest, AccountControlsCarryTheFieldsBothWays)
{
    EXPECT_EQ(caption(), "FTP Accounts (0 of 0 --- 5 max)");
    EXPECT_EQ(find<QLineEdit>("passwordEdit")->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(find<QPushButton>("previousButton")->isEnabled());
    const char* const boxes[] = {"fileReadBox",   "fileWriteBox",    "fileModifyBox",
                                 "folderReadBox", "folderCreateBox", "folderModifyBox"};
    std::string ticked;
    for (const char* box : boxes)
        ticked += find<QCheckBox>(box)->isChecked() ? '1' : '0';
    EXPECT_EQ(ticked, "100100");

    find<QLineEdit>("userEdit")->setText(" Ann B");
    find<QLineEdit>("passwordEdit")->setText("pw");
    find<QLineEdit>("folderEdit")->setText(QString::fromStdString(root));
    find<QCheckBox>("fileReadBox")->setChecked(false);
    find<QCheckBox>("fileModifyBox")->setChecked(true);
    find<QCheckBox>("folderModifyBox")->setChecked(true);
    find<QPushButton>("addUpdateButton")->click();
    ASSERT_EQ(service.table.count(), 1);
    EXPECT_EQ(service.table.copyAt(0).rights,
              AccessRights::FileModify | AccessRights::FolderRead | AccessRights::FolderModify);
    EXPECT_EQ(find<QLineEdit>("userEdit")->text(), "annb");
    EXPECT_EQ(find<QLineEdit>("folderEdit")->text().toStdString(), root + "\\");
    EXPECT_EQ(caption(), "FTP Accounts (1 of 1 --- 5 max)");
    EXPECT_TRUE(find<QPushButton>("nextButton")->isEnabled());

    find<QPushButton>("deleteButton")->click();
    EXPECT_EQ(service.table.count(), 0);
    EXPECT_EQ(find<QLineEdit>("userEdit")->text(), "");
    EXPECT_FALSE(find<QPushButton>("previousButton")->isEnabled());
    EXPECT_TRUE(prompt.takeShown().empty());
}

TEST_F(DialogTest, SelectFillsTheFolderAndApplyCloses)
{
    EXPECT_EQ(find<QLineEdit>("welcomeEdit")->text(), "Welcome");
    EXPECT_EQ(find<QLineEdit>("portEdit")->text(), "21");
    find<QLineEdit>("folderEdit")->setText("/start");
    chooser.answer = "/picked";
    find<QPushButton>("selectButton")->click();
    EXPECT_EQ(chooser.startedAt, "/start");
    EXPECT_EQ(find<QLineEdit>("folderEdit")->text(), "/picked");

    find<QLineEdit>("welcomeEdit")->setText("Hello");
    find<QLineEdit>("portEdit")->setText("2121");
    find<QCheckBox>("autoActivateBox")->setChecked(true);
    find<QPushButton>("applyButton")->click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(service.table.welcome(), "Hello");
    EXPECT_EQ(service.port(), 2121);
    EXPECT_TRUE(service.autostart());
}

TEST_F(DialogTest, TheTlsControlsCarryTheFieldsBothWays)
{
    EXPECT_EQ(find<QComboBox>("tlsModeBox")->currentIndex(), 0);
    EXPECT_EQ(find<QLineEdit>("implicitPortEdit")->text(), "0");
    EXPECT_EQ(find<QCheckBox>("tlsAnyDataBox")->text(), FtpSettingsPanel::TlsAnyDataLabel);
    find<QComboBox>("tlsModeBox")->setCurrentIndex(2);
    find<QLineEdit>("implicitPortEdit")->setText("990");
    find<QCheckBox>("tlsAnyDataBox")->setChecked(true);
    find<QPushButton>("applyButton")->click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(service.tls, (FtpTlsSettings{TlsMode::Require, 990, true}));
}

} // namespace
} // namespace vantrel

// Widgets of the "FTP Settings" window and their binding to the panel.
#include "shell/qt/ftp_settings_dialog.h"

#include "foundation/login_throttle.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QIntValidator>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

namespace vantrel {

namespace {

// The entries of the TLS box, in the order of their modes.
constexpr TlsMode TlsModes[] = {TlsMode::Off, TlsMode::On, TlsMode::Require};
constexpr const char* TlsModeLabels[] = {"Off", "On (AUTH TLS offered)", "Require (no login without TLS)"};

// "File Read" -> "fileReadBox"
QString boxName(const char* label)
{
    QString name;
    bool upper = false;
    for (const QChar c : QString::fromLatin1(label)) {
        if (c == QLatin1Char(' ')) {
            upper = true;
            continue;
        }
        name.append(name.isEmpty() ? c.toLower() : (upper ? c.toUpper() : c));
        upper = false;
    }
    return name + QStringLiteral("Box");
}

} // namespace

FtpSettingsDialog::FtpSettingsDialog(FtpPanelTarget& target, MessagePrompt& prompt, FolderChooser& chooser,
                                     QWidget* parent)
    : PanelDialog("ftpSettingsDialog", FtpSettingsPanel::WindowTitle, parent), panel_(target, prompt, chooser)
{
    buildWidgets();
    panel_.show();
    writeFields();
}

void FtpSettingsDialog::buildWidgets()
{
    auto* layout = new QVBoxLayout(this);

    accountsGroup_ = makeGroup("", "accountsGroup", this);
    auto* accountLayout = new QGridLayout(accountsGroup_);

    userEdit_ = makeEdit("userEdit", accountsGroup_);
    passwordEdit_ = makeEdit("passwordEdit", accountsGroup_);
    passwordEdit_->setEchoMode(QLineEdit::Password);
    folderEdit_ = makeEdit("folderEdit", accountsGroup_);
    QPushButton* selectButton = makeButton("Select", "selectButton", accountsGroup_);

    addLabelledRow(accountLayout, 0, "User:", userEdit_, 2);
    addLabelledRow(accountLayout, 1, "Password:", passwordEdit_, 2);
    addLabelledRow(accountLayout, 2, "Folder:", folderEdit_);
    accountLayout->addWidget(selectButton, 2, 2);

    QGroupBox* rightsGroup = makeGroup(FtpSettingsPanel::RightsGroupTitle, "rightsGroup", accountsGroup_);
    auto* rightsLayout = new QGridLayout(rightsGroup);
    for (std::size_t i = 0; i < AccessRightLabels.size(); ++i) {
        auto* box = new QCheckBox(QString::fromLatin1(AccessRightLabels[i].label), rightsGroup);
        box->setObjectName(boxName(AccessRightLabels[i].label));
        rightsLayout->addWidget(box, static_cast<int>(i % 3), static_cast<int>(i / 3));
        rightBoxes_[i] = box;
    }
    accountLayout->addWidget(rightsGroup, 3, 0, 1, 3);

    const RecordButtons records = makeRecordButtons(accountsGroup_);
    previousButton_ = records.previous;
    nextButton_ = records.next;
    accountLayout->addLayout(records.row, 4, 0, 1, 3);
    layout->addWidget(accountsGroup_);

    auto* general = new QGridLayout;
    welcomeEdit_ = makeEdit("welcomeEdit", this);
    portEdit_ = makeEdit("portEdit", this);
    portEdit_->setValidator(new QIntValidator(0, 65535, portEdit_));
    perAddressCapEdit_ = makeEdit("perAddressCapEdit", this);
    perAddressCapEdit_->setValidator(new QIntValidator(0, FtpSettingsPanel::MaxPerAddressCap, perAddressCapEdit_));
    perAddressCapEdit_->setToolTip(QStringLiteral("0: no cap"));
    failedLoginLimitEdit_ = makeEdit("failedLoginLimitEdit", this);
    failedLoginLimitEdit_->setValidator(new QIntValidator(0, LoginThrottle::MaxLimit, failedLoginLimitEdit_));
    failedLoginLimitEdit_->setToolTip(QStringLiteral("0: no limit"));
    autoActivateBox_ = makeCheckBox("Auto Activate", "autoActivateBox", this);
    QPushButton* applyButton = makeButton("Apply &General Settings", "applyButton", this);
    addLabelledRow(general, 0, "Welcome Message:", welcomeEdit_, 3);
    addLabelledRow(general, 1, "FTP Port:", portEdit_);
    general->addWidget(autoActivateBox_, 1, 2);
    general->addWidget(applyButton, 1, 3);
    addLabelledRow(general, 2, "Connections Per Address:", perAddressCapEdit_);
    addLabelledRow(general, 3, "Failed Logins Per Minute:", failedLoginLimitEdit_);
    layout->addLayout(general);

    QGroupBox* tlsGroup = makeGroup("FTP Over TLS", "tlsGroup", this);
    auto* tlsLayout = new QGridLayout(tlsGroup);
    tlsModeBox_ = new QComboBox(tlsGroup);
    tlsModeBox_->setObjectName(QStringLiteral("tlsModeBox"));
    for (const char* label : TlsModeLabels)
        tlsModeBox_->addItem(QString::fromLatin1(label));
    implicitPortEdit_ = makeEdit("implicitPortEdit", tlsGroup);
    implicitPortEdit_->setValidator(new QIntValidator(0, 65535, implicitPortEdit_));
    implicitPortEdit_->setToolTip(QStringLiteral("0: none; 990 is usual"));
    tlsAnyDataBox_ = makeCheckBox(FtpSettingsPanel::TlsAnyDataLabel, "tlsAnyDataBox", tlsGroup);
    addLabelledRow(tlsLayout, 0, "TLS:", tlsModeBox_);
    addLabelledRow(tlsLayout, 1, "Implicit TLS Port:", implicitPortEdit_);
    tlsLayout->addWidget(tlsAnyDataBox_, 2, 0, 1, 2);
    layout->addWidget(tlsGroup);

    addSetupInfo(layout, FtpSettingsPanel::SetupInfoText, this);

    bindAction(records.addUpdate, [this] { panel_.addOrUpdate(); });
    bindAction(records.remove, [this] { panel_.deleteAccount(); });
    bindAction(previousButton_, [this] { panel_.previous(); });
    bindAction(nextButton_, [this] { panel_.next(); });
    bindAction(selectButton, [this] { panel_.selectFolder(); });
    bindApply(applyButton, [this] { return panel_.applyGeneralSettings(); });
}

void FtpSettingsDialog::readFields()
{
    FtpPanelFields& fields = panel_.fields();
    fields.user = toText(userEdit_->text());
    fields.password = toText(passwordEdit_->text());
    fields.folder = toText(folderEdit_->text());
    AccessRights rights = AccessRights::None;
    for (std::size_t i = 0; i < AccessRightLabels.size(); ++i) {
        if (rightBoxes_[i]->isChecked())
            rights |= AccessRightLabels[i].right;
    }
    fields.rights = rights;
    fields.welcome = toText(welcomeEdit_->text());
    fields.port = toText(portEdit_->text());
    fields.perAddressCap = toText(perAddressCapEdit_->text());
    fields.failedLoginLimit = toText(failedLoginLimitEdit_->text());
    fields.autoActivate = autoActivateBox_->isChecked();
    fields.tlsMode = TlsModes[std::max(0, tlsModeBox_->currentIndex())];
    fields.implicitPort = toText(implicitPortEdit_->text());
    fields.tlsAnyData = tlsAnyDataBox_->isChecked();
}

void FtpSettingsDialog::writeFields()
{
    const FtpPanelFields& fields = panel_.fields();
    accountsGroup_->setTitle(fromText(fields.caption));
    userEdit_->setText(fromText(fields.user));
    passwordEdit_->setText(fromText(fields.password));
    folderEdit_->setText(fromText(fields.folder));
    for (std::size_t i = 0; i < AccessRightLabels.size(); ++i)
        rightBoxes_[i]->setChecked(hasRights(fields.rights, AccessRightLabels[i].right));
    previousButton_->setEnabled(fields.arrowsEnabled);
    nextButton_->setEnabled(fields.arrowsEnabled);
    welcomeEdit_->setText(fromText(fields.welcome));
    portEdit_->setText(fromText(fields.port));
    perAddressCapEdit_->setText(fromText(fields.perAddressCap));
    failedLoginLimitEdit_->setText(fromText(fields.failedLoginLimit));
    autoActivateBox_->setChecked(fields.autoActivate);
    for (std::size_t i = 0; i < std::size(TlsModes); ++i) {
        if (TlsModes[i] == fields.tlsMode)
            tlsModeBox_->setCurrentIndex(static_cast<int>(i));
    }
    implicitPortEdit_->setText(fromText(fields.implicitPort));
    tlsAnyDataBox_->setChecked(fields.tlsAnyData);
}

} // namespace vantrel

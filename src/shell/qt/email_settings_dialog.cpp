// Widgets of the "Email Settings" window and their binding to the panel.
#include "shell/qt/email_settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>
#include <limits>

namespace vantrel {

namespace {

// Every text field takes as much as the panel reads of it.
constexpr int MaxFieldLength = 2047;

QLineEdit* makeTextEdit(const char* objectName, QWidget* parent)
{
    QLineEdit* edit = makeEdit(objectName, parent);
    edit->setMaxLength(MaxFieldLength);
    return edit;
}

// The entries of the TLS box, in the order of their modes.
constexpr TlsMode TlsModes[] = {TlsMode::Off, TlsMode::On, TlsMode::Require};
constexpr const char* TlsModeLabels[] = {"Off", "On (STARTTLS and STLS offered)", "Require TLS for POP3 logins"};

// Kilobyte fields take digits only; the panel caps what is too large.
QLineEdit* makeSizeEdit(const char* objectName, QWidget* parent)
{
    QLineEdit* edit = makeTextEdit(objectName, parent);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    return edit;
}

} // namespace

EmailSettingsDialog::EmailSettingsDialog(EmailPanelTarget& target, MessagePrompt& prompt, AttachmentInfoWindow& info,
                                         QWidget* parent)
    : PanelDialog("emailSettingsDialog", EmailSettingsPanel::WindowTitle, parent), panel_(target, prompt, info)
{
    buildWidgets();
    panel_.show();
    writeFields();
}

void EmailSettingsDialog::buildWidgets()
{
    auto* layout = new QVBoxLayout(this);
    buildAccounts(layout);
    buildGeneral(layout);
    buildTls(layout);
    addSetupInfo(layout, EmailSettingsPanel::SetupInfoText, this);

    bindAction(addUpdateButton_, [this] { panel_.addOrUpdate(); });
    bindAction(deleteButton_, [this] { panel_.deleteAccount(); });
    bindAction(previousButton_, [this] { panel_.previous(); });
    bindAction(nextButton_, [this] { panel_.next(); });
    bindAction(moreInfoButton_, [this] { panel_.moreInfo(); });
    bindApply(applyButton_, [this] { return panel_.applyGeneralSettings(); });
}

void EmailSettingsDialog::buildAccounts(QVBoxLayout* layout)
{
    accountsGroup_ = makeGroup("", "accountsGroup", this);
    auto* grid = new QGridLayout(accountsGroup_);
    userEdit_ = makeTextEdit("userEdit", accountsGroup_);
    addressEdit_ = makeTextEdit("addressEdit", accountsGroup_);
    passwordEdit_ = makeTextEdit("passwordEdit", accountsGroup_);
    passwordEdit_->setEchoMode(QLineEdit::Password);
    inboxStatusLabel_ = new QLabel(accountsGroup_);
    inboxStatusLabel_->setObjectName(QStringLiteral("inboxStatusLabel"));
    addLabelledRow(grid, 0, "Account/Login:", userEdit_);
    addLabelledRow(grid, 1, "Email Address:", addressEdit_);
    addLabelledRow(grid, 2, "Password:", passwordEdit_);
    addLabelledRow(grid, 3, "Inbox Status:", inboxStatusLabel_);

    const RecordButtons records = makeRecordButtons(accountsGroup_);
    addUpdateButton_ = records.addUpdate;
    deleteButton_ = records.remove;
    deleteButton_->setText(QStringLiteral("&Delete Account"));
    previousButton_ = records.previous;
    nextButton_ = records.next;
    grid->addLayout(records.row, 4, 0, 1, 2);
    layout->addWidget(accountsGroup_);
}

void EmailSettingsDialog::buildGeneral(QVBoxLayout* layout)
{
    QGroupBox* group = makeGroup(EmailSettingsPanel::GeneralGroupTitle, "generalGroup", this);
    auto* grid = new QGridLayout(group);
    localDomainEdit_ = makeTextEdit("localDomainEdit", group);
    popPortEdit_ = makeEdit("popPortEdit", group);
    popPortEdit_->setValidator(new QIntValidator(0, std::numeric_limits<std::uint16_t>::max(), popPortEdit_));
    maxEmailSizeEdit_ = makeSizeEdit("maxEmailSizeEdit", group);
    maxAccountSizeEdit_ = makeSizeEdit("maxAccountSizeEdit", group);
    catchAllEdit_ = makeTextEdit("catchAllEdit", group);
    relayHostEdit_ = makeTextEdit("relayHostEdit", group);
    relaySubnetEdit_ = makeTextEdit("relaySubnetEdit", group);
    bannedExtensionsEdit_ = makeTextEdit("bannedExtensionsEdit", group);
    smtpPerAddressCapEdit_ = makeSizeEdit("smtpPerAddressCapEdit", group);
    popPerAddressCapEdit_ = makeSizeEdit("popPerAddressCapEdit", group);
    popFailedLoginLimitEdit_ = makeSizeEdit("popFailedLoginLimitEdit", group);
    moreInfoButton_ = makeButton("", "moreInfoButton", group);
    autoActivateBox_ = makeCheckBox("Auto Activate", "autoActivateBox", group);
    applyButton_ = makeButton("Apply &General Settings", "applyButton", group);

    addLabelledRow(grid, 0, "Local Domain:", localDomainEdit_, 3);
    addLabelledRow(grid, 1, "POP3 Port:", popPortEdit_);
    addLabelledRow(grid, 2, "Max Email Size(Kb):", maxEmailSizeEdit_);
    addLabelledRow(grid, 3, "Max Account Size(Kb):", maxAccountSizeEdit_);
    // Beside the numbers above, each with its label.
    const struct {
        const char* label;
        QLineEdit* edit;
    } limits[] = {
        {"SMTP Connections Per Address:", smtpPerAddressCapEdit_},
        {"POP3 Connections Per Address:", popPerAddressCapEdit_},
        {"POP3 Failed Logins Per Minute:", popFailedLoginLimitEdit_},
    };
    for (int i = 0; i < 3; ++i) {
        auto* label = new QLabel(QString::fromLatin1(limits[i].label), group);
        label->setBuddy(limits[i].edit);
        grid->addWidget(label, i + 1, 2);
        grid->addWidget(limits[i].edit, i + 1, 3);
    }
    addLabelledRow(grid, 4, "Catch-All Account:", catchAllEdit_, 3);
    addLabelledRow(grid, 5, "SMTP Relay Host:", relayHostEdit_, 3);
    addLabelledRow(grid, 6, "Relay Subnet:", relaySubnetEdit_, 3);
    addLabelledRow(grid, 7, "Reject File Extensions:", bannedExtensionsEdit_, 2);
    grid->addWidget(moreInfoButton_, 7, 3);
    grid->addWidget(autoActivateBox_, 8, 1);
    grid->addWidget(applyButton_, 8, 3);
    layout->addWidget(group);
}

void EmailSettingsDialog::buildTls(QVBoxLayout* layout)
{
    QGroupBox* group = makeGroup(EmailSettingsPanel::TlsGroupTitle, "tlsGroup", this);
    auto* grid = new QGridLayout(group);
    tlsModeBox_ = new QComboBox(group);
    tlsModeBox_->setObjectName(QStringLiteral("tlsModeBox"));
    for (const char* label : TlsModeLabels)
        tlsModeBox_->addItem(QString::fromLatin1(label));
    smtpsPortEdit_ = makeEdit("smtpsPortEdit", group);
    smtpsPortEdit_->setValidator(new QIntValidator(0, std::numeric_limits<std::uint16_t>::max(), smtpsPortEdit_));
    smtpsPortEdit_->setToolTip(QStringLiteral("0: none; 465 is usual"));
    pop3sPortEdit_ = makeEdit("pop3sPortEdit", group);
    pop3sPortEdit_->setValidator(new QIntValidator(0, std::numeric_limits<std::uint16_t>::max(), pop3sPortEdit_));
    pop3sPortEdit_->setToolTip(QStringLiteral("0: none; 995 is usual"));
    relayRequiresTlsBox_ = makeCheckBox(EmailSettingsPanel::RelayRequiresTlsLabel, "relayRequiresTlsBox", group);
    addLabelledRow(grid, 0, "TLS:", tlsModeBox_);
    addLabelledRow(grid, 1, "SMTPS Port:", smtpsPortEdit_);
    addLabelledRow(grid, 2, "POP3S Port:", pop3sPortEdit_);
    relayHostRequiresTlsBox_ =
        makeCheckBox(EmailSettingsPanel::RelayHostRequiresTlsLabel, "relayHostRequiresTlsBox", group);
    grid->addWidget(relayRequiresTlsBox_, 3, 0, 1, 2);
    grid->addWidget(relayHostRequiresTlsBox_, 4, 0, 1, 2);
    layout->addWidget(group);
}

void EmailSettingsDialog::readFields()
{
    EmailPanelFields& fields = panel_.fields();
    fields.user = toText(userEdit_->text());
    fields.address = toText(addressEdit_->text());
    fields.password = toText(passwordEdit_->text());
    fields.localDomain = toText(localDomainEdit_->text());
    fields.popPort = toText(popPortEdit_->text());
    fields.maxEmailSizeKb = toText(maxEmailSizeEdit_->text());
    fields.maxAccountSizeKb = toText(maxAccountSizeEdit_->text());
    fields.catchAllUser = toText(catchAllEdit_->text());
    fields.relayHost = toText(relayHostEdit_->text());
    fields.relaySubnet = toText(relaySubnetEdit_->text());
    fields.bannedExtensions = toText(bannedExtensionsEdit_->text());
    fields.smtpPerAddressCap = toText(smtpPerAddressCapEdit_->text());
    fields.popPerAddressCap = toText(popPerAddressCapEdit_->text());
    fields.popFailedLoginLimit = toText(popFailedLoginLimitEdit_->text());
    fields.autoActivate = autoActivateBox_->isChecked();
    fields.tlsMode = TlsModes[std::max(0, tlsModeBox_->currentIndex())];
    fields.smtpsPort = toText(smtpsPortEdit_->text());
    fields.pop3sPort = toText(pop3sPortEdit_->text());
    fields.relayRequiresTls = relayRequiresTlsBox_->isChecked();
    fields.relayHostRequiresTls = relayHostRequiresTlsBox_->isChecked();
}

void EmailSettingsDialog::writeFields()
{
    const EmailPanelFields& fields = panel_.fields();
    accountsGroup_->setTitle(fromText(fields.caption));
    userEdit_->setText(fromText(fields.user));
    addressEdit_->setText(fromText(fields.address));
    passwordEdit_->setText(fromText(fields.password));
    inboxStatusLabel_->setText(fromText(fields.inboxStatus));
    previousButton_->setEnabled(fields.arrowsEnabled);
    nextButton_->setEnabled(fields.arrowsEnabled);
    localDomainEdit_->setText(fromText(fields.localDomain));
    popPortEdit_->setText(fromText(fields.popPort));
    maxEmailSizeEdit_->setText(fromText(fields.maxEmailSizeKb));
    maxAccountSizeEdit_->setText(fromText(fields.maxAccountSizeKb));
    catchAllEdit_->setText(fromText(fields.catchAllUser));
    relayHostEdit_->setText(fromText(fields.relayHost));
    relaySubnetEdit_->setText(fromText(fields.relaySubnet));
    bannedExtensionsEdit_->setText(fromText(fields.bannedExtensions));
    smtpPerAddressCapEdit_->setText(fromText(fields.smtpPerAddressCap));
    popPerAddressCapEdit_->setText(fromText(fields.popPerAddressCap));
    popFailedLoginLimitEdit_->setText(fromText(fields.popFailedLoginLimit));
    moreInfoButton_->setText(fromText(fields.moreInfoLabel));
    autoActivateBox_->setChecked(fields.autoActivate);
    for (std::size_t i = 0; i < std::size(TlsModes); ++i) {
        if (TlsModes[i] == fields.tlsMode)
            tlsModeBox_->setCurrentIndex(static_cast<int>(i));
    }
    smtpsPortEdit_->setText(fromText(fields.smtpsPort));
    pop3sPortEdit_->setText(fromText(fields.pop3sPort));
    relayRequiresTlsBox_->setChecked(fields.relayRequiresTls);
    relayHostRequiresTlsBox_->setChecked(fields.relayHostRequiresTls);
}

} // namespace vantrel

// Widgets of the "FTP Settings" window and their binding to the panel.
#include "shell/qt/ftp_settings_dialog.h"

#include "foundation/product.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantrel {

namespace {

QString fromText(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string toText(const QString& text)
{
    return text.toStdString();
}

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

QPushButton* makeButton(const char* text, const char* objectName, QWidget* parent)
{
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setAutoDefault(false);
    return button;
}

QLineEdit* makeEdit(const char* objectName, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(objectName));
    return edit;
}

} // namespace

FtpSettingsDialog::FtpSettingsDialog(FtpPanelTarget& target, MessagePrompt& prompt, FolderChooser& chooser,
                                     QWidget* parent)
    : QDialog(parent), panel_(target, prompt, chooser)
{
    setObjectName(QStringLiteral("ftpSettingsDialog"));
    setWindowTitle(QString::fromLatin1(FtpSettingsPanel::WindowTitle));
    setModal(true);
    buildWidgets();
    panel_.show();
    writeFields();
}

void FtpSettingsDialog::buildWidgets()
{
    auto* layout = new QVBoxLayout(this);

    accountsGroup_ = new QGroupBox(this);
    accountsGroup_->setObjectName(QStringLiteral("accountsGroup"));
    auto* accountLayout = new QGridLayout(accountsGroup_);

    userEdit_ = makeEdit("userEdit", accountsGroup_);
    passwordEdit_ = makeEdit("passwordEdit", accountsGroup_);
    passwordEdit_->setEchoMode(QLineEdit::Password);
    folderEdit_ = makeEdit("folderEdit", accountsGroup_);
    QPushButton* selectButton = makeButton("Select", "selectButton", accountsGroup_);

    accountLayout->addWidget(new QLabel(QStringLiteral("User:"), accountsGroup_), 0, 0);
    accountLayout->addWidget(userEdit_, 0, 1, 1, 2);
    accountLayout->addWidget(new QLabel(QStringLiteral("Password:"), accountsGroup_), 1, 0);
    accountLayout->addWidget(passwordEdit_, 1, 1, 1, 2);
    accountLayout->addWidget(new QLabel(QStringLiteral("Folder:"), accountsGroup_), 2, 0);
    accountLayout->addWidget(folderEdit_, 2, 1);
    accountLayout->addWidget(selectButton, 2, 2);

    auto* rightsGroup = new QGroupBox(QString::fromLatin1(FtpSettingsPanel::RightsGroupTitle), accountsGroup_);
    rightsGroup->setObjectName(QStringLiteral("rightsGroup"));
    auto* rightsLayout = new QGridLayout(rightsGroup);
    for (std::size_t i = 0; i < AccessRightLabels.size(); ++i) {
        auto* box = new QCheckBox(QString::fromLatin1(AccessRightLabels[i].label), rightsGroup);
        box->setObjectName(boxName(AccessRightLabels[i].label));
        rightsLayout->addWidget(box, static_cast<int>(i % 3), static_cast<int>(i / 3));
        rightBoxes_[i] = box;
    }
    accountLayout->addWidget(rightsGroup, 3, 0, 1, 3);

    auto* actions = new QHBoxLayout;
    QPushButton* addButton = makeButton("&Add/Update", "addUpdateButton", accountsGroup_);
    QPushButton* deleteButton = makeButton("&Delete", "deleteButton", accountsGroup_);
    previousButton_ = makeButton("<-", "previousButton", accountsGroup_);
    nextButton_ = makeButton("->", "nextButton", accountsGroup_);
    actions->addWidget(addButton);
    actions->addWidget(deleteButton);
    actions->addStretch();
    actions->addWidget(previousButton_);
    actions->addWidget(new QLabel(QStringLiteral("Search"), accountsGroup_));
    actions->addWidget(nextButton_);
    accountLayout->addLayout(actions, 4, 0, 1, 3);
    layout->addWidget(accountsGroup_);

    auto* general = new QGridLayout;
    welcomeEdit_ = makeEdit("welcomeEdit", this);
    portEdit_ = makeEdit("portEdit", this);
    portEdit_->setValidator(new QIntValidator(0, 65535, portEdit_));
    autoActivateBox_ = new QCheckBox(QStringLiteral("Auto Activate"), this);
    autoActivateBox_->setObjectName(QStringLiteral("autoActivateBox"));
    QPushButton* applyButton = makeButton("Apply &General Settings", "applyButton", this);
    general->addWidget(new QLabel(QStringLiteral("Welcome Message:"), this), 0, 0);
    general->addWidget(welcomeEdit_, 0, 1, 1, 3);
    general->addWidget(new QLabel(QStringLiteral("FTP Port:"), this), 1, 0);
    general->addWidget(portEdit_, 1, 1);
    general->addWidget(autoActivateBox_, 1, 2);
    general->addWidget(applyButton, 1, 3);
    layout->addLayout(general);

    const QString page = QString::fromLatin1(MakerWebPage);
    auto* info = new QLabel(this);
    info->setObjectName(QStringLiteral("setupInfoLabel"));
    info->setText(QStringLiteral("%1<a href=\"%2\">%2</a>")
                      .arg(QString::fromLatin1(FtpSettingsPanel::SetupInfoText).toHtmlEscaped(), page.toHtmlEscaped()));
    info->setOpenExternalLinks(true);
    layout->addWidget(info);

    connect(addButton, &QPushButton::clicked, this, [this] { run([this] { panel_.addOrUpdate(); }); });
    connect(deleteButton, &QPushButton::clicked, this, [this] { run([this] { panel_.deleteAccount(); }); });
    connect(previousButton_, &QPushButton::clicked, this, [this] { run([this] { panel_.previous(); }); });
    connect(nextButton_, &QPushButton::clicked, this, [this] { run([this] { panel_.next(); }); });
    connect(selectButton, &QPushButton::clicked, this, [this] { run([this] { panel_.selectFolder(); }); });
    connect(applyButton, &QPushButton::clicked, this, [this] {
        bool close = false;
        run([this, &close] { close = panel_.applyGeneralSettings(); });
        if (close)
            accept();
    });
}

template <typename Action>
void FtpSettingsDialog::run(Action action)
{
    readFields();
    action();
    writeFields();
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
    fields.autoActivate = autoActivateBox_->isChecked();
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
    autoActivateBox_->setChecked(fields.autoActivate);
}

} // namespace vantrel

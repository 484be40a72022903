// Widgets of the "HTTP Settings" window and their binding to the panel.
#include "shell/qt/http_settings_dialog.h"

#include "foundation/product.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <limits>

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

QLabel* makeLabel(const char* text, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setBuddy(buddy);
    return label;
}

} // namespace

HttpSettingsDialog::HttpSettingsDialog(HttpService& service, MessagePrompt& prompt,
                                       FolderChooser& chooser, QWidget* parent)
    : QDialog(parent), target_(service), panel_(target_, prompt, chooser)
{
    setObjectName(QStringLiteral("httpSettingsDialog"));
    setWindowTitle(QString::fromLatin1(HttpSettingsPanel::WindowTitle));
    setModal(true);
    buildWidgets();
    panel_.show();
    writeFields();
}

void HttpSettingsDialog::buildWidgets()
{
    auto* layout = new QVBoxLayout(this);

    mapsGroup_ = new QGroupBox(this);
    mapsGroup_->setObjectName(QStringLiteral("domainMapsGroup"));
    auto* maps = new QGridLayout(mapsGroup_);
    domainEdit_ = makeEdit("domainEdit", mapsGroup_);
    folderEdit_ = makeEdit("folderEdit", mapsGroup_);
    QPushButton* selectButton = makeButton("Select", "selectFolderButton", mapsGroup_);
    maps->addWidget(makeLabel("Domain:", domainEdit_, mapsGroup_), 0, 0);
    maps->addWidget(domainEdit_, 0, 1, 1, 2);
    maps->addWidget(makeLabel("Folder:", folderEdit_, mapsGroup_), 1, 0);
    maps->addWidget(folderEdit_, 1, 1);
    maps->addWidget(selectButton, 1, 2);

    auto* actions = new QHBoxLayout;
    QPushButton* addButton = makeButton("&Add/Update", "addUpdateButton", mapsGroup_);
    QPushButton* deleteButton = makeButton("&Delete", "deleteButton", mapsGroup_);
    previousButton_ = makeButton("<-", "previousButton", mapsGroup_);
    nextButton_ = makeButton("->", "nextButton", mapsGroup_);
    actions->addWidget(addButton);
    actions->addWidget(deleteButton);
    actions->addStretch();
    actions->addWidget(previousButton_);
    actions->addWidget(new QLabel(QStringLiteral("Search"), mapsGroup_));
    actions->addWidget(nextButton_);
    maps->addLayout(actions, 2, 0, 1, 3);
    layout->addWidget(mapsGroup_);

    auto* generalGroup = new QGroupBox(QString::fromLatin1(HttpSettingsPanel::GeneralGroupTitle), this);
    generalGroup->setObjectName(QStringLiteral("generalGroup"));
    auto* general = new QGridLayout(generalGroup);
    defaultFolderEdit_ = makeEdit("defaultFolderEdit", generalGroup);
    QPushButton* selectDefaultButton = makeButton("Select", "selectDefaultFolderButton", generalGroup);
    adminPasswordEdit_ = makeEdit("adminPasswordEdit", generalGroup);
    adminPasswordEdit_->setMaxLength(static_cast<int>(HttpSettingsPanel::MaxPasswordField));
    adminUrlEdit_ = makeEdit("adminUrlEdit", generalGroup);
    adminUrlEdit_->setReadOnly(true);
    defaultPageEdit_ = makeEdit("defaultPageEdit", generalGroup);
    folderViewButton_ = makeButton("", "folderViewButton", generalGroup);
    portBox_ = new QSpinBox(generalGroup);
    portBox_->setObjectName(QStringLiteral("portBox"));
    portBox_->setRange(0, std::numeric_limits<std::uint16_t>::max());
    autoActivateBox_ = new QCheckBox(QStringLiteral("Auto Activate"), generalGroup);
    autoActivateBox_->setObjectName(QStringLiteral("autoActivateBox"));
    QPushButton* applyButton = makeButton("Apply &General Settings", "applyButton", generalGroup);

    general->addWidget(makeLabel("Default Folder:", defaultFolderEdit_, generalGroup), 0, 0);
    general->addWidget(defaultFolderEdit_, 0, 1, 1, 2);
    general->addWidget(selectDefaultButton, 0, 3);
    general->addWidget(makeLabel("Admin Password:", adminPasswordEdit_, generalGroup), 1, 0);
    general->addWidget(adminPasswordEdit_, 1, 1, 1, 3);
    general->addWidget(makeLabel("Admin Url:", adminUrlEdit_, generalGroup), 2, 0);
    general->addWidget(adminUrlEdit_, 2, 1, 1, 3);
    general->addWidget(makeLabel("Default Page:", defaultPageEdit_, generalGroup), 3, 0);
    general->addWidget(defaultPageEdit_, 3, 1, 1, 3);
    general->addWidget(makeLabel("Folder View:", folderViewButton_, generalGroup), 4, 0);
    general->addWidget(folderViewButton_, 4, 1);
    general->addWidget(makeLabel("Port:", portBox_, generalGroup), 5, 0);
    general->addWidget(portBox_, 5, 1);
    general->addWidget(autoActivateBox_, 5, 2);
    general->addWidget(applyButton, 5, 3);
    layout->addWidget(generalGroup);

    const QString page = QString::fromLatin1(MakerWebPage);
    auto* info = new QLabel(this);
    info->setObjectName(QStringLiteral("setupInfoLabel"));
    info->setText(QStringLiteral("%1<a href=\"%2\">%2</a>")
                      .arg(QString::fromLatin1(HttpSettingsPanel::SetupInfoText).toHtmlEscaped(),
                           page.toHtmlEscaped()));
    info->setOpenExternalLinks(true);
    layout->addWidget(info);

    connect(addButton, &QPushButton::clicked, this, [this] { run([this] { panel_.addOrUpdate(); }); });
    connect(deleteButton, &QPushButton::clicked, this, [this] { run([this] { panel_.deleteMap(); }); });
    connect(previousButton_, &QPushButton::clicked, this, [this] { run([this] { panel_.previous(); }); });
    connect(nextButton_, &QPushButton::clicked, this, [this] { run([this] { panel_.next(); }); });
    connect(selectButton, &QPushButton::clicked, this, [this] { run([this] { panel_.selectFolder(); }); });
    connect(selectDefaultButton, &QPushButton::clicked, this,
            [this] { run([this] { panel_.selectDefaultFolder(); }); });
    connect(folderViewButton_, &QPushButton::clicked, this,
            [this] { run([this] { panel_.toggleFolderView(); }); });
    connect(applyButton, &QPushButton::clicked, this, [this] {
        bool close = false;
        run([this, &close] { close = panel_.applyGeneralSettings(); });
        if (close)
            accept();
    });
}

template <typename Action>
void HttpSettingsDialog::run(Action action)
{
    readFields();
    action();
    writeFields();
}

void HttpSettingsDialog::readFields()
{
    HttpPanelFields& fields = panel_.fields();
    fields.domain = toText(domainEdit_->text());
    fields.folder = toText(folderEdit_->text());
    fields.defaultFolder = toText(defaultFolderEdit_->text());
    fields.adminPassword = toText(adminPasswordEdit_->text());
    fields.defaultPage = toText(defaultPageEdit_->text());
    fields.port = static_cast<std::uint16_t>(portBox_->value());
    fields.autoActivate = autoActivateBox_->isChecked();
}

void HttpSettingsDialog::writeFields()
{
    const HttpPanelFields& fields = panel_.fields();
    mapsGroup_->setTitle(fromText(fields.caption));
    domainEdit_->setText(fromText(fields.domain));
    folderEdit_->setText(fromText(fields.folder));
    previousButton_->setEnabled(fields.arrowsEnabled);
    nextButton_->setEnabled(fields.arrowsEnabled);
    defaultFolderEdit_->setText(fromText(fields.defaultFolder));
    adminPasswordEdit_->setText(fromText(fields.adminPassword));
    adminUrlEdit_->setText(fromText(fields.adminUrl));
    defaultPageEdit_->setText(fromText(fields.defaultPage));
    folderViewButton_->setText(fromText(fields.folderView));
    portBox_->setValue(fields.port);
    autoActivateBox_->setChecked(fields.autoActivate);
}

} // namespace vantrel

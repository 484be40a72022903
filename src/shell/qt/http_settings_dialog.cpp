// Widgets of the "HTTP Settings" window and their binding to the panel.
#include "shell/qt/http_settings_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <limits>

namespace vantrel {

HttpSettingsDialog::HttpSettingsDialog(HttpPanelTarget& target, MessagePrompt& prompt, FolderChooser& chooser,
                                       QWidget* parent)
    : PanelDialog("httpSettingsDialog", HttpSettingsPanel::WindowTitle, parent), panel_(target, prompt, chooser)
{
    buildWidgets();
    panel_.show();
    writeFields();
}

void HttpSettingsDialog::buildWidgets()
{
    auto* layout = new QVBoxLayout(this);

    mapsGroup_ = makeGroup("", "domainMapsGroup", this);
    auto* maps = new QGridLayout(mapsGroup_);
    domainEdit_ = makeEdit("domainEdit", mapsGroup_);
    folderEdit_ = makeEdit("folderEdit", mapsGroup_);
    QPushButton* selectButton = makeButton("Select", "selectFolderButton", mapsGroup_);
    addLabelledRow(maps, 0, "Domain:", domainEdit_, 2);
    addLabelledRow(maps, 1, "Folder:", folderEdit_);
    maps->addWidget(selectButton, 1, 2);

    const RecordButtons records = makeRecordButtons(mapsGroup_);
    previousButton_ = records.previous;
    nextButton_ = records.next;
    maps->addLayout(records.row, 2, 0, 1, 3);
    layout->addWidget(mapsGroup_);

    QGroupBox* generalGroup = makeGroup(HttpSettingsPanel::GeneralGroupTitle, "generalGroup", this);
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
    perAddressCapBox_ = new QSpinBox(generalGroup);
    perAddressCapBox_->setObjectName(QStringLiteral("perAddressCapBox"));
    perAddressCapBox_->setRange(0, HttpSettingsPanel::MaxPerAddressCap);
    perAddressCapBox_->setSpecialValueText(QStringLiteral("No cap"));
    autoActivateBox_ = makeCheckBox("Auto Activate", "autoActivateBox", generalGroup);
    httpsPortBox_ = new QSpinBox(generalGroup);
    httpsPortBox_->setObjectName(QStringLiteral("httpsPortBox"));
    httpsPortBox_->setRange(0, std::numeric_limits<std::uint16_t>::max());
    httpsPortBox_->setSpecialValueText(QStringLiteral("Off"));
    httpsRedirectBox_ = makeCheckBox("Redirect plain HTTP to HTTPS", "httpsRedirectBox", generalGroup);
    logsRequireTlsBox_ = makeCheckBox("Require TLS for logins", "logsRequireTlsBox", generalGroup);
    QPushButton* applyButton = makeButton("Apply &General Settings", "applyButton", generalGroup);

    addLabelledRow(general, 0, "Default Folder:", defaultFolderEdit_, 2);
    general->addWidget(selectDefaultButton, 0, 3);
    addLabelledRow(general, 1, "Admin Password:", adminPasswordEdit_, 3);
    addLabelledRow(general, 2, "Admin Url:", adminUrlEdit_, 3);
    addLabelledRow(general, 3, "Default Page:", defaultPageEdit_, 3);
    addLabelledRow(general, 4, "Folder View:", folderViewButton_);
    addLabelledRow(general, 5, "Port:", portBox_);
    general->addWidget(autoActivateBox_, 5, 2);
    general->addWidget(applyButton, 5, 3);
    addLabelledRow(general, 6, "Connections Per Address:", perAddressCapBox_);
    addLabelledRow(general, 7, "HTTPS Port:", httpsPortBox_);
    general->addWidget(httpsRedirectBox_, 7, 2);
    general->addWidget(logsRequireTlsBox_, 7, 3);
    layout->addWidget(generalGroup);

    addSetupInfo(layout, HttpSettingsPanel::SetupInfoText, this);

    bindAction(records.addUpdate, [this] { panel_.addOrUpdate(); });
    bindAction(records.remove, [this] { panel_.deleteMap(); });
    bindAction(previousButton_, [this] { panel_.previous(); });
    bindAction(nextButton_, [this] { panel_.next(); });
    bindAction(selectButton, [this] { panel_.selectFolder(); });
    bindAction(selectDefaultButton, [this] { panel_.selectDefaultFolder(); });
    bindAction(folderViewButton_, [this] { panel_.toggleFolderView(); });
    bindApply(applyButton, [this] { return panel_.applyGeneralSettings(); });
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
    fields.perAddressCap = perAddressCapBox_->value();
    fields.autoActivate = autoActivateBox_->isChecked();
    fields.httpsPort = static_cast<std::uint16_t>(httpsPortBox_->value());
    fields.httpsRedirect = httpsRedirectBox_->isChecked();
    fields.logsRequireTls = logsRequireTlsBox_->isChecked();
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
    perAddressCapBox_->setValue(fields.perAddressCap);
    autoActivateBox_->setChecked(fields.autoActivate);
    httpsPortBox_->setValue(fields.httpsPort);
    httpsRedirectBox_->setChecked(fields.httpsRedirect);
    logsRequireTlsBox_->setChecked(fields.logsRequireTls);
}

} // namespace vantrel

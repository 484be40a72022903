// The "Email Settings" window: widgets bound to EmailSettingsPanel, which
// holds every rule. Each button copies the widgets into the panel's fields,
// runs the panel's action and copies the fields back.
#pragma once

#include "email/email_settings_panel.h"
#include "shell/qt/dialog_layout.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vantrel {

class MessagePrompt;

class EmailSettingsDialog final : public PanelDialog {
public:
    EmailSettingsDialog(EmailPanelTarget& target, MessagePrompt& prompt, AttachmentInfoWindow& info,
                        QWidget* parent = nullptr);

    EmailSettingsPanel& panel() { return panel_; }

private:
    void buildWidgets();
    void buildAccounts(QVBoxLayout* layout);
    void buildGeneral(QVBoxLayout* layout);
    void buildTls(QVBoxLayout* layout);
    void readFields() override;
    void writeFields() override;

    EmailSettingsPanel panel_;
    QGroupBox* accountsGroup_ = nullptr;
    QLineEdit* userEdit_ = nullptr;
    QLineEdit* addressEdit_ = nullptr;
    QLineEdit* passwordEdit_ = nullptr;
    QLabel* inboxStatusLabel_ = nullptr;
    QPushButton* addUpdateButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QPushButton* previousButton_ = nullptr;
    QPushButton* nextButton_ = nullptr;
    QLineEdit* localDomainEdit_ = nullptr;
    QLineEdit* popPortEdit_ = nullptr;
    QLineEdit* maxEmailSizeEdit_ = nullptr;
    QLineEdit* maxAccountSizeEdit_ = nullptr;
    QLineEdit* catchAllEdit_ = nullptr;
    QLineEdit* relayHostEdit_ = nullptr;
    QLineEdit* relaySubnetEdit_ = nullptr;
    QLineEdit* bannedExtensionsEdit_ = nullptr;
    QLineEdit* smtpPerAddressCapEdit_ = nullptr;
    QLineEdit* popPerAddressCapEdit_ = nullptr;
    QLineEdit* popFailedLoginLimitEdit_ = nullptr;
    QPushButton* moreInfoButton_ = nullptr;
    QCheckBox* autoActivateBox_ = nullptr;
    QPushButton* applyButton_ = nullptr;
    QComboBox* tlsModeBox_ = nullptr;
    QLineEdit* smtpsPortEdit_ = nullptr;
    QLineEdit* pop3sPortEdit_ = nullptr;
    QCheckBox* relayRequiresTlsBox_ = nullptr;
    QCheckBox* relayHostRequiresTlsBox_ = nullptr;
};

} // namespace vantrel

// The "FTP Settings" window: widgets bound to FtpSettingsPanel, which holds
// every rule. Each button copies the widgets into the panel's fields, runs
// the panel's action and copies the fields back.
#pragma once

#include "ftp/ftp_settings_panel.h"
#include "shell/qt/dialog_layout.h"

#include <array>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace vantrel {

class FolderChooser;
class MessagePrompt;

class FtpSettingsDialog final : public PanelDialog {
public:
    FtpSettingsDialog(FtpPanelTarget& target, MessagePrompt& prompt, FolderChooser& chooser, QWidget* parent = nullptr);

    FtpSettingsPanel& panel() { return panel_; }

private:
    void buildWidgets();
    void readFields() override;
    void writeFields() override;

    FtpSettingsPanel panel_;
    QGroupBox* accountsGroup_ = nullptr;
    QLineEdit* userEdit_ = nullptr;
    QLineEdit* passwordEdit_ = nullptr;
    QLineEdit* folderEdit_ = nullptr;
    std::array<QCheckBox*, AccessRightLabels.size()> rightBoxes_{};
    QPushButton* previousButton_ = nullptr;
    QPushButton* nextButton_ = nullptr;
    QLineEdit* welcomeEdit_ = nullptr;
    QLineEdit* portEdit_ = nullptr;
    QLineEdit* perAddressCapEdit_ = nullptr;
    QLineEdit* failedLoginLimitEdit_ = nullptr;
    QCheckBox* autoActivateBox_ = nullptr;
    QComboBox* tlsModeBox_ = nullptr;
    QLineEdit* implicitPortEdit_ = nullptr;
    QCheckBox* tlsAnyDataBox_ = nullptr;
};

} // namespace vantrel

// The "HTTP Settings" window: widgets bound to HttpSettingsPanel, which
// holds every rule. Each button copies the widgets into the panel's fields,
// runs the panel's action and copies the fields back.
#pragma once

#include "http/http_settings_panel.h"
#include "shell/qt/dialog_layout.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace vantrel {

class FolderChooser;
class MessagePrompt;

class HttpSettingsDialog final : public PanelDialog {
public:
    HttpSettingsDialog(HttpPanelTarget& target, MessagePrompt& prompt, FolderChooser& chooser,
                       QWidget* parent = nullptr);

    HttpSettingsPanel& panel() { return panel_; }

private:
    void buildWidgets();
    void readFields() override;
    void writeFields() override;

    HttpSettingsPanel panel_;
    QGroupBox* mapsGroup_ = nullptr;
    QLineEdit* domainEdit_ = nullptr;
    QLineEdit* folderEdit_ = nullptr;
    QPushButton* previousButton_ = nullptr;
    QPushButton* nextButton_ = nullptr;
    QLineEdit* defaultFolderEdit_ = nullptr;
    QLineEdit* adminPasswordEdit_ = nullptr;
    QLineEdit* adminUrlEdit_ = nullptr;
    QLineEdit* defaultPageEdit_ = nullptr;
    QPushButton* folderViewButton_ = nullptr;
    QSpinBox* portBox_ = nullptr;
    QSpinBox* perAddressCapBox_ = nullptr;
    QCheckBox* autoActivateBox_ = nullptr;
    QSpinBox* httpsPortBox_ = nullptr;
    QCheckBox* httpsRedirectBox_ = nullptr;
    QCheckBox* logsRequireTlsBox_ = nullptr;
};

} // namespace vantrel

// The "TLS Certificate" window: widgets bound to TlsCertificatePanel, which
// holds every rule. Apply loads the named certificate and closes the window
// once it is in use; a refused one leaves the window open.
#pragma once

#include "foundation/tls_certificate_panel.h"
#include "shell/qt/dialog_layout.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vantrel {

class TlsCertificateDialog final : public PanelDialog {
public:
    TlsCertificateDialog(TlsCertificate& certificate, MessagePrompt& prompt, QWidget* parent = nullptr);

    TlsCertificatePanel& panel() { return panel_; }

private:
    void buildWidgets();
    void readFields() override;
    void writeFields() override;
    void browse(QLineEdit* edit, const char* caption);
    void enableFiles();

    TlsCertificatePanel panel_;
    QLineEdit* certificateEdit_ = nullptr;
    QLineEdit* keyEdit_ = nullptr;
    QPushButton* certificateBrowse_ = nullptr;
    QPushButton* keyBrowse_ = nullptr;
    QCheckBox* selfSignedBox_ = nullptr;
    QLabel* fingerprintLabel_ = nullptr;
};

} // namespace vantrel

// Widgets of the "TLS Certificate" window and their binding to the panel.
// The fingerprint is selectable, so that it can be copied into a client
// that pins it.
#include "shell/qt/tls_certificate_dialog.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantrel {

namespace {

constexpr char TextNoFingerprint[] = "(none yet)";
constexpr char PemFilter[] = "PEM files (*.pem *.crt *.key);;All files (*)";

} // namespace

TlsCertificateDialog::TlsCertificateDialog(TlsCertificate& certificate, MessagePrompt& prompt, QWidget* parent)
    : PanelDialog("tlsCertificateDialog", TlsCertificatePanel::WindowTitle, parent), panel_(certificate, prompt)
{
    buildWidgets();
    panel_.show();
    writeFields();
}

void TlsCertificateDialog::buildWidgets()
{
    auto* layout = new QVBoxLayout(this);
    selfSignedBox_ = makeCheckBox("Use a &self-signed certificate", "selfSignedBox", this);
    layout->addWidget(selfSignedBox_);

    auto* grid = new QGridLayout;
    certificateEdit_ = makeEdit("certificateEdit", this);
    keyEdit_ = makeEdit("keyEdit", this);
    certificateBrowse_ = makeButton("Browse", "certificateBrowseButton", this);
    keyBrowse_ = makeButton("Browse", "keyBrowseButton", this);
    certificateEdit_->setMinimumWidth(certificateEdit_->fontMetrics().averageCharWidth() * 48);
    addLabelledRow(grid, 0, "&Certificate file:", certificateEdit_);
    grid->addWidget(certificateBrowse_, 0, 2);
    addLabelledRow(grid, 1, "&Key file:", keyEdit_);
    grid->addWidget(keyBrowse_, 1, 2);
    fingerprintLabel_ = new QLabel(this);
    fingerprintLabel_->setObjectName(QStringLiteral("fingerprintLabel"));
    fingerprintLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    addLabelledRow(grid, 2, "SHA-256 fingerprint:", fingerprintLabel_, 2);
    layout->addLayout(grid);

    auto* buttons = new QHBoxLayout;
    QPushButton* applyButton = makeButton("&Apply", "applyButton", this);
    QPushButton* closeButton = makeButton("Close", "closeButton", this);
    buttons->addStretch();
    buttons->addWidget(applyButton);
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);

    connect(selfSignedBox_, &QCheckBox::toggled, this, [this] { enableFiles(); });
    connect(certificateBrowse_, &QPushButton::clicked, this,
            [this] { browse(certificateEdit_, "Certificate chain (PEM)"); });
    connect(keyBrowse_, &QPushButton::clicked, this, [this] { browse(keyEdit_, "Private key (PEM)"); });
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    bindApply(applyButton, [this] { return panel_.apply(); });
}

void TlsCertificateDialog::browse(QLineEdit* edit, const char* caption)
{
    const QString chosen =
        QFileDialog::getOpenFileName(this, QString::fromLatin1(caption), edit->text(), QString::fromLatin1(PemFilter));
    if (!chosen.isEmpty())
        edit->setText(chosen);
}

void TlsCertificateDialog::enableFiles()
{
    const bool files = !selfSignedBox_->isChecked();
    for (QWidget* widget : {static_cast<QWidget*>(certificateEdit_), static_cast<QWidget*>(keyEdit_),
                            static_cast<QWidget*>(certificateBrowse_), static_cast<QWidget*>(keyBrowse_)})
        widget->setEnabled(files);
}

void TlsCertificateDialog::readFields()
{
    TlsPanelFields& fields = panel_.fields();
    fields.certificateFile = toText(certificateEdit_->text());
    fields.keyFile = toText(keyEdit_->text());
    fields.selfSigned = selfSignedBox_->isChecked();
}

void TlsCertificateDialog::writeFields()
{
    const TlsPanelFields& fields = panel_.fields();
    certificateEdit_->setText(fromText(fields.certificateFile));
    keyEdit_->setText(fromText(fields.keyFile));
    selfSignedBox_->setChecked(fields.selfSigned);
    fingerprintLabel_->setText(fields.fingerprint.empty() ? QString::fromLatin1(TextNoFingerprint)
                                                          : fromText(fields.fingerprint));
    enableFiles();
}

} // namespace vantrel

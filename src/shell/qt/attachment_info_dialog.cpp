// Widgets of the "Dangerous Email Attachments" window.
#include "shell/qt/attachment_info_dialog.h"

#include "shell/qt/dialog_layout.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantrel {

namespace {

QLabel* makeText(const char* text, const char* objectName, QWidget* parent)
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setObjectName(QString::fromLatin1(objectName));
    label->setWordWrap(true);
    return label;
}

} // namespace

AttachmentInfoDialog::AttachmentInfoDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("attachmentInfoDialog"));
    setWindowTitle(QString::fromLatin1(AttachmentInfo::Title));
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(makeText(AttachmentInfo::Warning, "warningLabel", this));
    layout->addWidget(makeText(AttachmentInfo::Advice, "adviceLabel", this));

    auto* list = new QPlainTextEdit(fromText(AttachmentInfo::listText()), this);
    list->setObjectName(QStringLiteral("extensionsList"));
    list->setReadOnly(true);
    layout->addWidget(list);

    auto* buttons = new QHBoxLayout;
    QPushButton* ok = makeButton("OK", "okButton", this);
    ok->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(ok);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void QtAttachmentInfoWindow::open()
{
    AttachmentInfoDialog dialog(parent_);
    dialog.exec();
}

} // namespace vantrel

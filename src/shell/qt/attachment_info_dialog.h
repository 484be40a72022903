// AttachmentInfoDialog: the modal "Dangerous Email Attachments" window that
// the email settings window opens from More Info, with the recommended list
// of extensions to block; and the panel's seam that opens it.
#pragma once

#include "email/email_settings_panel.h"

#include <QDialog>

namespace vantrel {

class AttachmentInfoDialog final : public QDialog {
public:
    explicit AttachmentInfoDialog(QWidget* parent = nullptr);
};

// Opens the window and waits until the operator has closed it.
class QtAttachmentInfoWindow final : public AttachmentInfoWindow {
public:
    explicit QtAttachmentInfoWindow(QWidget* parent) : parent_(parent) {}
    void open() override;

private:
    QWidget* parent_;
};

} // namespace vantrel

// Which settings window belongs to which service. Each window edits the
// live service object; the main window saves the service's settings when
// the window closes.
#include "shell/qt/settings_windows.h"

#include "email/email_service.h"
#include "email/email_settings_panel.h"
#include "ftp/ftp_service.h"
#include "ftp/ftp_settings_panel.h"
#include "http/http_service.h"
#include "shell/qt/attachment_info_dialog.h"
#include "shell/qt/email_settings_dialog.h"
#include "shell/qt/folder_select_dialog.h"
#include "shell/qt/ftp_settings_dialog.h"
#include "shell/qt/http_settings_dialog.h"
#include "shell/qt/qt_message_prompt.h"
#include "shell/qt/tls_certificate_dialog.h"

namespace vantrel {

bool openSettingsWindow(ServiceKind kind, const LiveServices& services, QWidget* parent)
{
    QtMessagePrompt prompt(parent);
    FolderSelectDialog chooser(parent);
    switch (kind) {
    case ServiceKind::Http:
        if (services.http == nullptr)
            return false;
        HttpSettingsDialog(*services.http, prompt, chooser, parent).exec();
        return true;
    case ServiceKind::Ftp:
        if (services.ftp == nullptr)
            return false;
        FtpSettingsDialog(*services.ftp, prompt, chooser, parent).exec();
        return true;
    case ServiceKind::Email: {
        if (services.email == nullptr)
            return false;
        QtAttachmentInfoWindow info(parent);
        EmailSettingsDialog(*services.email, prompt, info, parent).exec();
        return true;
    }
    }
    return false;
}

bool openCertificateWindow(const LiveServices& services, QWidget* parent)
{
    if (services.certificate == nullptr)
        return false;
    QtMessagePrompt prompt(parent);
    TlsCertificateDialog(*services.certificate, prompt, parent).exec();
    return true;
}

} // namespace vantrel

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

namespace vantrel {

bool openSettingsWindow(ServiceKind kind, ServiceControl& service, QWidget* parent) {
    QtMessagePrompt prompt(parent);
    FolderSelectDialog chooser(parent);
    switch (kind) {
    case ServiceKind::Http: {
        HttpSettingsDialog dialog(static_cast<HttpService&>(service), prompt, chooser, parent);
        dialog.exec();
        return true;
    }
    case ServiceKind::Ftp: {
        FtpPanelTargetOf<FtpService> target(static_cast<FtpService&>(service));
        FtpSettingsDialog dialog(target, prompt, chooser, parent);
        dialog.exec();
        return true;
    }
    case ServiceKind::Email: {
        EmailPanelTargetOf<EmailService> target(static_cast<EmailService&>(service));
        QtAttachmentInfoWindow info(parent);
        EmailSettingsDialog dialog(target, prompt, info, parent);
        dialog.exec();
        return true;
    }
    }
    return false;
}

} // namespace vantrel

// Which settings window belongs to which service. No service has a window
// yet: each Settings button does nothing.
#include "shell/qt/settings_windows.h"

namespace vantrel {

bool openSettingsWindow(ServiceKind kind, ServiceControl& service, QWidget* parent) {
    (void)service;
    (void)parent;
    switch (kind) {
    case ServiceKind::Http:
    case ServiceKind::Email:
    case ServiceKind::Ftp:
        break;
    }
    return false;
}

} // namespace vantrel

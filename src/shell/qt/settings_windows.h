// The settings window of each service, opened from the main window's
// Settings buttons. One function decides which window belongs to which
// service, so that the main window knows nothing of the protocols.
#pragma once

#include "shell/service_kind.h"
#include "tools/live_services.h"

class QWidget;

namespace vantrel {

// Runs the settings window of `kind` modally on the live service object and
// returns true once it has closed (the main window then saves the service's
// settings); false when the program does not have that service.
bool openSettingsWindow(ServiceKind kind, const LiveServices& services, QWidget* parent);
// Runs the certificate window modally on the program's certificate and
// returns true once it has closed (the main window then saves general.dat);
// false when the program has no certificate.
bool openCertificateWindow(const LiveServices& services, QWidget* parent);

} // namespace vantrel

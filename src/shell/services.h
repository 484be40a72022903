// The three service objects of the program, built in one place and held by
// their own types. The main window sees them only as ServiceControl; the
// settings windows and the control socket's commands by their own types.
#pragma once

#include "foundation/tls_certificate.h"
#include "shell/main_window_logic.h"
#include "tools/live_services.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace vantrel {

struct Services {
    Services();
    ~Services();
    Services(Services&&) noexcept;
    Services& operator=(Services&&) noexcept;

    ServicePointers controls() const;
    LiveServices live() const;

    // The program's one certificate, shared by every service that speaks TLS.
    std::shared_ptr<TlsCertificate> certificate;
    std::unique_ptr<HttpService> http;
    std::unique_ptr<EmailService> email;
    std::unique_ptr<FtpService> ftp;
};

// Each service opens its logs at number 0 when constructed.
Services makeServices();

// The same services as the main window sees them.
ServicePointers controlsOf(const LiveServices& services);

} // namespace vantrel

// Construction of the program's services, in the order HTTP, email, FTP.
#include "shell/services.h"

#include "email/email_service.h"
#include "ftp/ftp_service.h"
#include "http/http_service.h"

namespace vantrel {

Services::Services() = default;
Services::~Services() = default;
Services::Services(Services&&) noexcept = default;
Services& Services::operator=(Services&&) noexcept = default;

ServicePointers Services::controls() const
{
    return controlsOf(live());
}

ServicePointers controlsOf(const LiveServices& services)
{
    return ServicePointers{services.http, services.email, services.ftp};
}

LiveServices Services::live() const
{
    return LiveServices{ftp.get(), http.get(), email.get(), certificate.get()};
}

Services makeServices()
{
    Services services;
    services.certificate = std::make_shared<TlsCertificate>();
    services.http = std::make_unique<HttpService>();
    services.email = std::make_unique<EmailService>();
    services.ftp = std::make_unique<FtpService>();
    services.http->useCertificate(services.certificate);
    services.ftp->useCertificate(services.certificate);
    services.email->useCertificate(services.certificate);
    // The services live together and go together.
    const LiveServices live = services.live();
    services.http->knowOtherPorts([live] { return portsBesides(live.ftp->portsInUse(), live.email->portsInUse()); });
    services.ftp->knowOtherPorts([live] { return portsBesides(live.http->portsInUse(), live.email->portsInUse()); });
    services.email->knowOtherPorts([live] { return portsBesides(live.http->portsInUse(), live.ftp->portsInUse()); });
    return services;
}

} // namespace vantrel

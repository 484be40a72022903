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

std::function<std::vector<std::uint16_t>()> portsBesidesHttp(const FtpService* ftp, const EmailService* email)
{
    // The services live as long as the HTTP service that asks.
    return [ftp, email] {
        std::vector<std::uint16_t> ports;
        if (ftp != nullptr)
            ports.push_back(ftp->port());
        if (email != nullptr) {
            ports.push_back(email->smtpPort());
            ports.push_back(email->popPort());
        }
        return ports;
    };
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
    services.http->watchPortsElsewhere(portsBesidesHttp(services.ftp.get(), services.email.get()));
    return services;
}

} // namespace vantrel

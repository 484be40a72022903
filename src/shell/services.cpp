// Construction of the program's services, in the order HTTP, email, FTP.
// The email server is not part of this build yet: its group stays offline.
#include "shell/services.h"

#include "ftp/ftp_service.h"
#include "http/http_service.h"

namespace vantrel {

Services makeServices() {
    Services services;
    services.http = std::make_unique<HttpService>();
    services.ftp = std::make_unique<FtpService>();
    return services;
}

} // namespace vantrel

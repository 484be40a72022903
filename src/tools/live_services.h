// LiveServices: the program's three services by their own types, for what
// needs more of a service than the main window's ServiceControl: the
// settings windows and the task commands carried out on a running server.
#pragma once

namespace vantrel {

class EmailService;
class FtpService;
class HttpService;
class TlsCertificate;

// A null member is a service that the program does not have.
struct LiveServices {
    FtpService* ftp = nullptr;
    HttpService* http = nullptr;
    EmailService* email = nullptr;
    TlsCertificate* certificate = nullptr;
};

} // namespace vantrel

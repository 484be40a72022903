// The TLS step that the SMTP and POP3 sessions share: on STARTTLS, on STLS
// and before the greeting of an implicit port, the session's connection
// shakes hands with the program's certificate and the outcome goes into
// the protocol's log, once per session.
#pragma once

#include "email/mail_tls_settings.h"
#include "foundation/tls_context.h"

#include <memory>

namespace vantrel {

class ServiceLog;
class ServiceSession;

// The context for a new handshake; null when the certificate cannot be
// loaded now.
std::shared_ptr<const TlsContext> mailTlsContext(const MailTlsSetup& setup);

// The server handshake on the session's control connection, within the
// session's handshake limit. Logs "TLS established" with the protocol and
// cipher, or the failure; false (the connection closed) on a failure.
[[nodiscard]] bool secureMailSession(ServiceSession& session, ServiceLog& log,
                                     std::shared_ptr<const TlsContext> context);

// The implicit port: the handshake before the greeting. False when there
// is no certificate or the client did not complete it (the connection is
// then closed).
[[nodiscard]] bool startImplicitMailTls(ServiceSession& session, ServiceLog& log, const MailTlsSetup& setup);

} // namespace vantrel

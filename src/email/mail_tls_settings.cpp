// How the relay client treats TLS under the mail TLS settings.
#include "email/mail_tls_settings.h"

namespace vantrel {

RelayTls relayTlsOf(const MailTlsSettings& settings)
{
    if (!settings.enabled())
        return RelayTls::Off;
    return settings.relayHostRequiresTls ? RelayTls::Required : RelayTls::Offered;
}

} // namespace vantrel

// The email server's TLS settings as kept in "email.dat" and edited in the
// settings window: whether SMTP offers STARTTLS and POP3 offers STLS (and
// whether POP3 logins must wait for it), the ports of the two implicit
// listeners where a connection is TLS from its first byte, and whether
// mail for other servers is relayed only for clients on TLS. All off by
// default, and with it off every byte on the wire is what it always was.
#pragma once

#include "foundation/tls_mode.h"

#include <cstdint>

namespace vantrel {

class TlsCertificate;

struct MailTlsSettings {
    // Stored in "email.dat". On: STARTTLS and STLS are offered; Require:
    // and POP3's USER and PASS are refused before STLS.
    TlsMode mode = TlsMode::Off;
    // 0: no implicit listener. Used only while the mode is not Off.
    std::uint16_t smtpsPort = 0;
    std::uint16_t pop3sPort = 0;
    // Recipients for the relay host are taken only on a TLS connection.
    bool relayRequiresTls = false;
    // The relay client refuses a relay host without STARTTLS, or whose
    // certificate the system's authorities do not verify.
    bool relayHostRequiresTls = false;

    bool enabled() const { return mode != TlsMode::Off; }
    bool operator==(const MailTlsSettings&) const = default;
};

// How the relay client treats TLS: not at all (mail TLS off: HELO, as
// always), STARTTLS when the relay host offers it, or only over TLS with a
// verified certificate.
enum class RelayTls {
    Off,
    Offered,
    Required
};
RelayTls relayTlsOf(const MailTlsSettings& settings);

// What a session needs of the TLS settings, fixed at the activation of its
// listener. `certificate` outlives every session; `implicit` is set for
// the listeners whose connections shake hands before the greeting.
struct MailTlsSetup {
    MailTlsSettings settings;
    TlsCertificate* certificate = nullptr;
    bool implicit = false;
};

} // namespace vantrel

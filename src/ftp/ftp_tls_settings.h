// The FTP server's TLS settings as kept in "ftp.dat" and edited in the
// settings window: whether clients may (or must) secure their connections
// with AUTH TLS, the port of the implicit listener where a connection is
// TLS from its first byte, and whether a data connection must resume its
// control connection's TLS session. All off by default.
#pragma once

#include "foundation/tls_mode.h"

#include <cstdint>

namespace vantrel {

class TlsCertificate;

struct FtpTlsSettings {
    // Stored in "ftp.dat". On: AUTH TLS is offered; Require: and USER is
    // refused before it (or off the implicit port).
    TlsMode mode = TlsMode::Off;
    // 0: no implicit listener. Used only while the mode is not Off.
    std::uint16_t implicitPort = 0;
    // Accept a protected data connection that did not resume the control
    // connection's session. Off, a data connection proves that it comes
    // from the client of its control connection by resuming its session.
    bool anyDataConnection = false;

    bool enabled() const { return mode != TlsMode::Off; }
    bool operator==(const FtpTlsSettings&) const = default;
};

// How a listener's connections start: in clear (AUTH TLS may follow), or
// with the TLS handshake before the greeting (the implicit port).
enum class FtpTlsStart {
    Explicit,
    Implicit
};

// What a session needs of the TLS settings, fixed at the activation of its
// listener. `certificate` outlives every session.
struct FtpTlsSetup {
    FtpTlsSettings settings;
    TlsCertificate* certificate = nullptr;
    FtpTlsStart start = FtpTlsStart::Explicit;
};

} // namespace vantrel

// The FTP server's TLS settings as kept in "ftp.dat" and edited in the
// settings window: whether clients may (or must) secure their connections
// with AUTH TLS, the port of the implicit listener where a connection is
// TLS from its first byte, and whether a data connection must resume its
// control connection's TLS session. All off by default.
#pragma once

#include <cstdint>
#include <string_view>

namespace vantrel {

class TlsCertificate;

// Stored in "ftp.dat" by these numbers.
enum class FtpTlsMode : int {
    Off = 0,
    On = 1,     // AUTH TLS is offered
    Require = 2 // and USER is refused before it (or off the implicit port)
};

struct FtpTlsSettings {
    FtpTlsMode mode = FtpTlsMode::Off;
    // 0: no implicit listener. Used only while the mode is not Off.
    std::uint16_t implicitPort = 0;
    // Accept a protected data connection that did not resume the control
    // connection's session. Off, a data connection proves that it comes
    // from the client of its control connection by resuming its session.
    bool anyDataConnection = false;

    bool enabled() const { return mode != FtpTlsMode::Off; }
    bool operator==(const FtpTlsSettings&) const = default;
};

// The words of the task commands and the window: "off", "on", "require".
std::string_view tlsModeWord(FtpTlsMode mode);
// False for any other word.
[[nodiscard]] bool parseTlsModeWord(std::string_view word, FtpTlsMode& mode);

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

// The POP3 commands that exist only while mail TLS is on: CAPA, STLS, and
// the refusal of a login in clear while TLS is required. With mail TLS off
// none of them is looked at, and the lines get the replies they always had.
#pragma once

#include <string_view>

namespace vantrel {

class Pop3Session;

namespace pop3 {

enum class Phase {
    Authorization,
    Transaction
};

enum class TlsLine {
    NotTls,   // not CAPA or STLS: the phase's own rules take the line
    Answered, // CAPA, or a refused STLS
    Secured,  // STLS and its handshake: the login starts over
    Lost      // the connection failed or the handshake did not complete
};

// Handles CAPA and STLS in either phase.
TlsLine dispatchTlsLine(Pop3Session& session, std::string_view line, Phase phase);

// With TLS required, USER and PASS on a clear connection are refused: true
// once the refusal has been sent.
bool refuseClearLogin(Pop3Session& session);

} // namespace pop3
} // namespace vantrel

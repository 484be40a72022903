// Mail sessions' handshakes. Each uses a scope of its own: a mail client
// has one connection, so no other session's TLS session is resumed by it,
// and it is issued no session tickets.
// Bytes the client sent in clear behind STARTTLS or STLS are dropped by
// the socket as TLS starts, so they never run as commands.
#include "email/mail_tls.h"

#include "foundation/service_log.h"
#include "foundation/service_session.h"
#include "foundation/text.h"
#include "foundation/tls_certificate.h"

#include <cstring>

namespace vantrel {

namespace {

constexpr std::size_t LogLimit = 512;
constexpr char LogEstablished[] = "TLS established: %s, %s, IP:[%s]"; // protocol, cipher, peer
constexpr char LogHandshakeFailed[] = "***TLS HANDSHAKE FAILED*** IP:[%s]";

} // namespace

std::shared_ptr<const TlsContext> mailTlsContext(const MailTlsSetup& setup)
{
    return setup.certificate != nullptr ? setup.certificate->current() : nullptr;
}

bool secureMailSession(ServiceSession& session, ServiceLog& log, std::shared_ptr<const TlsContext> context)
{
    // A failed handshake closes the socket, and its peer address with it.
    char peer[TcpSocket::AddressTextSize];
    std::memcpy(peer, session.control().peerAddress(), sizeof peer);
    if (!session.handshakeTls(session.control(), std::move(context), TlsScope::single())) {
        log.appendLine(formatText(LogLimit, LogHandshakeFailed, peer));
        return false;
    }
    const LineSocket& socket = session.control();
    log.appendLine(formatText(LogLimit, LogEstablished, socket.tlsVersion(), socket.tlsCipher(), peer));
    return true;
}

bool startImplicitMailTls(ServiceSession& session, ServiceLog& log, const MailTlsSetup& setup)
{
    std::shared_ptr<const TlsContext> context = mailTlsContext(setup);
    if (!context) {
        session.control().close();
        return false;
    }
    return secureMailSession(session, log, std::move(context));
}

} // namespace vantrel

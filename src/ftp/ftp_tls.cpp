// The security commands of RFC 4217 and the TLS steps of the control and
// data connections. The control connection turns to TLS after "234", and
// anything the client sent behind AUTH in clear is dropped with it. Data
// connections under PROT P shake hands after the 150 reply, as clients
// expect, with the control connection's context and scope, so that a
// resumed session proves the data connection is the control client's.
#include "ftp/ftp_tls.h"

#include "foundation/text.h"
#include "foundation/tls_certificate.h"
#include "ftp/ftp_command_support.h"
#include "ftp/ftp_replies.h"
#include "ftp/ftp_session.h"

#include <array>
#include <cstring>

namespace vantrel {

namespace {

constexpr char AuthAccepted[] = "234 AUTH TLS successful.";
constexpr char AlreadySecured[] = "503 The connection already uses TLS.";
constexpr char AuthKindUnknown[] = "504 AUTH type not supported, use AUTH TLS.";
constexpr char NoCertificate[] = "431 Unable to accept security mechanism.";
constexpr char SecurityFirst[] = "503 Security data exchange not completed, use AUTH TLS first.";
constexpr char PbszFirst[] = "503 PBSZ is required before PROT.";
constexpr char PbszAccepted[] = "200 PBSZ=0";
constexpr char ProtPrivate[] = "200 PROT now Private.";
constexpr char ProtClear[] = "200 PROT now Clear.";
constexpr char ProtUnsupported[] = "536 Requested PROT level not supported by mechanism.";
constexpr char ProtUnknown[] = "504 Command not implemented for that parameter.";
constexpr char CccRefused[] = "534 Request denied for policy reasons.";
constexpr char Features[] = "211-Features:\r\n AUTH TLS\r\n PBSZ\r\n PROT\r\n REST STREAM\r\n SIZE\r\n211 End";

constexpr char LogDataRefused[] = "***DATA CONNECTION REFUSED*** IP:[%s], User:[%s], Reason:[%s]";
constexpr char ReasonNotResumed[] = "TLS Session Not Resumed";
constexpr char LogHandshakeFailed[] = "***TLS HANDSHAKE FAILED*** IP:[%s], User:[%s], Connection:[%s]";
constexpr char ControlConnection[] = "Control";
constexpr char DataConnection[] = "Data";

// The handshake on one of the session's connections; a failure is logged
// once, naming which.
bool handshake(FtpSession& session, TcpSocket& socket, std::shared_ptr<const TlsContext> context,
               const char* connection)
{
    // A failed handshake on the control connection closes it, and the
    // client's address with it.
    char peer[TcpSocket::AddressTextSize];
    std::memcpy(peer, session.peerAddress(), sizeof peer);
    if (session.handshakeTls(socket, std::move(context), session.tls().scope()))
        return true;
    session.logLine(formatText(FtpTextLimit, LogHandshakeFailed, peer, session.login().user.c_str(), connection));
    return false;
}

std::shared_ptr<const TlsContext> currentContext(const FtpTlsState& tls)
{
    TlsCertificate* certificate = tls.setup().certificate;
    return certificate != nullptr ? certificate->current() : nullptr;
}

CommandOutcome handleAuth(FtpSession& session, const FtpCommand& command)
{
    FtpTlsState& tls = session.tls();
    if (session.control().isTls())
        return replyAndContinue(session, AlreadySecured);
    if (!requireArgument(session, command))
        return CommandOutcome::Continue;
    const std::string_view kind = trimText(command.argument());
    if (!equalsIgnoreCase(kind, "tls") && !equalsIgnoreCase(kind, "ssl"))
        return replyAndContinue(session, AuthKindUnknown);
    std::shared_ptr<const TlsContext> context = currentContext(tls);
    if (!context)
        return replyAndContinue(session, NoCertificate);
    session.reply(AuthAccepted);
    if (!handshake(session, session.control(), context, ControlConnection))
        return CommandOutcome::EndSession;
    tls.secured(std::move(context));
    return CommandOutcome::Continue;
}

CommandOutcome handlePbsz(FtpSession& session, const FtpCommand& command)
{
    if (!session.control().isTls())
        return replyAndContinue(session, SecurityFirst);
    if (!requireArgument(session, command))
        return CommandOutcome::Continue;
    // A stream protocol has no buffer: whatever the client offers, it is 0.
    session.tls().setBufferSize();
    return replyAndContinue(session, PbszAccepted);
}

CommandOutcome handleProt(FtpSession& session, const FtpCommand& command)
{
    FtpTlsState& tls = session.tls();
    if (!session.control().isTls())
        return replyAndContinue(session, SecurityFirst);
    if (!tls.bufferSizeSet())
        return replyAndContinue(session, PbszFirst);
    if (!requireArgument(session, command))
        return CommandOutcome::Continue;
    const std::string_view level = trimText(command.argument());
    if (level.size() != 1)
        return replyAndContinue(session, ProtUnknown);
    switch (level.front()) {
    case 'P':
    case 'p':
        tls.setProtectData(true);
        return replyAndContinue(session, ProtPrivate);
    case 'C':
    case 'c':
        tls.setProtectData(false);
        return replyAndContinue(session, ProtClear);
    case 'S':
    case 's':
    case 'E':
    case 'e':
        return replyAndContinue(session, ProtUnsupported);
    default:
        return replyAndContinue(session, ProtUnknown);
    }
}

// A control connection once secured stays so: its commands carry passwords.
CommandOutcome handleCcc(FtpSession& session, const FtpCommand&)
{
    return replyAndContinue(session, CccRefused);
}

CommandOutcome handleFeat(FtpSession& session, const FtpCommand&)
{
    return replyAndContinue(session, Features);
}

struct SecurityCommand {
    std::string_view word;
    CommandOutcome (*handler)(FtpSession&, const FtpCommand&);
};

constexpr std::array<SecurityCommand, 5> SecurityCommands{{
    {"auth", handleAuth},
    {"pbsz", handlePbsz},
    {"prot", handleProt},
    {"feat", handleFeat},
    {"ccc", handleCcc},
}};

} // namespace

FtpTlsState::FtpTlsState(const FtpTlsSetup& setup) : setup_(setup)
{
    if (setup_.settings.enabled())
        scope_ = TlsScope::fresh();
}

void FtpTlsState::secured(std::shared_ptr<const TlsContext> context)
{
    context_ = std::move(context);
    const bool implicit = setup_.start == FtpTlsStart::Implicit;
    bufferSizeSet_ = implicit;
    protectData_ = implicit;
}

bool startImplicitTls(FtpSession& session)
{
    FtpTlsState& tls = session.tls();
    std::shared_ptr<const TlsContext> context = currentContext(tls);
    if (!context) {
        session.control().close();
        return false;
    }
    if (!handshake(session, session.control(), context, ControlConnection))
        return false;
    tls.secured(std::move(context));
    return true;
}

std::optional<CommandOutcome> dispatchSecurityCommand(FtpSession& session, std::string_view line)
{
    if (!session.tls().enabled())
        return std::nullopt;
    for (const SecurityCommand& command : SecurityCommands) {
        if (startsWithWord(line, command.word))
            return command.handler(session, FtpCommand{line, command.word.size()});
    }
    return std::nullopt;
}

bool refuseClearLogin(FtpSession& session)
{
    if (session.tls().setup().settings.mode != TlsMode::Require || session.control().isTls())
        return false;
    session.reply(TlsRequired);
    return true;
}

DataOpen secureDataConnection(FtpSession& session)
{
    const FtpTlsState& tls = session.tls();
    if (!tls.protectData())
        return DataOpen::Open;
    LineSocket& socket = session.data().socket();
    if (!handshake(session, socket, tls.context(), DataConnection))
        return DataOpen::Failed;
    if (socket.tlsResumed() || tls.setup().settings.anyDataConnection)
        return DataOpen::Open;
    logEvent(session, LogDataRefused, ReasonNotResumed);
    // Closed with the closing alert, and only once the client has closed
    // its side too, so that its own closing goes through and it reads the
    // 425 that follows.
    session.lingerOnData();
    return DataOpen::NotResumed;
}

std::string_view dataRefusal(DataOpen outcome)
{
    return outcome == DataOpen::NotResumed ? std::string_view(DataNotResumed) : std::string_view(DataFailed);
}

} // namespace vantrel

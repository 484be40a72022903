// The small commands: STAT, SYST, HELP, TYPE, STRU, MODE, QUIT and NOOP,
// and the data-connection set-up commands PORT and PASV.
#include "foundation/product.h"
#include "foundation/text.h"
#include "ftp/ftp_command_support.h"
#include "ftp/ftp_commands.h"
#include "ftp/ftp_session.h"

namespace vantrel {

namespace {

constexpr char StatusOk[] = "211 FTP Server is all OK.";
constexpr char SystemType[] = "215 UNIX Type: L8";
constexpr char HelpPrefix[] = "214 Visit ";
constexpr char TypeAscii[] = "200 Type set to 'A' (ASCII).";
constexpr char TypeImage[] = "200 Type set to 'I' (IMAGE).";
constexpr char ParameterNotImplemented[] = "504 Command not implemented for that parameter.";
constexpr char StructureAccepted[] = "200 Structure 'F' Accepted.";
constexpr char ModeAccepted[] = "200 Mode 'S' Accepted.";
constexpr char Hello[] = "200 Hi.";

constexpr char SixParameters[] = "501 6 parameters are required.";
constexpr char BadParameters[] = "501 Incorrect parameters (each must be 0-255).";
constexpr char PortAccepted[] = "200 PORT command successful.";
constexpr char PassiveFailed[] = "550 Internal error, listening port failed to open.";

// Answers a one-letter option: `accepted` when the argument starts with
// `letter`, else the 504 reply.
CommandOutcome answerOption(FtpSession& session, const FtpCommand& command, char letter, const char* accepted)
{
    if (!command.hasArgument())
        session.reply(NoParameter);
    else if (command.argument().front() == letter)
        session.reply(accepted);
    else
        session.reply(ParameterNotImplemented);
    return CommandOutcome::Continue;
}

} // namespace

CommandOutcome handleStat(FtpSession& session, const FtpCommand&)
{
    return replyAndContinue(session, StatusOk);
}

CommandOutcome handleSyst(FtpSession& session, const FtpCommand&)
{
    return replyAndContinue(session, SystemType);
}

CommandOutcome handleHelp(FtpSession& session, const FtpCommand&)
{
    std::string text = HelpPrefix;
    text += MakerWebPage;
    return replyAndContinue(session, text);
}

CommandOutcome handleType(FtpSession& session, const FtpCommand& command)
{
    if (!requireArgument(session, command))
        return CommandOutcome::Continue;
    const char type = command.argument().front();
    if (type == 'A' || type == 'I') {
        // Every transfer moves the file's bytes unchanged, whatever the type.
        session.reply(type == 'A' ? TypeAscii : TypeImage);
    } else {
        session.reply(ParameterNotImplemented);
    }
    return CommandOutcome::Continue;
}

CommandOutcome handleStru(FtpSession& session, const FtpCommand& command)
{
    return answerOption(session, command, 'F', StructureAccepted);
}

CommandOutcome handleMode(FtpSession& session, const FtpCommand& command)
{
    return answerOption(session, command, 'S', ModeAccepted);
}

CommandOutcome handleQuit(FtpSession& session, const FtpCommand&)
{
    session.reply(Goodbye);
    session.closeConnections();
    return CommandOutcome::EndSession;
}

CommandOutcome handleNoop(FtpSession& session, const FtpCommand&)
{
    return replyAndContinue(session, Hello);
}

CommandOutcome handlePort(FtpSession& session, const FtpCommand& command)
{
    if (!command.hasArgument())
        return replyAndContinue(session, SixParameters);
    PortTarget target;
    switch (parsePortArgument(command.argument(), target)) {
    case PortParse::TooFew:
        return replyAndContinue(session, SixParameters);
    case PortParse::OutOfRange:
        return replyAndContinue(session, BadParameters);
    case PortParse::BelowPrivileged:
        return replyAndContinue(session, ParameterNotImplemented);
    case PortParse::Ok:
        break;
    }
    // Data goes only to the client itself, never to a third machine.
    if (target.address != session.peerAddress())
        return replyAndContinue(session, ParameterNotImplemented);
    session.data().setPortTarget(std::move(target));
    return replyAndContinue(session, PortAccepted);
}

CommandOutcome handlePasv(FtpSession& session, const FtpCommand&)
{
    FtpDataChannel& data = session.data();
    if (!data.listenPassive())
        return replyAndContinue(session, PassiveFailed);
    return replyAndContinue(session, passiveReply(session.control().localAddress(), data.socket().localPort()));
}

} // namespace vantrel

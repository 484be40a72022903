// Argument checks, path arguments, the existence test and log lines for the
// handlers.
#include "ftp/ftp_command_support.h"

#include "foundation/text.h"
#include "ftp/ftp_session.h"

namespace vantrel {

CommandOutcome replyAndContinue(FtpSession& session, std::string_view text)
{
    session.reply(text);
    return CommandOutcome::Continue;
}

bool requireArgument(FtpSession& session, const FtpCommand& command)
{
    if (command.hasArgument())
        return true;
    session.reply(NoParameter);
    return false;
}

bool resolveArgument(FtpSession& session, const FtpCommand& command, std::string_view bareRootReply,
                     FtpPath& path)
{
    if (resolvePath(session.login().folder, session.work().currentDirectory, command.argument(), path) ==
        PathKind::BareRoot) {
        session.reply(bareRootReply);
        return false;
    }
    return true;
}

bool resolveRequiredArgument(FtpSession& session, const FtpCommand& command, std::string_view bareRootReply,
                             FtpPath& path)
{
    return requireArgument(session, command) && resolveArgument(session, command, bareRootReply, path);
}

bool findFirstEntry(std::string_view fullPath, FindRecord& record)
{
    if (fullPath.empty() || fullPath.back() == '\\' || fullPath.back() == '/')
        return false;
    DirectoryScan scan;
    return scan.firstMatch(fullPath, record, ScanKinds::Both);
}

bool findArgumentEntry(FtpSession& session, const FtpCommand& command, FtpPath& path, FindRecord& entry)
{
    if (!resolveRequiredArgument(session, command, NoFilename, path))
        return false;
    if (!findFirstEntry(path.full, entry)) {
        session.reply(NoSuchFile);
        return false;
    }
    return true;
}

bool logEvent(FtpSession& session, const char* format, std::string_view first, std::string_view second)
{
    const std::string a(first);
    const std::string b(second);
    return session.logLine(
        formatText(FtpTextLimit, format, session.peerAddress(), session.login().user.c_str(), a.c_str(), b.c_str()));
}

} // namespace vantrel

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

bool resolveArgument(FtpSession& session, const FtpCommand& command, const PathRefusals& refusals, FtpPath& path)
{
    switch (resolvePath(session.login().folder, session.work().currentDirectory, command.argument(), path)) {
    case PathKind::Resolved:
        return true;
    case PathKind::BareRoot:
        session.reply(refusals.bareRoot);
        return false;
    case PathKind::TooLong:
        session.reply(refusals.tooLong);
        return false;
    }
    return false;
}

bool resolveRequiredArgument(FtpSession& session, const FtpCommand& command, const PathRefusals& refusals,
                             FtpPath& path)
{
    return requireArgument(session, command) && resolveArgument(session, command, refusals, path);
}

RootFolder accountRoot(FtpSession& session)
{
    return RootFolder(session.login().folder);
}

bool findFirstEntry(const RootFolder& root, std::string_view relative, FindRecord& record)
{
    if (relative.empty() || relative.back() == '\\' || relative.back() == '/')
        return false;
    DirectoryScan scan;
    return scan.firstMatch(root, relative, record, ScanKinds::Both);
}

bool findArgumentEntry(FtpSession& session, const FtpCommand& command, const RootFolder& root, FtpPath& path,
                       FindRecord& entry)
{
    if (!resolveRequiredArgument(session, command, {NoFilename, NoSuchFile}, path))
        return false;
    if (!findFirstEntry(root, path.relative, entry)) {
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

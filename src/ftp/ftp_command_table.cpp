// Command recognition: the first three or four characters of a line are
// compared with each word in table order, ignoring case. While a transfer
// runs only ABOR and STAT are served. Words not in the table are answered
// from the list of known but unimplemented commands.
#include "ftp/ftp_command_table.h"

#include "ftp/ftp_commands.h"
#include "ftp/ftp_listing.h"
#include "ftp/ftp_session.h"
#include "ftp/ftp_tls.h"
#include "ftp/ftp_transfer.h"

#include <array>
#include <string>

namespace vantrel {

namespace {

constexpr char InTransferMode[] = "550 Cannot process command in transfer mode.";
constexpr char NotImplemented[] = "502 Command not implemented.";
constexpr char AlreadyLoggedIn[] = "550 Your already logged in.";
constexpr char NotUnderstood[] = "500 Command not understood.";

using Handler = CommandOutcome (*)(FtpSession&, const FtpCommand&);

struct CommandEntry {
    std::string_view word;
    // Checked before anything else; None when the handler decides itself.
    AccessRights right;
    std::string_view refusal;
    bool servedDuringTransfer;
    Handler handler;
};

constexpr std::string_view NoRefusal{};
constexpr std::string_view ReadRefusal = "550 Directory read access disallowed.";

CommandOutcome handleCdup(FtpSession& session, const FtpCommand&)
{
    const FtpCommand cwd{"cwd ..", 3};
    return handleCwd(session, cwd);
}

constexpr std::array<CommandEntry, 26> Commands{{
    {"abor", AccessRights::None, NoRefusal, true, handleAbor},
    {"stat", AccessRights::None, NoRefusal, true, handleStat},
    {"pwd", AccessRights::None, NoRefusal, false, handlePwd},
    {"cdup", AccessRights::None, NoRefusal, false, handleCdup},
    {"cwd", AccessRights::None, NoRefusal, false, handleCwd},
    {"mkd", AccessRights::FolderCreate, "550 Directory create access disallowed.", false, handleMkd},
    {"rmd", AccessRights::FolderModify, "550 Directory modification access disallowed.", false, handleRmd},
    {"port", AccessRights::None, NoRefusal, false, handlePort},
    {"pasv", AccessRights::None, NoRefusal, false, handlePasv},
    {"rnfr", AccessRights::None, NoRefusal, false, handleRnfr},
    {"rnto", AccessRights::None, NoRefusal, false, handleRnto},
    {"dele", AccessRights::None, NoRefusal, false, handleDele},
    {"size", AccessRights::FolderRead, ReadRefusal, false, handleSize},
    {"rest", AccessRights::None, NoRefusal, false, handleRest},
    {"retr", AccessRights::None, NoRefusal, false, handleRetr},
    {"appe", AccessRights::None, NoRefusal, false, handleAppe},
    {"stor", AccessRights::None, NoRefusal, false, handleStor},
    {"list", AccessRights::FolderRead, ReadRefusal, false, handleList},
    {"nlst", AccessRights::FolderRead, ReadRefusal, false, handleNlst},
    {"syst", AccessRights::None, NoRefusal, false, handleSyst},
    {"help", AccessRights::None, NoRefusal, false, handleHelp},
    {"type", AccessRights::None, NoRefusal, false, handleType},
    {"stru", AccessRights::None, NoRefusal, false, handleStru},
    {"mode", AccessRights::None, NoRefusal, false, handleMode},
    {"quit", AccessRights::None, NoRefusal, false, handleQuit},
    {"noop", AccessRights::None, NoRefusal, false, handleNoop},
}};

constexpr std::array<std::string_view, 11> Unimplemented{"acct", "mdtm", "mlst", "mlsd", "mmd5", "smnt",
                                                         "rein", "allo", "site", "stou", "md5"};

std::string_view unknownReply(std::string_view line)
{
    if (startsWithWord(line, "user") || startsWithWord(line, "pass"))
        return AlreadyLoggedIn;
    for (std::string_view word : Unimplemented) {
        if (startsWithWord(line, word))
            return NotImplemented;
    }
    return NotUnderstood;
}

} // namespace

CommandOutcome dispatchCommand(FtpSession& session, std::string_view line)
{
    const bool transferring = session.transfer().inProgress();
    if (!transferring) {
        if (const auto outcome = dispatchSecurityCommand(session, line))
            return *outcome;
    }
    for (const CommandEntry& entry : Commands) {
        if (transferring && !entry.servedDuringTransfer)
            break;
        if (!startsWithWord(line, entry.word))
            continue;
        if (entry.right != AccessRights::None && !session.hasRight(entry.right)) {
            session.reply(entry.refusal);
            return CommandOutcome::Continue;
        }
        return entry.handler(session, FtpCommand{line, entry.word.size()});
    }
    session.reply(transferring ? std::string_view(InTransferMode) : unknownReply(line));
    return CommandOutcome::Continue;
}

} // namespace vantrel

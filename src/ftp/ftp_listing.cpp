// Listings in the layout of a Unix long listing with fixed permission
// texts, the fixed group "VantrelServer" and a date without year. The
// listing is never built in memory: each line goes out as it is formatted.
#include "ftp/ftp_listing.h"

#include "foundation/file_time.h"
#include "foundation/text.h"
#include "ftp/ftp_command_support.h"
#include "ftp/ftp_path.h"
#include "ftp/ftp_session.h"
#include "ftp/ftp_transfer.h"

namespace vantrel {

namespace {

constexpr char FileLineFormat[] = "%s   1 %s VantrelServer %10llu %s %s";
constexpr char FolderLineFormat[] = "%s   1 %s VantrelServer          0 %s %s";
constexpr char FilePermissions[] = "-rw-rw-r--";
constexpr char FolderPermissions[] = "drwxrwxr-x";

constexpr char NoSuchPath[] = "550 File/Directory does not exist.";

// Any option after LIST but this one is taken as a path.
constexpr std::string_view LongListingOption = "list -al";

// Sends the listing of `fullPath` and gives the replies.
CommandOutcome sendListing(FtpSession& session, const std::string& fullPath, ListingForm form)
{
    if (!openDataConnection(session))
        return replyAndContinue(session, DataFailed);
    session.reply(DataStarted);

    FtpDataChannel& data = session.data();
    DirectoryScan scan;
    FindRecord entry;
    // A folder lists its entries; anything else lists the first match only.
    const bool found = directoryExists(fullPath) ? scan.first(fullPath, entry, ScanKinds::Both)
                                                 : findFirstEntry(fullPath, entry);
    if (!found) {
        data.finish();
        return replyAndContinue(session, TransferComplete);
    }
    while (session.mayGoOn()) {
        if (!data.isConnected()) {
            data.finish();
            session.reply(TransferComplete);
            session.reply(TransferLost);
            return CommandOutcome::Continue;
        }
        session.sendLine(data.socket(), formatListingLine(entry, session.login().user, form));
        if (!scan.next(entry)) {
            session.reply(TransferComplete);
            data.finish();
            return CommandOutcome::Continue;
        }
    }
    return CommandOutcome::EndSession;
}

CommandOutcome listCommand(FtpSession& session, const FtpCommand& command, ListingForm form)
{
    const bool currentDirectory =
        !command.hasArgument() || (form == ListingForm::Long && startsWithWord(command.line, LongListingOption));
    if (currentDirectory)
        return sendListing(session, currentDirectoryPath(session.login().folder, session.work().currentDirectory).full,
                           form);

    FtpPath path;
    if (resolvePath(session.login().folder, session.work().currentDirectory, command.argument(), path) ==
        PathKind::BareRoot)
        path.full = fullPathOf(session.login().folder, "");
    FindRecord entry;
    if (!directoryExists(path.full) && !findFirstEntry(path.full, entry))
        return replyAndContinue(session, NoSuchPath);
    return sendListing(session, path.full, form);
}

} // namespace

std::string formatListingLine(const FindRecord& entry, std::string_view user, ListingForm form)
{
    if (form == ListingForm::NamesOnly)
        return entry.name;
    const std::string owner(user);
    const std::string date = formatFileTime(entry.lastWriteTime, DateForm::Short);
    if (entry.isDirectory)
        return formatText(FtpTextLimit, FolderLineFormat, FolderPermissions, owner.c_str(), date.c_str(),
                          entry.name.c_str());
    return formatText(FtpTextLimit, FileLineFormat, FilePermissions, owner.c_str(),
                      static_cast<unsigned long long>(entry.size), date.c_str(), entry.name.c_str());
}

CommandOutcome handleList(FtpSession& session, const FtpCommand& command)
{
    return listCommand(session, command, ListingForm::Long);
}

CommandOutcome handleNlst(FtpSession& session, const FtpCommand& command)
{
    return listCommand(session, command, ListingForm::NamesOnly);
}

} // namespace vantrel

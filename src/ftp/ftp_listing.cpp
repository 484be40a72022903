// Listings in the layout of a Unix long listing with fixed permission
// texts, the fixed group "VantrelServer" and a date without year. The
// listing is never built in memory whole: lines are gathered in a small
// bounded buffer that goes out whenever it is nearly full.
#include "ftp/ftp_listing.h"

#include "foundation/file_time.h"
#include "foundation/text.h"
#include "ftp/ftp_command_support.h"
#include "ftp/ftp_path.h"
#include "ftp/ftp_session.h"
#include "ftp/ftp_tls.h"
#include "ftp/ftp_transfer.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace vantrel {

namespace {

constexpr char FileLineFormat[] = "%s   1 %s VantrelServer %10llu %s %s";
constexpr char FolderLineFormat[] = "%s   1 %s VantrelServer          0 %s %s";
constexpr char FilePermissions[] = "-rw-rw-r--";
constexpr char FolderPermissions[] = "drwxrwxr-x";

constexpr char NoSuchPath[] = "550 File/Directory does not exist.";

// Lines are gathered up to about this size before they are sent; each is
// cut as a single sent line would be.
constexpr std::size_t ListingBufferSize = 16 * 1024;
constexpr std::size_t ListingLineLimit = ServiceSession::LongestLineSize - 3;
constexpr std::string_view LineEnd = "\r\n";

// Any option after LIST but this one is taken as a path.
constexpr std::string_view LongListingOption = "list -al";

// Sends the listing of the relative path and gives the replies.
CommandOutcome sendListing(FtpSession& session, const RootFolder& root, const std::string& relative, ListingForm form)
{
    if (!openDataConnection(session))
        return replyAndContinue(session, DataFailed);
    session.reply(DataStarted);
    // Clients start a protected data connection's handshake on the 150.
    if (const DataOpen secured = secureDataConnection(session); secured != DataOpen::Open)
        return replyAndContinue(session, dataRefusal(secured));

    FtpDataChannel& data = session.data();
    DirectoryScan scan;
    FindRecord entry;
    // A folder lists its entries; anything else lists the first match only.
    const bool found = root.isFolder(relative) ? scan.first(root, relative, entry, ScanKinds::Both)
                                               : findFirstEntry(root, relative, entry);
    if (!found) {
        data.finish();
        return replyAndContinue(session, TransferComplete);
    }
    std::string pending;
    pending.reserve(ListingBufferSize);
    while (session.mayGoOn()) {
        if (!data.isConnected()) {
            data.finish();
            session.reply(TransferComplete);
            session.reply(TransferLost);
            return CommandOutcome::Continue;
        }
        const std::string line = formatListingLine(entry, session.login().user, form);
        pending.append(line, 0, std::min(line.size(), ListingLineLimit));
        pending.append(LineEnd);
        const bool more = scan.next(entry);
        if (!more || pending.size() + ListingLineLimit + LineEnd.size() > ListingBufferSize) {
            session.sendBuffer(data.socket(), pending.data(), pending.size());
            pending.clear();
        }
        if (!more) {
            session.reply(TransferComplete);
            data.finish();
            return CommandOutcome::Continue;
        }
    }
    return CommandOutcome::EndSession;
}

CommandOutcome listCommand(FtpSession& session, const FtpCommand& command, ListingForm form)
{
    const RootFolder root = accountRoot(session);
    const bool currentDirectory =
        !command.hasArgument() || (form == ListingForm::Long && startsWithWord(command.line, LongListingOption));
    if (currentDirectory)
        return sendListing(session, root,
                           currentDirectoryPath(session.login().folder, session.work().currentDirectory).relative,
                           form);

    FtpPath path;
    switch (resolvePath(session.login().folder, session.work().currentDirectory, command.argument(), path)) {
    case PathKind::BareRoot:
        path.relative.clear();
        break;
    case PathKind::TooLong:
        return replyAndContinue(session, NoSuchPath);
    case PathKind::Resolved:
        break;
    }
    FindRecord entry;
    if (!root.isFolder(path.relative) && !findFirstEntry(root, path.relative, entry))
        return replyAndContinue(session, NoSuchPath);
    return sendListing(session, root, path.relative, form);
}

} // namespace

std::string formatListingLine(const FindRecord& entry, std::string_view user, ListingForm form)
{
    // A name made by a local user may hold line breaks that would split
    // the listing's lines for every client.
    const std::string name = blankControlBytes(entry.name);
    if (form == ListingForm::NamesOnly)
        return name;
    const std::string owner(user);
    const std::string date = formatFileTime(entry.lastWriteTime, DateForm::Short);
    if (entry.isDirectory)
        return formatText(FtpTextLimit, FolderLineFormat, FolderPermissions, owner.c_str(), date.c_str(), name.c_str());
    return formatText(FtpTextLimit, FileLineFormat, FilePermissions, owner.c_str(),
                      static_cast<unsigned long long>(entry.size), date.c_str(), name.c_str());
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

// RETR, STOR, APPE, REST and ABOR, and the transfer engine. A transfer is
// started by its command and then moved one piece at a time by the command
// loop whenever no command line waits: downloads go from the file to the
// socket and uploads from the socket to the file through a pipe, both by
// the system without a copy here. When the data socket is not ready the
// loop sleeps until either socket is.
#include "ftp/ftp_transfer.h"

#include "foundation/clock.h"
#include "foundation/text.h"
#include "ftp/ftp_command.h"
#include "ftp/ftp_command_support.h"
#include "ftp/ftp_session.h"
#include "ftp/ftp_tls.h"

#include <algorithm>
#include <utility>

namespace vantrel {

namespace {

constexpr char WriteAborted[] = "426 Transfer aborted, writing to file failed.";
constexpr char UsePortOrPasv[] = "503 Please use PORT or PASV first.";
constexpr char RestAccepted[] = "350 REST command successful.";
constexpr char RestOutside[] = "550 The REST value is outside of the file.";
constexpr char ReadRefused[] = "550 File read access disallowed.";
constexpr char WriteRefused[] = "550 File write access disallowed.";
constexpr char WriteModifyRefused[] = "550 File write/modification access disallowed.";
constexpr char ModifyRefused[] = "550 File modification access disallowed.";
constexpr char OpenFailed[] = "550 File open failed, try again later.";
constexpr char NoTransfer[] = "225 No transfer in progress.";

constexpr char LogDownload[] = "File Download IP:[%s], User:[%s], File:[%s]";
constexpr char LogUpload[] = "File Upload IP:[%s], User:[%s], File:[%s]";
constexpr char LogDownloadFailed[] = "***DOWNLOAD FAILED*** IP:[%s], User:[%s], File:[%s], Reason:[%s]";
constexpr char LogUploadFailed[] = "***UPLOAD FAILED*** IP:[%s], User:[%s], File:[%s], Reason:[%s]";

constexpr char ReasonAccess[] = "Access Disallowed";
constexpr char ReasonMissing[] = "Does Not Exist";
constexpr char ReasonOpen[] = "Open Failed";
constexpr char ReasonTruncation[] = "Truncation Failed";
constexpr char ReasonData[] = "Data Connection Failed";
// STOR has always logged this wording; log readers match on it.
constexpr char ReasonDataStor[] = "Data Connecton Failed";
constexpr char ReasonWrite[] = "File Write Failed";
constexpr char ReasonAborted[] = "Aborted / Data Connection Failure";

// A passive client gets this long to connect, checked once a second.
constexpr std::uint32_t PassiveWaitMs = 60000;
constexpr int PassiveCheckMs = 1000;

void logFailed(FtpSession& session, TransferDirection direction, std::string_view file, const char* reason)
{
    logEvent(session, direction == TransferDirection::Download ? LogDownloadFailed : LogUploadFailed, file, reason);
}

void startTransfer(FtpSession& session, const FtpPath& path, TransferDirection direction)
{
    FtpTransfer& transfer = session.transfer();
    transfer.path = path.full;
    transfer.direction = direction;
    transfer.blocksSinceLook = 0;
    session.reply(DataStarted);
}

enum class TransferEnd {
    Completed,
    Failed
};

void endTransfer(FtpSession& session, TransferEnd end)
{
    FtpTransfer& transfer = session.transfer();
    transfer.file.close();
    transfer.pipe.close();
    if (end == TransferEnd::Completed)
        session.data().finish();
    else
        session.data().abort();
    session.noteActivity();
}

void finishCompleted(FtpSession& session)
{
    endTransfer(session, TransferEnd::Completed);
    const FtpTransfer& transfer = session.transfer();
    logEvent(session, transfer.direction == TransferDirection::Download ? LogDownload : LogUpload, transfer.path);
    session.reply(TransferComplete);
}

// A transfer that failed gets its failure reply and nothing else: a 226
// would tell the client that a cut file is whole.
void finishFailed(FtpSession& session, const char* reason, const char* reply)
{
    endTransfer(session, TransferEnd::Failed);
    logFailed(session, session.transfer().direction, session.transfer().path, reason);
    session.reply(reply);
}

// ABOR ends the transfer: two commands, two replies, the 226 for the ABOR
// first as clients of this server have always read them.
void finishAborted(FtpSession& session)
{
    endTransfer(session, TransferEnd::Failed);
    logFailed(session, session.transfer().direction, session.transfer().path, ReasonAborted);
    session.reply(TransferComplete);
    session.reply(TransferLost);
}

// Moving bytes is activity. A fast transfer notes it on the passes that
// look at the control connection; a slow one waits before each piece, so
// every piece of it counts.
void noteProgress(FtpSession& session)
{
    if (session.transfer().blocksSinceLook == 0)
        session.noteActivity();
}

void downloadStep(FtpSession& session)
{
    FtpTransfer& transfer = session.transfer();
    LineSocket& data = session.data().socket();
    if (transfer.abortRequested) {
        finishAborted(session);
        return;
    }
    std::size_t length = FtpTransfer::PieceSize;
    bool fileEnded = false;
    if (!data.sendFileSome(transfer.file.descriptor(), transfer.position, length, fileEnded)) {
        finishFailed(session, ReasonAborted, TransferLost);
        return;
    }
    if (fileEnded) {
        // A file cut shorter since it was opened ends before the bytes the
        // client was promised: that is no complete download.
        if (transfer.position < transfer.file.sizeAtOpen())
            finishFailed(session, ReasonAborted, TransferLost);
        else
            finishCompleted(session);
        return;
    }
    if (length == 0) {
        session.awaitDataOrControl(WaitFor::Writable, -1);
        transfer.lookAtControlNext();
        return;
    }
    noteProgress(session);
}

void uploadStep(FtpSession& session)
{
    FtpTransfer& transfer = session.transfer();
    LineSocket& data = session.data().socket();
    if (transfer.abortRequested) {
        finishAborted(session);
        return;
    }
    // Each piece reaches the file before the next is received, so what
    // arrived before an abort or a pause is on disk. A piece never exceeds
    // what the pipe holds: bytes taken out of TLS cannot be left unread.
    std::size_t length = std::min(FtpTransfer::PieceSize, transfer.pipe.capacity());
    if (!data.receiveIntoPipe(transfer.pipe.writeEnd(), length)) {
        // Only the client's close ends an upload; after a reset the bytes
        // still on their way are lost.
        if (data.lastError() == SocketError::ConnectionReset) {
            finishFailed(session, ReasonAborted, TransferLost);
            return;
        }
        session.data().close();
        finishCompleted(session);
        return;
    }
    if (length == 0) {
        session.awaitDataOrControl(WaitFor::Readable, -1);
        transfer.lookAtControlNext();
        return;
    }
    noteProgress(session);
    if (!transfer.pipe.drainTo(transfer.file.descriptor(), length))
        finishFailed(session, ReasonWrite, WriteAborted);
}

// Logs the failed transfer of `file`, then gives `reply`.
CommandOutcome refuseTransfer(FtpSession& session, TransferDirection direction, std::string_view file,
                              const char* reason, const char* reply)
{
    logFailed(session, direction, file, reason);
    return replyAndContinue(session, reply);
}

// RETR has always answered a missing right before logging it; the upload
// commands log first.
enum class RefusalOrder {
    ReplyFirst,
    LogFirst
};

// What a transfer command asks of the session before it looks at its file,
// and how it refuses a path too long to be named whole: as its file being
// missing, or (STOR, which creates it) as the file failing to open.
struct TransferAdmission {
    TransferDirection direction;
    AccessRights right;
    const char* refused;
    RefusalOrder order;
    const char* tooLongReason;
    const char* tooLongReply;
};

constexpr TransferAdmission RetrAdmission{TransferDirection::Download, AccessRights::FileRead, ReadRefused,
                                          RefusalOrder::ReplyFirst,    ReasonMissing,          NoSuchFile};
constexpr TransferAdmission StorAdmission{
    TransferDirection::Upload, AccessRights::FileWrite, WriteRefused, RefusalOrder::LogFirst, ReasonOpen, OpenFailed};
constexpr TransferAdmission AppeAdmission{TransferDirection::Upload,
                                          AccessRights::FileWrite | AccessRights::FileModify,
                                          WriteModifyRefused,
                                          RefusalOrder::LogFirst,
                                          ReasonMissing,
                                          NoSuchFile};

// The checks of every transfer command, in this order: the argument, the
// right (a refusal is logged with the argument as typed), a data connection
// prepared by PORT or PASV, and the path gate. False once a reply is sent.
bool admitTransfer(FtpSession& session, const FtpCommand& command, const TransferAdmission& admission, FtpPath& path)
{
    if (!requireArgument(session, command))
        return false;
    if (!session.hasRight(admission.right)) {
        if (admission.order == RefusalOrder::ReplyFirst)
            session.reply(admission.refused);
        logFailed(session, admission.direction, command.argument(), ReasonAccess);
        if (admission.order == RefusalOrder::LogFirst)
            session.reply(admission.refused);
        return false;
    }
    if (!session.data().ready()) {
        session.reply(UsePortOrPasv);
        return false;
    }
    switch (resolvePath(session.login().folder, session.work().currentDirectory, command.argument(), path)) {
    case PathKind::Resolved:
        return true;
    case PathKind::BareRoot:
        session.reply(NoFilename);
        return false;
    case PathKind::TooLong:
        refuseTransfer(session, admission.direction, path.full, admission.tooLongReason, admission.tooLongReply);
        return false;
    }
    return false;
}

// The last step of every transfer command, once its file is open at the
// right place: the data connection, then the transfer. A connection that
// fails closes the file and is logged with `dataReason`.
CommandOutcome connectAndStart(FtpSession& session, const FtpPath& path, TransferDirection direction,
                               const char* dataReason)
{
    FtpTransfer& transfer = session.transfer();
    // An upload's pipe is made first: without a descriptor to spare, the
    // file counts as not opened.
    if (direction == TransferDirection::Upload && !transfer.pipe.open(FtpTransfer::PieceSize)) {
        transfer.file.close();
        return refuseTransfer(session, direction, path.full, ReasonOpen, OpenFailed);
    }
    if (!openDataConnection(session)) {
        transfer.file.close();
        transfer.pipe.close();
        return refuseTransfer(session, direction, path.full, dataReason, DataFailed);
    }
    startTransfer(session, path, direction);
    // Clients start a protected data connection's handshake on the 150.
    if (const DataOpen secured = secureDataConnection(session); secured != DataOpen::Open) {
        const std::string refusal(dataRefusal(secured));
        finishFailed(session, dataReason, refusal.c_str());
    }
    return CommandOutcome::Continue;
}

// Takes the restart offset for RETR and STOR: it counts for one of them only.
std::uint64_t takeRestartOffset(FtpSession& session)
{
    return std::exchange(session.transfer().restartOffset, 0);
}

} // namespace

bool parseRestartOffset(std::string_view argument, std::uint64_t& offset)
{
    std::size_t pos = 0;
    while (pos < argument.size() && (argument[pos] == ' ' || (argument[pos] >= '\t' && argument[pos] <= '\r')))
        ++pos;
    if (pos < argument.size() && argument[pos] == '+')
        ++pos;
    if (pos >= argument.size() || argument[pos] < '0' || argument[pos] > '9')
        return false;
    std::uint64_t value = 0;
    for (; pos < argument.size() && argument[pos] >= '0' && argument[pos] <= '9'; ++pos) {
        const std::uint64_t digit = static_cast<std::uint64_t>(argument[pos] - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    offset = value;
    return true;
}

bool openDataConnection(FtpSession& session)
{
    session.transfer().abortRequested = false;
    FtpDataChannel& data = session.data();
    if (data.isConnected())
        return true;
    if (!data.isListening())
        return data.connectToPortTarget(session.stopEventDescriptor());
    const std::uint32_t begin = tickCount();
    for (;;) {
        if (!session.mayGoOn())
            return false;
        if (data.acceptFrom(session.control().peerIp()))
            return true;
        if (!data.isListening())
            return false;
        const std::uint32_t spent = tickCount() - begin;
        if (spent >= PassiveWaitMs)
            return false;
        session.awaitPassiveConnection(
            static_cast<int>(std::min<std::uint32_t>(PassiveCheckMs, PassiveWaitMs - spent)));
    }
}

void abandonTransfer(FtpTransfer& transfer)
{
    transfer.file.close();
    transfer.pipe.close();
}

void transferStep(FtpSession& session)
{
    if (!session.transfer().inProgress())
        return;
    if (session.transfer().direction == TransferDirection::Download)
        downloadStep(session);
    else
        uploadStep(session);
}

CommandOutcome handleRest(FtpSession& session, const FtpCommand& command)
{
    std::uint64_t offset = 0;
    if (command.hasArgument() && parseRestartOffset(command.argument(), offset)) {
        session.transfer().restartOffset = offset;
        session.reply(RestAccepted);
    } else {
        session.reply(NoParameter);
    }
    return CommandOutcome::Continue;
}

CommandOutcome handleRetr(FtpSession& session, const FtpCommand& command)
{
    constexpr TransferDirection direction = TransferDirection::Download;
    const std::uint64_t offset = takeRestartOffset(session);
    FtpPath path;
    if (!admitTransfer(session, command, RetrAdmission, path))
        return CommandOutcome::Continue;
    const RootFolder root = accountRoot(session);
    FindRecord entry;
    if (!findFirstEntry(root, path.relative, entry))
        return refuseTransfer(session, direction, path.full, ReasonMissing, NoSuchFile);
    if (offset != 0 && offset >= entry.size)
        return replyAndContinue(session, RestOutside);
    FileHandle& file = session.transfer().file;
    if (!root.openFile(path.relative, FileMode::Read, IfMissing::Fail, file))
        return refuseTransfer(session, direction, path.full, ReasonOpen, OpenFailed);
    if (!file.seekTo(offset)) {
        // The file shrank since the search.
        file.close();
        return replyAndContinue(session, RestOutside);
    }
    session.transfer().position = offset;
    return connectAndStart(session, path, direction, ReasonData);
}

CommandOutcome handleStor(FtpSession& session, const FtpCommand& command)
{
    constexpr TransferDirection direction = TransferDirection::Upload;
    const std::uint64_t offset = takeRestartOffset(session);
    FtpPath path;
    if (!admitTransfer(session, command, StorAdmission, path))
        return CommandOutcome::Continue;
    const RootFolder root = accountRoot(session);
    FindRecord entry;
    const bool exists = findFirstEntry(root, path.relative, entry);
    if (exists) {
        if (!session.hasRight(AccessRights::FileModify))
            return refuseTransfer(session, direction, path.full, ReasonAccess, ModifyRefused);
        // A file that another session is still writing cannot be deleted.
        if (offset == 0 && !root.deleteFile(path.relative))
            return refuseTransfer(session, direction, path.full, ReasonTruncation, OpenFailed);
    }
    // A restart goes on with a file that is there: one beyond its end, or
    // with no file at all, is refused before anything is made.
    if (offset != 0 && (!exists || offset > entry.size))
        return refuseTransfer(session, direction, path.full, ReasonOpen, RestOutside);
    FileHandle& file = session.transfer().file;
    if (!root.openFile(path.relative, FileMode::Write, offset == 0 ? IfMissing::Create : IfMissing::Fail, file))
        return refuseTransfer(session, direction, path.full, ReasonOpen, OpenFailed);
    // With an offset the data overwrites the file from there on; the file
    // is not shortened. It may have shrunk since it was looked up.
    if (!file.seekTo(offset)) {
        refuseTransfer(session, direction, path.full, ReasonOpen, RestOutside);
        file.close();
        return CommandOutcome::Continue;
    }
    return connectAndStart(session, path, direction, ReasonDataStor);
}

CommandOutcome handleAppe(FtpSession& session, const FtpCommand& command)
{
    constexpr TransferDirection direction = TransferDirection::Upload;
    FtpPath path;
    if (!admitTransfer(session, command, AppeAdmission, path))
        return CommandOutcome::Continue;
    const RootFolder root = accountRoot(session);
    FindRecord entry;
    if (!findFirstEntry(root, path.relative, entry))
        return refuseTransfer(session, direction, path.full, ReasonMissing, NoSuchFile);
    FileHandle& file = session.transfer().file;
    if (!root.openFile(path.relative, FileMode::Write, IfMissing::Fail, file))
        return refuseTransfer(session, direction, path.full, ReasonOpen, OpenFailed);
    file.seekToEnd();
    return connectAndStart(session, path, direction, ReasonData);
}

CommandOutcome handleAbor(FtpSession& session, const FtpCommand&)
{
    // The next step of the engine ends the transfer and gives the replies.
    if (session.transfer().inProgress())
        session.transfer().abortRequested = true;
    else
        session.reply(NoTransfer);
    return CommandOutcome::Continue;
}

} // namespace vantrel

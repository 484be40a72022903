// The folder and file commands: PWD, CWD, MKD, RMD, RNFR, RNTO, DELE and
// SIZE. Every path goes through the path gate (ftp_path.h) and is acted on
// through the account folder's RootFolder, so all of them act below the
// account folder only.
#include "foundation/directory_scan.h"
#include "foundation/text.h"
#include "ftp/ftp_command_support.h"
#include "ftp/ftp_commands.h"
#include "ftp/ftp_session.h"

namespace vantrel {

namespace {

constexpr char CurrentDirectoryFormat[] = "257 \"%s\" is current directory.";
constexpr char ChangedDirectoryFormat[] = "250 '%s' is current directory.";
constexpr char NoSuchDirectory[] = "550 Directory does not exist.";
constexpr char CreatedFormat[] = "257 '%s' directory created.";
constexpr char CreateFailed[] = "550 Failed to create directory.";
constexpr char DeleteRoot[] = "550 Cannot delete root directory.";
constexpr char DeleteCurrent[] = "550 Failed to delete directory, current working directory.";
constexpr char DeletedFolderFormat[] = "250 '%s' directory deleted.";
constexpr char DeleteFolderFailed[] = "550 Failed to delete directory, directory may contain files.";
constexpr char FolderModifyRefused[] = "550 Directory modification access disallowed.";
constexpr char FileModifyRefused[] = "550 File modification access disallowed.";
constexpr char SendRnto[] = "350 Now send the RNTO command.";
constexpr char SendRnfrFirst[] = "503 Please send the RNFR command first.";
constexpr char RenameTargetExists[] = "550 Rename failed, file/directory already exists.";
constexpr char Renamed[] = "250 Renaming was successful.";
constexpr char RenameFailed[] = "550 Failed to rename file/directory.";
constexpr char UseRmd[] = "550 Use 'RMD' to delete directories.";
constexpr char FileDeleted[] = "200 File deleted.";
constexpr char DeleteFailed[] = "550 Delete attempt failed, try again later.";
constexpr char SizeFormat[] = "213 %llu";

constexpr char LogCreatedFolder[] = "Created Folder IP:[%s], User:[%s], Folder:[%s]";
constexpr char LogDeletedFolder[] = "Deleted Folder IP:[%s], User:[%s], Folder:[%s]";
constexpr char LogDeletedFile[] = "Deleted File IP:[%s], User:[%s], File:[%s]";
constexpr char LogRenamedFile[] = "Renamed File IP:[%s], User:[%s], Old:[%s], New:[%s]";
constexpr char LogRenamedFolder[] = "Renamed Folder IP:[%s], User:[%s], Old:[%s], New:[%s]";

std::string formatPath(const char* format, const std::string& path)
{
    return formatText(FtpTextLimit, format, path.c_str());
}

} // namespace

CommandOutcome handlePwd(FtpSession& session, const FtpCommand&)
{
    return replyAndContinue(session, formatPath(CurrentDirectoryFormat, session.work().currentDirectory));
}

CommandOutcome handleCwd(FtpSession& session, const FtpCommand& command)
{
    if (!requireArgument(session, command))
        return CommandOutcome::Continue;
    FtpPath path;
    switch (resolvePath(session.login().folder, session.work().currentDirectory, command.argument(), path)) {
    case PathKind::BareRoot:
        session.work().currentDirectory.assign(1, '/');
        return replyAndContinue(session, formatPath(ChangedDirectoryFormat, session.work().currentDirectory));
    case PathKind::TooLong:
        return replyAndContinue(session, NoSuchDirectory);
    case PathKind::Resolved:
        break;
    }
    if (!accountRoot(session).isFolder(path.relative))
        return replyAndContinue(session, NoSuchDirectory);
    session.work().currentDirectory = displayPathOf(path.relative);
    return replyAndContinue(session, formatPath(ChangedDirectoryFormat, session.work().currentDirectory));
}

CommandOutcome handleMkd(FtpSession& session, const FtpCommand& command)
{
    FtpPath path;
    if (!resolveRequiredArgument(session, command, {CreateFailed, CreateFailed}, path))
        return CommandOutcome::Continue;
    // The account folder itself ("MKD ." and the like) always exists.
    if (path.relative.empty() || !accountRoot(session).createFolder(path.relative))
        return replyAndContinue(session, CreateFailed);
    logEvent(session, LogCreatedFolder, path.full);
    return replyAndContinue(session, formatPath(CreatedFormat, displayPathOf(path.relative)));
}

CommandOutcome handleRmd(FtpSession& session, const FtpCommand& command)
{
    FtpPath path;
    if (!resolveRequiredArgument(session, command, {DeleteRoot, NoSuchDirectory}, path))
        return CommandOutcome::Continue;
    if (path.relative == relativeOfDirectory(session.work().currentDirectory))
        return replyAndContinue(session, DeleteCurrent);
    const RootFolder root = accountRoot(session);
    if (!root.isFolder(path.relative))
        return replyAndContinue(session, NoSuchDirectory);
    if (!root.removeFolder(path.relative))
        return replyAndContinue(session, DeleteFolderFailed);
    logEvent(session, LogDeletedFolder, path.full);
    return replyAndContinue(session, formatPath(DeletedFolderFormat, displayPathOf(path.relative)));
}

CommandOutcome handleRnfr(FtpSession& session, const FtpCommand& command)
{
    const RootFolder root = accountRoot(session);
    FtpPath path;
    FindRecord entry;
    if (!findArgumentEntry(session, command, root, path, entry))
        return CommandOutcome::Continue;
    const bool isFolder = root.isFolder(path.relative);
    const AccessRights needed = isFolder ? AccessRights::FolderModify : AccessRights::FileModify;
    if (!session.hasRight(needed))
        return replyAndContinue(session, isFolder ? FolderModifyRefused : FileModifyRefused);
    session.work().renameSource = path.full;
    session.work().renameRelative = path.relative;
    session.work().renameSourceIsFile = !isFolder;
    return replyAndContinue(session, SendRnto);
}

CommandOutcome handleRnto(FtpSession& session, const FtpCommand& command)
{
    FtpWorkingState& work = session.work();
    if (work.renameSource.empty())
        return replyAndContinue(session, SendRnfrFirst);
    FtpPath path;
    if (!resolveRequiredArgument(session, command, {NoFilename, RenameFailed}, path))
        return CommandOutcome::Continue;
    const RootFolder root = accountRoot(session);
    FindRecord entry;
    if (findFirstEntry(root, path.relative, entry))
        return replyAndContinue(session, RenameTargetExists);
    if (!root.move(work.renameRelative, path.relative))
        return replyAndContinue(session, RenameFailed);
    logEvent(session, work.renameSourceIsFile ? LogRenamedFile : LogRenamedFolder, work.renameSource, path.full);
    work.renameSource.clear();
    work.renameRelative.clear();
    return replyAndContinue(session, Renamed);
}

CommandOutcome handleDele(FtpSession& session, const FtpCommand& command)
{
    const RootFolder root = accountRoot(session);
    FtpPath path;
    FindRecord entry;
    if (!findArgumentEntry(session, command, root, path, entry))
        return CommandOutcome::Continue;
    const bool isFolder = root.isFolder(path.relative);
    if (isFolder && !session.hasRight(AccessRights::FolderModify))
        return replyAndContinue(session, UseRmd);
    if (!isFolder && !session.hasRight(AccessRights::FileModify))
        return replyAndContinue(session, FileModifyRefused);
    if (!root.deleteFile(path.relative))
        return replyAndContinue(session, DeleteFailed);
    logEvent(session, LogDeletedFile, path.full);
    return replyAndContinue(session, FileDeleted);
}

CommandOutcome handleSize(FtpSession& session, const FtpCommand& command)
{
    FtpPath path;
    FindRecord entry;
    if (!findArgumentEntry(session, command, accountRoot(session), path, entry))
        return CommandOutcome::Continue;
    return replyAndContinue(session, formatText(FtpTextLimit, SizeFormat, static_cast<unsigned long long>(entry.size)));
}

} // namespace vantrel

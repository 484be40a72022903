// Mechanics shared by the command handlers: the argument check, resolving a
// command's path argument through the path gate, the account folder as the
// root that the session's paths cannot leave, the existence test of the
// file system search, and the common log-line fields.
#pragma once

#include "foundation/directory_scan.h"
#include "foundation/root_folder.h"
#include "ftp/ftp_command.h"
#include "ftp/ftp_path.h"
#include "ftp/ftp_replies.h"

#include <string>
#include <string_view>

namespace vantrel {

class FtpSession;

// Sends `text` and goes on with the next command: the end of most handlers.
CommandOutcome replyAndContinue(FtpSession& session, std::string_view text);

// True when the command has an argument; otherwise sends the 501 reply.
[[nodiscard]] bool requireArgument(FtpSession& session, const FtpCommand& command);

// What a command answers when its path argument cannot be used: a bare "/"
// or "\" (the command's own rule), and a path too long to be named whole
// (the command's failure reply).
struct PathRefusals {
    std::string_view bareRoot;
    std::string_view tooLong;
};

// Resolves the argument below the account folder; false once a refusal
// has been sent.
[[nodiscard]] bool resolveArgument(FtpSession& session, const FtpCommand& command, const PathRefusals& refusals,
                                   FtpPath& path);

// requireArgument, then resolveArgument: false once a reply has been sent.
[[nodiscard]] bool resolveRequiredArgument(FtpSession& session, const FtpCommand& command, const PathRefusals& refusals,
                                           FtpPath& path);

// The account folder as the root that every path of the session stays in;
// opened for each command, so that a folder the operator (re)creates is
// the one used.
RootFolder accountRoot(FtpSession& session);

// The first entry that a search for the relative path finds (the last name
// may hold wildcards). The folder itself (an empty path) finds nothing.
[[nodiscard]] bool findFirstEntry(const RootFolder& root, std::string_view relative, FindRecord& record);

// The steps of a command on an existing file or folder: the argument is
// required, resolved ("550 No filename given." for a bare root) and must
// name an entry ("550 File does not exist." otherwise, also for a path too
// long to name). False once a reply has been sent.
[[nodiscard]] bool findArgumentEntry(FtpSession& session, const FtpCommand& command, const RootFolder& root,
                                     FtpPath& path, FindRecord& entry);

// A log line with the client's address and the login's user name as its
// first two fields, followed by up to two more texts.
bool logEvent(FtpSession& session, const char* format, std::string_view first, std::string_view second = {});

} // namespace vantrel

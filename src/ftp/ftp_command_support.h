// Mechanics shared by the command handlers: the argument check, resolving a
// command's path argument through the path gate, the existence test of the
// file system search, and the common log-line fields.
#pragma once

#include "foundation/directory_scan.h"
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

// Resolves the argument below the account folder. For a bare "/" or "\"
// sends `bareRootReply` and returns false.
[[nodiscard]] bool resolveArgument(FtpSession& session, const FtpCommand& command,
                                   std::string_view bareRootReply, FtpPath& path);

// requireArgument, then resolveArgument: false once a reply has been sent.
[[nodiscard]] bool resolveRequiredArgument(FtpSession& session, const FtpCommand& command,
                                           std::string_view bareRootReply, FtpPath& path);

// The first entry that a search for the full path finds (the last name may
// hold wildcards). A path that ends in a separator finds nothing.
[[nodiscard]] bool findFirstEntry(std::string_view fullPath, FindRecord& record);

// The steps of a command on an existing file or folder: the argument is
// required, resolved ("550 No filename given." for a bare root) and must
// name an entry ("550 File does not exist." otherwise). False once a reply
// has been sent.
[[nodiscard]] bool findArgumentEntry(FtpSession& session, const FtpCommand& command, FtpPath& path,
                                     FindRecord& entry);

// A log line with the client's address and the login's user name as its
// first two fields, followed by up to two more texts.
bool logEvent(FtpSession& session, const char* format, std::string_view first,
              std::string_view second = {});

} // namespace vantrel

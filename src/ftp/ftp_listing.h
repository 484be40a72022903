// LIST and NLST: the contents of a folder, or the first entry that a path
// (possibly with wildcards) finds, sent over the data connection one line
// per entry, in the file system's order.
#pragma once

#include "foundation/directory_scan.h"
#include "ftp/ftp_command.h"

#include <string>
#include <string_view>

namespace vantrel {

class FtpSession;

enum class ListingForm {
    Long,
    NamesOnly
};

// One line of a listing without its CR LF. `user` fills the owner column
// of the long form.
std::string formatListingLine(const FindRecord& entry, std::string_view user, ListingForm form);

CommandOutcome handleList(FtpSession& session, const FtpCommand& command);
CommandOutcome handleNlst(FtpSession& session, const FtpCommand& command);

} // namespace vantrel

// The command set of the command phase: which word is recognised in which
// order, which right it needs before anything else, and its handler.
#pragma once

#include "ftp/ftp_command.h"

#include <string_view>

namespace vantrel {

class FtpSession;

// Dispatches one command line (Telnet bytes already removed).
CommandOutcome dispatchCommand(FtpSession& session, std::string_view line);

} // namespace vantrel

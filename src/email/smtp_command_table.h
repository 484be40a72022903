// The SMTP command dialogue: the greeting rule before HELO, then the
// command set, one handler per word.
#pragma once

#include <string_view>

namespace vantrel {

class SmtpSession;
enum class SmtpOutcome;

// Handles one command line (without its CR LF).
SmtpOutcome dispatchSmtpLine(SmtpSession& session, std::string_view line);

} // namespace vantrel

// The SMTP command dialogue: the greeting rule before HELO, then the
// command set, one handler per word.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

class SmtpSession;
enum class SmtpOutcome;

// Handles one command line (without its CR LF).
SmtpOutcome dispatchSmtpLine(SmtpSession& session, std::string_view line);

// A greeting with its host: refused when the host names this server,
// otherwise answered "250" and the session greeted. EHLO's extension
// lines follow the first line when `extensions` is not empty.
SmtpOutcome acceptGreeting(SmtpSession& session, std::string host, std::string_view extensions = {});
// The name the greeting's reply shows: the local domain, or the client IP.
std::string hostReplyName(SmtpSession& session);

} // namespace vantrel

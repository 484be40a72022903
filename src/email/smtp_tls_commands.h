// The SMTP commands that exist only while mail TLS is on: EHLO with its
// list of extensions, STARTTLS, and the SIZE parameter of MAIL. With mail
// TLS off none of them is looked at, and the lines get the replies they
// always had.
#pragma once

#include <optional>
#include <string_view>

namespace vantrel {

class SmtpSession;
enum class SmtpOutcome;

// Handles the line when it is one of these commands; nothing otherwise
// (the ordinary command set takes it then).
std::optional<SmtpOutcome> dispatchSmtpTlsLine(SmtpSession& session, std::string_view line);

} // namespace vantrel

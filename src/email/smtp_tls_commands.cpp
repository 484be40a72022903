// EHLO, STARTTLS and MAIL's SIZE parameter. EHLO lists only what the
// session does: STARTTLS before TLS, the largest message, 8BITMIME (the
// bytes are stored as received) and PIPELINING (the line reader keeps
// every byte behind a command, and behind the end of data too). After
// STARTTLS's handshake the session is as after the greeting: the client
// greets again, and what it said in clear counts for nothing.
#include "email/smtp_tls_commands.h"

#include "email/mail_directory.h"
#include "email/mail_tls.h"
#include "email/smtp_command_table.h"
#include "email/smtp_parse.h"
#include "email/smtp_replies.h"
#include "email/smtp_session.h"
#include "foundation/text.h"

#include <string>

namespace vantrel {

namespace {

constexpr std::string_view StartTlsWord = "starttls";
constexpr std::string_view MailWord = "mail";

std::string extensionLines(SmtpSession& session)
{
    std::string lines;
    if (!session.control().isTls()) {
        lines += smtp::ExtensionStartTls;
        lines += "\r\n";
    }
    lines +=
        formatText(smtp::ReplyLimit, smtp::ExtensionSize, static_cast<long long>(session.directory().maxEmailBytes()));
    lines += "\r\n";
    lines += smtp::ExtensionLast;
    return lines;
}

// EHLO again after the greeting starts over, as a client that greets twice
// expects.
SmtpOutcome handleExtendedGreeting(SmtpSession& session, std::string host)
{
    if (session.greeted())
        session.resetTransaction();
    return acceptGreeting(session, std::move(host), extensionLines(session));
}

SmtpOutcome handleStartTls(SmtpSession& session)
{
    if (session.control().isTls()) {
        session.reply(smtp::TlsAlreadyActive);
        return SmtpOutcome::Continue;
    }
    std::shared_ptr<const TlsContext> context = mailTlsContext(session.tls());
    if (!context) {
        session.reply(smtp::TlsNotAvailable);
        return SmtpOutcome::Continue;
    }
    if (!session.reply(smtp::StartTlsReady))
        return SmtpOutcome::Failed;
    if (!secureMailSession(session, session.log(), std::move(context)))
        return SmtpOutcome::Failed;
    session.restartAfterTls();
    return SmtpOutcome::Continue;
}

// A message announced larger than the directory takes is refused before
// its bytes are sent.
bool refuseDeclaredSize(SmtpSession& session, std::string_view line)
{
    const auto size = declaredSize(line);
    if (!size || *size <= session.directory().maxEmailBytes())
        return false;
    session.reply(smtp::MessageTooBig);
    return true;
}

} // namespace

std::optional<SmtpOutcome> dispatchSmtpTlsLine(SmtpSession& session, std::string_view line)
{
    if (auto host = extendedGreetingHost(line))
        return handleExtendedGreeting(session, std::move(*host));
    // Before the greeting every other line is the HELO rule's.
    if (!session.greeted())
        return std::nullopt;
    if (equalsIgnoreCase(trimText(line), StartTlsWord))
        return handleStartTls(session);
    if (commandWord(line) == MailWord && refuseDeclaredSize(session, line))
        return SmtpOutcome::Continue;
    return std::nullopt;
}

} // namespace vantrel

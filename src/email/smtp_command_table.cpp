// The SMTP command set. Before a greeting every line must be a HELO (any
// line of 6 characters or more that starts with H counts); afterwards the
// first four characters of a line, in any case, pick its handler, so a line
// whose first four letters are MAIL is MAIL. Only HELO is understood: a
// client that greets with EHLO is refused and falls back to HELO, unless
// mail TLS is on (smtp_tls_commands.cpp then answers EHLO and STARTTLS). Once a
// message is queued its envelope is fixed: MAIL or RCPT then begin the next
// transaction, and RSET forgets only the one under way.
#include "email/smtp_command_table.h"

#include "email/mail_directory.h"
#include "email/smtp_parse.h"
#include "email/smtp_relay.h"
#include "email/smtp_replies.h"
#include "email/smtp_session.h"
#include "email/smtp_tls_commands.h"
#include "foundation/text.h"

#include <array>

namespace vantrel {

namespace {

constexpr std::size_t ShortestCommand = 4;

using Handler = SmtpOutcome (*)(SmtpSession&, std::string_view);

struct CommandEntry {
    std::string_view word;
    Handler handler;
};

SmtpOutcome handleGreeting(SmtpSession& session, std::string_view line)
{
    auto host = greetingHost(line);
    if (!host) {
        session.reply(smtp::SayHello);
        return SmtpOutcome::Continue;
    }
    return acceptGreeting(session, std::move(*host));
}

SmtpOutcome handleMail(SmtpSession& session, std::string_view line)
{
    const auto sender = commandAddress(line, MailPrefix);
    if (!sender) {
        session.reply(smtp::IncorrectCommand);
        return SmtpOutcome::Continue;
    }
    session.beginTransactionIfDone();
    session.envelope().sender = *sender;
    session.reply(formatText(smtp::ReplyLimit, smtp::AddressAccepted, sender->c_str()));
    return SmtpOutcome::Continue;
}

// A local account is named once, however many of its addresses are.
SmtpOutcome acceptLocal(SmtpSession& session, const std::string& address, std::string user)
{
    MailEnvelope& envelope = session.envelope();
    if (envelope.localRecipients.size() >= MailEnvelope::MaxRecipients) {
        envelope.refuse(address);
        session.reply(smtp::TooManyRecipients);
        return SmtpOutcome::Continue;
    }
    if (!envelope.holdsUser(user))
        envelope.localRecipients.push_back(LocalRecipient{std::move(user), {}});
    session.reply(formatText(smtp::ReplyLimit, smtp::AddressAccepted, address.c_str()));
    return SmtpOutcome::Continue;
}

SmtpOutcome acceptRelay(SmtpSession& session, const std::string& address)
{
    MailEnvelope& envelope = session.envelope();
    if (!mayRelay(session.directory(), envelope)) {
        envelope.refuse(address);
        session.reply(smtp::NoSuchAccount);
        return SmtpOutcome::Continue;
    }
    if (session.tlsEnabled() && session.tls().settings.relayRequiresTls && !session.control().isTls()) {
        envelope.refuse(address);
        session.reply(smtp::RelayNeedsTls);
        return SmtpOutcome::Continue;
    }
    if (envelope.relayRecipients.size() >= MailEnvelope::MaxRecipients) {
        envelope.refuse(address);
        session.reply(smtp::TooManyRecipients);
        return SmtpOutcome::Continue;
    }
    envelope.relayRecipients.push_back(address);
    session.reply(formatText(smtp::ReplyLimit, smtp::AddressAccepted, address.c_str()));
    return SmtpOutcome::Continue;
}

SmtpOutcome handleRcpt(SmtpSession& session, std::string_view line)
{
    const auto recipient = commandAddress(line, RcptPrefix);
    if (!recipient) {
        session.reply(smtp::IncorrectCommand);
        return SmtpOutcome::Continue;
    }
    session.beginTransactionIfDone();
    const std::string address = lowerAscii(*recipient);
    std::string user = session.directory().localRecipient(address);
    if (!user.empty())
        return acceptLocal(session, address, std::move(user));
    return acceptRelay(session, address);
}

SmtpOutcome handleData(SmtpSession& session, std::string_view)
{
    const MailEnvelope& envelope = session.envelope();
    if (envelope.localRecipients.empty() && envelope.relayRecipients.empty()) {
        session.reply(smtp::NoRecipientYet);
        return SmtpOutcome::Continue;
    }
    if (session.dataAccepted()) {
        session.reply(smtp::DataAlreadyReceived);
        return SmtpOutcome::Continue;
    }
    // Without a message file the client hears 452 and may try again.
    return session.beginMessage() ? SmtpOutcome::ReceiveData : SmtpOutcome::Continue;
}

SmtpOutcome handleQuit(SmtpSession& session, std::string_view)
{
    session.reply(smtp::Bye);
    session.closeConnection();
    return SmtpOutcome::Succeeded;
}

SmtpOutcome handleNoop(SmtpSession& session, std::string_view)
{
    session.reply(smtp::Ok);
    return SmtpOutcome::Continue;
}

SmtpOutcome handleRset(SmtpSession& session, std::string_view)
{
    session.resetTransaction();
    session.reply(smtp::Ok);
    return SmtpOutcome::Continue;
}

constexpr std::array<CommandEntry, 6> Commands{{
    {"mail", handleMail},
    {"rcpt", handleRcpt},
    {"data", handleData},
    {"quit", handleQuit},
    {"noop", handleNoop},
    {"rset", handleRset},
}};

} // namespace

std::string hostReplyName(SmtpSession& session)
{
    std::string name = session.directory().localHostName();
    return name.empty() ? session.envelope().clientIp : name;
}

SmtpOutcome acceptGreeting(SmtpSession& session, std::string host, std::string_view extensions)
{
    session.envelope().heloHost = std::move(host);
    if (session.directory().isLocalDomain(session.envelope().heloHost)) {
        session.reply(smtp::SameHostName);
        session.closeConnection();
        return SmtpOutcome::Failed;
    }
    const std::string name = hostReplyName(session);
    if (extensions.empty())
        session.reply(formatText(smtp::ReplyLimit, smtp::HelloAccepted, name.c_str()));
    else
        session.reply(formatText(smtp::ReplyLimit, smtp::ExtendedHelloFirst, name.c_str()) + "\r\n" +
                      std::string(extensions));
    session.setGreeted();
    return SmtpOutcome::Continue;
}

SmtpOutcome dispatchSmtpLine(SmtpSession& session, std::string_view line)
{
    // An empty line is no command and gets no answer.
    if (line.empty())
        return SmtpOutcome::Continue;
    if (line.size() < ShortestCommand) {
        session.reply(smtp::CommandUnknown);
        return SmtpOutcome::Continue;
    }
    session.noteActivity();
    if (session.tlsEnabled()) {
        if (const auto outcome = dispatchSmtpTlsLine(session, line))
            return *outcome;
    }
    if (!session.greeted())
        return handleGreeting(session, line);
    const std::string word = commandWord(line);
    for (const CommandEntry& command : Commands)
        if (command.word == word)
            return command.handler(session, line);
    session.reply(smtp::UnknownCommand);
    return SmtpOutcome::Continue;
}

} // namespace vantrel

// Relaying: mail for recipients that are not local goes, once, to the one
// relay host of the mail directory when the client may relay. The RCPT rule
// asks mayRelay; after size screening the session hands the message to
// relayMessage, which speaks to the relay host over the session's own
// socket object once the client has gone, and reports the recipients left
// over to a local sender with sendUndeliveredNotice. There is no queue and
// no retry.
#pragma once

#include <string_view>

namespace vantrel {

class MailDirectory;
class SmtpSession;
struct MailEnvelope;

// The recipient may be taken for relaying: a relay host is set, the
// client's address lies in the relay subnet and its greeting did not name
// this server.
bool mayRelay(const MailDirectory& directory, const MailEnvelope& envelope);
// Hands the message to the relay host (on the session's relay port) for
// the relay recipients. True when the host answered 250 to the message for
// at least one of them (QUIT is then sent and its answer waited for a short
// while only); the relay recipients then hold the ones it refused. On false
// they are unchanged.
[[nodiscard]] bool relayMessage(SmtpSession& session, MailEnvelope& envelope);
// Sends the file's bytes as they stand over the session's connection.
[[nodiscard]] bool sendMessageFile(SmtpSession& session, std::string_view path);
// Delivers the "Mail Undelivered" notice listing the relay recipients left
// over to the sender's account. False when there are none, the sender is
// no local account, or the notice could not be written.
bool sendUndeliveredNotice(SmtpSession& session, MailEnvelope& envelope);

} // namespace vantrel

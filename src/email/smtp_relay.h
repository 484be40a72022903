// Relaying: mail for recipients that are not local goes, once, to the one
// relay host of the mail directory when the client may relay. The RCPT rule
// asks mayRelay; after size screening the session hands the message to
// relayMessage and reports the recipients left over with
// sendUndeliveredNotice. No relay client is built in yet, so mayRelay gives
// false (every recipient that is not local is refused as if no relay host
// were set) and the two steps report that nothing was relayed.
#pragma once

namespace vantrel {

class MailDirectory;
class SmtpSession;
struct MailEnvelope;

// The recipient may be taken for relaying: a relay client exists, a relay
// host is set, the client's address lies in the relay subnet and its
// greeting did not name this server.
bool mayRelay(const MailDirectory& directory, const MailEnvelope& envelope);
// Hands the message to the relay host for the relay recipients; afterwards
// they hold the ones it refused. False when nothing was relayed.
[[nodiscard]] bool relayMessage(SmtpSession& session, MailEnvelope& envelope);
// Tells a local sender about the relay recipients left over.
bool sendUndeliveredNotice(SmtpSession& session, MailEnvelope& envelope);

} // namespace vantrel

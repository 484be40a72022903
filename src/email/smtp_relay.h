// Relaying: mail for recipients that are not local goes, once, to the one
// relay host of the mail directory when the client may relay. The RCPT rule
// asks mayRelay; after size screening the courier hands the message to
// relayMessage, which speaks to the relay host over the courier's own
// socket object once the client has gone, and reports the recipients left
// over to a local sender with sendUndeliveredNotice. A relay is not tried
// again: what the relay host did not take is reported.
#pragma once

#include "email/mail_courier.h"

#include <string>
#include <string_view>

namespace vantrel {

class MailDirectory;
struct MailEnvelope;

// The recipient may be taken for relaying: a relay host is set, the
// client's address lies in the relay subnet and its greeting did not name
// this server.
bool mayRelay(const MailDirectory& directory, const MailEnvelope& envelope);
// Hands the message to the relay host (on the courier's relay port) for
// the relay recipients. True when the host answered 250 to the message for
// at least one of them (QUIT is then sent and its answer waited for a short
// while only); the relay recipients then hold the ones it refused. On false
// they are unchanged.
[[nodiscard]] bool relayMessage(MailCourier& courier, MailEnvelope& envelope);
// Sends the file's bytes as they stand over the courier's connection.
[[nodiscard]] bool sendMessageFile(MailCourier& courier, std::string_view path);
// Delivers the "Mail Undelivered" notice listing the envelope's notice
// recipients to the sender's account, as a copy with the envelope's notice
// id, written first to noticePath (which is gone afterwards). On a try
// after an interrupted one, a notice already in the mailbox is not sent
// again. False when there is no one to list, the sender is no local
// account, or the notice could not be written.
bool sendUndeliveredNotice(MailCourier& courier, const MailEnvelope& envelope, const std::string& noticePath,
                           DeliveryTry attempt);

} // namespace vantrel

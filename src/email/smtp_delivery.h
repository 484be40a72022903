// What happens to a queued mail: size screening, relaying, the notice for
// what the relay host did not take, attachment screening, delivery into
// the local mailboxes and the SMTP log lines that tell how it went. Each
// step leaves the queue entry in a state from which a later try goes on
// without repeating what was done: the relay's outcome and the notice owed
// are written to the envelope before the next step, and every copy carries
// the id fixed when the message was queued, by which a copy already in a
// mailbox is found.
#pragma once

#include "email/mail_courier.h"
#include "email/mail_envelope.h"

#include <cstdint>
#include <vector>

namespace vantrel {

class MailDirectory;
class ServiceLog;
struct QueuedMail;

// A copy that fails (a full disk) is tried again, every retryMs, for this
// long after the message was queued; then the sender gets the notice.
constexpr std::int64_t CopyRetrySeconds = 3 * 24 * 60 * 60;

// Takes the mail through every step; afterwards its queue entry is gone,
// or released to the queue runner for its next try.
void deliverQueued(MailCourier& courier, QueuedMail& mail, DeliveryTry attempt, std::uint32_t retryMs);

// The failure log line of a transaction that delivered nothing.
void logFailedMail(MailDirectory& directory, ServiceLog& log, const MailEnvelope& envelope);

// Copies the message file into each local recipient's mailbox that has
// room for it and logs "Mail Received" with the users who got it (on a
// later try only when some got it). Gives back the recipients whose copy
// failed, to be tried again.
std::vector<LocalRecipient> deliverLocally(MailDirectory& directory, ServiceLog& log, const MailEnvelope& envelope,
                                           DeliveryTry attempt);

} // namespace vantrel

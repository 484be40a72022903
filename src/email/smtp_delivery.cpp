// The steps of a queued mail, in their fixed order, and the log lines that
// report them.
#include "email/smtp_delivery.h"

#include "email/hop_count.h"
#include "email/mail_directory.h"
#include "email/mail_queue.h"
#include "email/message_screening.h"
#include "email/smtp_relay.h"
#include "email/smtp_replies.h"
#include "foundation/clock.h"
#include "foundation/file_system.h"
#include "foundation/service_log.h"
#include "foundation/text.h"

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

namespace vantrel {

namespace {

// "... For:[users], 'Bad' For:[refused]" after the given head.
std::string withRecipients(std::string head, const std::vector<std::string>& users,
                           const std::vector<std::string>& refused)
{
    head += joinText(users, smtp::LogListSeparator);
    head += smtp::LogRefusedPart;
    head += joinText(refused, smtp::LogListSeparator);
    head += smtp::LogListEnd;
    return cutText(head, smtp::LogLimit);
}

// The addresses of local recipients, for a notice that names them.
std::vector<std::string> addressesOf(MailDirectory& directory, const std::vector<LocalRecipient>& recipients)
{
    std::vector<std::string> addresses;
    for (const LocalRecipient& recipient : recipients) {
        std::string address = directory.addressOf(recipient.user);
        addresses.push_back(address.empty() ? recipient.user : std::move(address));
    }
    return addresses;
}

// The sender gets the "Mail Undelivered" notice for these addresses, once:
// the id is fixed in the envelope before the notice is delivered.
void owedNotice(MailCourier& courier, QueuedMail& mail, std::vector<std::string> addresses, DeliveryTry attempt)
{
    MailEnvelope& envelope = mail.envelope;
    if (envelope.noticeRecipients.empty()) {
        envelope.noticeRecipients = std::move(addresses);
        if (envelope.noticeRecipients.empty())
            return;
        envelope.noticeId = courier.directory().newMessageId();
        (void)courier.queue().update(mail);
        attempt = DeliveryTry::First;
    }
    (void)sendUndeliveredNotice(courier, envelope, courier.queue().noticePath(mail.name), attempt);
    envelope.noticeRecipients.clear();
    envelope.noticeId.clear();
}

// A message that has gone round too often stops here, and its sender hears
// of every recipient it did not reach.
bool stopsAtHopLimit(MailCourier& courier, QueuedMail& mail, DeliveryTry attempt)
{
    const MailEnvelope& envelope = mail.envelope;
    int hops = 0;
    if (!countHopsInFile(envelope.messageFile, HopLimit, hops) || hops < HopLimit)
        return false;
    courier.log().appendLine(formatText(smtp::LogLimit, smtp::LogHopLimit, envelope.clientIp.c_str(),
                                        envelope.heloHost.c_str(), envelope.sender.c_str(), hops));
    std::vector<std::string> unreached = envelope.noticeRecipients.empty()
                                             ? addressesOf(courier.directory(), envelope.localRecipients)
                                             : std::vector<std::string>{};
    unreached.insert(unreached.end(), envelope.relayRecipients.begin(), envelope.relayRecipients.end());
    owedNotice(courier, mail, std::move(unreached), attempt);
    return true;
}

void relayStep(MailCourier& courier, QueuedMail& mail, DeliveryTry attempt)
{
    MailEnvelope& envelope = mail.envelope;
    if (!relayMessage(courier, envelope)) {
        const std::string relayHost = courier.directory().relayHost();
        courier.log().appendLine(
            formatText(smtp::LogLimit, smtp::LogRelayFailed, relayHost.c_str(), envelope.sender.c_str()));
    }
    // What is left over is owed the notice, never a second relay.
    std::vector<std::string> leftOver = std::move(envelope.relayRecipients);
    envelope.relayRecipients.clear();
    if (leftOver.empty())
        (void)courier.queue().update(mail);
    owedNotice(courier, mail, std::move(leftOver), attempt);
}

void localStep(MailCourier& courier, QueuedMail& mail, DeliveryTry attempt, std::uint32_t retryMs)
{
    MailEnvelope& envelope = mail.envelope;
    MailQueue& queue = courier.queue();
    std::vector<LocalRecipient> failed = deliverLocally(courier.directory(), courier.log(), envelope, attempt);
    if (failed.empty()) {
        queue.finish(mail.name);
        return;
    }
    envelope.localRecipients = std::move(failed);
    ++mail.tries;
    if (std::time(nullptr) - mail.queuedAt >= CopyRetrySeconds) {
        owedNotice(courier, mail, addressesOf(courier.directory(), envelope.localRecipients), DeliveryTry::First);
        queue.finish(mail.name);
        return;
    }
    (void)queue.update(mail);
    queue.release(mail.name, tickCount() + retryMs);
}

} // namespace

void logFailedMail(MailDirectory& directory, ServiceLog& log, const MailEnvelope& envelope)
{
    const char* ip = envelope.clientIp.c_str();
    const char* host = envelope.heloHost.c_str();
    const char* sender = envelope.sender.c_str();
    if (directory.isLocalDomain(envelope.heloHost)) {
        log.appendLine(formatText(smtp::LogLimit, smtp::LogMailLoop, ip, host, sender));
        return;
    }
    std::vector<std::string> users;
    for (const LocalRecipient& recipient : envelope.localRecipients)
        users.push_back(recipient.user);
    log.appendLine(withRecipients(formatText(smtp::LogLimit, smtp::LogFailed, ip, host, sender), users,
                                  envelope.refusedRecipients));
}

void deliverQueued(MailCourier& courier, QueuedMail& mail, DeliveryTry attempt, std::uint32_t retryMs)
{
    MailDirectory& directory = courier.directory();
    MailEnvelope& envelope = mail.envelope;
    if (stopsAtHopLimit(courier, mail, attempt)) {
        courier.queue().finish(mail.name);
        return;
    }
    if (!screenForSize(envelope, directory)) {
        logFailedMail(directory, courier.log(), envelope);
        courier.queue().finish(mail.name);
        return;
    }
    if (!envelope.relayRecipients.empty())
        relayStep(courier, mail, attempt);
    else if (!envelope.noticeRecipients.empty())
        owedNotice(courier, mail, {}, attempt);
    if (!screenAttachments(envelope, directory)) {
        logFailedMail(directory, courier.log(), envelope);
        courier.queue().finish(mail.name);
        return;
    }
    if (envelope.localRecipients.empty()) {
        courier.queue().finish(mail.name);
        return;
    }
    localStep(courier, mail, attempt, retryMs);
}

std::vector<LocalRecipient> deliverLocally(MailDirectory& directory, ServiceLog& log, const MailEnvelope& envelope,
                                           DeliveryTry attempt)
{
    std::uint64_t size = 0;
    if (!fileSize(envelope.messageFile, size))
        size = 0;
    const auto roomLimit = static_cast<std::uint64_t>(std::max<std::int32_t>(directory.maxAccountSize(), 0));
    std::vector<std::string> delivered;
    std::vector<LocalRecipient> failed;
    for (const LocalRecipient& recipient : envelope.localRecipients) {
        // A copy that an earlier try stored before it was cut short, or
        // whose index the disk did not take then: committing nothing new
        // writes what the account's files still lack.
        const bool stored = attempt == DeliveryTry::Again && directory.holdsMessage(recipient.user, recipient.id);
        std::unique_ptr<MailboxTransaction> mailbox = directory.openMailboxForUser(recipient.user);
        if (!mailbox)
            continue; // the account is gone
        if (!stored) {
            // A full mailbox is skipped; only its absence from the log shows it.
            if (roomLimit < mailbox->storedSize() + size) {
                directory.commitDelivery(std::move(mailbox));
                continue;
            }
            mailbox->addMessage(envelope.messageFile, cutText(recipient.id, MailDirectory::MaxMessageId), size);
        }
        const CommitOutcome outcome = directory.commitDelivery(std::move(mailbox));
        if (outcome == CommitOutcome::Applied) {
            delivered.push_back(recipient.user);
        } else if (outcome == CommitOutcome::CopyFailed || outcome == CommitOutcome::SaveFailed) {
            log.appendLine(formatText(smtp::LogLimit, smtp::LogCopyFailed, envelope.clientIp.c_str(),
                                      envelope.heloHost.c_str(), envelope.sender.c_str(), recipient.user.c_str()));
            failed.push_back(recipient);
        }
    }
    if (attempt == DeliveryTry::First || !delivered.empty())
        log.appendLine(withRecipients(formatText(smtp::LogLimit, smtp::LogMailReceived, envelope.clientIp.c_str(),
                                                 envelope.heloHost.c_str(), envelope.sender.c_str()),
                                      delivered, envelope.refusedRecipients));
    return failed;
}

} // namespace vantrel

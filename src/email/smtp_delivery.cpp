// The steps after the SMTP dialogue, in their fixed order, and the log
// lines that report them.
#include "email/smtp_delivery.h"

#include "email/mail_directory.h"
#include "email/mail_envelope.h"
#include "email/message_screening.h"
#include "email/smtp_relay.h"
#include "email/smtp_replies.h"
#include "email/smtp_session.h"
#include "foundation/file_system.h"
#include "foundation/service_log.h"
#include "foundation/text.h"

#include <algorithm>
#include <string>
#include <vector>

namespace vantrel {

namespace {

std::string cut(std::string text, std::size_t limit)
{
    if (text.size() > limit)
        text.resize(limit);
    return text;
}

// "... For:[users], 'Bad' For:[refused]" after the given head.
std::string withRecipients(std::string head, const std::vector<std::string>& users,
                           const std::vector<std::string>& refused)
{
    head += joinText(users, smtp::LogListSeparator);
    head += smtp::LogRefusedPart;
    head += joinText(refused, smtp::LogListSeparator);
    head += smtp::LogListEnd;
    return cut(std::move(head), smtp::LogLimit);
}

void logFailure(MailDirectory& directory, ServiceLog& log, const MailEnvelope& envelope)
{
    const char* ip = envelope.clientIp.c_str();
    const char* host = envelope.heloHost.c_str();
    const char* sender = envelope.sender.c_str();
    if (directory.isLocalDomain(envelope.heloHost)) {
        log.appendLine(formatText(smtp::LogLimit, smtp::LogMailLoop, ip, host, sender));
        return;
    }
    std::vector<std::string> users;
    for (const auto& mailbox : envelope.localRecipients)
        users.push_back(mailbox->user());
    log.appendLine(withRecipients(formatText(smtp::LogLimit, smtp::LogFailed, ip, host, sender), users,
                                  envelope.refusedRecipients));
}

void handBackUnchanged(MailDirectory& directory, MailEnvelope& envelope)
{
    for (auto& mailbox : envelope.localRecipients) {
        mailbox->dropAdditions();
        directory.commitDelivery(std::move(mailbox));
    }
    envelope.localRecipients.clear();
}

void failMail(MailDirectory& directory, ServiceLog& log, MailEnvelope& envelope)
{
    logFailure(directory, log, envelope);
    handBackUnchanged(directory, envelope);
}

} // namespace

void finishMail(SmtpSession& session, DialogueResult result)
{
    MailDirectory& directory = session.directory();
    ServiceLog& log = session.log();
    MailEnvelope& envelope = session.envelope();
    if (result == DialogueResult::Failed) {
        // A client that never greeted leaves no trace in the log.
        if (!envelope.heloHost.empty())
            logFailure(directory, log, envelope);
        handBackUnchanged(directory, envelope);
        return;
    }
    if (!screenForSize(envelope, directory)) {
        failMail(directory, log, envelope);
        return;
    }
    if (!envelope.relayRecipients.empty()) {
        if (!relayMessage(session, envelope)) {
            const std::string relayHost = directory.relayHost();
            log.appendLine(formatText(smtp::LogLimit, smtp::LogRelayFailed, relayHost.c_str(),
                                      envelope.sender.c_str()));
        }
        sendUndeliveredNotice(session, envelope);
    }
    if (!screenAttachments(envelope, directory)) {
        failMail(directory, log, envelope);
        return;
    }
    if (!envelope.localRecipients.empty())
        deliverLocally(directory, log, envelope);
}

void deliverLocally(MailDirectory& directory, ServiceLog& log, MailEnvelope& envelope)
{
    std::uint64_t size = 0;
    if (!fileSize(envelope.messageFile, size))
        size = 0;
    const auto roomLimit = static_cast<std::uint64_t>(std::max<std::int32_t>(directory.maxAccountSize(), 0));
    std::vector<std::string> delivered;
    for (auto& mailbox : envelope.localRecipients) {
        // A full mailbox is skipped; only its absence from the log shows it.
        if (roomLimit < mailbox->storedSize() + size) {
            directory.commitDelivery(std::move(mailbox));
            continue;
        }
        const std::string user = mailbox->user();
        std::string id = directory.newMessageId();
        id = cut(std::move(id), MailDirectory::MaxMessageId);
        mailbox->addMessage(envelope.messageFile, std::move(id), size);
        const CommitOutcome outcome = directory.commitDelivery(std::move(mailbox));
        if (outcome == CommitOutcome::Applied)
            delivered.push_back(user);
        else if (outcome == CommitOutcome::CopyFailed)
            log.appendLine(formatText(smtp::LogLimit, smtp::LogCopyFailed, envelope.clientIp.c_str(),
                                      envelope.heloHost.c_str(), envelope.sender.c_str(), user.c_str()));
    }
    envelope.localRecipients.clear();
    log.appendLine(withRecipients(formatText(smtp::LogLimit, smtp::LogMailReceived, envelope.clientIp.c_str(),
                                             envelope.heloHost.c_str(), envelope.sender.c_str()),
                                  delivered, envelope.refusedRecipients));
}

} // namespace vantrel

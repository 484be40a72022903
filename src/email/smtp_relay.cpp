// The relay client. Until the host has taken the message its dialogue has
// no time limit of its own: a relay host that stalls is ended by the
// session's idle limit, whose stop request ends the wait for the next
// reply. Once the host has answered 250 to the message and QUIT is sent the
// mail is the host's: its reply to QUIT or its close is waited for a short
// while only, and then the connection is ours to close. The connect itself
// is bounded by the socket's connect time limit.
#include "email/smtp_relay.h"

#include "email/mail_directory.h"
#include "email/mail_envelope.h"
#include "email/mail_notices.h"
#include "email/relay_dialogue.h"
#include "email/smtp_delivery.h"
#include "email/smtp_session.h"
#include "foundation/clock.h"
#include "foundation/file_handle.h"
#include "foundation/file_time.h"
#include "foundation/service_log.h"
#include "foundation/temporary_file.h"

#include <string>

namespace vantrel {

namespace {

constexpr std::size_t ReplyLineSize = 1000;
constexpr std::size_t ShortestReply = 3;
constexpr std::size_t FileBlock = 4096;
// How long a host that has the message may take to answer QUIT or close.
constexpr std::uint32_t QuitReplyWaitMs = 5000;
constexpr int NoTimeLimit = -1;

bool writeNoticeFile(TemporaryFile& file, const std::string& notice)
{
    if (!file.create())
        return false;
    FileHandle writer;
    return writer.open(file.path(), FileMode::Write, IfMissing::Fail)
           && writer.writeAll(notice.data(), notice.size());
}

} // namespace

bool mayRelay(const MailDirectory& directory, const MailEnvelope& envelope)
{
    return directory.relayHostSet() && directory.relayAllowedFrom(envelope.clientIp)
           && !directory.isLocalDomain(envelope.heloHost);
}

bool relayMessage(SmtpSession& session, MailEnvelope& envelope)
{
    if (envelope.relayRecipients.empty() || session.stopRequested())
        return false;
    MailDirectory& directory = session.directory();
    const std::string relayHost = directory.relayHost();
    LineSocket& socket = session.control();
    // The client's connection is over; whatever it left unread goes with it.
    socket.close();
    if (!socket.connectTo(relayHost.c_str(), session.relayPort()))
        return false;

    std::string heloName = directory.localHostName();
    if (heloName.empty())
        heloName = envelope.clientIp;
    RelayDialogue dialogue(heloName, envelope.sender, envelope.relayRecipients);
    char reply[ReplyLineSize];
    std::uint32_t quitSentAt = 0;
    bool finished = false;
    while (!finished) {
        int timeoutMs = NoTimeLimit;
        if (dialogue.quitSent()) {
            const std::uint32_t spent = tickCount() - quitSentAt;
            timeoutMs = static_cast<int>(spent < QuitReplyWaitMs ? QuitReplyWaitMs - spent : 0);
        }
        const NextLine next = session.readReply(reply, sizeof reply, timeoutMs);
        if (next != NextLine::Line) {
            // The host has the message once QUIT is out: a close, a stop or
            // the end of the wait for its answer leave it relayed.
            if (!dialogue.quitSent())
                return false;
            break;
        }
        const std::string_view line(reply);
        if (line.size() < ShortestReply)
            continue;
        session.noteActivity();
        const RelayStep step = dialogue.onReply(line);
        switch (step.action) {
        case RelayAction::Wait:
            break;
        case RelayAction::Send:
            // A command that cannot be sent leaves the connection closed,
            // which the next read reports.
            session.sendLine(socket, step.line);
            if (dialogue.quitSent())
                quitSentAt = tickCount();
            break;
        case RelayAction::SendMessage:
            if (!sendMessageFile(session, envelope.messageFile))
                return false;
            break;
        case RelayAction::Fail:
            socket.shutdownAndClose();
            return false;
        case RelayAction::Done:
            finished = true;
            break;
        }
    }
    // A host that keeps the connection after QUIT is not waited for.
    socket.shutdownAndClose();
    session.log().appendLine(relayLogLine(envelope.clientIp, envelope.heloHost, envelope.sender,
                                          dialogue.accepted(), dialogue.refused()));
    envelope.relayRecipients = dialogue.refused();
    return true;
}

bool sendMessageFile(SmtpSession& session, std::string_view path)
{
    FileHandle file;
    if (!file.open(path, FileMode::Read, IfMissing::Fail))
        return false;
    const std::uint64_t size = file.sizeAtOpen();
    std::uint64_t sent = 0;
    char block[FileBlock];
    while (sent < size) {
        if (session.stopRequested() || !session.control().isConnected())
            return false;
        const std::size_t length = file.read(block, sizeof block);
        // The file ended before its size: it changed under us.
        if (length == 0)
            return false;
        if (!session.sendBuffer(session.control(), block, length))
            return false;
        sent += length;
    }
    return true;
}

bool sendUndeliveredNotice(SmtpSession& session, MailEnvelope& envelope)
{
    if (envelope.relayRecipients.empty())
        return false;
    TemporaryFile noticeFile;
    if (!writeNoticeFile(noticeFile,
                         undeliveredNotice(formatDateText(localNow(), DateForm::Long), envelope.relayRecipients)))
        return false;

    MailDirectory& directory = session.directory();
    // The sender as given in MAIL, not lowercased.
    std::unique_ptr<MailboxTransaction> mailbox = directory.openMailboxForAddress(envelope.sender);
    if (!mailbox)
        return false;
    MailEnvelope notice;
    notice.clientIp = envelope.clientIp;
    notice.heloHost = envelope.heloHost;
    notice.sender = envelope.sender;
    notice.refusedRecipients = envelope.refusedRecipients;
    notice.messageFile = noticeFile.path();
    notice.localRecipients.push_back(std::move(mailbox));
    deliverLocally(directory, session.log(), notice);
    return true;
}

} // namespace vantrel

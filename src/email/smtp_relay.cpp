// The relay client. Until the host has taken the message its dialogue has
// no time limit of its own: a relay host that stalls is ended by the
// courier's idle limit, whose stop request ends the wait for the next
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
#include "email/smtp_replies.h"
#include "foundation/clock.h"
#include "foundation/file_handle.h"
#include "foundation/file_replace.h"
#include "foundation/file_system.h"
#include "foundation/file_time.h"
#include "foundation/service_log.h"
#include "foundation/text.h"

#include <string>

namespace vantrel {

namespace {

constexpr std::size_t ReplyLineSize = 1000;
constexpr std::size_t ShortestReply = 3;
constexpr std::size_t FileBlock = 4096;
// How long a host that has the message may take to answer QUIT or close.
constexpr std::uint32_t QuitReplyWaitMs = 5000;
constexpr int NoTimeLimit = -1;

// Removes the notice file however its delivery went.
class NoticeFile final {
public:
    explicit NoticeFile(std::string path) : path_(std::move(path)) {}
    ~NoticeFile() { (void)deleteFile(path_); }
    NoticeFile(const NoticeFile&) = delete;
    NoticeFile& operator=(const NoticeFile&) = delete;
    // Written whole and durable: its copy in a mailbox may share its bytes.
    bool write(const std::string& notice) const { return writeWholeFile(path_, notice); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// STARTTLS's handshake as the relay host's client, with one log line for
// its outcome. Under RelayTls::Required a certificate that the system's
// authorities do not verify for the host's name fails the relay.
bool secureRelay(MailCourier& courier, const std::string& relayHost)
{
    LineSocket& socket = courier.control();
    if (!courier.handshakeTlsAsClient(socket, relayHost.c_str())) {
        courier.log().appendLine(formatText(smtp::LogLimit, smtp::LogRelayTlsFailed, relayHost.c_str()));
        return false;
    }
    const bool verified = socket.tlsPeerVerified();
    courier.log().appendLine(formatText(smtp::LogLimit, smtp::LogRelayTls, relayHost.c_str(), socket.tlsVersion(),
                                        socket.tlsCipher(), verified ? "yes" : "no"));
    if (!verified && courier.relayTls() == RelayTls::Required) {
        socket.resetAndClose();
        return false;
    }
    return true;
}

} // namespace

bool mayRelay(const MailDirectory& directory, const MailEnvelope& envelope)
{
    return directory.relayHostSet() && directory.relayAllowedFrom(envelope.clientIp) &&
           !directory.isLocalDomain(envelope.heloHost);
}

bool relayMessage(MailCourier& courier, MailEnvelope& envelope)
{
    if (envelope.relayRecipients.empty() || courier.stopRequested())
        return false;
    MailDirectory& directory = courier.directory();
    const std::string relayHost = directory.relayHost();
    LineSocket& socket = courier.control();
    // The client's connection is over; whatever it left unread goes with it.
    socket.close();
    if (!socket.connectTo(relayHost.c_str(), courier.relayPort(), courier.stopEventDescriptor()))
        return false;

    std::string heloName = directory.localHostName();
    if (heloName.empty())
        heloName = envelope.clientIp;
    RelayDialogue dialogue(heloName, envelope.sender, envelope.relayRecipients, courier.relayTls());
    char reply[ReplyLineSize];
    std::uint32_t quitSentAt = 0;
    bool finished = false;
    while (!finished) {
        int timeoutMs = NoTimeLimit;
        if (dialogue.quitSent()) {
            const std::uint32_t spent = tickCount() - quitSentAt;
            timeoutMs = static_cast<int>(spent < QuitReplyWaitMs ? QuitReplyWaitMs - spent : 0);
        }
        const NextLine next = courier.readReply(reply, sizeof reply, timeoutMs);
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
        courier.noteActivity();
        const RelayStep step = dialogue.onReply(line);
        switch (step.action) {
        case RelayAction::Wait:
            break;
        case RelayAction::Send:
            // A command that cannot be sent leaves the connection closed,
            // which the next read reports.
            courier.sendLine(socket, step.line);
            if (dialogue.quitSent())
                quitSentAt = tickCount();
            break;
        case RelayAction::SendMessage:
            if (!sendMessageFile(courier, envelope.messageFile))
                return false;
            break;
        case RelayAction::StartTls:
            if (!secureRelay(courier, relayHost))
                return false;
            courier.sendLine(socket, dialogue.onSecured().line);
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
    courier.log().appendLine(
        relayLogLine(envelope.clientIp, envelope.heloHost, envelope.sender, dialogue.accepted(), dialogue.refused()));
    envelope.relayRecipients = dialogue.refused();
    return true;
}

bool sendMessageFile(MailCourier& courier, std::string_view path)
{
    FileHandle file;
    if (!file.open(path, FileMode::Read, IfMissing::Fail))
        return false;
    const std::uint64_t size = file.sizeAtOpen();
    std::uint64_t sent = 0;
    char block[FileBlock];
    while (sent < size) {
        if (courier.stopRequested() || !courier.control().isConnected())
            return false;
        const std::size_t length = file.read(block, sizeof block);
        // The file ended before its size: it changed under us.
        if (length == 0)
            return false;
        if (!courier.sendBuffer(courier.control(), block, length))
            return false;
        sent += length;
    }
    return true;
}

bool sendUndeliveredNotice(MailCourier& courier, const MailEnvelope& envelope, const std::string& noticePath,
                           DeliveryTry attempt)
{
    if (envelope.noticeRecipients.empty())
        return false;
    MailDirectory& directory = courier.directory();
    // The sender as given in MAIL, not lowercased.
    const std::string user = directory.localRecipient(envelope.sender);
    if (user.empty())
        return false;
    if (attempt == DeliveryTry::Again && directory.holdsMessage(user, envelope.noticeId))
        return true;
    const NoticeFile noticeFile(noticePath);
    if (!noticeFile.write(undeliveredNotice(formatDateText(localNow(), DateForm::Long), envelope.noticeRecipients)))
        return false;
    MailEnvelope notice;
    notice.clientIp = envelope.clientIp;
    notice.heloHost = envelope.heloHost;
    notice.sender = envelope.sender;
    notice.refusedRecipients = envelope.refusedRecipients;
    notice.messageFile = noticeFile.path();
    notice.localRecipients.push_back(LocalRecipient{user, envelope.noticeId});
    return deliverLocally(directory, courier.log(), notice, DeliveryTry::First).empty();
}

} // namespace vantrel

// The SMTP receiving session: greeting, the command loop, data mode and the
// hand-over to the steps after the dialogue.
//
// Command lines hold at most LineLimit (4000) bytes: the line reader cuts a
// longer line there and drops the rest up to its CR LF, and the cut line is
// handled like any other. A line that grows past the line reader's input
// limit (64 KiB) without CR LF closes the connection, which ends the
// dialogue as failed; no line costs more memory than that.
//
// In data mode the bytes go through the end-of-data scanner into the
// message file, which the mail queue made. Bytes that came behind the end
// mark in the same receive are handed back to the line reader as the next
// command lines: this is what lets EHLO offer PIPELINING, since commands
// sent in one packet, message bytes among them, are all read in order.
// Over TLS the scanner sees the decrypted bytes, exactly as it sees clear
// ones. A write that fails does not end the dialogue: the rest of
// the message is read and dropped, and the client hears at the end mark
// that it must try again later.
#include "email/smtp_session.h"

#include "email/mail_directory.h"
#include "email/mail_queue.h"
#include "email/mail_tls.h"
#include "email/smtp_command_table.h"
#include "email/smtp_delivery.h"
#include "email/smtp_replies.h"
#include "foundation/clock.h"
#include "foundation/file_time.h"
#include "foundation/product.h"
#include "foundation/text.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <string>

namespace vantrel {

namespace {

// The received bytes of one chunk with every dot doubled still fit.
constexpr std::size_t StoredChunkReserve = 2 * SmtpSession::DataChunk + 2;

} // namespace

SmtpSession::SmtpSession(std::unique_ptr<LineSocket> control, const CourierPost& post, const MailTlsSetup& tls)
    : MailCourier(std::move(control), post), tls_(tls)
{
    startSession();
}

SmtpSession::~SmtpSession()
{
    stopSession();
}

bool SmtpSession::reply(std::string_view text)
{
    return sendLine(control(), text);
}

void SmtpSession::closeConnection()
{
    control().shutdownAndClose();
}

void SmtpSession::beginTransactionIfDone()
{
    if (!transactionDone_)
        return;
    envelope_.clearRecipients();
    dataAccepted_ = false;
    transactionDone_ = false;
}

bool SmtpSession::beginMessage()
{
    entryName_.clear();
    if (!queue().create(entryName_) || !messageFile_.open(queue().messagePath(entryName_))) {
        if (!entryName_.empty())
            queue().discard(entryName_);
        reply(smtp::NoRoomForMessage);
        return false;
    }
    dataAccepted_ = true;
    receiveError_ = 0;
    sizeLimit_ = directory().maxEmailBytes();
    reply(smtp::SendData);
    std::string byHost = directory().localHostName();
    if (byHost.empty())
        byHost = envelope_.clientIp;
    const std::string date = formatDateText(localNow(), DateForm::Long);
    if (!messageFile_.append(formatText(smtp::ReplyLimit, smtp::ReceivedLine, envelope_.heloHost.c_str(),
                                        envelope_.clientIp.c_str(), byHost.c_str(), MakerName, ProductName,
                                        date.c_str())))
        receiveError_ = errno != 0 ? errno : EIO;
    return true;
}

void SmtpSession::resetTransaction()
{
    messageFile_.remove();
    dataAccepted_ = false;
    transactionDone_ = false;
    envelope_.sender.clear();
    envelope_.clearRecipients();
}

void SmtpSession::restartAfterTls()
{
    resetTransaction();
    envelope_.heloHost.clear();
    greeted_ = false;
}

void SmtpSession::serve()
{
    envelope_.clientIp = cutText(control().peerAddress(), MailEnvelope::MaxClientIp);
    converse();
    // A message cut short was never acknowledged.
    messageFile_.remove();
    closeConnection();
    finishSession();
}

void SmtpSession::converse()
{
    // The implicit port speaks TLS from the first byte: the greeting too.
    if (tls_.implicit && !startImplicitMailTls(*this, log(), tls_))
        return;
    if (!reply(formatText(smtp::ReplyLimit, smtp::Greeting, MakerName, ProductName)))
        return;
    char line[LineLimit + 1];
    for (;;) {
        if (nextLine(line, sizeof line) != NextLine::Line)
            return;
        switch (dispatchSmtpLine(*this, line)) {
        case SmtpOutcome::Continue:
            break;
        case SmtpOutcome::ReceiveData:
            if (!receiveData())
                return;
            break;
        case SmtpOutcome::Succeeded:
        case SmtpOutcome::Failed:
            return;
        }
    }
}

bool SmtpSession::receiveData()
{
    scanner_.reset();
    char received[DataChunk];
    std::string stored;
    stored.reserve(StoredChunkReserve);
    while (!stopRequested()) {
        std::size_t length = sizeof received;
        // Bytes the line reader already holds come first.
        if (!control().receiveSome(received, length))
            return false;
        if (length == 0) {
            refreshCounters();
            awaitControlInput();
            continue;
        }
        noteActivity();
        stored.clear();
        const EndOfDataScanner::Step step = scanner_.scan(std::string_view(received, length), stored);
        if (step.used < length && !control().unread(received + step.used, length - step.used)) {
            // Cannot happen: the bytes came out of the reader just now.
            closeConnection();
        }
        // A message over the limit stops growing; screening deals with it.
        if (receiveError_ == 0 && messageFile_.size() <= sizeLimit_ && !messageFile_.append(stored))
            receiveError_ = errno != 0 ? errno : EIO;
        if (step.complete) {
            queueMessage(receiveError_);
            return true;
        }
    }
    return false;
}

void SmtpSession::queueMessage(int receiveError)
{
    int error = receiveError;
    if (error == 0) {
        QueuedMail mail;
        mail.name = entryName_;
        mail.envelope = envelope_;
        mail.envelope.messageFile = queue().messagePath(entryName_);
        mail.queuedAt = static_cast<std::int64_t>(std::time(nullptr));
        for (LocalRecipient& recipient : mail.envelope.localRecipients)
            recipient.id = directory().newMessageId();
        if (messageFile_.sync()) {
            messageFile_.release();
            if (queue().commit(mail)) {
                if (queued_.size() < HeldMessages)
                    queued_.push_back(std::move(mail));
                else
                    queue().release(mail.name, tickCount());
                transactionDone_ = true;
                reply(smtp::ReceivedOk);
                return;
            }
        }
        error = errno != 0 ? errno : ENOSPC;
    }
    messageFile_.remove();
    queue().discard(entryName_);
    const bool noRoom = receiveError == 0 || error == ENOSPC || error == EDQUOT;
    reply(noRoom ? smtp::NoRoomForMessage : smtp::ReceiveError);
    resetTransaction();
}

void SmtpSession::finishSession()
{
    for (QueuedMail& mail : queued_)
        deliver(mail, DeliveryTry::First);
    // The transaction after the last queued message, if it got anywhere; a
    // session that queued nothing says so as long as it was greeted.
    const bool unfinished =
        queued_.empty() ? !envelope_.heloHost.empty()
                        : !transactionDone_ && (envelope_.hasRecipients() || !envelope_.refusedRecipients.empty());
    if (unfinished)
        logFailedMail(directory(), log(), envelope_);
}

} // namespace vantrel

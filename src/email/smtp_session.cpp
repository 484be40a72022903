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
// message file. Bytes that came behind the end mark in the same receive are
// handed back to the line reader as the next command lines.
#include "email/smtp_session.h"

#include "email/mail_directory.h"
#include "email/smtp_command_table.h"
#include "email/smtp_delivery.h"
#include "email/smtp_replies.h"
#include "foundation/file_time.h"
#include "foundation/product.h"
#include "foundation/text.h"

#include <algorithm>
#include <string>

namespace vantrel {

namespace {

// The received bytes of one chunk with every dot doubled still fit.
constexpr std::size_t StoredChunkReserve = 2 * SmtpSession::DataChunk + 2;

std::string cutText(std::string_view text, std::size_t limit)
{
    return std::string(text.substr(0, std::min(text.size(), limit)));
}

} // namespace

SmtpSession::SmtpSession(std::unique_ptr<LineSocket> control, MailDirectory& directory, ServiceLog& log,
                         std::uint16_t relayPort)
    : ServiceSession(std::move(control)), directory_(directory), log_(log), relayPort_(relayPort)
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

bool SmtpSession::beginMessage()
{
    dataAccepted_ = true;
    sizeLimit_ = static_cast<std::uint64_t>(std::max<std::int32_t>(directory_.maxEmailSize(), 0));
    reply(smtp::SendData);
    std::string byHost = directory_.localHostName();
    if (byHost.empty())
        byHost = envelope_.clientIp;
    const std::string date = formatDateText(localNow(), DateForm::Long);
    return messageFile_.append(formatText(smtp::ReplyLimit, smtp::ReceivedLine, envelope_.heloHost.c_str(),
                                          envelope_.clientIp.c_str(), byHost.c_str(), MakerName, ProductName,
                                          date.c_str()));
}

bool SmtpSession::discardMessage()
{
    dataAccepted_ = false;
    messageComplete_ = false;
    return messageFile_.clear();
}

void SmtpSession::serve()
{
    envelope_.clientIp = cutText(control().peerAddress(), MailEnvelope::MaxClientIp);
    const bool succeeded = converse();
    messageFile_.close();
    finishMail(*this, succeeded ? DialogueResult::Succeeded : DialogueResult::Failed);
    messageFile_.remove();
    closeConnection();
}

bool SmtpSession::converse()
{
    // Without a message file there is nothing to receive into: the client
    // is let go without a word.
    if (!messageFile_.create())
        return false;
    envelope_.messageFile = messageFile_.path();
    if (!reply(formatText(smtp::ReplyLimit, smtp::Greeting, MakerName, ProductName)))
        return false;

    char line[LineLimit + 1];
    for (;;) {
        if (nextLine(line, sizeof line) != NextLine::Line)
            return messageComplete_;
        switch (dispatchSmtpLine(*this, line)) {
        case SmtpOutcome::Continue:
            break;
        case SmtpOutcome::ReceiveData:
            if (!receiveData())
                return false;
            break;
        case SmtpOutcome::Succeeded:
            return true;
        case SmtpOutcome::Failed:
            return false;
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
        if (messageFile_.size() <= sizeLimit_ && !messageFile_.append(stored)) {
            reply(smtp::FatalError);
            closeConnection();
            return false;
        }
        if (step.complete) {
            messageComplete_ = true;
            reply(smtp::ReceivedOk);
            return true;
        }
    }
    return false;
}

} // namespace vantrel

// SmtpSession: one connection on the SMTP port. Its thread runs the HELO /
// MAIL / RCPT / DATA dialogue; each message goes into the mail queue, and
// only once it is there for good does the client hear "250". Each "250"
// ends a transaction: the message keeps its envelope, and a new MAIL or
// RCPT starts the next one. Once the connection has ended the session
// delivers the messages it took, in order (smtp_delivery.cpp). The command
// handlers (smtp_command_table.cpp) work on the session through the small
// interface below.
#pragma once

#include "email/end_of_data_scanner.h"
#include "email/mail_courier.h"
#include "email/mail_envelope.h"
#include "email/mail_queue.h"
#include "email/mail_tls_settings.h"
#include "email/message_file.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace vantrel {

// What a command line leaves the dialogue with.
enum class SmtpOutcome {
    Continue,
    ReceiveData,
    Succeeded,
    Failed
};

class SmtpSession final : public MailCourier {
public:
    // A command line holds at most this many bytes; the line reader cuts a
    // longer one there and drops the rest up to its CR LF.
    static constexpr std::size_t LineLimit = 4000;
    // Bytes taken per receive in data mode.
    static constexpr std::size_t DataChunk = 4000;
    // Messages a connection keeps to deliver itself when it ends; those
    // beyond go to the queue runner at once, so that a client sending
    // message after message holds no more than this.
    static constexpr std::size_t HeldMessages = 100;

    SmtpSession(std::unique_ptr<LineSocket> control, const CourierPost& post, const MailTlsSetup& tls = {});
    ~SmtpSession() override;

    // --- for the command handlers ---
    bool reply(std::string_view text);
    MailEnvelope& envelope() { return envelope_; }
    bool greeted() const { return greeted_; }
    void setGreeted() { greeted_ = true; }
    // Mail TLS: what the listener was activated with.
    const MailTlsSetup& tls() const { return tls_; }
    bool tlsEnabled() const { return tls_.settings.enabled(); }
    // After STARTTLS's handshake: back to the state after the greeting,
    // nothing learnt in clear kept (messages already queued stay).
    void restartAfterTls();
    // DATA was accepted in this transaction (its message is queued by now).
    bool dataAccepted() const { return dataAccepted_; }
    // MAIL or RCPT after a queued message: its envelope is fixed, so they
    // begin the next transaction with no recipients.
    void beginTransactionIfDone();
    // Makes the message file, replies 354 and writes the "Received:" line;
    // false (and a 452 reply) when the file cannot be made or written.
    [[nodiscard]] bool beginMessage();
    // Forgets the transaction (RSET). Messages already queued stay.
    void resetTransaction();
    // Ends the conversation: the client has had its last reply.
    void closeConnection();

protected:
    void serve() override;

private:
    void converse();
    // Data mode, until the end mark (true) or a lost connection or stop
    // (false).
    bool receiveData();
    // At the end mark: the message goes into the queue for good, and the
    // client hears whether it did.
    void queueMessage(int receiveError);
    // After the dialogue: the queued messages, then the log line of a
    // transaction left unfinished.
    void finishSession();

    MailTlsSetup tls_;
    MailEnvelope envelope_;
    MessageFile messageFile_;
    std::string entryName_; // the queue entry being received
    EndOfDataScanner scanner_;
    std::uint64_t sizeLimit_ = 0;
    int receiveError_ = 0; // errno of the first write that failed in data mode
    bool greeted_ = false;
    bool dataAccepted_ = false;
    bool transactionDone_ = false; // its message is queued
    // The messages this connection handed over, delivered when it ends.
    std::vector<QueuedMail> queued_;
};

} // namespace vantrel

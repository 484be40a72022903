// SmtpSession: one connection on the SMTP port. Its thread runs the HELO /
// MAIL / RCPT / DATA dialogue into a temporary message file, and once the
// connection has ended screens the message and delivers it into the local
// mailboxes, writing one line to the SMTP log. The command handlers
// (smtp_command_table.cpp) work on the session through the small interface
// below; the steps after the dialogue are in smtp_delivery.cpp.
#pragma once

#include "email/end_of_data_scanner.h"
#include "email/mail_envelope.h"
#include "email/message_file.h"
#include "foundation/service_session.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace vantrel {

class MailDirectory;
class ServiceLog;

// What a command line leaves the dialogue with.
enum class SmtpOutcome { Continue, ReceiveData, Succeeded, Failed };

class SmtpSession final : public ServiceSession {
public:
    // A command line holds at most this many bytes; the line reader cuts a
    // longer one there and drops the rest up to its CR LF.
    static constexpr std::size_t LineLimit = 4000;
    // Bytes taken per receive in data mode.
    static constexpr std::size_t DataChunk = 4000;

    // The relay client reaches the relay host on relayPort.
    SmtpSession(std::unique_ptr<LineSocket> control, MailDirectory& directory, ServiceLog& log,
                std::uint16_t relayPort);
    ~SmtpSession() override;

    // --- for the command handlers and the steps after the dialogue ---
    bool reply(std::string_view text);
    MailDirectory& directory() { return directory_; }
    ServiceLog& log() { return log_; }
    MailEnvelope& envelope() { return envelope_; }
    bool greeted() const { return greeted_; }
    void setGreeted() { greeted_ = true; }
    bool dataAccepted() const { return dataAccepted_; }
    // Marks DATA accepted and starts the message file with its
    // "Received:" line; false when that cannot be written.
    [[nodiscard]] bool beginMessage();
    // Forgets DATA and the message (RSET); false when the file fails.
    [[nodiscard]] bool discardMessage();
    // Ends the conversation: the client has had its last reply.
    void closeConnection();
    // --- for the relay client, which reuses the connection once the
    // client has gone ---
    std::uint16_t relayPort() const { return relayPort_; }
    // The next reply line of the relay host, waiting at most timeoutMs when
    // that is not negative; see ServiceSession::nextLine.
    NextLine readReply(char* dest, std::size_t capacity, int timeoutMs = -1)
    {
        return nextLine(dest, capacity, timeoutMs);
    }

protected:
    void serve() override;

private:
    // The command dialogue; true when it ended as the mail's success.
    bool converse();
    // Data mode, until the end mark (true) or a failure that ends the
    // dialogue (false).
    bool receiveData();

    MailDirectory& directory_;
    ServiceLog& log_;
    std::uint16_t relayPort_;
    MailEnvelope envelope_;
    MessageFile messageFile_;
    EndOfDataScanner scanner_;
    std::uint64_t sizeLimit_ = 0;
    bool greeted_ = false;
    bool dataAccepted_ = false;
    bool messageComplete_ = false;
};

} // namespace vantrel

// RelayDialogue: the client side of handing one message to the relay host,
// as a step function: each reply line of the host gives the next command to
// send, the message to send, a wait or the end. It does no I/O, so that the
// session only moves bytes. Recipients the host refuses are collected, and
// the log line of a finished relay is built here.
#pragma once

#include "email/mail_tls_settings.h"

#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

enum class RelayAction {
    Wait,        // nothing to send; read the next reply
    Send,        // send `line` as a command
    SendMessage, // send the message file as it is stored
    StartTls,    // the host answered STARTTLS: shake hands, then onSecured()
    Fail,        // the relay failed; stop
    Done,        // the host answered QUIT: the relay is complete
};

struct RelayStep {
    RelayAction action = RelayAction::Wait;
    std::string line;
};

class RelayDialogue final {
public:
    // Values written into commands have every CR and LF as a blank, so
    // that no value can add a command of its own.
    // With `tls` other than Off the host is greeted with EHLO (HELO when it
    // refuses EHLO) and STARTTLS is used when it offers it; Required fails
    // the relay when it does not.
    RelayDialogue(std::string_view heloName, std::string_view sender, std::vector<std::string> recipients,
                  RelayTls tls = RelayTls::Off);

    // One reply line of the host, longer than two characters; only its
    // first three are read.
    RelayStep onReply(std::string_view reply);
    // The host took the message and QUIT has been sent: from here on the
    // relay has succeeded, however the connection ends.
    bool quitSent() const { return state_ == State::QuitSent; }
    // After StartTls: the handshake is done; EHLO starts over.
    RelayStep onSecured();
    bool secured() const { return secured_; }

    const std::vector<std::string>& accepted() const { return accepted_; }
    const std::vector<std::string>& refused() const { return refused_; }

private:
    enum class State {
        Greeting,
        EhloSent,
        StartTlsSent,
        HeloSent,
        MailSent,
        RcptSent,
        DataSent,
        MessageSent,
        QuitSent
    };

    RelayStep nextRecipientOrData();
    RelayStep afterEhlo(std::string_view reply);
    RelayStep sendMail();

    std::string heloName_;
    std::string sender_;
    std::vector<std::string> recipients_;
    std::size_t sent_ = 0;
    State state_ = State::Greeting;
    RelayTls tls_;
    bool offersTls_ = false;
    bool secured_ = false;
    std::vector<std::string> accepted_;
    std::vector<std::string> refused_;
};

// "Email Relayed: IP:[..], Host:[..], Mail From:[..], Sent To:[a, b]", with
// "], Failed To Send[c" before the last bracket when some were refused.
std::string relayLogLine(std::string_view clientIp, std::string_view heloHost, std::string_view sender,
                         const std::vector<std::string>& accepted, const std::vector<std::string>& refused);

} // namespace vantrel

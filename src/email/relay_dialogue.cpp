// The relay host dialogue, state by state: greeting, HELO, MAIL FROM, one
// RCPT TO per recipient, DATA, the message, QUIT. With mail TLS on, EHLO in
// place of HELO (HELO when the host refuses it), and STARTTLS with EHLO
// again when the host offers it. Any unexpected reply
// before QUIT ends it as a failure; whatever the host answers to QUIT ends
// it as a success, since the 250 to the message already took the mail.
#include "email/relay_dialogue.h"

#include "email/smtp_parse.h"
#include "email/smtp_replies.h"
#include "foundation/text.h"

namespace vantrel {

namespace {

constexpr std::string_view ReadyCode = "220";
constexpr std::string_view OkCode = "250";
constexpr std::string_view SendDataCode = "354";
constexpr std::size_t CodeLength = 3;

constexpr char HeloCommand[] = "HELO %s";
constexpr char EhloCommand[] = "EHLO %s";
constexpr char StartTlsCommand[] = "STARTTLS";
constexpr std::string_view StartTlsKeyword = "starttls";
constexpr std::size_t ExtensionStart = 4; // "250-" or "250 "
constexpr char MailCommand[] = "MAIL FROM:<%s>";
constexpr char RcptCommand[] = "RCPT TO:<%s>";
constexpr char DataCommand[] = "DATA";
constexpr char QuitCommand[] = "QUIT";
constexpr std::size_t MaxCommand = 1000;

} // namespace

RelayDialogue::RelayDialogue(std::string_view heloName, std::string_view sender, std::vector<std::string> recipients,
                             RelayTls tls)
    : heloName_(blankLineBreaks(heloName)), sender_(blankLineBreaks(sender)), recipients_(std::move(recipients)),
      tls_(tls)
{
    for (std::string& recipient : recipients_)
        recipient = blankLineBreaks(recipient);
}

RelayStep RelayDialogue::onReply(std::string_view reply)
{
    const std::string_view code = reply.substr(0, CodeLength);
    switch (state_) {
    case State::Greeting:
        if (code != ReadyCode)
            return {RelayAction::Fail, {}};
        if (tls_ != RelayTls::Off) {
            state_ = State::EhloSent;
            return {RelayAction::Send, formatText(MaxCommand, EhloCommand, heloName_.c_str())};
        }
        state_ = State::HeloSent;
        return {RelayAction::Send, formatText(MaxCommand, HeloCommand, heloName_.c_str())};
    case State::EhloSent:
        return afterEhlo(reply);
    case State::StartTlsSent:
        if (code == ReadyCode)
            return {RelayAction::StartTls, {}};
        // Offered and then refused: as if it had not been offered.
        return tls_ == RelayTls::Required ? RelayStep{RelayAction::Fail, {}} : sendMail();
    case State::HeloSent:
        // Further lines of a greeting that spans several lines.
        if (code == ReadyCode)
            return {};
        if (code != OkCode || tls_ == RelayTls::Required)
            return {RelayAction::Fail, {}};
        return sendMail();
    case State::MailSent:
        if (code != OkCode || recipients_.empty())
            return {RelayAction::Fail, {}};
        state_ = State::RcptSent;
        return {RelayAction::Send, formatText(MaxCommand, RcptCommand, recipients_[sent_++].c_str())};
    case State::RcptSent:
        (code == OkCode ? accepted_ : refused_).push_back(recipients_[sent_ - 1]);
        return nextRecipientOrData();
    case State::DataSent:
        if (code != SendDataCode)
            return {RelayAction::Fail, {}};
        state_ = State::MessageSent;
        return {RelayAction::SendMessage, {}};
    case State::MessageSent:
        if (code != OkCode)
            return {RelayAction::Fail, {}};
        state_ = State::QuitSent;
        return {RelayAction::Send, QuitCommand};
    case State::QuitSent:
        return {RelayAction::Done, {}};
    }
    return {RelayAction::Fail, {}};
}

RelayStep RelayDialogue::afterEhlo(std::string_view reply)
{
    const std::string_view code = reply.substr(0, CodeLength);
    // Further lines of a greeting that spans several lines.
    if (code == ReadyCode)
        return {};
    if (code != OkCode) {
        // A host that does not know EHLO is greeted as always, in clear.
        if (secured_ || reply.empty() || reply[0] != '5')
            return {RelayAction::Fail, {}};
        state_ = State::HeloSent;
        return {RelayAction::Send, formatText(MaxCommand, HeloCommand, heloName_.c_str())};
    }
    if (reply.size() > ExtensionStart && equalsIgnoreCase(trimText(reply.substr(ExtensionStart)), StartTlsKeyword))
        offersTls_ = true;
    // "250-": more lines follow.
    if (reply.size() > CodeLength && reply[CodeLength] == '-')
        return {};
    if (secured_)
        return sendMail();
    if (offersTls_) {
        state_ = State::StartTlsSent;
        return {RelayAction::Send, StartTlsCommand};
    }
    return tls_ == RelayTls::Required ? RelayStep{RelayAction::Fail, {}} : sendMail();
}

RelayStep RelayDialogue::onSecured()
{
    secured_ = true;
    offersTls_ = false;
    state_ = State::EhloSent;
    return {RelayAction::Send, formatText(MaxCommand, EhloCommand, heloName_.c_str())};
}

RelayStep RelayDialogue::sendMail()
{
    state_ = State::MailSent;
    return {RelayAction::Send, formatText(MaxCommand, MailCommand, sender_.c_str())};
}

RelayStep RelayDialogue::nextRecipientOrData()
{
    if (sent_ < recipients_.size())
        return {RelayAction::Send, formatText(MaxCommand, RcptCommand, recipients_[sent_++].c_str())};
    if (accepted_.empty())
        return {RelayAction::Fail, {}};
    state_ = State::DataSent;
    return {RelayAction::Send, DataCommand};
}

std::string relayLogLine(std::string_view clientIp, std::string_view heloHost, std::string_view sender,
                         const std::vector<std::string>& accepted, const std::vector<std::string>& refused)
{
    const std::string ip(clientIp);
    const std::string host(heloHost);
    const std::string from(sender);
    std::string line = formatText(smtp::RelayLogLimit, smtp::LogRelayed, ip.c_str(), host.c_str(), from.c_str());
    line += joinText(accepted, smtp::LogListSeparator);
    if (!refused.empty()) {
        line += smtp::LogRelayRefusedPart;
        line += joinText(refused, smtp::LogListSeparator);
    }
    line += smtp::LogListEnd;
    return line.substr(0, smtp::RelayLogLimit);
}

} // namespace vantrel

// The relay host dialogue, state by state: greeting, HELO, MAIL FROM, one
// RCPT TO per recipient, DATA, the message, QUIT. Any unexpected reply
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
constexpr char MailCommand[] = "MAIL FROM:<%s>";
constexpr char RcptCommand[] = "RCPT TO:<%s>";
constexpr char DataCommand[] = "DATA";
constexpr char QuitCommand[] = "QUIT";
constexpr std::size_t MaxCommand = 1000;

} // namespace

RelayDialogue::RelayDialogue(std::string_view heloName, std::string_view sender, std::vector<std::string> recipients)
    : heloName_(blankLineBreaks(heloName)), sender_(blankLineBreaks(sender)), recipients_(std::move(recipients))
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
        state_ = State::HeloSent;
        return {RelayAction::Send, formatText(MaxCommand, HeloCommand, heloName_.c_str())};
    case State::HeloSent:
        // Further lines of a greeting that spans several lines.
        if (code == ReadyCode)
            return {};
        if (code != OkCode)
            return {RelayAction::Fail, {}};
        state_ = State::MailSent;
        return {RelayAction::Send, formatText(MaxCommand, MailCommand, sender_.c_str())};
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

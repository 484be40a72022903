// The notice texts and their formatting. The formats are the stored form of
// a message: lines end in CR LF and the text ends with the end-of-data mark.
#include "email/mail_notices.h"

#include "email/smtp_parse.h"
#include "foundation/product.h"
#include "foundation/text.h"

namespace vantrel {

namespace {

constexpr char SizeNoticeFormat[] =
    "From: %.*s\r\nDate: %.*s\r\nSubject: Incoming Mail Rejected - %.*s\r\n\r\nAn email from...\r\n\r\n<%.*s>\r\n\r\n"
    "was rejected due to its size. Currently emails are limited to %d KB. Please note, the sender was not "
    "informed of this rejection.\r\n\r\nFrom %s (%.*s)\r\n.\r\n";
constexpr char AttachmentNoticeFormat[] =
    "From: %.*s\r\nDate: %.*s\r\nSubject: Incoming Mail Rejected - %.*s\r\n\r\nAn email from...\r\n\r\n<%.*s>\r\n\r\n"
    "was rejected due to an attachment contained within the email. The email was %i Kb in size and contained a "
    "file called '%.*s'. Please note, the sender was not informed of this rejection.\r\n\r\nBanned Extensions: "
    "\"%.*s\"\r\n\r\nFrom %s (%.*s)\r\n.\r\n";
constexpr char UndeliveredHeadFormat[] =
    "From: %s\r\nDate: %.*s\r\nSubject: Mail Undelivered\r\n\r\nAn email from you failed to be sent through the "
    "SMTP relay server.\r\nSent on %.*s, for...\r\n\r\n";
constexpr char UndeliveredTail[] = "\r\nPlease contact your administrator.\r\n\r\nFrom ";
constexpr char EndOfMessage[] = "\r\n.\r\n";

// Every value is bounded where it is kept (sender 99, subject 499, file name
// 260, banned list 1023 characters), so the notices stay well below this.
constexpr std::size_t MaxNotice = 16384;
constexpr std::uint64_t KbRounding = 500;

int length(const std::string& text)
{
    return static_cast<int>(text.size());
}

} // namespace

int sizeLimitKb(std::int64_t maxEmailSize)
{
    return static_cast<int>((maxEmailSize + static_cast<std::int64_t>(KbRounding)) / 1024);
}

int messageSizeKb(std::uint64_t size)
{
    return static_cast<int>((size + KbRounding) >> 10);
}

std::string sizeNotice(const NoticeParts& parts, int limitKb)
{
    const std::string sender = blankLineBreaks(parts.sender);
    const std::string date = blankLineBreaks(parts.date);
    const std::string subject = blankLineBreaks(parts.subject);
    const std::string host = blankLineBreaks(parts.host);
    return formatText(MaxNotice, SizeNoticeFormat, length(sender), sender.data(), length(date), date.data(),
                      length(subject), subject.data(), length(sender), sender.data(), limitKb, ProductName,
                      length(host), host.data());
}

std::string attachmentNotice(const NoticeParts& parts, int sizeKb, std::string_view fileName,
                             std::string_view bannedList)
{
    const std::string sender = blankLineBreaks(parts.sender);
    const std::string date = blankLineBreaks(parts.date);
    const std::string subject = blankLineBreaks(parts.subject);
    const std::string host = blankLineBreaks(parts.host);
    const std::string file = blankLineBreaks(fileName);
    const std::string banned = blankLineBreaks(bannedList);
    return formatText(MaxNotice, AttachmentNoticeFormat, length(sender), sender.data(), length(date), date.data(),
                      length(subject), subject.data(), length(sender), sender.data(), sizeKb, length(file), file.data(),
                      length(banned), banned.data(), ProductName, length(host), host.data());
}

std::string undeliveredNotice(std::string_view date, const std::vector<std::string>& recipients)
{
    const std::string when = blankLineBreaks(date);
    std::string notice =
        formatText(MaxNotice, UndeliveredHeadFormat, ProductName, length(when), when.data(), length(when), when.data());
    for (const std::string& recipient : recipients) {
        // An address line that starts with a dot is stuffed like any message
        // line, so that an address "." cannot end the notice early.
        if (recipient.starts_with('.'))
            notice.push_back('.');
        notice += blankLineBreaks(recipient);
        notice += "\r\n";
    }
    notice += UndeliveredTail;
    notice += ProductName;
    notice += EndOfMessage;
    return notice;
}

} // namespace vantrel

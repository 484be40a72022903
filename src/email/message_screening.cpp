// Message screening over the message file: its lines go through the
// MessageScanner as the file reader hands them out (at most 2047
// characters, CR LF removed; a longer line goes on as the next one), and a
// rejected message's file is emptied and given the notice in its place.
#include "email/message_screening.h"

#include "email/mail_directory.h"
#include "email/mail_envelope.h"
#include "email/mail_notices.h"
#include "email/message_scanner.h"
#include "foundation/file_handle.h"
#include "foundation/file_replace.h"
#include "foundation/file_system.h"
#include "foundation/file_time.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace vantrel {

namespace {

// A message file this small holds no message (QUIT without DATA, or a
// session that ended before anything was written).
constexpr std::uint64_t NoMessageSize = 3;
constexpr std::size_t TextLineSize = 2048;

enum class ScanScope {
    SubjectOnly,
    WholeMessage
};

// Feeds the file's lines to the scanner from the start; with SubjectOnly it
// stops at the first line that gives the subject.
void scanFile(FileHandle& file, MessageScanner& scanner, ScanScope scope)
{
    file.rewind();
    char line[TextLineSize];
    for (;;) {
        const std::size_t length = file.readTextLine(line, sizeof line);
        if (length == 0 && file.atEnd())
            return;
        scanner.feed(std::string_view(line, length));
        if (scope == ScanScope::SubjectOnly && scanner.subjectFound())
            return;
    }
}

NoticeParts noticeParts(const MailEnvelope& envelope, const MessageScanner& scanner, const std::string& host,
                        const std::string& date)
{
    return {envelope.sender, date, scanner.subject(), host};
}

std::string noticeHost(const MailDirectory& directory, const MailEnvelope& envelope)
{
    std::string host = directory.localHostName();
    return host.empty() ? envelope.clientIp : host;
}

// The message file from now on holds only the notice. It is replaced whole
// and durably, never rewritten in place: a crash leaves the message or the
// notice, and copies already in mailboxes may share the old file's bytes.
bool replaceWithNotice(const std::string& path, const std::string& notice)
{
    return writeWholeFile(localPath(path), notice);
}

} // namespace

bool screenForSize(MailEnvelope& envelope, MailDirectory& directory)
{
    FileHandle file;
    if (!file.open(envelope.messageFile, FileMode::Read, IfMissing::Fail))
        return false;
    const std::uint64_t size = file.size();
    const std::int32_t limit = directory.maxEmailSize();
    if (size <= static_cast<std::uint64_t>(std::max<std::int32_t>(limit, 0)))
        return size > NoMessageSize;

    MessageScanner scanner;
    scanFile(file, scanner, ScanScope::SubjectOnly);
    file.close();
    const std::string host = noticeHost(directory, envelope);
    const std::string date = formatDateText(localNow(), DateForm::Long);
    return replaceWithNotice(envelope.messageFile,
                             sizeNotice(noticeParts(envelope, scanner, host, date), sizeLimitKb(limit)));
}

bool screenAttachments(MailEnvelope& envelope, MailDirectory& directory)
{
    FileHandle file;
    if (!file.open(envelope.messageFile, FileMode::Read, IfMissing::Fail))
        return false;
    const std::uint64_t size = file.size();
    MessageScanner scanner;
    scanFile(file, scanner, ScanScope::WholeMessage);
    file.close();

    for (const AttachmentRecord& attachment : scanner.attachments()) {
        if (directory.extensionAllowed(attachment.extension))
            continue;
        const std::string host = noticeHost(directory, envelope);
        const std::string date = formatDateText(localNow(), DateForm::Long);
        return replaceWithNotice(envelope.messageFile,
                                 attachmentNotice(noticeParts(envelope, scanner, host, date), messageSizeKb(size),
                                                  attachment.fileName, directory.bannedExtensions()));
    }
    return true;
}

} // namespace vantrel

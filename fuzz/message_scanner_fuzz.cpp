// Feeds arbitrary messages to the screening scanner, split into lines as
// the file reader splits them, and checks what must always hold: records
// keep their bounds, each extension is the end of its file name, and the
// rejection notice built from them holds one end-of-data mark, at its end.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "email/mail_notices.h"
#include "email/message_scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view message(reinterpret_cast<const char*>(data), size);
    vantrel::MessageScanner scanner;
    std::string line;
    for (std::size_t i = 0; i < message.size(); ++i) {
        const bool lineEnd = message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n';
        if (lineEnd || line.size() == 2047) {
            scanner.feed(line);
            line.clear();
            if (lineEnd) {
                ++i;
                continue;
            }
        }
        if (message[i] != '\r')
            line.push_back(message[i]);
    }
    scanner.feed(line);

    if (scanner.subject().size() > vantrel::MessageScanner::MaxSubject)
        __builtin_trap();
    for (const auto& record : scanner.attachments()) {
        if (record.fileName.size() > vantrel::MessageScanner::MaxFileName || record.extension.size() < 2 ||
            record.extension.size() > vantrel::MessageScanner::MaxExtension + 1 ||
            !record.fileName.ends_with(record.extension.substr(1)))
            __builtin_trap();
        const std::string notice =
            vantrel::attachmentNotice({"s", "d", scanner.subject(), "h"}, 1, record.fileName, ".exe");
        if (notice.find("\r\n.\r\n") != notice.size() - 5)
            __builtin_trap();
    }
    return 0;
}

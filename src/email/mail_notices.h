// The notices the email server writes in place of a message: the size and
// attachment rejection notices for the recipients, and the "Mail
// Undelivered" notice for a local sender whose mail the relay host did not
// take. Each is built as the exact bytes of a stored message, ending with
// CR LF "." CR LF. Values that come from a client (sender, subject, file
// name, addresses) never bring a line break into a notice: every CR or LF
// in them is written as a blank.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// The values both rejection notices start and end with. `host` is the local
// domain, or the client's address when no local domain is set.
struct NoticeParts {
    std::string_view sender;
    std::string_view date;
    std::string_view subject;
    std::string_view host;
};

// The size limit as the size notice states it, in kilobytes.
int sizeLimitKb(std::int64_t maxEmailSize);
// A message's size as the attachment notice states it, in kilobytes.
int messageSizeKb(std::uint64_t size);

std::string sizeNotice(const NoticeParts& parts, int limitKb);
std::string attachmentNotice(const NoticeParts& parts, int sizeKb, std::string_view fileName,
                             std::string_view bannedList);
// Lists every address on a line of its own.
std::string undeliveredNotice(std::string_view date, const std::vector<std::string>& recipients);

} // namespace vantrel

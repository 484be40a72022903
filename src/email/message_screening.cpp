// Message screening; see message_screening.h.
#include "email/message_screening.h"

#include "email/mail_envelope.h"
#include "foundation/file_system.h"

#include <cstdint>

namespace vantrel {

namespace {

// A message file this small holds no message (QUIT without DATA, or a
// session that ended before anything was written).
constexpr std::uint64_t NoMessageSize = 3;

} // namespace

bool screenForSize(MailEnvelope& envelope, MailDirectory&)
{
    std::uint64_t size = 0;
    return fileSize(envelope.messageFile, size) && size > NoMessageSize;
}

bool screenAttachments(MailEnvelope& envelope, MailDirectory&)
{
    std::uint64_t size = 0;
    return fileSize(envelope.messageFile, size);
}

} // namespace vantrel

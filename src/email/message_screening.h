// The two screening steps a received message passes before it goes on:
// screenForSize before relaying, screenAttachments after it and before
// local delivery. A message that is too large, or that carries a file of a
// banned type, is replaced in its message file by a rejection notice for
// its recipients; the sender is not told. A false result means nothing is
// delivered (the session writes its failure log line).
#pragma once

namespace vantrel {

class MailDirectory;
struct MailEnvelope;

// False when the message file cannot be opened, holds 3 bytes or less, or
// the size notice cannot be written.
[[nodiscard]] bool screenForSize(MailEnvelope& envelope, MailDirectory& directory);
// False when the message file cannot be opened or the attachment notice
// cannot be written.
[[nodiscard]] bool screenAttachments(MailEnvelope& envelope, MailDirectory& directory);

} // namespace vantrel

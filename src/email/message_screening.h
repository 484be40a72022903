// The two screening steps a received message passes before it goes on:
// screenForSize before relaying, screenAttachments after it and before
// local delivery. A false result means nothing is delivered (the session
// writes its failure log line). Both pass the message on unchanged for
// now; the rejection notices that replace an oversized message or one
// with a banned attachment are not built in yet.
#pragma once

namespace vantrel {

class MailDirectory;
struct MailEnvelope;

// False when the message file is missing or holds 3 bytes or less.
[[nodiscard]] bool screenForSize(MailEnvelope& envelope, MailDirectory& directory);
// False when the message file is missing.
[[nodiscard]] bool screenAttachments(MailEnvelope& envelope, MailDirectory& directory);

} // namespace vantrel

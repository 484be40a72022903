// What happens to a mail once its SMTP dialogue has ended: size screening,
// relaying, attachment screening, delivery into the local mailboxes and the
// one SMTP log line that tells how it went. Every local recipient's
// transaction goes back to the directory here, delivered or not.
#pragma once

namespace vantrel {

class MailDirectory;
class ServiceLog;
class SmtpSession;
struct MailEnvelope;

enum class DialogueResult { Succeeded, Failed };

// Runs the steps for the session's envelope; the message file is closed.
void finishMail(SmtpSession& session, DialogueResult result);

// Copies the message file into each local recipient's mailbox that has
// room for it and logs "Mail Received" with the users who got it.
void deliverLocally(MailDirectory& directory, ServiceLog& log, MailEnvelope& envelope);

} // namespace vantrel

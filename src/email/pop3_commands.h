// The transaction phase's command handlers: one small function per
// command, chosen from a table by the command a line was recognised as.
#pragma once

#include "email/pop3_command.h"

#include <string_view>

namespace vantrel {

class MailboxTransaction;
class Pop3Session;

namespace pop3 {

enum class Outcome {
    Continue,
    Quit, // QUIT: deletions are kept
    Lost, // the connection failed or a stop came: deletions are undone
};

Outcome runCommand(Pop3Session& session, MailboxTransaction& mailbox, Command command, std::string_view line);

} // namespace pop3
} // namespace vantrel

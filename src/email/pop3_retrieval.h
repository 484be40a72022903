// Sending one stored message to a POP3 client: whole for RETR, head and
// the first lines of the body for TOP, each after its "+OK" line. A file
// that cannot be opened is answered "-ERR Server error".
#pragma once

#include "email/pop3_commands.h"

#include <string>

namespace vantrel {

class Pop3Session;

namespace pop3 {

Outcome sendWholeMessage(Pop3Session& session, const std::string& path);
// bodyLines below 0 counts as 0.
Outcome sendMessageTop(Pop3Session& session, const std::string& path, int bodyLines);

} // namespace pop3
} // namespace vantrel

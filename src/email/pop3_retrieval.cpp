// RETR and TOP on the wire: the "+OK" line with the announced size or line
// count, sent with the start of the message, then the rest of the copy
// straight into the session's sends, which give up at once on a stop
// request.
#include "email/pop3_retrieval.h"

#include "email/pop3_message_rules.h"
#include "email/pop3_replies.h"
#include "email/pop3_session.h"
#include "foundation/file_handle.h"
#include "foundation/text.h"

namespace vantrel::pop3 {

namespace {

constexpr std::size_t ReplyLimit = ServiceSession::LongestLineSize;

bool openMessage(Pop3Session& session, const std::string& path, FileHandle& file)
{
    if (file.open(path, FileMode::Read, IfMissing::Fail))
        return true;
    session.reply(ServerError);
    return false;
}

ByteSink sinkOf(Pop3Session& session)
{
    return [&session](std::string_view bytes) { return session.sendBytes(bytes); };
}

} // namespace

Outcome sendWholeMessage(Pop3Session& session, const std::string& path)
{
    FileHandle file;
    if (!openMessage(session, path, file))
        return Outcome::Continue;
    const std::string lead = formatText(ReplyLimit, OctetsFormat, announcedSize(file.sizeAtOpen())) + LineEnd;
    return copyWholeMessage(file, lead, sinkOf(session)) ? Outcome::Continue : Outcome::Lost;
}

Outcome sendMessageTop(Pop3Session& session, const std::string& path, int bodyLines)
{
    FileHandle file;
    if (!openMessage(session, path, file))
        return Outcome::Continue;
    const std::string lead = formatText(ReplyLimit, TopFormat, bodyLines < 0 ? 0 : bodyLines) + LineEnd;
    return copyMessageTop(file, bodyLines, lead, sinkOf(session)) ? Outcome::Continue : Outcome::Lost;
}

} // namespace vantrel::pop3

// The transaction phase's commands. A message number on the wire is a slot
// of the transaction plus 1; a slot emptied by DELE keeps its number until
// RSET refills it, so numbers never change within a session. Every reply
// names a message by the number the client gave.
#include "email/pop3_commands.h"

#include "email/mailbox_transaction.h"
#include "email/pop3_message_rules.h"
#include "email/pop3_replies.h"
#include "email/pop3_retrieval.h"
#include "email/pop3_session.h"
#include "foundation/text.h"

#include <array>
#include <string>

namespace vantrel::pop3 {

namespace {

constexpr std::size_t ReplyLimit = ServiceSession::LongestLineSize;
constexpr std::size_t RetrWordLength = 5; // "retr "
constexpr std::size_t UidlWordLength = 5; // "uidl "
constexpr std::size_t DeleWordLength = 5; // "dele "
constexpr std::size_t ListWordLength = 5; // "list "

using Handler = Outcome (*)(Pop3Session&, MailboxTransaction&, std::string_view line);

struct Handled {
    Command command;
    Handler handler;
};

// The messages not marked deleted, each as LIST announces it.
long long reportedLiveSize(const MailboxTransaction& mailbox)
{
    long long total = 0;
    for (int i = 0; i < mailbox.messageSlotCount(); ++i) {
        if (!mailbox.isDeleted(i))
            total += announcedSize(mailbox.messageSizeAt(i));
    }
    return total;
}

Outcome replied(bool sent)
{
    return sent ? Outcome::Continue : Outcome::Lost;
}

Outcome replyNumbered(Pop3Session& session, const char* format, int number)
{
    return replied(session.reply(formatText(ReplyLimit, format, number)));
}

// The slot of message number n, or -1 after answering that there is none.
int slotOf(Pop3Session& session, const MailboxTransaction& mailbox, int number)
{
    if (number < 1 || number > mailbox.messageSlotCount()) {
        session.reply(NoSuchEmail);
        return -1;
    }
    return number - 1;
}

// Gathers the reply line and the lines of a listing into few large sends.
class Listing final {
public:
    Listing(Pop3Session& session, const std::string& reply) : session_(session) { line(reply); }

    void line(const std::string& text)
    {
        out_ += text;
        out_ += LineEnd;
        if (out_.size() >= GatherSize)
            flush();
    }

    Outcome finish()
    {
        line(ListEnd);
        flush();
        return replied(ok_);
    }

private:
    void flush()
    {
        if (ok_ && !out_.empty())
            ok_ = session_.sendBytes(out_);
        out_.clear();
    }

    Pop3Session& session_;
    std::string out_;
    bool ok_ = true;
};

// The reply waits until the deletions are applied (see Pop3Session::serve).
Outcome handleQuit(Pop3Session&, MailboxTransaction&, std::string_view)
{
    return Outcome::Quit;
}

Outcome handleNoop(Pop3Session& session, MailboxTransaction&, std::string_view)
{
    return replied(session.reply(NoProblem));
}

Outcome handleRetr(Pop3Session& session, MailboxTransaction& mailbox, std::string_view line)
{
    const int number = messageNumberOf(line, RetrWordLength);
    const int slot = slotOf(session, mailbox, number);
    if (slot < 0)
        return Outcome::Continue;
    if (mailbox.isDeleted(slot))
        return replyNumbered(session, IsDeletedFormat, number);
    return sendWholeMessage(session, mailbox.messagePath(slot));
}

Outcome handleTop(Pop3Session& session, MailboxTransaction& mailbox, std::string_view line)
{
    // A line count of -1 asks for the whole message.
    constexpr int WholeMessage = -1;
    const TopArguments arguments = parseTopArguments(line);
    const int slot = slotOf(session, mailbox, arguments.message);
    if (slot < 0)
        return Outcome::Continue;
    if (mailbox.isDeleted(slot))
        return replyNumbered(session, IsDeletedFormat, arguments.message);
    if (arguments.lines == WholeMessage)
        return sendWholeMessage(session, mailbox.messagePath(slot));
    return sendMessageTop(session, mailbox.messagePath(slot), arguments.lines);
}

Outcome handleUidlAll(Pop3Session& session, MailboxTransaction& mailbox, std::string_view)
{
    Listing listing(session, formatText(ReplyLimit, UidlAllFormat, mailbox.liveCount()));
    for (int i = 0; i < mailbox.messageSlotCount(); ++i) {
        if (const auto id = mailbox.messageIdAt(i))
            listing.line(formatText(ReplyLimit, UidlLineFormat, i + 1, id->c_str()));
    }
    return listing.finish();
}

Outcome handleUidlOne(Pop3Session& session, MailboxTransaction& mailbox, std::string_view line)
{
    const int number = messageNumberOf(line, UidlWordLength);
    const int slot = slotOf(session, mailbox, number);
    if (slot < 0)
        return Outcome::Continue;
    const auto id = mailbox.messageIdAt(slot);
    if (!id)
        return replyNumbered(session, IsDeletedFormat, number);
    return replied(session.reply(formatText(ReplyLimit, UidlOneFormat, number, id->c_str())));
}

Outcome handleRset(Pop3Session& session, MailboxTransaction& mailbox, std::string_view)
{
    mailbox.undoDeletions();
    return replied(session.reply(Undeleted));
}

Outcome handleDele(Pop3Session& session, MailboxTransaction& mailbox, std::string_view line)
{
    const int number = messageNumberOf(line, DeleWordLength);
    const int slot = slotOf(session, mailbox, number);
    if (slot < 0)
        return Outcome::Continue;
    if (mailbox.isDeleted(slot))
        return replyNumbered(session, AlreadyDeletedFormat, number);
    mailbox.markDeleted(slot);
    return replyNumbered(session, DeletedFormat, number);
}

Outcome handleStat(Pop3Session& session, MailboxTransaction& mailbox, std::string_view)
{
    return replied(session.reply(formatText(ReplyLimit, StatFormat, mailbox.liveCount(), reportedLiveSize(mailbox))));
}

Outcome handleListAll(Pop3Session& session, MailboxTransaction& mailbox, std::string_view)
{
    Listing listing(session, formatText(ReplyLimit, ListAllFormat, mailbox.liveCount(), reportedLiveSize(mailbox)));
    for (int i = 0; i < mailbox.messageSlotCount(); ++i) {
        if (!mailbox.isDeleted(i))
            listing.line(formatText(ReplyLimit, ListLineFormat, i + 1, announcedSize(mailbox.messageSizeAt(i))));
    }
    return listing.finish();
}

Outcome handleListOne(Pop3Session& session, MailboxTransaction& mailbox, std::string_view line)
{
    const int number = messageNumberOf(line, ListWordLength);
    const int slot = slotOf(session, mailbox, number);
    if (slot < 0)
        return Outcome::Continue;
    if (mailbox.isDeleted(slot))
        return replyNumbered(session, ListDeletedFormat, number);
    return replied(
        session.reply(formatText(ReplyLimit, ListOneFormat, number, announcedSize(mailbox.messageSizeAt(slot)))));
}

Outcome handleHelp(Pop3Session& session, MailboxTransaction&, std::string_view)
{
    return replied(session.reply(Help));
}

Outcome handleUnknown(Pop3Session& session, MailboxTransaction&, std::string_view)
{
    return replied(session.reply(NotUnderstood));
}

// Indexed by Command; the order of recognition is the command table's.
constexpr std::array<Handled, 13> Handlers{{
    {Command::Quit, handleQuit},
    {Command::Noop, handleNoop},
    {Command::Retr, handleRetr},
    {Command::Top, handleTop},
    {Command::UidlAll, handleUidlAll},
    {Command::UidlOne, handleUidlOne},
    {Command::Rset, handleRset},
    {Command::Dele, handleDele},
    {Command::Stat, handleStat},
    {Command::ListAll, handleListAll},
    {Command::ListOne, handleListOne},
    {Command::Help, handleHelp},
    {Command::Unknown, handleUnknown},
}};

constexpr bool handlersInCommandOrder()
{
    for (std::size_t i = 0; i < Handlers.size(); ++i) {
        if (static_cast<std::size_t>(Handlers[i].command) != i)
            return false;
    }
    return true;
}
static_assert(handlersInCommandOrder(), "Handlers is indexed by Command");

} // namespace

Outcome runCommand(Pop3Session& session, MailboxTransaction& mailbox, Command command, std::string_view line)
{
    return Handlers[static_cast<std::size_t>(command)].handler(session, mailbox, line);
}

} // namespace vantrel::pop3

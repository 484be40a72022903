// MailboxTransaction: slots, deletion marks and queued additions of one
// opened mailbox. Only the thread that holds the transaction touches it.
#include "email/mailbox_transaction.h"

#include <cassert>
#include <utility>

namespace vantrel {

MailboxTransaction::MailboxTransaction(std::string user, std::string password, std::string address,
                                       std::uint64_t storedSize)
    : user_(std::move(user)), password_(std::move(password)), address_(std::move(address)), size_(storedSize)
{
}

void MailboxTransaction::shareSlots(MessageList::Snapshot listed)
{
    assert(deletions_.empty());
    shared_ = std::move(listed);
}

const MessageEntry& MailboxTransaction::entryAt(int i) const
{
    const auto slot = static_cast<std::size_t>(i);
    return shared_[slot];
}

bool MailboxTransaction::isDeleted(int i) const
{
    const auto slot = static_cast<std::size_t>(i);
    return slot < emptied_.size() && emptied_[slot];
}

const std::string& MailboxTransaction::messagePath(int i) const
{
    assert(i >= 0 && i < messageSlotCount() && !isDeleted(i));
    return entryAt(i).path;
}

std::optional<std::string> MailboxTransaction::messageIdAt(int i) const
{
    if (i < 0 || i >= messageSlotCount() || isDeleted(i))
        return std::nullopt;
    return entryAt(i).id;
}

std::uint64_t MailboxTransaction::messageSizeAt(int i) const
{
    if (i < 0 || i >= messageSlotCount() || isDeleted(i))
        return 0;
    return entryAt(i).size;
}

bool MailboxTransaction::markDeleted(int i)
{
    if (i < 0 || i >= messageSlotCount() || isDeleted(i))
        return false;
    if (emptied_.size() < static_cast<std::size_t>(messageSlotCount()))
        emptied_.resize(static_cast<std::size_t>(messageSlotCount()), false);
    emptied_[static_cast<std::size_t>(i)] = true;
    deletions_.push_back(PendingDeletion{entryAt(i), i});
    return true;
}

void MailboxTransaction::undoDeletions()
{
    // The entries never left their slots: clearing the marks refills them.
    emptied_.clear();
    deletions_.clear();
}

int MailboxTransaction::liveCount() const
{
    int live = 0;
    for (int i = 0; i < messageSlotCount(); ++i)
        live += isDeleted(i) ? 0 : 1;
    return live;
}

std::uint64_t MailboxTransaction::liveSize() const
{
    std::uint64_t total = 0;
    for (int i = 0; i < messageSlotCount(); ++i)
        total += messageSizeAt(i);
    return total;
}

void MailboxTransaction::addMessage(std::string path, std::string id, std::uint64_t size)
{
    size_ += size;
    additions_.push_back(MessageEntry{std::move(path), std::move(id), size});
}

void MailboxTransaction::dropAdditions()
{
    additions_.clear();
}

} // namespace vantrel

// MailboxTransaction: the snapshot of one mailbox that an SMTP delivery, a
// POP3 login or the settings panel works on in memory and hands back to the
// MailDirectory exactly once. Slots keep their numbers for the life of the
// transaction: a deletion empties its slot and an undo refills it.
#pragma once

#include "email/message_list.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

class MailboxTransaction final {
public:
    // Made by the directory with the account's values at opening.
    MailboxTransaction(std::string user, std::string password, std::string address, std::uint64_t storedSize);

    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    const std::string& address() const { return address_; }

    // Opening: the account's listed messages, one slot each in index
    // order, shared and not copied.
    void shareSlots(MessageList::Snapshot listed);

    int messageSlotCount() const { return static_cast<int>(shared_.size()); }
    // Slot i must not be empty.
    const std::string& messagePath(int i) const;
    // Empty when the slot is empty.
    std::optional<std::string> messageIdAt(int i) const;
    // 0 when the slot is empty.
    std::uint64_t messageSizeAt(int i) const;
    bool isDeleted(int i) const;
    // The entry goes to the pending deletions; the slot becomes empty.
    bool markDeleted(int i);
    // Puts every pending deletion back into its own slot.
    void undoDeletions();
    int liveCount() const;
    std::uint64_t liveSize() const;
    std::uint64_t storedSize() const { return size_; }

    // Queues a copy of the file at path; the file is read at commit.
    void addMessage(std::string path, std::string id, std::uint64_t size);
    // Forgets the queued copies; the size keeps what they added.
    void dropAdditions();

    // For the directory when it applies the transaction.
    struct PendingDeletion {
        MessageEntry entry;
        int slot = 0;
    };
    const std::vector<PendingDeletion>& pendingDeletions() const { return deletions_; }
    const std::vector<MessageEntry>& pendingAdditions() const { return additions_; }

private:
    const MessageEntry& entryAt(int i) const;

    std::string user_;
    std::string password_;
    std::string address_;
    std::uint64_t size_ = 0;
    // Slot i is shared_[i]; a slot is empty while its flag in emptied_ is set.
    MessageList::Snapshot shared_;
    std::vector<bool> emptied_;
    std::vector<PendingDeletion> deletions_;
    std::vector<MessageEntry> additions_;
};

} // namespace vantrel

// MailQueue: the folder "mailqueue" of the data folder, where every message
// that the SMTP server has acknowledged waits until each of its recipients
// has been delivered, relayed or given its notice.
//
// An entry NAME is two files: "NAME.msg" holds the message bytes exactly as
// a mailbox stores them, "NAME.env" its envelope (a settings file: client,
// greeting, sender, recipients with the ids of their copies, and what is
// still owed). The message file is written while the client sends; at the
// end mark it is made durable, then the envelope is written and made
// durable, then the folder: only then may "250" be sent. So an envelope on
// disk always names a whole message, and a message file without an
// envelope is one that was never acknowledged. Progress (relayed, notice
// sent, copies that must be tried again) replaces the envelope whole.
//
// Entries are claimed while a thread works on them: the session that took a
// message delivers it when its connection ends, and the queue runner takes
// what nobody holds and is due (entries found at start, copies to retry).
#pragma once

#include "email/mail_envelope.h"
#include "foundation/critical_lock.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// One queued message with its envelope and its history of tries.
struct QueuedMail {
    std::string name;
    MailEnvelope envelope;     // messageFile names the entry's message file
    std::int64_t queuedAt = 0; // seconds since 1970, when it was acknowledged
    std::int32_t tries = 0;    // failed delivery tries so far
};

class MailQueue final {
public:
    static constexpr char Folder[] = "mailqueue";

    MailQueue() = default;
    MailQueue(const MailQueue&) = delete;
    MailQueue& operator=(const MailQueue&) = delete;

    // Makes the folder when it is missing; false when it is not there after.
    bool prepare() const;
    // What a killed run left: message files that were never acknowledged
    // and temporary files are removed; every entry becomes due at once.
    // `noteId` sees the ids its envelope holds. Runs while nothing else
    // uses the queue (before the listeners start).
    void recover(const std::function<void(std::string_view)>& noteId);

    // A new, empty message file for a message being received; its entry is
    // not in the queue until commit.
    [[nodiscard]] bool create(std::string& name);
    std::string messagePath(std::string_view name) const;
    std::string noticePath(std::string_view name) const;
    // Writes the envelope and makes the entry durable (the message file's
    // bytes must be on disk already). The caller holds the entry. On false
    // nothing of the entry is left.
    [[nodiscard]] bool commit(const QueuedMail& mail);
    // Removes the files of an entry that was never committed.
    void discard(std::string_view name);
    // Replaces the envelope with the mail's progress, whole or not at all.
    [[nodiscard]] bool update(const QueuedMail& mail);
    // Reads an entry's envelope; false when it is missing or damaged.
    [[nodiscard]] bool load(std::string_view name, QueuedMail& mail) const;
    // The mail is done with: its files go and the queue forgets it.
    void finish(std::string_view name);
    // The holder lets go; the runner may take it from `dueTick` on.
    void release(std::string_view name, std::uint32_t dueTick);
    // Claims every entry that nobody holds and that is due.
    std::vector<std::string> claimDue(std::uint32_t nowTick);
    // Entries in the queue, held or not.
    std::size_t size() const;

private:
    struct Slot {
        bool claimed = false;
        std::uint32_t dueTick = 0;
    };

    mutable CriticalLock lock_;
    std::map<std::string, Slot> slots_ VT_GUARDED_BY(lock_);
    std::uint64_t nextName_ VT_GUARDED_BY(lock_) = 0;
};

} // namespace vantrel

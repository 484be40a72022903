// MailAccount: one mail account with its mailbox. It keeps the account's
// identity (user, address, password), the message index with the size of
// every message file, the next message number, the POP3 login lock and the
// two files "email\U.dat" (index) and "email\U_s.dat" (count, address and
// password), where U is the user name with every '.' as a blank.
//
// Changes are made in memory and on the message files under the account's
// lock (which the directory takes inside its own), and reach the two
// settings files through flush(), which runs without the directory's lock
// so that its waits for the disk overlap with other deliveries: one flush
// writes every change made before it, and concurrent deliveries to one
// account share its disk waits. Lock order: directory, flush, account.
#pragma once

#include "email/mailbox_index_file.h"
#include "email/mailbox_transaction.h"
#include "email/message_list.h"
#include "email/tracked_file.h"
#include "foundation/critical_lock.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// How a mailbox is opened.
enum class OpenMode {
    Delivery, // no login lock; the message sizes known in memory
    Login,    // takes the login lock; every message file is looked at
    Browse,   // no login lock; every message file is looked at
};

// An index record taken out by a deletion, with its place in the index,
// so that it can be put back when the index cannot be written without it.
struct RemovedRecord {
    std::size_t position = 0;
    IndexRecord record;
};

// A message linked or copied into the email folder under a temporary name,
// waiting to be renamed to its message number.
struct StagedCopy {
    std::string path; // empty when the copy failed
    std::uint64_t size = 0;
};

class MailAccount final {
public:
    static constexpr char Folder[] = "email\\";
    static constexpr char IndexSuffix[] = ".dat";
    static constexpr char SettingsSuffix[] = "_s.dat";
    static constexpr char MessageSuffix[] = "_e.dat";
    static constexpr char CountKey[] = "count";
    static constexpr char AddressKey[] = "address";
    static constexpr char PasswordKey[] = "password";
    // The stored size of "address" and "password": up to 99 characters,
    // a zero, and zero filler.
    static constexpr std::size_t FixedTextSize = 101;
    static constexpr std::size_t MaxText = 99;

    // user: at most 99 characters, no "\" or "/".
    explicit MailAccount(std::string_view user);
    MailAccount(const MailAccount&) = delete;
    MailAccount& operator=(const MailAccount&) = delete;

    // U: the user name with every '.' as a blank; it names the files.
    static std::string fileStemOf(std::string_view user);

    const std::string& user() const { return user_; }
    const std::string& fileStem() const { return stem_; }
    std::string indexPath() const { return indexPath_; }
    std::string settingsPath() const { return settingsPath_; }

    // Reads both files, each whatever became of the other; false when
    // either is missing or damaged. Records that a crash left written but
    // not yet counted in the index are taken in when their files are there.
    [[nodiscard]] bool load();
    // Writes whatever the files do not hold yet, and each file that is no
    // longer on disk; false when a write failed.
    [[nodiscard]] bool save();

    std::string address() const;
    bool hasAddress(std::string_view address) const;
    bool hasPassword(std::string_view password) const;
    // Each cut to 99 characters.
    void setIdentity(std::string_view address, std::string_view password);

    // Null only for a login while another holds the lock.
    std::unique_ptr<MailboxTransaction> open(OpenMode mode);

    struct Applied {
        std::uint64_t change = 0; // for flush(); 0 when nothing is owed to the files
        bool copyFailed = false;  // some copy left no trace: not stored
        // Records the deletions took out; their files are still there and
        // go once the index without them is written (or come back).
        std::vector<RemovedRecord> removed;
    };
    // Deletions by id (records only), then the staged copies indexed and
    // renamed to the next message numbers. A new record reaches the index
    // file (uncounted) before its message file has its name, so that a
    // crash between leaves no message that no record names. A staged copy
    // that was placed has its path cleared; one that was not leaves no
    // record and uses no number.
    Applied apply(const MailboxTransaction& transaction, std::vector<StagedCopy>& staged, bool unlock);
    // Puts records taken out by apply back in their places.
    void restoreRemoved(const std::vector<RemovedRecord>& removed);
    // A message file no record names, adopted with a new id.
    void adoptMessage(const std::string& path, const std::string& id, std::uint64_t size);
    // Returns once every change up to `change` is in the account's files
    // (written by this call or by a concurrent one).
    bool flush(std::uint64_t change);

    // Some message file of this account's on disk is spelt in other letter
    // case than the account would write it (made by hand): new message
    // names must then be looked up without case before they are created.
    void setCaseVariantsOnDisk(bool present);

    // The index has a record with this id / naming this file (any case).
    bool holdsId(std::string_view id) const;
    bool indexes(std::string_view path) const;
    std::vector<std::string> messageIds() const;

    bool isLoginLocked() const;
    std::uint32_t nextMessageNumber() const;
    std::uint64_t storedSize() const;
    FileState indexFileState() const;

private:
    // Everything the files lack: the flush that save() and flush() share.
    bool writeOut(std::uint64_t change, bool always) VT_REQUIRES(flushLock_);
    SettingsStore settingsRecords() const VT_REQUIRES(lock_);
    // Looks at every message file, then rebuilds the list and size if needed.
    void refreshSizes() VT_REQUIRES(lock_);
    void rebuildListed() VT_REQUIRES(lock_);
    bool placeMessage(StagedCopy& copy, const std::string& target) VT_REQUIRES(lock_);

    const std::string user_;
    const std::string stem_;
    const std::string indexPath_;
    const std::string settingsPath_;
    const std::string messageSuffix_; // "@" + U + "_e.dat"

    // Held while the files are written; taken before lock_.
    mutable CriticalLock flushLock_;
    TrackedFile settingsFile_ VT_GUARDED_BY(flushLock_);

    mutable CriticalLock lock_;
    std::string address_ VT_GUARDED_BY(lock_);
    std::string password_ VT_GUARDED_BY(lock_);
    std::vector<IndexRecord> records_ VT_GUARDED_BY(lock_);
    MessageList listed_ VT_GUARDED_BY(lock_); // the records whose file is larger than 3 bytes
    MailboxIndexFile index_ VT_GUARDED_BY(lock_);
    std::uint32_t nextNumber_ VT_GUARDED_BY(lock_) = 0;
    bool loginLocked_ VT_GUARDED_BY(lock_) = false;
    bool caseVariantsOnDisk_ VT_GUARDED_BY(lock_) = false;
    std::uint64_t storedSize_ VT_GUARDED_BY(lock_) = 0;
    // Every change that the files must take gets the next number; settings
    // changes also their own, so that an unchanged settings file is skipped.
    std::uint64_t change_ VT_GUARDED_BY(lock_) = 0;
    std::uint64_t flushed_ VT_GUARDED_BY(lock_) = 0;
    std::uint64_t settingsChange_ VT_GUARDED_BY(lock_) = 0;
    std::uint64_t settingsWritten_ VT_GUARDED_BY(lock_) = 0;
};

} // namespace vantrel

// MailDirectory: the one authority on who receives and collects mail. It
// holds the mail accounts with their mailboxes, the routing settings of
// "emailmapper.dat" (local domain, relay host and subnet, catch-all user),
// the size limits and the banned attachment extensions. Every operation
// runs under the directory's lock; account work takes the account's lock
// inside it (lock order: directory, then account). Handing a transaction
// back copies its messages before the lock is taken and waits for the
// account's files to reach the disk after it is released.
#pragma once

#include "email/mailbox_transaction.h"
#include "email/tracked_file.h"
#include "foundation/critical_lock.h"
#include "foundation/settings_store.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

class MailAccount;
class ServiceLog;

// What became of a transaction handed back.
enum class CommitOutcome {
    Applied,        // every change is in the mailbox
    CopyFailed,     // a queued copy could not be stored; it left no trace
    DeletionFailed, // the index could not be written without the deleted messages: all stay
    NoAccount,      // the account is gone; nothing was applied
    SaveFailed,     // applied in memory, but the account's files could not take it yet
};

class MailDirectory final {
public:
    static constexpr char AccountsFile[] = "emailaccounts.dat";
    static constexpr char MapperFile[] = "emailmapper.dat";
    // The two size limits and the banned extensions, kept across starts in
    // a file of their own; without it they start from their defaults.
    static constexpr char LimitsFile[] = "emaillimits.dat";
    static constexpr std::size_t MaxText = 99;
    static constexpr std::size_t MaxSubnet = 19;
    static constexpr std::size_t MaxBannedList = 1023;
    static constexpr std::size_t MaxMessageId = 70;
    static constexpr std::int32_t DefaultMaxAccountSize = 2097152;
    static constexpr std::int32_t DefaultMaxEmailSize = 1048576;
    static constexpr char RecommendedBannedExtensions[] =
        ".dat .exe .pif .scr .com .ade .adp .bas .bat .chm .cmd .cpl .crt .hlp .hta .inf .ins .isp .js "
        ".jse .lnk .mda .mdb .mde .mdz .msc .msi .msp .mst .pcd .reg .sct .shs .url .vb .vbe .vbs .wsc "
        ".wsf .wsh";

    explicit MailDirectory(int maxAccounts);
    // Destroys the accounts without saving: a delivery has written its
    // account's files already, and settings are saved by whoever changed them.
    ~MailDirectory();
    MailDirectory(const MailDirectory&) = delete;
    MailDirectory& operator=(const MailDirectory&) = delete;

    // All steps run; false when any file could not be read.
    [[nodiscard]] bool load();
    // All writes are attempted; false when any failed.
    [[nodiscard]] bool save();

    // False when the table is full, or the user name cannot name a file
    // (empty, or holding "\" or "/"), or a new user's files would be those
    // of another account (user names differing only in case or in '.'
    // against blank).
    [[nodiscard]] bool addOrUpdateAccount(std::string_view user, std::string_view address, std::string_view password);
    // The account's files stay on disk.
    bool removeAccount(std::string_view user);
    int accountCount() const;
    int maxAccounts() const { return maxAccounts_; }
    bool userExists(std::string_view user) const;
    // No account has this user name, but one already uses the files it
    // would name (user names differing only in letter case or in '.'
    // against blank).
    bool userFilesTaken(std::string_view user) const;
    bool addressIsShared(std::string_view address) const;
    bool checkLogin(std::string_view user, std::string_view password) const;

    bool relayHostSet() const;
    // The client's address starts with the relay subnet in whole octets
    // ("10.0.0." and "10.0.0.1" admit 10.0.0.1; the latter not 10.0.0.15).
    bool relayAllowedFrom(std::string_view clientIp) const;
    bool isLocalDomain(std::string_view host) const;
    // ext with its dot (".exe"); exact match against the banned list.
    bool extensionAllowed(std::string_view ext) const;

    std::string relayHost() const;
    void setRelayHost(std::string_view host);
    std::string localHostName() const;
    void setLocalDomain(std::string_view domain);
    std::string relaySubnet() const;
    void setRelaySubnet(std::string_view subnet);
    std::string catchAllUser() const;
    void setCatchAllUser(std::string_view user);
    std::int32_t maxEmailSize() const;
    // The largest message in bytes; a stored size below 0 takes none.
    std::uint64_t maxEmailBytes() const;
    void setMaxEmailSize(std::int32_t bytes);
    std::int32_t maxAccountSize() const;
    void setMaxAccountSize(std::int32_t bytes);
    // The list without its leading and trailing blank.
    std::string bannedExtensions() const;
    void setBannedExtensions(std::string_view list);

    // Mailbox operations. A transaction handed out must come back through
    // commitAndUnlock or commitDelivery exactly once.
    // Null when no account matches or the mailbox is held by another login.
    std::unique_ptr<MailboxTransaction> openMailboxForLogin(std::string_view user, std::string_view password);
    // Recipient resolution: exact address, then the catch-all account.
    std::unique_ptr<MailboxTransaction> openMailboxForAddress(std::string_view address);
    // The user name recipient resolution gives; empty when none.
    std::string localRecipient(std::string_view address) const;
    // The account of that user name, opened for a delivery.
    std::unique_ptr<MailboxTransaction> openMailboxForUser(std::string_view user);
    // The account's mailbox holds a message of that id.
    bool holdsMessage(std::string_view user, std::string_view id) const;
    // The account's address; empty when there is no such account.
    std::string addressOf(std::string_view user) const;
    // The caller guarantees 0 <= position < accountCount().
    std::unique_ptr<MailboxTransaction> openMailboxAt(int position);
    // Applies the transaction and releases the login lock. Returns once
    // the changes are in the account's files.
    CommitOutcome commitAndUnlock(std::unique_ptr<MailboxTransaction> transaction);
    // Applies the transaction; the login lock stays as it is. Returns once
    // the changes are in the account's files.
    CommitOutcome commitDelivery(std::unique_ptr<MailboxTransaction> transaction);
    // "k:" + the mail date text with blanks and commas as ':'. The counter k
    // starts above every k in the mailboxes and every one noted, so that
    // ids stay unique across starts within the same second.
    std::string newMessageId();
    // An id in use outside the mailboxes (a queued message's).
    void noteMessageId(std::string_view id);
    // Message files in the email folder that no index names (a crash
    // between placing a message and indexing it) go into their account's
    // mailbox; one that is not a whole message is removed. Each is logged.
    // Runs while no delivery does. Returns how many files were handled.
    int adoptOrphans(ServiceLog& log);

    // The account of that user name, for tests and the settings panel.
    std::shared_ptr<MailAccount> account(std::string_view user) const;

private:
    std::shared_ptr<MailAccount> findUserLocked(std::string_view user) const VT_REQUIRES(lock_);
    bool stemTakenLocked(const std::string& user) const VT_REQUIRES(lock_);
    CommitOutcome commit(std::unique_ptr<MailboxTransaction> transaction, bool unlock);
    std::shared_ptr<MailAccount> resolveLocked(std::string_view address) const VT_REQUIRES(lock_);
    void raiseCounterLocked(std::string_view id) VT_REQUIRES(lock_);

    mutable CriticalLock lock_;
    bool loaded_ VT_GUARDED_BY(lock_) = false;
    SettingsStore accountTable_ VT_GUARDED_BY(lock_);
    TrackedFile accountsFile_ VT_GUARDED_BY(lock_);
    TrackedFile mapperFile_ VT_GUARDED_BY(lock_);
    TrackedFile limitsFile_ VT_GUARDED_BY(lock_);
    std::string relayHost_ VT_GUARDED_BY(lock_);
    std::string localDomain_ VT_GUARDED_BY(lock_);
    std::string catchAllUser_ VT_GUARDED_BY(lock_);
    std::string relaySubnet_ VT_GUARDED_BY(lock_);
    bool catchAllEnabled_ VT_GUARDED_BY(lock_) = false;
    std::string bannedExtensions_ VT_GUARDED_BY(lock_);
    std::vector<std::shared_ptr<MailAccount>> accounts_ VT_GUARDED_BY(lock_);
    const int maxAccounts_;
    std::int32_t maxAccountSize_ VT_GUARDED_BY(lock_) = DefaultMaxAccountSize;
    std::int32_t maxEmailSize_ VT_GUARDED_BY(lock_) = DefaultMaxEmailSize;
    std::uint32_t messageCounter_ VT_GUARDED_BY(lock_) = 0;
    bool orphansAdopted_ VT_GUARDED_BY(lock_) = false;
};

} // namespace vantrel

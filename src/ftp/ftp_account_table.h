// The FTP accounts: who may log in, with which password, below which folder
// and with which access rights, together with the service's welcome message.
// One lock guards both, since sessions read them while the settings panel
// edits them. The table is kept in "ftpaccounts.dat" (the list of user
// names) and one "ftp\<user>.dat" file per account in the working directory.
#pragma once

#include "foundation/critical_lock.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// The six rights of an account. The numbers are stored in the account files
// and must not change.
enum class AccessRights : std::uint32_t {
    None = 0,
    FileRead = 1,      // RETR
    FileWrite = 2,     // STOR, APPE
    FileModify = 4,    // APPE, STOR over a file, DELE and RNFR of a file
    FolderRead = 8,    // LIST, NLST, SIZE
    FolderCreate = 16, // MKD
    FolderModify = 32, // RMD, DELE and RNFR of a folder
};

constexpr AccessRights operator|(AccessRights a, AccessRights b)
{
    return static_cast<AccessRights>(static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b));
}
constexpr AccessRights operator&(AccessRights a, AccessRights b)
{
    return static_cast<AccessRights>(static_cast<std::uint32_t>(a) & static_cast<std::uint32_t>(b));
}
constexpr AccessRights& operator|=(AccessRights& a, AccessRights b)
{
    return a = a | b;
}
// True when every bit of `wanted` is in `rights`.
constexpr bool hasRights(AccessRights rights, AccessRights wanted)
{
    return (rights & wanted) == wanted;
}
constexpr std::uint32_t rightsValue(AccessRights rights)
{
    return static_cast<std::uint32_t>(rights);
}

// A new account starts with these (value 9).
constexpr AccessRights DefaultAccountRights = AccessRights::FileRead | AccessRights::FolderRead;

struct AccessRightLabel {
    AccessRights right;
    const char* label;
};
// The rights in the order and with the labels of the settings window.
constexpr std::array<AccessRightLabel, 6> AccessRightLabels{{
    {AccessRights::FileRead, "File Read"},
    {AccessRights::FileWrite, "File Write"},
    {AccessRights::FileModify, "File Modify"},
    {AccessRights::FolderRead, "Folder Read"},
    {AccessRights::FolderCreate, "Folder Create"},
    {AccessRights::FolderModify, "Folder Modify"},
}};

// One account, copied by value between the table, a session and the panel.
// The table cuts each text to MaxText characters when it stores an account.
struct FtpAccount {
    static constexpr std::size_t MaxText = 99;

    std::string user;     // lowercase, no spaces when entered in the panel
    std::string password; // compared byte for byte; empty for "anonymous"
    std::string folder;   // absolute local path ending with "\"
    AccessRights rights = AccessRights::None;
};

// What a session knows of its login: the user name and password as the
// client sent them (each cut to MaxText), and after a successful findLogin
// the account's folder and rights.
struct FtpLogin {
    static constexpr std::size_t MaxText = FtpAccount::MaxText;

    std::string user;
    std::string password;
    std::string folder;
    AccessRights rights = AccessRights::None;
};

// Capacity of the program's table.
constexpr int FtpAccountCapacity = 1000;

class FtpAccountTable final {
public:
    static constexpr std::size_t MaxWelcome = 499;
    static constexpr char ListFile[] = "ftpaccounts.dat";
    static constexpr char AccountFolder[] = "ftp\\";
    static constexpr char AnonymousUser[] = "anonymous";

    explicit FtpAccountTable(int capacity, std::string_view welcome = {});
    FtpAccountTable(const FtpAccountTable&) = delete;
    FtpAccountTable& operator=(const FtpAccountTable&) = delete;

    // Fills an empty table from the files; a table that holds accounts is
    // left alone (true). False when the list or any account file failed to
    // load; the accounts that did load stay, and so do the names read from
    // a damaged list. An account whose own file cannot be read stays in
    // the list (saveAccounts keeps it there and leaves its file alone) but
    // takes no logins.
    [[nodiscard]] bool loadAccounts();
    // Writes every account file and then the list; false when any failed.
    [[nodiscard]] bool saveAccounts();
    // Names listed whose own file could not be read, in list order.
    std::vector<std::string> unreadableNames() const;

    // Copies the folder and rights of the first account that matches the
    // login's user name and password (any password for "anonymous").
    [[nodiscard]] bool findLogin(FtpLogin& login) const;

    // Overwrites the first account of that user name, else appends it;
    // false only when a new name meets a full table.
    [[nodiscard]] bool addOrUpdate(const FtpAccount& account);
    // False when no account has that name.
    [[nodiscard]] bool removeByName(std::string_view user);
    std::optional<int> indexOfName(std::string_view user) const;
    bool containsName(std::string_view user) const;
    // A copy of the account at the position; an empty account when the
    // position is outside the table.
    FtpAccount copyAt(int position) const;

    int count() const;
    int capacity() const { return capacity_; }

    void setWelcome(std::string_view text);
    // Copies the message and a terminating zero into the buffer, cut to fit;
    // returns the characters copied.
    std::size_t getWelcome(char* buffer, std::size_t size) const;
    std::string welcome() const;

private:
    // A listed account whose file failed to load, and how many readable
    // accounts came before it in the list.
    struct UnreadableEntry {
        std::string user;
        std::size_t position;
    };

    int findIndex(std::string_view user) const VT_REQUIRES(lock_);

    const int capacity_;
    mutable CriticalLock lock_;
    std::vector<FtpAccount> accounts_ VT_GUARDED_BY(lock_);
    std::vector<UnreadableEntry> unreadable_ VT_GUARDED_BY(lock_);
    std::string welcome_ VT_GUARDED_BY(lock_);
};

} // namespace vantrel

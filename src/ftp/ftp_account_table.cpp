// The FTP account table: lookups for logins, the panel's edits, and the
// account files. Every operation holds the table's lock for its whole run,
// file work included, so that a save never sees a half-made edit.
#include "ftp/ftp_account_table.h"

#include "foundation/product.h"
#include "foundation/settings_store.h"
#include "foundation/text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace vantrel {

namespace {

constexpr char FolderKey[] = "folder";
constexpr char PasswordKey[] = "pass";
constexpr char RightsKey[] = "rights";

// Values longer than this are read from an account file and then cut.
constexpr std::size_t MaxStoredValue = 499;

constexpr char TextUnreadableAccount[] =
    "%s: %s could not be read; the account \"%s\" stays listed but cannot log in.\n";

FtpAccount boundedAccount(const FtpAccount& account)
{
    return FtpAccount{cutText(account.user, FtpAccount::MaxText), cutText(account.password, FtpAccount::MaxText),
                      cutText(account.folder, FtpAccount::MaxText), account.rights};
}

std::string accountFile(std::string_view user)
{
    std::string path = FtpAccountTable::AccountFolder;
    path.append(user);
    path.append(".dat");
    return path;
}

} // namespace

FtpAccountTable::FtpAccountTable(int capacity, std::string_view welcome)
    : capacity_(std::max(capacity, 0)), welcome_(cutText(welcome, MaxWelcome))
{
}

bool FtpAccountTable::loadAccounts()
{
    LockGuard guard(lock_);
    if (!accounts_.empty())
        return true;
    unreadable_.clear();

    // A damaged list still gives the names read before the damage.
    SettingsStore list;
    bool ok = list.loadFile(ListFile) == SettingsLoad::Loaded;
    const int listed = list.count();
    for (int i = 0; i < listed && i < capacity_; ++i) {
        FtpAccount account;
        account.user = list.textAt(i, FtpAccount::MaxText);

        const std::string path = accountFile(account.user);
        SettingsStore file;
        if (!file.load(path)) {
            ok = false;
            std::fprintf(stderr, TextUnreadableAccount, ProductName, path.c_str(), account.user.c_str());
            unreadable_.push_back({std::move(account.user), accounts_.size()});
            continue;
        }
        account.folder = cutText(file.getText(FolderKey, MaxStoredValue), FtpAccount::MaxText);
        account.password = cutText(file.getText(PasswordKey, MaxStoredValue), FtpAccount::MaxText);
        account.rights = static_cast<AccessRights>(static_cast<std::uint32_t>(file.getInt(RightsKey)));
        accounts_.push_back(std::move(account));
    }
    return ok;
}

bool FtpAccountTable::saveAccounts()
{
    LockGuard guard(lock_);
    bool ok = true;
    SettingsStore list;
    // Unreadable accounts keep their place in the list; their files are
    // not written, so nothing of them is lost.
    std::size_t nextUnreadable = 0;
    for (std::size_t i = 0; i <= accounts_.size(); ++i) {
        for (; nextUnreadable < unreadable_.size() &&
               (i == accounts_.size() || unreadable_[nextUnreadable].position <= i);
             ++nextUnreadable) {
            const std::string& user = unreadable_[nextUnreadable].user;
            if (findIndex(user) < 0)
                list.appendUnnamed(user.c_str(), static_cast<std::int32_t>(user.size() + 1));
        }
        if (i == accounts_.size())
            break;
        const FtpAccount& account = accounts_[i];
        list.appendUnnamed(account.user.c_str(), static_cast<std::int32_t>(account.user.size() + 1));

        SettingsStore file;
        file.setText(FolderKey, account.folder);
        file.setText(PasswordKey, account.password);
        file.setInt(RightsKey, static_cast<std::int32_t>(rightsValue(account.rights)));
        if (!file.save(accountFile(account.user)))
            ok = false;
    }
    if (!list.save(ListFile))
        ok = false;
    return ok;
}

std::vector<std::string> FtpAccountTable::unreadableNames() const
{
    LockGuard guard(lock_);
    std::vector<std::string> names;
    for (const UnreadableEntry& entry : unreadable_)
        names.push_back(entry.user);
    return names;
}

bool FtpAccountTable::findLogin(FtpLogin& login) const
{
    LockGuard guard(lock_);
    for (const FtpAccount& account : accounts_) {
        if (account.user != login.user)
            continue;
        if (account.password == login.password || account.user == AnonymousUser) {
            login.folder = account.folder;
            login.rights = account.rights;
            return true;
        }
    }
    return false;
}

bool FtpAccountTable::addOrUpdate(const FtpAccount& account)
{
    FtpAccount stored = boundedAccount(account);
    LockGuard guard(lock_);
    // An over-long name is matched in the form in which it is stored.
    const int index = findIndex(stored.user);
    if (index < 0 && static_cast<int>(accounts_.size()) >= capacity_)
        return false;
    // An account stored under the name of an unreadable one takes its
    // place for good.
    std::erase_if(unreadable_, [&](const UnreadableEntry& entry) { return entry.user == stored.user; });
    if (index >= 0)
        accounts_[static_cast<std::size_t>(index)] = std::move(stored);
    else
        accounts_.push_back(std::move(stored));
    return true;
}

bool FtpAccountTable::removeByName(std::string_view user)
{
    LockGuard guard(lock_);
    const int index = findIndex(user);
    if (index < 0)
        return false;
    accounts_.erase(accounts_.begin() + index);
    return true;
}

std::optional<int> FtpAccountTable::indexOfName(std::string_view user) const
{
    LockGuard guard(lock_);
    const int index = findIndex(user);
    if (index < 0)
        return std::nullopt;
    return index;
}

bool FtpAccountTable::containsName(std::string_view user) const
{
    LockGuard guard(lock_);
    return findIndex(user) >= 0;
}

FtpAccount FtpAccountTable::copyAt(int position) const
{
    LockGuard guard(lock_);
    if (position < 0 || position >= static_cast<int>(accounts_.size()))
        return {};
    return accounts_[static_cast<std::size_t>(position)];
}

int FtpAccountTable::count() const
{
    // Taken although only the panel's thread changes the list: the size is
    // read while another thread may be appending.
    LockGuard guard(lock_);
    return static_cast<int>(accounts_.size());
}

void FtpAccountTable::setWelcome(std::string_view text)
{
    std::string message = cutText(text, MaxWelcome);
    LockGuard guard(lock_);
    welcome_ = std::move(message);
}

std::size_t FtpAccountTable::getWelcome(char* buffer, std::size_t size) const
{
    LockGuard guard(lock_);
    return copyBounded(buffer, size, welcome_);
}

std::string FtpAccountTable::welcome() const
{
    LockGuard guard(lock_);
    return welcome_;
}

int FtpAccountTable::findIndex(std::string_view user) const
{
    for (std::size_t i = 0; i < accounts_.size(); ++i) {
        if (accounts_[i].user == user)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace vantrel

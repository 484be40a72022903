// MailDirectory: the account table and routing settings with their files,
// recipient and login resolution, and the hand-over of transactions to the
// accounts. Message copies and the waits for the disk run outside the
// directory's lock; everything else inside it.
#include "email/mail_directory.h"

#include "email/mail_account.h"
#include "foundation/file_system.h"
#include "foundation/file_time.h"
#include "foundation/text.h"

#include <algorithm>

namespace vantrel {

namespace {

constexpr char KeyRelayHost[] = "relayhost";
constexpr char KeyRelaySubnet[] = "relaysubnet";
constexpr char KeyLocalDomain[] = "localhost";
constexpr char KeyCatchAllUser[] = "catchalluser";
// Messages are copied next to their final place and renamed into it, so
// that a message file is never seen half-written. These names never end in
// ".dat", so they cannot be taken for an account's file.
constexpr char StagingFolder[] = "email";
constexpr char StagingPrefix[] = "~";
constexpr std::size_t MaxSearchText = 260;

std::string cut(std::string_view text, std::size_t maxLength)
{
    return std::string(text.substr(0, maxLength));
}

// A user name becomes file names in the email folder.
bool nameCanBeAccount(std::string_view user)
{
    return !user.empty() && user.find_first_of(std::string_view("\\/\0", 3)) == std::string_view::npos;
}

std::vector<StagedCopy> stageCopies(const std::vector<MessageEntry>& additions)
{
    std::vector<StagedCopy> staged(additions.size());
    for (std::size_t i = 0; i < additions.size(); ++i) {
        std::string temporary;
        if (!makeTempFile(StagingFolder, StagingPrefix, temporary))
            continue;
        std::uint64_t size = 0;
        // On disk before any index record can name it.
        if (copyFile(additions[i].path, temporary) && fileSize(temporary, size) && syncFileData(temporary))
            staged[i] = StagedCopy{std::move(temporary), size};
        else
            (void)deleteFile(temporary);
    }
    return staged;
}

void discardStaged(const std::vector<StagedCopy>& staged)
{
    for (const StagedCopy& copy : staged) {
        if (!copy.path.empty())
            (void)deleteFile(copy.path);
    }
}

} // namespace

MailDirectory::MailDirectory(int maxAccounts)
    : accountsFile_(AccountsFile),
      mapperFile_(MapperFile),
      bannedExtensions_(std::string(" ") + RecommendedBannedExtensions + " "),
      maxAccounts_(std::max(maxAccounts, 0))
{
}

MailDirectory::~MailDirectory()
{
    (void)save();
    const LockGuard guard(lock_);
    accounts_.clear();
}

bool MailDirectory::load()
{
    const LockGuard guard(lock_);
    bool ok = accountsFile_.load(accountTable_);

    SettingsStore mapper;
    ok = mapperFile_.load(mapper) && ok;
    if (mapper.hasKey(KeyRelayHost))
        relayHost_ = mapper.getText(KeyRelayHost, MaxText);
    if (mapper.hasKey(KeyRelaySubnet))
        relaySubnet_ = mapper.getText(KeyRelaySubnet, MaxSubnet);
    if (mapper.hasKey(KeyLocalDomain))
        localDomain_ = mapper.getText(KeyLocalDomain, MaxText);
    if (mapper.hasKey(KeyCatchAllUser))
        catchAllUser_ = mapper.getText(KeyCatchAllUser, MaxText);
    catchAllEnabled_ = !catchAllUser_.empty();

    if (!loaded_) {
        loaded_ = true;
        for (int i = 0; i < accountTable_.count() && i < maxAccounts_; ++i) {
            const std::string user = cut(accountTable_.nameAt(i), MaxText);
            if (user.empty())
                continue;
            // A name that cannot name files, or whose files another account
            // already uses, stays in the table but gets no mailbox.
            if (!nameCanBeAccount(user) || stemTakenLocked(user))
                continue;
            accounts_.push_back(std::make_shared<MailAccount>(user));
        }
    }
    for (const auto& account : accounts_)
        ok = account->load() && ok;
    return ok;
}

bool MailDirectory::save()
{
    const LockGuard guard(lock_);
    bool ok = accountsFile_.save(accountTable_);
    SettingsStore mapper;
    mapper.setText(KeyRelayHost, relayHost_);
    mapper.setText(KeyRelaySubnet, relaySubnet_);
    mapper.setText(KeyLocalDomain, localDomain_);
    mapper.setText(KeyCatchAllUser, catchAllUser_);
    ok = mapperFile_.save(mapper) && ok;
    for (const auto& account : accounts_)
        ok = account->save() && ok;
    return ok;
}

bool MailDirectory::addOrUpdateAccount(std::string_view user, std::string_view address, std::string_view password)
{
    const std::string name = cut(user, MaxText);
    if (!nameCanBeAccount(name))
        return false;
    const LockGuard guard(lock_);
    if (const auto existing = findUserLocked(name)) {
        existing->setIdentity(address, password);
        return true;
    }
    if (accountTable_.count() >= maxAccounts_ || stemTakenLocked(name))
        return false;
    auto account = std::make_shared<MailAccount>(name);
    // Files left by an earlier account of this name bring its mail back.
    (void)account->load();
    account->setIdentity(address, password);
    const char zero = '\0';
    accountTable_.setData(name, &zero, 1);
    accounts_.push_back(std::move(account));
    return true;
}

bool MailDirectory::removeAccount(std::string_view user)
{
    const LockGuard guard(lock_);
    if (!accountTable_.removeKey(user))
        return false;
    const auto found = std::find_if(accounts_.begin(), accounts_.end(),
                                    [&](const auto& account) { return account->user() == user; });
    if (found != accounts_.end()) {
        const std::shared_ptr<MailAccount> account = *found;
        accounts_.erase(found);
        // Its files must be complete before an account of the same name
        // can read them again.
        (void)account->save();
    }
    return true;
}

int MailDirectory::accountCount() const
{
    const LockGuard guard(lock_);
    return static_cast<int>(accounts_.size());
}

bool MailDirectory::userExists(std::string_view user) const
{
    const LockGuard guard(lock_);
    return findUserLocked(user) != nullptr;
}

bool MailDirectory::addressIsShared(std::string_view address) const
{
    const LockGuard guard(lock_);
    int holders = 0;
    for (const auto& account : accounts_)
        holders += account->hasAddress(address) ? 1 : 0;
    return holders > 1;
}

bool MailDirectory::checkLogin(std::string_view user, std::string_view password) const
{
    const LockGuard guard(lock_);
    return std::any_of(accounts_.begin(), accounts_.end(), [&](const auto& account) {
        return account->user() == user && account->hasPassword(password);
    });
}

bool MailDirectory::relayHostSet() const
{
    const LockGuard guard(lock_);
    return !relayHost_.empty();
}

bool MailDirectory::relayAllowedFrom(std::string_view clientIp) const
{
    const LockGuard guard(lock_);
    return clientIp.substr(0, relaySubnet_.size()) == relaySubnet_;
}

bool MailDirectory::isLocalDomain(std::string_view host) const
{
    const LockGuard guard(lock_);
    return host == localDomain_;
}

bool MailDirectory::extensionAllowed(std::string_view ext) const
{
    const std::string needle = cut(" " + std::string(ext) + " ", MaxSearchText);
    const LockGuard guard(lock_);
    return bannedExtensions_.find(needle) == std::string::npos;
}

std::string MailDirectory::relayHost() const
{
    const LockGuard guard(lock_);
    return relayHost_;
}

void MailDirectory::setRelayHost(std::string_view host)
{
    const LockGuard guard(lock_);
    relayHost_ = cut(host, MaxText);
}

std::string MailDirectory::localHostName() const
{
    const LockGuard guard(lock_);
    return localDomain_;
}

void MailDirectory::setLocalDomain(std::string_view domain)
{
    const LockGuard guard(lock_);
    localDomain_ = cut(domain, MaxText);
}

std::string MailDirectory::relaySubnet() const
{
    const LockGuard guard(lock_);
    return relaySubnet_;
}

void MailDirectory::setRelaySubnet(std::string_view subnet)
{
    const LockGuard guard(lock_);
    relaySubnet_ = cut(subnet, MaxSubnet);
}

std::string MailDirectory::catchAllUser() const
{
    const LockGuard guard(lock_);
    return catchAllUser_;
}

void MailDirectory::setCatchAllUser(std::string_view user)
{
    const LockGuard guard(lock_);
    catchAllUser_ = cut(user, MaxText);
    catchAllEnabled_ = !catchAllUser_.empty();
}

std::int32_t MailDirectory::maxEmailSize() const
{
    const LockGuard guard(lock_);
    return maxEmailSize_;
}

void MailDirectory::setMaxEmailSize(std::int32_t bytes)
{
    const LockGuard guard(lock_);
    maxEmailSize_ = bytes;
}

std::int32_t MailDirectory::maxAccountSize() const
{
    const LockGuard guard(lock_);
    return maxAccountSize_;
}

void MailDirectory::setMaxAccountSize(std::int32_t bytes)
{
    const LockGuard guard(lock_);
    maxAccountSize_ = bytes;
}

std::string MailDirectory::bannedExtensions() const
{
    const LockGuard guard(lock_);
    if (bannedExtensions_.size() <= 2)
        return {};
    return bannedExtensions_.substr(1, bannedExtensions_.size() - 2);
}

void MailDirectory::setBannedExtensions(std::string_view list)
{
    // Blank, list, blank within the limit: the list gives way, not a blank.
    std::string stored = " " + cut(list, MaxBannedList - 2) + " ";
    const LockGuard guard(lock_);
    bannedExtensions_ = std::move(stored);
}

std::unique_ptr<MailboxTransaction> MailDirectory::openMailboxForLogin(std::string_view user,
                                                                       std::string_view password)
{
    const LockGuard guard(lock_);
    for (const auto& account : accounts_) {
        if (account->user() == user && account->hasPassword(password))
            return account->open(OpenMode::Login);
    }
    return nullptr;
}

std::unique_ptr<MailboxTransaction> MailDirectory::openMailboxForAddress(std::string_view address)
{
    const LockGuard guard(lock_);
    for (const auto& account : accounts_) {
        if (account->hasAddress(address))
            return account->open(OpenMode::Delivery);
    }
    if (catchAllEnabled_) {
        if (const auto account = findUserLocked(catchAllUser_))
            return account->open(OpenMode::Delivery);
    }
    return nullptr;
}

std::unique_ptr<MailboxTransaction> MailDirectory::openMailboxAt(int position)
{
    const LockGuard guard(lock_);
    if (position < 0 || position >= static_cast<int>(accounts_.size()))
        return nullptr;
    return accounts_[static_cast<std::size_t>(position)]->open(OpenMode::Browse);
}

CommitOutcome MailDirectory::commitAndUnlock(std::unique_ptr<MailboxTransaction> transaction)
{
    return commit(std::move(transaction), true);
}

CommitOutcome MailDirectory::commitDelivery(std::unique_ptr<MailboxTransaction> transaction)
{
    return commit(std::move(transaction), false);
}

CommitOutcome MailDirectory::commit(std::unique_ptr<MailboxTransaction> transaction, bool unlock)
{
    if (!transaction)
        return CommitOutcome::NoAccount;
    {
        const LockGuard guard(lock_);
        if (!findUserLocked(transaction->user()))
            return CommitOutcome::NoAccount;
    }
    // The copies run before any lock is taken: a large message must not
    // hold up every other session.
    std::vector<StagedCopy> staged = stageCopies(transaction->pendingAdditions());
    std::shared_ptr<MailAccount> account;
    MailAccount::Applied applied;
    {
        const LockGuard guard(lock_);
        account = findUserLocked(transaction->user());
        if (account)
            applied = account->apply(*transaction, staged, unlock);
    }
    discardStaged(staged);
    if (!account)
        return CommitOutcome::NoAccount;
    // Save failures are not the caller's concern: the changes stay owed to
    // the files and the next flush or save writes them.
    (void)account->flush(applied.change);
    return applied.copyFailed ? CommitOutcome::CopyFailed : CommitOutcome::Applied;
}

std::string MailDirectory::newMessageId()
{
    std::string date = formatDateText(localNow(), DateForm::Long);
    std::replace(date.begin(), date.end(), ' ', ':');
    std::replace(date.begin(), date.end(), ',', ':');
    const LockGuard guard(lock_);
    return cut(std::to_string(messageCounter_++) + ":" + date, MaxMessageId);
}

std::shared_ptr<MailAccount> MailDirectory::account(std::string_view user) const
{
    const LockGuard guard(lock_);
    return findUserLocked(user);
}

std::shared_ptr<MailAccount> MailDirectory::findUserLocked(std::string_view user) const
{
    for (const auto& account : accounts_) {
        if (account->user() == user)
            return account;
    }
    return nullptr;
}

bool MailDirectory::stemTakenLocked(const std::string& user) const
{
    const std::string stem = MailAccount::fileStemOf(user);
    return std::any_of(accounts_.begin(), accounts_.end(),
                       [&](const auto& account) { return equalsIgnoreCase(account->fileStem(), stem); });
}

} // namespace vantrel

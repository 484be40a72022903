// MailDirectory: the account table and routing settings with their files,
// recipient and login resolution, and the hand-over of transactions to the
// accounts. Message copies and the waits for the disk run outside the
// directory's lock; everything else inside it.
#include "email/mail_directory.h"

#include "email/mail_account.h"
#include "email/smtp_replies.h"
#include "foundation/file_handle.h"
#include "foundation/file_system.h"
#include "foundation/file_time.h"
#include "foundation/service_log.h"
#include "foundation/text.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <unordered_map>

namespace vantrel {

namespace {

constexpr char KeyRelayHost[] = "relayhost";
constexpr char KeyRelaySubnet[] = "relaysubnet";
constexpr char KeyLocalDomain[] = "localhost";
constexpr char KeyCatchAllUser[] = "catchalluser";
constexpr char KeyMaxEmailSize[] = "maxemailsize";
constexpr char KeyMaxAccountSize[] = "maxaccountsize";
constexpr char KeyBannedExtensions[] = "bannedextensions";
// Messages are linked or copied next to their final place and renamed into
// it, so that a message file is never seen half-written. Every file of an
// account ends in ".dat"; these names end in ".stage", so no account's
// file can ever be taken for one, and only they are swept.
constexpr char StagingFolder[] = "email";
constexpr std::string_view StagingPrefix = "~";
constexpr std::string_view StagingSuffix = ".stage";
constexpr std::size_t StagingUniquePart = 6;
constexpr int StagingAttempts = 16;
constexpr std::size_t MaxSearchText = 260;
constexpr std::string_view MessageEnd = "\r\n.\r\n";

// A user name becomes file names in the email folder.
bool nameCanBeAccount(std::string_view user)
{
    return !user.empty() && user.find_first_of(std::string_view("\\/\0", 3)) == std::string_view::npos;
}

// The banned list as shown and stored: without its leading and trailing blank.
std::string bareList(const std::string& stored)
{
    return stored.size() <= 2 ? std::string() : stored.substr(1, stored.size() - 2);
}

// The date part of a message id: the mail date with blanks and commas as ':'.
std::string idDate()
{
    std::string date = formatDateText(localNow(), DateForm::Long);
    std::replace(date.begin(), date.end(), ' ', ':');
    std::replace(date.begin(), date.end(), ',', ':');
    return date;
}

// The counter k of an id "k:date"; nothing for an id of another form.
std::optional<std::uint32_t> idCounter(std::string_view id)
{
    std::uint32_t k = 0;
    const auto [end, error] = std::from_chars(id.data(), id.data() + id.size(), k);
    if (error != std::errc() || end == id.data() || end == id.data() + id.size() || *end != ':')
        return std::nullopt;
    return k;
}

bool isStagingName(std::string_view name)
{
    if (name.size() != StagingPrefix.size() + StagingUniquePart + StagingSuffix.size() ||
        !name.starts_with(StagingPrefix) || !name.ends_with(StagingSuffix))
        return false;
    const std::string_view unique = name.substr(StagingPrefix.size(), StagingUniquePart);
    return std::all_of(unique.begin(), unique.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

// "email/~XXXXXX.stage" with six letters or digits not used before here.
std::string stagingName()
{
    static std::atomic<std::uint64_t> serial{0};
    static constexpr char Digits[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::uint64_t value = (serial.fetch_add(1) * 0x9E3779B97F4A7C15ull) ^
                          (static_cast<std::uint64_t>(::getpid()) << 32) ^
                          static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::string name = std::string(StagingFolder) + "/" + std::string(StagingPrefix);
    for (std::size_t i = 0; i < StagingUniquePart; ++i, value /= 62)
        name.push_back(Digits[value % 62]);
    name += StagingSuffix;
    return name;
}

// A queued message is on disk for good already: a second name for it is
// enough. Where the folders cannot share a file, the bytes are copied and
// made durable before any index record can name them.
StagedCopy stageCopy(const MessageEntry& addition)
{
    const std::string source = localPath(addition.path);
    for (int attempt = 0; attempt < StagingAttempts; ++attempt) {
        std::string staged = stagingName();
        if (::link(source.c_str(), staged.c_str()) == 0) {
            std::uint64_t size = 0;
            if (fileSize(staged, size))
                return StagedCopy{std::move(staged), size};
            (void)::unlink(staged.c_str());
            return {};
        }
        if (errno != EEXIST)
            break;
    }
    for (int attempt = 0; attempt < StagingAttempts; ++attempt) {
        std::string staged = stagingName();
        const int fd = ::open(staged.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return {};
        }
        ::close(fd);
        std::uint64_t size = 0;
        if (copyFile(addition.path, staged) && fileSize(staged, size) && syncFileData(staged))
            return StagedCopy{std::move(staged), size};
        (void)::unlink(staged.c_str());
        return {};
    }
    return {};
}

std::vector<StagedCopy> stageCopies(const std::vector<MessageEntry>& additions)
{
    std::vector<StagedCopy> staged;
    staged.reserve(additions.size());
    for (const MessageEntry& addition : additions)
        staged.push_back(stageCopy(addition));
    return staged;
}

// For each lowercased account stem, the spellings (stem and suffix as on
// disk) of the message files "<n>@<stem>_e.dat" in the email folder.
using NameSpellings = std::unordered_map<std::string, std::set<std::string>>;

NameSpellings messageNameSpellings()
{
    constexpr std::string_view Suffix = MailAccount::MessageSuffix;
    NameSpellings spellings;
    std::error_code error;
    std::filesystem::directory_iterator entry(localPath(StagingFolder), error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        std::size_t digits = 0;
        while (digits < name.size() && std::isdigit(static_cast<unsigned char>(name[digits])))
            ++digits;
        if (digits == 0 || digits >= name.size() || name[digits] != '@' || name.size() < digits + 1 + Suffix.size() ||
            !equalsIgnoreCase(std::string_view(name).substr(name.size() - Suffix.size()), Suffix))
            continue;
        const std::string spelling = name.substr(digits + 1);
        spellings[lowerAscii(spelling.substr(0, spelling.size() - Suffix.size()))].insert(spelling);
    }
    return spellings;
}

// Copies that a crash left beside the mailboxes before they were renamed
// into place. Only before the first delivery: later ones may be in use.
void removeStagingLeftovers()
{
    std::vector<std::string> leftovers;
    std::error_code error;
    std::filesystem::directory_iterator entry(localPath(StagingFolder), error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (isStagingName(name) && entry->is_regular_file(error))
            leftovers.push_back(entry->path().string());
    }
    for (const std::string& path : leftovers)
        (void)deleteFile(path);
}

bool hasCaseVariants(const NameSpellings& spellings, const MailAccount& account)
{
    const auto found = spellings.find(lowerAscii(account.fileStem()));
    const std::string exact = account.fileStem() + MailAccount::MessageSuffix;
    return found != spellings.end() && std::any_of(found->second.begin(), found->second.end(),
                                                   [&](const std::string& spelling) { return spelling != exact; });
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
    : accountsFile_(AccountsFile), mapperFile_(MapperFile), limitsFile_(LimitsFile),
      bannedExtensions_(std::string(" ") + RecommendedBannedExtensions + " "), maxAccounts_(std::max(maxAccounts, 0))
{
}

MailDirectory::~MailDirectory()
{
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

    // A folder from before this file starts from the defaults; only a file
    // that is there and cannot be read counts as a failure.
    SettingsStore limits;
    if (limitsFile_.load(limits)) {
        if (limits.hasKey(KeyMaxEmailSize))
            maxEmailSize_ = limits.getInt(KeyMaxEmailSize);
        if (limits.hasKey(KeyMaxAccountSize))
            maxAccountSize_ = limits.getInt(KeyMaxAccountSize);
        if (limits.hasKey(KeyBannedExtensions))
            bannedExtensions_ = " " + limits.getText(KeyBannedExtensions, MaxBannedList - 2) + " ";
    } else if (limitsFile_.state() == FileState::Damaged) {
        ok = false;
    }

    if (!loaded_) {
        loaded_ = true;
        removeStagingLeftovers();
        for (int i = 0; i < accountTable_.count() && i < maxAccounts_; ++i) {
            const std::string user = cutText(accountTable_.nameAt(i), MaxText);
            if (user.empty())
                continue;
            // A name that cannot name files, or whose files another account
            // already uses, stays in the table but gets no mailbox.
            if (!nameCanBeAccount(user) || stemTakenLocked(user))
                continue;
            accounts_.push_back(std::make_shared<MailAccount>(user));
        }
    }
    const NameSpellings spellings = messageNameSpellings();
    for (const auto& account : accounts_) {
        ok = account->load() && ok;
        account->setCaseVariantsOnDisk(hasCaseVariants(spellings, *account));
        for (const std::string& id : account->messageIds())
            raiseCounterLocked(id);
    }
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
    SettingsStore limits;
    limits.setInt(KeyMaxEmailSize, maxEmailSize_);
    limits.setInt(KeyMaxAccountSize, maxAccountSize_);
    limits.setText(KeyBannedExtensions, bareList(bannedExtensions_));
    ok = limitsFile_.save(limits) && ok;
    for (const auto& account : accounts_)
        ok = account->save() && ok;
    return ok;
}

bool MailDirectory::addOrUpdateAccount(std::string_view user, std::string_view address, std::string_view password)
{
    const std::string name = cutText(user, MaxText);
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
    account->setCaseVariantsOnDisk(hasCaseVariants(messageNameSpellings(), *account));
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
    const auto found =
        std::find_if(accounts_.begin(), accounts_.end(), [&](const auto& account) { return account->user() == user; });
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

bool MailDirectory::userFilesTaken(std::string_view user) const
{
    const std::string name = cutText(user, MaxText);
    const LockGuard guard(lock_);
    return !findUserLocked(name) && stemTakenLocked(name);
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
    return std::any_of(accounts_.begin(), accounts_.end(),
                       [&](const auto& account) { return account->user() == user && account->hasPassword(password); });
}

bool MailDirectory::relayHostSet() const
{
    const LockGuard guard(lock_);
    return !relayHost_.empty();
}

bool MailDirectory::relayAllowedFrom(std::string_view clientIp) const
{
    const LockGuard guard(lock_);
    if (clientIp.substr(0, relaySubnet_.size()) != relaySubnet_)
        return false;
    // Whole octets only: "127.0.0.1" is not the start of "127.0.0.15". A
    // subnet that ends with its "." (or is empty) ends on a boundary.
    const std::size_t end = relaySubnet_.size();
    return end == 0 || relaySubnet_.back() == '.' || end == clientIp.size() || clientIp[end] == '.';
}

bool MailDirectory::isLocalDomain(std::string_view host) const
{
    const LockGuard guard(lock_);
    return host == localDomain_;
}

bool MailDirectory::extensionAllowed(std::string_view ext) const
{
    const std::string needle = cutText(" " + std::string(ext) + " ", MaxSearchText);
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
    relayHost_ = cutText(host, MaxText);
}

std::string MailDirectory::localHostName() const
{
    const LockGuard guard(lock_);
    return localDomain_;
}

void MailDirectory::setLocalDomain(std::string_view domain)
{
    const LockGuard guard(lock_);
    localDomain_ = cutText(domain, MaxText);
}

std::string MailDirectory::relaySubnet() const
{
    const LockGuard guard(lock_);
    return relaySubnet_;
}

void MailDirectory::setRelaySubnet(std::string_view subnet)
{
    const LockGuard guard(lock_);
    relaySubnet_ = cutText(subnet, MaxSubnet);
}

std::string MailDirectory::catchAllUser() const
{
    const LockGuard guard(lock_);
    return catchAllUser_;
}

void MailDirectory::setCatchAllUser(std::string_view user)
{
    const LockGuard guard(lock_);
    catchAllUser_ = cutText(user, MaxText);
    catchAllEnabled_ = !catchAllUser_.empty();
}

std::int32_t MailDirectory::maxEmailSize() const
{
    const LockGuard guard(lock_);
    return maxEmailSize_;
}

std::uint64_t MailDirectory::maxEmailBytes() const
{
    return static_cast<std::uint64_t>(std::max<std::int32_t>(maxEmailSize(), 0));
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
    return bareList(bannedExtensions_);
}

void MailDirectory::setBannedExtensions(std::string_view list)
{
    // Blank, list, blank within the limit: the list gives way, not a blank.
    std::string stored = " " + cutText(list, MaxBannedList - 2) + " ";
    const LockGuard guard(lock_);
    bannedExtensions_ = std::move(stored);
}

std::unique_ptr<MailboxTransaction> MailDirectory::openMailboxForLogin(std::string_view user, std::string_view password)
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
    const auto account = resolveLocked(address);
    return account ? account->open(OpenMode::Delivery) : nullptr;
}

std::string MailDirectory::localRecipient(std::string_view address) const
{
    const LockGuard guard(lock_);
    const auto account = resolveLocked(address);
    return account ? account->user() : std::string();
}

std::unique_ptr<MailboxTransaction> MailDirectory::openMailboxForUser(std::string_view user)
{
    const LockGuard guard(lock_);
    const auto account = findUserLocked(user);
    return account ? account->open(OpenMode::Delivery) : nullptr;
}

bool MailDirectory::holdsMessage(std::string_view user, std::string_view id) const
{
    const LockGuard guard(lock_);
    const auto account = findUserLocked(user);
    return account && account->holdsId(id);
}

std::string MailDirectory::addressOf(std::string_view user) const
{
    const LockGuard guard(lock_);
    const auto account = findUserLocked(user);
    return account ? account->address() : std::string();
}

std::shared_ptr<MailAccount> MailDirectory::resolveLocked(std::string_view address) const
{
    for (const auto& account : accounts_) {
        if (account->hasAddress(address))
            return account;
    }
    return catchAllEnabled_ ? findUserLocked(catchAllUser_) : nullptr;
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
    // Changes the files could not take stay owed to them: the next commit's
    // flush or a save writes them. The caller hears of it all the same, so
    // that nothing counts as delivered before it is on disk.
    const bool flushed = account->flush(applied.change);
    if (!applied.removed.empty()) {
        // Deleted messages' files go only once the index no longer names
        // them; an index that cannot be written keeps every one of them.
        if (!flushed) {
            account->restoreRemoved(applied.removed);
            return CommitOutcome::DeletionFailed;
        }
        for (const RemovedRecord& removed : applied.removed)
            (void)deleteFile(removed.record.path);
    }
    if (applied.copyFailed)
        return CommitOutcome::CopyFailed;
    return flushed ? CommitOutcome::Applied : CommitOutcome::SaveFailed;
}

std::string MailDirectory::newMessageId()
{
    const std::string date = idDate();
    const LockGuard guard(lock_);
    return cutText(std::to_string(messageCounter_++) + ":" + date, MaxMessageId);
}

void MailDirectory::noteMessageId(std::string_view id)
{
    const LockGuard guard(lock_);
    raiseCounterLocked(id);
}

void MailDirectory::raiseCounterLocked(std::string_view id)
{
    const std::optional<std::uint32_t> k = idCounter(id);
    if (k && *k != UINT32_MAX)
        messageCounter_ = std::max(messageCounter_, *k + 1);
}

int MailDirectory::adoptOrphans(ServiceLog& log)
{
    constexpr std::string_view Suffix = MailAccount::MessageSuffix;
    const LockGuard guard(lock_);
    if (orphansAdopted_)
        return 0;
    orphansAdopted_ = true;
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator entry(localPath(StagingFolder), error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        std::string name = entry->path().filename().string();
        const std::size_t at = name.find('@');
        if (at == 0 || at == std::string::npos || name.size() < at + 1 + Suffix.size() ||
            !std::all_of(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(at),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) ||
            !equalsIgnoreCase(std::string_view(name).substr(name.size() - Suffix.size()), Suffix))
            continue;
        names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    int handled = 0;
    for (const std::string& name : names) {
        const std::string stem =
            lowerAscii(name.substr(name.find('@') + 1, name.size() - name.find('@') - 1 - Suffix.size()));
        const auto owner = std::find_if(accounts_.begin(), accounts_.end(),
                                        [&](const auto& account) { return lowerAscii(account->fileStem()) == stem; });
        // The files of a removed account stay as they are.
        if (owner == accounts_.end())
            continue;
        const std::string path = std::string(MailAccount::Folder) + name;
        if ((*owner)->indexes(path))
            continue;
        std::uint64_t size = 0;
        std::string tail(MessageEnd.size(), '\0');
        FileHandle file;
        const bool whole = file.open(path, FileMode::Read, IfMissing::Fail) &&
                           (size = file.size()) > MessageEnd.size() && file.seekTo(size - MessageEnd.size()) &&
                           file.read(tail.data(), tail.size()) == tail.size() && tail == MessageEnd;
        file.close();
        const std::string shown = slashedPath(path);
        if (!whole) {
            (void)deleteFile(path);
            log.appendLine(formatText(smtp::LogLimit, smtp::LogPartialRemoved, shown.c_str()));
        } else {
            (*owner)->adoptMessage(path, cutText(std::to_string(messageCounter_++) + ":" + idDate(), MaxMessageId),
                                   size);
            (void)(*owner)->save();
            log.appendLine(formatText(smtp::LogLimit, smtp::LogMailAdopted, shown.c_str(), (*owner)->user().c_str()));
        }
        ++handled;
    }
    return handled;
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

// MailAccount: loading the two account files, opening the mailbox,
// applying a transaction to the message files and writing the account's
// files out.
#include "email/mail_account.h"

#include "foundation/file_system.h"
#include "foundation/text.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace vantrel {

namespace {

// A text as "address" and "password" store it: the text, its zero and
// zero filler up to 101 bytes.
std::string fixedText(std::string_view text)
{
    std::string bytes(MailAccount::FixedTextSize, '\0');
    text = text.substr(0, MailAccount::MaxText);
    bytes.replace(0, text.size(), text);
    return bytes;
}

} // namespace

MailAccount::MailAccount(std::string_view user)
    : user_(user.substr(0, MaxText)), stem_(fileStemOf(user_)), indexPath_(std::string(Folder) + stem_ + IndexSuffix),
      settingsPath_(std::string(Folder) + stem_ + SettingsSuffix), messageSuffix_("@" + stem_ + MessageSuffix),
      settingsFile_(settingsPath_), index_(indexPath_)
{
}

std::string MailAccount::fileStemOf(std::string_view user)
{
    std::string stem(user);
    std::replace(stem.begin(), stem.end(), '.', ' ');
    return stem;
}

bool MailAccount::load()
{
    const LockGuard flushGuard(flushLock_);
    // Changes applied but not yet written would be lost to the files' state.
    std::uint64_t pending = 0;
    {
        const LockGuard guard(lock_);
        pending = flushed_ < change_ ? change_ : 0;
    }
    if (pending != 0)
        (void)writeOut(pending, false);
    SettingsStore settings;
    const bool settingsLoaded = settingsFile_.load(settings);
    const LockGuard guard(lock_);
    std::vector<IndexRecord> uncounted;
    const bool indexLoaded = index_.load(records_, uncounted);
    // Written just before a crash, with the message in place: it was
    // delivered. Without its file it was not.
    bool adopted = false;
    for (IndexRecord& record : uncounted) {
        if (fileSize(record.path, record.size) && record.size > 0) {
            records_.push_back(std::move(record));
            adopted = true;
        }
    }

    const auto storedCount = static_cast<std::uint32_t>(settings.getInt(CountKey));
    // A number that the index already uses is never handed out again, even
    // when the count was lost: the new message would replace an indexed one.
    std::uint32_t next = storedCount;
    const std::string prefix = Folder;
    for (const IndexRecord& record : records_) {
        const std::string_view path = record.path;
        if (path.size() <= prefix.size() + messageSuffix_.size() ||
            !equalsIgnoreCase(path.substr(0, prefix.size()), prefix) ||
            !equalsIgnoreCase(path.substr(path.size() - messageSuffix_.size()), messageSuffix_))
            continue;
        const std::string_view digits = path.substr(prefix.size(), path.size() - prefix.size() - messageSuffix_.size());
        std::uint32_t number = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (error == std::errc() && end == digits.data() + digits.size() && number != UINT32_MAX)
            next = std::max(next, number + 1);
    }
    nextNumber_ = next;
    if (settings.hasKey(AddressKey))
        address_ = settings.getText(AddressKey, MaxText);
    if (settings.hasKey(PasswordKey))
        password_ = settings.getText(PasswordKey, MaxText);

    for (IndexRecord& record : records_) {
        if (!fileSize(record.path, record.size))
            record.size = 0;
    }
    rebuildListed();
    // What was just read is what the files hold, except a count that had
    // to be raised above.
    settingsWritten_ = settingsChange_;
    if (settingsLoaded && next != storedCount)
        ++settingsChange_;
    flushed_ = change_;
    if (adopted) {
        index_.oweRewrite();
        ++change_;
    }
    return settingsLoaded && indexLoaded;
}

bool MailAccount::save()
{
    const LockGuard flushGuard(flushLock_);
    return writeOut(0, true);
}

bool MailAccount::flush(std::uint64_t change)
{
    if (change == 0)
        return true;
    const LockGuard flushGuard(flushLock_);
    return writeOut(change, false);
}

bool MailAccount::writeOut(std::uint64_t change, bool always)
{
    std::uint64_t version = 0;
    std::uint64_t settingsVersion = 0;
    std::optional<SettingsStore> settings;
    std::size_t placedBeforeSave = 0;
    {
        const LockGuard guard(lock_);
        if (!always && flushed_ >= change)
            return true; // a flush that ran meanwhile wrote it
        version = change_;
        settingsVersion = settingsChange_;
        placedBeforeSave = records_.size();
        // A save also puts back a file removed from under the program.
        if (settingsWritten_ != settingsChange_ || !settingsFile_.holdsLastKnown() ||
            (always && !pathExists(settingsPath_)))
            settings = settingsRecords();
    }
    bool ok = true;
    // Every record names a message already placed in the email folder; the
    // save of the settings file beside them syncs that folder, and so the
    // names of the messages placed before it.
    bool namesSynced = false;
    // The count goes first: an index record never names a number that a
    // later start would hand out again.
    if (settings) {
        if (settingsFile_.save(*settings)) {
            namesSynced = true;
            const LockGuard guard(lock_);
            settingsWritten_ = std::max(settingsWritten_, settingsVersion);
        } else {
            ok = false;
        }
    }

    std::int32_t target = 0;
    {
        const LockGuard guard(lock_);
        if (!index_.canAppend() || (always && !pathExists(indexPath_)))
            ok = index_.rewrite(records_) && ok;
        else if (static_cast<std::int32_t>(records_.size()) > index_.published())
            target = static_cast<std::int32_t>(records_.size());
    }
    if (target > 0) {
        // Records first, and the names of the messages placed for them
        // (a delivery may have placed more since the save), then the count
        // that makes the loader read them; only the waits for the disk run
        // without the account's lock.
        const bool placedSynced = namesSynced && static_cast<std::size_t>(target) <= placedBeforeSave;
        bool published = false;
        if ((placedSynced || syncFolderOf(localPath(indexPath_))) && syncFileData(indexPath_)) {
            const LockGuard guard(lock_);
            published = index_.publish(target);
        }
        if (published) {
            ok = syncFileData(indexPath_) && ok;
        } else {
            const LockGuard guard(lock_);
            ok = index_.rewrite(records_) && ok;
        }
    }
    if (ok) {
        const LockGuard guard(lock_);
        flushed_ = std::max(flushed_, version);
    }
    return ok;
}

SettingsStore MailAccount::settingsRecords() const
{
    SettingsStore store;
    store.setInt(CountKey, static_cast<std::int32_t>(nextNumber_));
    const std::string address = fixedText(address_);
    const std::string password = fixedText(password_);
    store.setData(AddressKey, address.data(), static_cast<std::int32_t>(address.size()));
    store.setData(PasswordKey, password.data(), static_cast<std::int32_t>(password.size()));
    return store;
}

std::string MailAccount::address() const
{
    const LockGuard guard(lock_);
    return address_;
}

bool MailAccount::hasAddress(std::string_view address) const
{
    const LockGuard guard(lock_);
    return address_ == address;
}

bool MailAccount::hasPassword(std::string_view password) const
{
    const LockGuard guard(lock_);
    return password_ == password;
}

void MailAccount::setIdentity(std::string_view address, std::string_view password)
{
    address = address.substr(0, MaxText);
    password = password.substr(0, MaxText);
    const LockGuard guard(lock_);
    if (address_ == address && password_ == password)
        return;
    address_.assign(address);
    password_.assign(password);
    ++settingsChange_;
}

std::unique_ptr<MailboxTransaction> MailAccount::open(OpenMode mode)
{
    const LockGuard guard(lock_);
    if (mode == OpenMode::Login) {
        if (loginLocked_)
            return nullptr;
        loginLocked_ = true;
    }
    // A delivery only adds to the mailbox: the sizes kept in memory serve it
    // without looking at every file.
    if (mode != OpenMode::Delivery)
        refreshSizes();
    auto transaction = std::make_unique<MailboxTransaction>(user_, password_, address_, storedSize_);
    transaction->shareSlots(listed_.snapshot());
    return transaction;
}

MailAccount::Applied MailAccount::apply(const MailboxTransaction& transaction, std::vector<StagedCopy>& staged,
                                        bool unlock)
{
    Applied result;
    const LockGuard guard(lock_);
    for (const MailboxTransaction::PendingDeletion& deletion : transaction.pendingDeletions()) {
        std::string value = deletion.entry.id;
        value.push_back('\0');
        const auto found = std::find_if(records_.begin(), records_.end(),
                                        [&](const IndexRecord& record) { return record.value == value; });
        if (found == records_.end())
            continue; // deleted by an earlier transaction
        result.removed.push_back(RemovedRecord{static_cast<std::size_t>(found - records_.begin()), std::move(*found)});
        records_.erase(found);
    }
    const bool deleted = !result.removed.empty();

    const std::vector<MessageEntry>& additions = transaction.pendingAdditions();
    bool added = false;
    for (std::size_t i = 0; i < additions.size(); ++i) {
        if (i >= staged.size() || staged[i].path.empty()) {
            result.copyFailed = true;
            continue;
        }
        const std::string target = Folder + std::to_string(nextNumber_) + messageSuffix_;
        IndexRecord record =
            IndexRecord::make(target, std::string_view(additions[i].id).substr(0, MessageEntry::MaxId), staged[i].size);
        // The record goes after the others in the file now; a full rewrite
        // is owed instead when it cannot.
        const bool appended = !deleted && index_.appendRecord(record);
        if (!placeMessage(staged[i], target)) {
            result.copyFailed = true;
            if (appended)
                index_.oweRewrite(); // the written record names no file
            continue;
        }
        if (!appended)
            index_.oweRewrite();
        ++nextNumber_;
        added = true;
        if (!deleted) {
            storedSize_ += record.size;
            if (record.size > 3)
                listed_.append(MessageEntry{record.path, record.id(), record.size});
        }
        records_.push_back(std::move(record));
    }
    if (deleted) {
        rebuildListed();
        index_.oweRewrite();
    }
    if (added)
        ++settingsChange_;
    if (unlock)
        loginLocked_ = false;
    // Changes that an earlier flush failed to write are owed still: this
    // transaction's flush tries them again, even when it changed nothing.
    if (deleted || added)
        result.change = ++change_;
    else if (flushed_ < change_)
        result.change = change_;
    return result;
}

void MailAccount::restoreRemoved(const std::vector<RemovedRecord>& removed)
{
    const LockGuard guard(lock_);
    // Taken out front to back, each position counted after the earlier
    // ones were gone: put back in reverse order.
    for (auto it = removed.rbegin(); it != removed.rend(); ++it)
        records_.insert(records_.begin() + static_cast<std::ptrdiff_t>(std::min(it->position, records_.size())),
                        it->record);
    rebuildListed();
    index_.oweRewrite();
    ++change_;
}

void MailAccount::adoptMessage(const std::string& path, const std::string& id, std::uint64_t size)
{
    const LockGuard guard(lock_);
    const std::string_view name = std::string_view(path).substr(std::string_view(Folder).size());
    std::uint32_t number = 0;
    std::from_chars(name.data(), name.data() + name.size(), number);
    if (number != UINT32_MAX)
        nextNumber_ = std::max(nextNumber_, number + 1);
    records_.push_back(IndexRecord::make(path, id, size));
    storedSize_ += size;
    if (size > 3)
        listed_.append(MessageEntry{path, id, size});
    index_.oweRewrite();
    ++settingsChange_;
    ++change_;
}

bool MailAccount::holdsId(std::string_view id) const
{
    std::string value(id);
    value.push_back('\0');
    const LockGuard guard(lock_);
    return std::any_of(records_.begin(), records_.end(),
                       [&](const IndexRecord& record) { return record.value == value; });
}

bool MailAccount::indexes(std::string_view path) const
{
    const LockGuard guard(lock_);
    return std::any_of(records_.begin(), records_.end(),
                       [&](const IndexRecord& record) { return equalsIgnoreCase(record.path, path); });
}

std::vector<std::string> MailAccount::messageIds() const
{
    std::vector<std::string> ids;
    const LockGuard guard(lock_);
    ids.reserve(records_.size());
    for (const IndexRecord& record : records_)
        ids.push_back(record.id());
    return ids;
}

bool MailAccount::placeMessage(StagedCopy& copy, const std::string& target)
{
    if (copy.path.empty())
        return false;
    // Numbers are never reused, so the name is almost always new.
    const bool placed = !caseVariantsOnDisk_ && renameToNewName(copy.path, target);
    if (!placed && !moveFile(copy.path, target)) {
        // A file of that name that no record names (a crash left it) gives way.
        if (!deleteFile(target) || !moveFile(copy.path, target))
            return false;
    }
    copy.path.clear();
    return true;
}

void MailAccount::refreshSizes()
{
    bool changed = false;
    for (IndexRecord& record : records_) {
        std::uint64_t size = 0;
        if (!fileSize(record.path, size))
            size = 0;
        changed = changed || size != record.size;
        record.size = size;
    }
    if (changed)
        rebuildListed();
}

void MailAccount::rebuildListed()
{
    listed_.clear();
    storedSize_ = 0;
    for (const IndexRecord& record : records_) {
        storedSize_ += record.size;
        if (record.size > 3)
            listed_.append(MessageEntry{record.path, record.id(), record.size});
    }
}

void MailAccount::setCaseVariantsOnDisk(bool present)
{
    const LockGuard guard(lock_);
    caseVariantsOnDisk_ = present;
}

bool MailAccount::isLoginLocked() const
{
    const LockGuard guard(lock_);
    return loginLocked_;
}

std::uint32_t MailAccount::nextMessageNumber() const
{
    const LockGuard guard(lock_);
    return nextNumber_;
}

std::uint64_t MailAccount::storedSize() const
{
    const LockGuard guard(lock_);
    return storedSize_;
}

FileState MailAccount::indexFileState() const
{
    const LockGuard guard(lock_);
    return index_.state();
}

} // namespace vantrel

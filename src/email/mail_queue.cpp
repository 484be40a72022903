// MailQueue: the entries' files, their envelopes as settings records, and
// who holds which entry.
#include "email/mail_queue.h"

#include "foundation/file_replace.h"
#include "foundation/file_system.h"
#include "foundation/settings_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <set>

namespace vantrel {

namespace {

constexpr char MessageExtension[] = ".msg";
constexpr char EnvelopeExtension[] = ".env";
constexpr char NoticeExtension[] = ".ntc";
constexpr std::size_t NameDigits = 16;
constexpr int CreateAttempts = 16;

// Envelope records. Recipient lists repeat their key once per entry.
constexpr char KeyClientIp[] = "clientip";
constexpr char KeyHelo[] = "helo";
constexpr char KeySender[] = "sender";
constexpr char KeyQueuedAt[] = "queued";
constexpr char KeyTries[] = "tries";
constexpr char KeyLocal[] = "local"; // user, a zero, the id
constexpr char KeyRelay[] = "relay";
constexpr char KeyRefused[] = "refused";
constexpr char KeyNotice[] = "notice";
constexpr char KeyNoticeId[] = "noticeid";
constexpr std::size_t MaxValue = 1024;

std::string folderPath(std::string_view name, std::string_view extension)
{
    std::string path(MailQueue::Folder);
    path += '/';
    path += name;
    path += extension;
    return path;
}

void appendText(SettingsStore& store, std::string_view key, std::string_view text)
{
    store.appendRecord(key, text.data(), static_cast<std::int32_t>(text.size()));
}

SettingsStore encodeEnvelope(const QueuedMail& mail)
{
    const MailEnvelope& envelope = mail.envelope;
    SettingsStore store;
    store.setText(KeyClientIp, envelope.clientIp);
    store.setText(KeyHelo, envelope.heloHost);
    store.setText(KeySender, envelope.sender);
    store.setText(KeyQueuedAt, std::to_string(mail.queuedAt));
    store.setInt(KeyTries, mail.tries);
    for (const LocalRecipient& recipient : envelope.localRecipients)
        appendText(store, KeyLocal, recipient.user + std::string(1, '\0') + recipient.id);
    for (const std::string& address : envelope.relayRecipients)
        appendText(store, KeyRelay, address);
    for (const std::string& address : envelope.refusedRecipients)
        appendText(store, KeyRefused, address);
    for (const std::string& address : envelope.noticeRecipients)
        appendText(store, KeyNotice, address);
    if (!envelope.noticeId.empty())
        store.setText(KeyNoticeId, envelope.noticeId);
    return store;
}

std::string valueAt(const SettingsStore& store, int position)
{
    std::string value(MaxValue, '\0');
    value.resize(store.dataAt(position, value.data(), value.size()));
    return value;
}

bool decodeEnvelope(const SettingsStore& store, QueuedMail& mail)
{
    // An envelope is written whole before anything relies on it: one
    // without its first records is damaged.
    if (!store.hasKey(KeyClientIp) || !store.hasKey(KeySender) || !store.hasKey(KeyQueuedAt))
        return false;
    MailEnvelope& envelope = mail.envelope;
    envelope = MailEnvelope{};
    envelope.clientIp = store.getText(KeyClientIp, MaxValue);
    envelope.heloHost = store.getText(KeyHelo, MaxValue);
    envelope.sender = store.getText(KeySender, MaxValue);
    envelope.noticeId = store.getText(KeyNoticeId, MaxValue);
    const std::string queuedAt = store.getText(KeyQueuedAt, 32);
    mail.queuedAt = 0;
    std::from_chars(queuedAt.data(), queuedAt.data() + queuedAt.size(), mail.queuedAt);
    mail.tries = store.getInt(KeyTries);
    for (int i = 0; i < store.count(); ++i) {
        const std::string key = store.nameAt(i);
        std::string value = valueAt(store, i);
        if (key == KeyLocal) {
            const std::size_t zero = value.find('\0');
            if (zero == std::string::npos)
                return false;
            envelope.localRecipients.push_back(LocalRecipient{value.substr(0, zero), value.substr(zero + 1)});
        } else if (key == KeyRelay) {
            envelope.relayRecipients.push_back(std::move(value));
        } else if (key == KeyRefused) {
            envelope.refusedRecipients.push_back(std::move(value));
        } else if (key == KeyNotice) {
            envelope.noticeRecipients.push_back(std::move(value));
        }
    }
    return true;
}

bool endsWith(std::string_view text, std::string_view tail)
{
    return text.size() > tail.size() && text.substr(text.size() - tail.size()) == tail;
}

} // namespace

bool MailQueue::prepare() const
{
    (void)createDirectory(Folder);
    return isDirectory(Folder);
}

std::string MailQueue::messagePath(std::string_view name) const
{
    return folderPath(name, MessageExtension);
}

std::string MailQueue::noticePath(std::string_view name) const
{
    return folderPath(name, NoticeExtension);
}

void MailQueue::recover(const std::function<void(std::string_view)>& noteId)
{
    (void)removeStaleTemporaryFiles(Folder);
    std::set<std::string> messages;
    std::set<std::string> envelopes;
    std::vector<std::string> strays;
    if (DIR* dir = ::opendir(Folder)) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name = entry->d_name;
            if (endsWith(name, MessageExtension))
                messages.insert(std::string(name.substr(0, name.size() - 4)));
            else if (endsWith(name, EnvelopeExtension))
                envelopes.insert(std::string(name.substr(0, name.size() - 4)));
            else if (endsWith(name, NoticeExtension))
                strays.push_back(std::string(name)); // a notice is written anew at every try
        }
        ::closedir(dir);
    }
    for (const std::string& name : strays)
        ::unlink((std::string(Folder) + "/" + name).c_str());

    const LockGuard guard(lock_);
    for (const std::string& name : envelopes) {
        QueuedMail mail;
        if (messages.count(name) == 0 || !load(name, mail)) {
            // Written before its message was whole, or damaged by the disk:
            // nothing that was acknowledged.
            ::unlink(folderPath(name, EnvelopeExtension).c_str());
            continue;
        }
        for (const LocalRecipient& recipient : mail.envelope.localRecipients)
            noteId(recipient.id);
        if (!mail.envelope.noticeId.empty())
            noteId(mail.envelope.noticeId);
        slots_[name] = Slot{};
    }
    for (const std::string& name : messages) {
        if (slots_.count(name) == 0)
            ::unlink(messagePath(name).c_str());
    }
}

bool MailQueue::create(std::string& name)
{
    const auto now =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    for (int attempt = 0; attempt < CreateAttempts; ++attempt) {
        std::uint64_t serial = 0;
        {
            const LockGuard guard(lock_);
            serial = nextName_++;
        }
        char text[64];
        std::snprintf(text, sizeof text, "%0*lld-%llu", static_cast<int>(NameDigits), static_cast<long long>(now),
                      static_cast<unsigned long long>(serial));
        const std::string path = messagePath(text);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            ::close(fd);
            name = text;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool MailQueue::commit(const QueuedMail& mail)
{
    {
        const LockGuard guard(lock_);
        slots_[mail.name] = Slot{true, 0};
    }
    // Whole and durable under its name (the write syncs the folder, which
    // holds the message file's name too), or not there at all.
    if (writeWholeFile(folderPath(mail.name, EnvelopeExtension), encodeEnvelope(mail).encode(), IfExists::Keep))
        return true;
    discard(mail.name);
    return false;
}

void MailQueue::discard(std::string_view name)
{
    // The envelope goes first: a message file alone is never acknowledged.
    ::unlink(folderPath(name, EnvelopeExtension).c_str());
    ::unlink(messagePath(name).c_str());
    ::unlink(noticePath(name).c_str());
    const LockGuard guard(lock_);
    slots_.erase(std::string(name));
}

bool MailQueue::update(const QueuedMail& mail)
{
    return writeWholeFile(folderPath(mail.name, EnvelopeExtension), encodeEnvelope(mail).encode());
}

bool MailQueue::load(std::string_view name, QueuedMail& mail) const
{
    SettingsStore store;
    if (!store.load(folderPath(name, EnvelopeExtension)) || !decodeEnvelope(store, mail))
        return false;
    mail.name = std::string(name);
    mail.envelope.messageFile = messagePath(name);
    return true;
}

void MailQueue::finish(std::string_view name)
{
    discard(name);
}

void MailQueue::release(std::string_view name, std::uint32_t dueTick)
{
    const LockGuard guard(lock_);
    const auto found = slots_.find(std::string(name));
    if (found != slots_.end())
        found->second = Slot{false, dueTick};
}

std::vector<std::string> MailQueue::claimDue(std::uint32_t nowTick)
{
    std::vector<std::string> due;
    const LockGuard guard(lock_);
    for (auto& [name, slot] : slots_) {
        // Ticks wrap: a due time counts as reached within half the range.
        if (slot.claimed || static_cast<std::int32_t>(nowTick - slot.dueTick) < 0)
            continue;
        slot.claimed = true;
        due.push_back(name);
    }
    return due;
}

std::size_t MailQueue::size() const
{
    const LockGuard guard(lock_);
    return slots_.size();
}

} // namespace vantrel

// MailboxIndexFile: loading, appending a record, publishing the count and
// the full rewrite.
#include "email/mailbox_index_file.h"

#include "email/message_list.h"
#include "foundation/file_handle.h"
#include "foundation/settings_store.h"

#include <algorithm>
#include <cstring>

namespace vantrel {

namespace {

constexpr std::uint64_t HeaderSize = 8;
constexpr std::uint64_t CountOffset = 4;
constexpr std::uint64_t RecordHeadSize = SettingsStore::NameFieldSize + 4;
// Bounds of what is read past the counted records.
constexpr std::uint64_t UncountedLimit = 1024 * 1024;
constexpr std::uint32_t MaxRecordValue = 1024;

void appendLe32(std::string& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

std::uint32_t readLe32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

} // namespace

std::string IndexRecord::id() const
{
    const std::size_t zero = value.find('\0');
    const std::size_t length = std::min(zero == std::string::npos ? value.size() : zero, MessageEntry::MaxId);
    return value.substr(0, length);
}

IndexRecord IndexRecord::make(std::string path, std::string_view id, std::uint64_t size)
{
    IndexRecord record;
    record.path = std::move(path);
    record.value.assign(id);
    record.value.push_back('\0');
    record.size = size;
    return record;
}

bool MailboxIndexFile::load(std::vector<IndexRecord>& records, std::vector<IndexRecord>& uncounted)
{
    SettingsStore store;
    const bool loaded = file_.load(store);
    records.clear();
    records.reserve(static_cast<std::size_t>(store.count()));
    std::string value;
    validLength_ = HeaderSize;
    for (int i = 0; i < store.count(); ++i) {
        IndexRecord record;
        record.path = store.nameAt(i);
        // dataAt copies at most the capacity given: grow until it fits.
        value.resize(64);
        for (;;) {
            const std::size_t length = store.dataAt(i, value.data(), value.size());
            if (length < value.size()) {
                value.resize(length);
                break;
            }
            value.resize(value.size() * 2);
        }
        record.value = value;
        validLength_ += RecordHeadSize + record.value.size();
        records.push_back(std::move(record));
    }
    written_ = published_ = static_cast<std::int32_t>(records.size());
    rewriteOwed_ = false;
    uncounted.clear();
    if (loaded)
        readUncounted(uncounted);
    return loaded;
}

void MailboxIndexFile::readUncounted(std::vector<IndexRecord>& uncounted) const
{
    FileHandle file;
    if (!file.open(file_.path(), FileMode::Read, IfMissing::Fail) || file.size() <= validLength_ ||
        !file.seekTo(validLength_))
        return;
    std::string tail(static_cast<std::size_t>(std::min<std::uint64_t>(file.size() - validLength_, UncountedLimit)),
                     '\0');
    tail.resize(file.read(tail.data(), tail.size()));
    std::size_t at = 0;
    while (tail.size() - at >= RecordHeadSize) {
        const auto* head = reinterpret_cast<const unsigned char*>(tail.data() + at);
        const std::uint32_t length = readLe32(head + SettingsStore::NameFieldSize);
        if (length == 0 || length > MaxRecordValue || tail.size() - at - RecordHeadSize < length)
            return;
        IndexRecord record;
        record.path.assign(tail.data() + at, SettingsStore::NameFieldSize);
        record.path.resize(record.path.find('\0') == std::string::npos ? 0 : record.path.find('\0'));
        record.value.assign(tail.data() + at + RecordHeadSize, length);
        // Only what an append writes: a path and an id with its zero.
        if (record.path.empty() || record.value.back() != '\0')
            return;
        uncounted.push_back(std::move(record));
        at += RecordHeadSize + length;
    }
}

std::string MailboxIndexFile::encodeRecord(const IndexRecord& record)
{
    std::string bytes(record.path, 0, std::min(record.path.size(), SettingsStore::MaxNameLength));
    bytes.resize(SettingsStore::NameFieldSize, '\0');
    appendLe32(bytes, static_cast<std::uint32_t>(record.value.size()));
    bytes += record.value;
    return bytes;
}

bool MailboxIndexFile::openChecked(FileHandle& file) const
{
    if (!file.open(file_.path(), FileMode::Write, IfMissing::Fail))
        return false;
    unsigned char header[HeaderSize];
    file.rewind();
    if (file.size() < validLength_ || file.read(header, sizeof header) != sizeof header)
        return false;
    return readLe32(header) == static_cast<std::uint32_t>(SettingsStore::FormatVersion) &&
           readLe32(header + CountOffset) == static_cast<std::uint32_t>(published_);
}

bool MailboxIndexFile::appendRecord(const IndexRecord& record)
{
    if (!canAppend())
        return false;
    FileHandle file;
    const std::string bytes = encodeRecord(record);
    // Bytes past the known records are what a crash left of an unfinished
    // append: cut them off first.
    const bool written = openChecked(file) &&
                         (file.size() == validLength_ ? file.seekTo(validLength_) : file.truncateAt(validLength_)) &&
                         file.writeAll(bytes.data(), bytes.size());
    if (!written) {
        rewriteOwed_ = true;
        return false;
    }
    validLength_ += bytes.size();
    ++written_;
    return true;
}

bool MailboxIndexFile::publish(std::int32_t count)
{
    if (!canAppend() || count <= published_ || count > written_)
        return count == published_;
    FileHandle file;
    std::string bytes;
    appendLe32(bytes, static_cast<std::uint32_t>(count));
    if (!openChecked(file) || !file.seekTo(CountOffset) || !file.writeAll(bytes.data(), bytes.size())) {
        rewriteOwed_ = true;
        return false;
    }
    published_ = count;
    return true;
}

bool MailboxIndexFile::rewrite(const std::vector<IndexRecord>& records)
{
    SettingsStore store;
    std::uint64_t length = HeaderSize;
    for (const IndexRecord& record : records) {
        store.appendRecord(record.path, record.value.data(), static_cast<std::int32_t>(record.value.size()));
        length += RecordHeadSize + record.value.size();
    }
    if (!file_.save(store)) {
        rewriteOwed_ = true;
        return false;
    }
    validLength_ = length;
    written_ = published_ = static_cast<std::int32_t>(records.size());
    rewriteOwed_ = false;
    return true;
}

} // namespace vantrel

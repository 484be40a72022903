// SettingsStore: loading and saving the ".dat" layout byte by byte, and the
// record operations. A damaged file is refused without trusting any length
// it carries further than the file actually reaches, and kept aside before
// a save replaces it.
#include "foundation/settings_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "foundation/file_handle.h"
#include "foundation/file_replace.h"
#include "foundation/file_system.h"
#include "foundation/product.h"

namespace vantrel {

namespace {

constexpr std::size_t HeaderSize = 8;
constexpr char TextKept[] = "%s: %s could not be read; it was kept as %s and is saved anew.\n";
constexpr char TextNotSaved[] = "%s: %s could not be saved (%s); the file was left as it was.\n";
constexpr char TextNotKept[] = "%s: %s could not be read and could not be kept as %s (%s); it was not saved.\n";
constexpr std::size_t RecordHeadSize = SettingsStore::NameFieldSize + 4;

std::int32_t readLe32(const unsigned char* p)
{
    const std::uint32_t v = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                            (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    return static_cast<std::int32_t>(v);
}

void appendLe32(std::vector<unsigned char>& out, std::int32_t value)
{
    const auto v = static_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<unsigned char>((v >> shift) & 0xFF));
}

// A key as it is stored: up to the first zero byte, at most 299 characters.
std::string_view storedName(std::string_view name)
{
    const std::size_t zero = name.find('\0');
    if (zero != std::string_view::npos)
        name = name.substr(0, zero);
    return name.substr(0, std::min(name.size(), SettingsStore::MaxNameLength));
}

std::size_t copyValue(const std::vector<unsigned char>& data, void* dest, std::size_t capacity)
{
    const std::size_t n = std::min(data.size(), capacity);
    if (n > 0)
        std::memcpy(dest, data.data(), n);
    return n;
}

std::string textOf(const std::vector<unsigned char>& data, std::size_t maxLength)
{
    const auto zero = std::find(data.begin(), data.end(), 0);
    const std::size_t length = std::min(static_cast<std::size_t>(zero - data.begin()), maxLength);
    return std::string(reinterpret_cast<const char*>(data.data()), length);
}

// A file in the way of a save that does not load is kept, never lost:
// whatever the program could not read may still matter to its owner.
bool keepIfDamaged(const std::string& target)
{
    SettingsStore probe;
    if (probe.loadFile(target) != SettingsLoad::Damaged)
        return true;
    const std::string kept = target + SettingsStore::DamagedSuffix;
    if (::rename(target.c_str(), kept.c_str()) != 0) {
        std::fprintf(stderr, TextNotKept, ProductName, target.c_str(), kept.c_str(), std::strerror(errno));
        return false;
    }
    std::fprintf(stderr, TextKept, ProductName, target.c_str(), kept.c_str());
    return true;
}

} // namespace

SettingsLoad SettingsStore::loadFile(std::string_view path)
{
    clear();
    FileHandle file;
    if (!file.open(path, FileMode::Read, IfMissing::Fail))
        return pathExists(path) ? SettingsLoad::Damaged : SettingsLoad::Missing;
    unsigned char header[HeaderSize];
    if (file.read(header, HeaderSize) != HeaderSize || readLe32(header) != FormatVersion)
        return SettingsLoad::Damaged;
    const std::int32_t recordCount = readLe32(header + 4);
    // Lengths are checked against what is left of the file, never trusted.
    std::uint64_t left = file.size() - HeaderSize;
    for (std::int32_t i = 0; i < recordCount; ++i) {
        unsigned char head[RecordHeadSize];
        if (file.read(head, RecordHeadSize) != RecordHeadSize)
            return SettingsLoad::Damaged; // ends inside a name/length block: earlier records stay
        left = left >= RecordHeadSize ? left - RecordHeadSize : 0;
        const auto* nameEnd = static_cast<const unsigned char*>(std::memchr(head, 0, NameFieldSize));
        if (nameEnd == nullptr)
            return SettingsLoad::Damaged; // a name block without its zero is as broken as a short one
        const std::int32_t length = readLe32(head + NameFieldSize);
        if (length < 0 || static_cast<std::uint64_t>(length) > left) {
            clear(); // the value cannot be there: as if the file ended inside it
            return SettingsLoad::Damaged;
        }
        Record record;
        record.name.assign(reinterpret_cast<const char*>(head), static_cast<std::size_t>(nameEnd - head));
        record.data.resize(static_cast<std::size_t>(length));
        if (length > 0 && file.read(record.data.data(), record.data.size()) != record.data.size()) {
            clear();
            return SettingsLoad::Damaged;
        }
        left -= static_cast<std::uint64_t>(length);
        records_.push_back(std::move(record));
    }
    return SettingsLoad::Loaded;
}

std::string SettingsStore::encode() const
{
    std::vector<unsigned char> bytes;
    appendLe32(bytes, FormatVersion);
    appendLe32(bytes, count());
    for (const Record& record : records_) {
        const std::size_t at = bytes.size();
        bytes.resize(at + NameFieldSize, 0);
        std::memcpy(bytes.data() + at, record.name.data(), record.name.size());
        appendLe32(bytes, static_cast<std::int32_t>(record.data.size()));
        bytes.insert(bytes.end(), record.data.begin(), record.data.end());
    }
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

bool SettingsStore::save(std::string_view path) const
{
    const std::string bytes = encode();
    const std::string target = localPath(path);
    if (!keepIfDamaged(target))
        return false;
    if (!writeWholeFile(target, bytes)) {
        std::fprintf(stderr, TextNotSaved, ProductName, target.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

void SettingsStore::setData(std::string_view name, const void* bytes, std::int32_t length)
{
    Record record;
    record.name.assign(storedName(name));
    if (bytes != nullptr && length > 0) {
        const auto* p = static_cast<const unsigned char*>(bytes);
        record.data.assign(p, p + length);
    }
    for (Record& existing : records_) {
        if (existing.name == record.name) {
            existing = std::move(record);
            return;
        }
    }
    records_.push_back(std::move(record));
}

void SettingsStore::setInt(std::string_view name, std::int32_t value)
{
    std::vector<unsigned char> bytes;
    appendLe32(bytes, value);
    setData(name, bytes.data(), 4);
}

void SettingsStore::setText(std::string_view name, std::string_view text)
{
    std::vector<unsigned char> bytes(text.begin(), text.end());
    bytes.push_back(0);
    setData(name, bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

void SettingsStore::appendUnnamed(const void* bytes, std::int32_t length)
{
    Record record;
    record.name = UnnamedKey;
    if (bytes != nullptr && length > 0) {
        const auto* p = static_cast<const unsigned char*>(bytes);
        record.data.assign(p, p + length);
    }
    records_.push_back(std::move(record));
}

void SettingsStore::appendRecord(std::string_view name, const void* bytes, std::int32_t length)
{
    Record record;
    record.name.assign(storedName(name));
    if (bytes != nullptr && length > 0) {
        const auto* p = static_cast<const unsigned char*>(bytes);
        record.data.assign(p, p + length);
    }
    records_.push_back(std::move(record));
}

const SettingsStore::Record* SettingsStore::find(std::string_view name) const
{
    const std::string_view key = storedName(name);
    for (const Record& record : records_) {
        if (record.name == key)
            return &record;
    }
    return nullptr;
}

std::size_t SettingsStore::getData(std::string_view name, void* dest, std::size_t capacity) const
{
    const Record* record = find(name);
    return record == nullptr ? 0 : copyValue(record->data, dest, capacity);
}

std::int32_t SettingsStore::getInt(std::string_view name) const
{
    const Record* record = find(name);
    if (record == nullptr || record->data.size() != 4)
        return 0;
    return readLe32(record->data.data());
}

std::string SettingsStore::getText(std::string_view name, std::size_t maxLength) const
{
    const Record* record = find(name);
    return record == nullptr ? std::string() : textOf(record->data, maxLength);
}

bool SettingsStore::hasKey(std::string_view name) const
{
    return find(name) != nullptr;
}

bool SettingsStore::removeKey(std::string_view name)
{
    const Record* record = find(name);
    if (record == nullptr)
        return false;
    records_.erase(records_.begin() + (record - records_.data()));
    return true;
}

bool SettingsStore::removeAt(int position)
{
    if (position < 0 || position >= count())
        return false;
    records_.erase(records_.begin() + position);
    return true;
}

std::string SettingsStore::nameAt(int position) const
{
    if (position < 0 || position >= count())
        return {};
    return records_[static_cast<std::size_t>(position)].name;
}

std::size_t SettingsStore::dataAt(int position, void* dest, std::size_t capacity) const
{
    if (position < 0 || position >= count())
        return 0;
    return copyValue(records_[static_cast<std::size_t>(position)].data, dest, capacity);
}

std::string SettingsStore::textAt(int position, std::size_t maxLength) const
{
    if (position < 0 || position >= count())
        return {};
    return textOf(records_[static_cast<std::size_t>(position)].data, maxLength);
}

int SettingsStore::findData(const void* bytes, std::int32_t length) const
{
    if (length < 0)
        return -1;
    const auto wanted = static_cast<std::size_t>(length);
    for (std::size_t i = 0; i < records_.size(); ++i) {
        const auto& data = records_[i].data;
        if (data.size() == wanted && (wanted == 0 || std::memcmp(data.data(), bytes, wanted) == 0))
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace vantrel

// SettingsStore: the in-memory form of one ".dat" settings file, an ordered
// list of named binary records loaded whole and saved whole.
// File layout (little-endian): version 3, record count, then per record a
// 300-byte zero-padded name, a 32-bit value length and the value bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// Why a settings file did or did not load.
enum class SettingsLoad {
    Loaded,
    Missing, // no such file: the store is empty
    Damaged, // there, but not readable whole: the records before the damage stay
};

class SettingsStore final {
public:
    static constexpr std::int32_t FormatVersion = 3;
    static constexpr std::size_t NameFieldSize = 300;
    static constexpr std::size_t MaxNameLength = NameFieldSize - 1;
    static constexpr char UnnamedKey[] = "NONE";
    // A file that failed to load is kept under its name and this suffix
    // before a save replaces it.
    static constexpr char DamagedSuffix[] = ".damaged";

    [[nodiscard]] bool load(std::string_view path) { return loadFile(path) == SettingsLoad::Loaded; }
    // As load, telling a missing file from a damaged one.
    [[nodiscard]] SettingsLoad loadFile(std::string_view path);
    // Writes a temporary file beside the target and renames it over the
    // target, so a failed save never leaves a half-written file. A target
    // that is there but does not load is first moved aside as
    // "PATH.damaged" (replacing an older copy), which is said on standard
    // error; when it cannot be moved, nothing is written and save fails.
    // A failed save leaves the file as it was and says why on standard error.
    [[nodiscard]] bool save(std::string_view path) const;
    // The bytes that save writes.
    std::string encode() const;
    void clear() { records_.clear(); }
    int count() const { return static_cast<int>(records_.size()); }

    void setData(std::string_view name, const void* bytes, std::int32_t length);
    void setInt(std::string_view name, std::int32_t value);
    // A text with its terminating zero.
    void setText(std::string_view name, std::string_view text);
    void appendUnnamed(const void* bytes, std::int32_t length);
    // Appends a record under `name` without looking for one of that name:
    // for callers that build a whole store whose names they know to be
    // distinct (a linear search per record would make that quadratic).
    void appendRecord(std::string_view name, const void* bytes, std::int32_t length);

    std::size_t getData(std::string_view name, void* dest, std::size_t capacity) const;
    std::int32_t getInt(std::string_view name) const;
    // The value up to its first zero byte, at most maxLength characters.
    std::string getText(std::string_view name, std::size_t maxLength) const;
    bool hasKey(std::string_view name) const;
    bool removeKey(std::string_view name);
    bool removeAt(int position);
    std::string nameAt(int position) const;
    std::size_t dataAt(int position, void* dest, std::size_t capacity) const;
    std::string textAt(int position, std::size_t maxLength) const;
    int findData(const void* bytes, std::int32_t length) const;

private:
    struct Record {
        std::string name;
        std::vector<unsigned char> data;
    };
    const Record* find(std::string_view name) const;

    std::vector<Record> records_;
};

} // namespace vantrel

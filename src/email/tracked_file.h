// TrackedFile: one settings file of the mail store together with what is
// known of it on disk: never read, missing, loaded, damaged (present but
// not loadable) or written by us. Every load and save of the store's
// settings files goes through here, so that the one place that writes over
// a file knows whether that file failed to load and must be kept first.
// The owner's lock guards it.
#pragma once

#include "foundation/settings_store.h"

#include <string>
#include <string_view>

namespace vantrel {

enum class FileState {
    Unread,
    Missing,
    Loaded,
    Damaged,
    Written
};

class TrackedFile final {
public:
    explicit TrackedFile(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }
    FileState state() const { return state_; }
    // The file on disk holds what was last loaded from or written to it.
    bool holdsLastKnown() const { return state_ == FileState::Loaded || state_ == FileState::Written; }

    // SettingsStore::load, noting how it went.
    [[nodiscard]] bool load(SettingsStore& store);
    // SettingsStore::save over the file (temporary file, then rename).
    [[nodiscard]] bool save(const SettingsStore& store);

private:
    std::string path_;
    FileState state_ = FileState::Unread;
};

} // namespace vantrel

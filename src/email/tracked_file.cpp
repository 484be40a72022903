// TrackedFile: loading and saving with the file's state kept.
#include "email/tracked_file.h"

#include "foundation/file_system.h"

namespace vantrel {

bool TrackedFile::load(SettingsStore& store)
{
    if (store.load(path_)) {
        state_ = FileState::Loaded;
        return true;
    }
    state_ = pathExists(path_) ? FileState::Damaged : FileState::Missing;
    return false;
}

bool TrackedFile::save(const SettingsStore& store)
{
    // A Damaged file is overwritten here: this is where a copy of it is to
    // be kept before the save.
    if (!store.save(path_))
        return false;
    state_ = FileState::Written;
    return true;
}

} // namespace vantrel

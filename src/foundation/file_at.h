// Operations on one name inside an open folder: the building blocks under
// the path functions of file_system.h and under RootFolder. The name
// itself is never followed when it is a symbolic link (a delete or move
// acts on the link), and a file open for writing in this process cannot be
// deleted, renamed or moved (writer_registry.h).
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

class FileHandle;
struct FindRecord;

// The entry of the folder whose name equals `name` without ASCII case.
// Where several differ only in case, the smallest in byte order wins, so
// that the choice does not depend on the folder's order.
bool findNameIgnoringCase(int folder, std::string_view name, std::string& found);

// Fills the record from the entry `name` of `folder` (AT_FDCWD for a path):
// what a link leads to with FollowLinks::Yes, else the entry itself.
enum class FollowLinks {
    No,
    Yes
};
bool describeEntryAt(int folder, const char* name, FollowLinks follow, FindRecord& record);

// Refuses folders and files open for writing.
bool deleteFileAt(int folder, const char* name);
// Refuses an existing target and a file open for writing. Across file
// systems a file is copied and the original removed; a folder cannot move.
bool moveEntryAt(int fromFolder, const char* fromName, int toFolder, const char* toName);

// Copies everything from the source's position to the target; false when
// the copy is short or the target refuses bytes.
bool copyContents(FileHandle& source, FileHandle& target);

} // namespace vantrel

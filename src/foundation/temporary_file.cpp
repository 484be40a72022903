// TemporaryFile over mkostemp in the temporary folder. The path is already
// the on-disk one, so it is deleted as it stands, without any resolution.
#include "foundation/temporary_file.h"

#include "foundation/file_system.h"

#include <unistd.h>

namespace vantrel {

TemporaryFile::~TemporaryFile()
{
    remove();
}

bool TemporaryFile::create(std::string_view prefix)
{
    remove();
    return makeTempFile(tempFolder(), prefix, path_);
}

void TemporaryFile::remove()
{
    if (path_.empty())
        return;
    ::unlink(path_.c_str());
    path_.clear();
}

} // namespace vantrel

// MessageFile over FileHandle.
#include "email/message_file.h"

#include "foundation/file_system.h"

#include <unistd.h>

namespace vantrel {

MessageFile::~MessageFile()
{
    remove();
}

bool MessageFile::open(std::string path)
{
    remove();
    if (!writer_.open(path, FileMode::Write, IfMissing::Fail))
        return false;
    path_ = std::move(path);
    return true;
}

bool MessageFile::append(std::string_view bytes)
{
    if (bytes.empty())
        return writer_.isOpen();
    if (!writer_.writeAll(bytes.data(), bytes.size()))
        return false;
    size_ += bytes.size();
    return true;
}

bool MessageFile::sync()
{
    return writer_.isOpen() && ::fdatasync(writer_.descriptor()) == 0;
}

void MessageFile::release()
{
    writer_.close();
    path_.clear();
    size_ = 0;
}

void MessageFile::remove()
{
    writer_.close();
    if (!path_.empty())
        (void)deleteFile(path_);
    path_.clear();
    size_ = 0;
}

} // namespace vantrel

// MessageFile over TemporaryFile and FileHandle. Emptying truncates the
// open file rather than deleting and re-creating its name, which another
// program could take in between in a shared temporary folder.
#include "email/message_file.h"

namespace vantrel {

MessageFile::~MessageFile()
{
    remove();
}

bool MessageFile::create()
{
    remove();
    if (!file_.create())
        return false;
    if (!writer_.open(file_.path(), FileMode::Write, IfMissing::Fail)) {
        file_.remove();
        return false;
    }
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

bool MessageFile::clear()
{
    if (!writer_.isOpen() || !writer_.truncateAt(0))
        return false;
    size_ = 0;
    return true;
}

void MessageFile::close()
{
    writer_.close();
}

void MessageFile::remove()
{
    writer_.close();
    file_.remove();
    size_ = 0;
}

} // namespace vantrel

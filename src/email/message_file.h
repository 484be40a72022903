// MessageFile: the file that one SMTP transaction receives its message
// into, with a count of the bytes written. The mail queue makes the file;
// this object appends to it, makes it durable and either hands it over
// (release) or deletes it: a file still held when the object goes is
// deleted, whatever ended the transaction.
#pragma once

#include "foundation/file_handle.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

class MessageFile final {
public:
    MessageFile() = default;
    ~MessageFile();
    MessageFile(const MessageFile&) = delete;
    MessageFile& operator=(const MessageFile&) = delete;

    // Takes the existing, empty file at `path` for appending.
    [[nodiscard]] bool open(std::string path);
    // False when not open or the write failed; errno then tells why.
    [[nodiscard]] bool append(std::string_view bytes);
    // Returns once every byte written is on disk.
    [[nodiscard]] bool sync();
    // Closes the file and forgets it: it belongs to the queue now.
    void release();
    // Closes and deletes the file.
    void remove();

    bool isOpen() const { return writer_.isOpen(); }
    std::uint64_t size() const { return size_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    FileHandle writer_;
    std::uint64_t size_ = 0;
};

} // namespace vantrel

// MessageFile: the temporary file that one SMTP session receives its
// message into, with a count of the bytes written. The file is unique in
// the temporary folder and is deleted by remove() or, at the latest, when
// the object goes, whatever ended the session.
#pragma once

#include "foundation/file_handle.h"
#include "foundation/temporary_file.h"

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

    // A new empty file, open for appending.
    [[nodiscard]] bool create();
    [[nodiscard]] bool append(std::string_view bytes);
    // Empties the file (RSET); it stays open for appending.
    [[nodiscard]] bool clear();
    // Closes the writer; the file stays for the steps after the dialogue.
    void close();
    // Closes and deletes the file.
    void remove();

    std::uint64_t size() const { return size_; }
    const std::string& path() const { return file_.path(); }

private:
    TemporaryFile file_;
    FileHandle writer_;
    std::uint64_t size_ = 0;
};

} // namespace vantrel

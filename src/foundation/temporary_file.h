// TemporaryFile: a uniquely named file in the temporary folder ($TMPDIR)
// that lives exactly as long as its owner: the destructor deletes it, so a
// session that ends in any way leaves nothing behind.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

class TemporaryFile final {
public:
    TemporaryFile() = default;
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Deletes the file held so far, then creates a new, empty, unique file
    // in tempFolder(). False when none could be made.
    [[nodiscard]] bool create(std::string_view prefix = {});
    // Deletes the file now; nothing when none is held.
    void remove();
    bool exists() const { return !path_.empty(); }
    // The on-disk path; empty when no file is held.
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace vantrel

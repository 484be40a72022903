// MailboxIndexFile: the index of one mailbox on disk, a settings file with
// one record per stored message (name = the message file's path, value =
// its id and a terminating zero), in delivery order.
//
// A delivery must not rewrite the whole index, so a new record is written
// past the records the header counts, and only once it is on disk is the
// header's record count raised in place. The loader reads exactly the
// counted records, so a crash between the two steps leaves the earlier
// index intact with a few bytes after it, which the next append cuts off.
// Once every count is published the bytes are exactly those of a full
// rewrite. Deletions rewrite the whole file (temporary file, then rename).
// The owning account's lock guards every call.
#pragma once

#include "email/tracked_file.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

struct IndexRecord {
    std::string path;       // the record's name: the message file
    std::string value;      // the record's bytes: the id and its zero
    std::uint64_t size = 0; // the file's size when last looked at; 0 when missing
    // The id as readers take it: up to the first zero, at most MaxId bytes.
    std::string id() const;
    static IndexRecord make(std::string path, std::string_view id, std::uint64_t size);
};

class MailboxIndexFile final {
public:
    explicit MailboxIndexFile(std::string path) : file_(std::move(path)) {}

    const std::string& path() const { return file_.path(); }
    FileState state() const { return file_.state(); }

    // The records of the file. False when it is missing or damaged; the
    // records that could be read are still given. Whole records written
    // after the counted ones (an append whose count a crash did not let
    // through) go to `uncounted`; they stay in the file until a rewrite.
    [[nodiscard]] bool load(std::vector<IndexRecord>& records, std::vector<IndexRecord>& uncounted);

    // True while records can be appended: the file holds what this object
    // last loaded or wrote, and no rewrite is owed.
    bool canAppend() const { return file_.holdsLastKnown() && !rewriteOwed_; }
    // Writes the record after the last one written, not yet counted in the
    // header. False (and a rewrite is owed) when the file is not as expected.
    bool appendRecord(const IndexRecord& record);
    // Records counted in the header.
    std::int32_t published() const { return published_; }
    // Raises the header's count to `count` records, all of them written
    // before and made durable (syncFileData).
    bool publish(std::int32_t count);

    bool rewriteOwed() const { return rewriteOwed_; }
    void oweRewrite() { rewriteOwed_ = true; }
    // The whole file from the records.
    [[nodiscard]] bool rewrite(const std::vector<IndexRecord>& records);

    // The bytes of one record as the settings format lays it out.
    static std::string encodeRecord(const IndexRecord& record);

private:
    // Opens the file for writing and checks that its header and length are
    // the ones this object wrote or loaded.
    bool openChecked(class FileHandle& file) const;
    void readUncounted(std::vector<IndexRecord>& uncounted) const;

    TrackedFile file_;
    std::uint64_t validLength_ = 0; // header plus the records written
    std::int32_t written_ = 0;      // records written (counted or not)
    std::int32_t published_ = 0;    // records counted in the header
    bool rewriteOwed_ = false;
};

} // namespace vantrel

// MessageScanner: reads a stored message line by line, as the screening
// steps see it, and finds its subject and the attachments that its
// "content-type: " headers name. It does no I/O: the caller hands it the
// lines of the message file (readTextLine lines, CR LF removed).
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

struct AttachmentRecord {
    std::string extension; // with its dot, lowercase (".exe")
    std::string fileName;  // lowercase, as the header names it
    bool operator==(const AttachmentRecord&) const = default;
};

class MessageScanner final {
public:
    static constexpr std::size_t MaxSubject = 499;
    static constexpr std::size_t MaxBoundary = 99;
    static constexpr std::size_t MaxFileName = 260;
    static constexpr std::size_t MaxExtension = 28;
    static constexpr char NoSubject[] = "No Subject";

    void feed(std::string_view line);

    // "No Subject" until a line carries one; always lowercase otherwise.
    const std::string& subject() const { return subject_; }
    bool subjectFound() const { return subjectFound_; }
    const std::vector<AttachmentRecord>& attachments() const { return attachments_; }

private:
    void findSubject(std::string_view lowered);
    void scanParameters(std::string_view text);
    void takeSegment(std::string_view segment);

    bool subjectFound_ = false;
    std::string subject_ = NoSubject;

    bool inHeaders_ = true;
    bool inContentType_ = false;
    bool embeddedMessage_ = false;
    // Both grow at most with the message, whose size the session limits.
    std::set<std::string, std::less<>> boundaries_;
    std::vector<AttachmentRecord> attachments_;
};

} // namespace vantrel

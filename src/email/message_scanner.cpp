// The subject search and the MIME header scan of the screening steps. Lines
// are texts: a zero byte ends one. Only the "name" parameter of a
// "content-type: " header names an attachment; boundaries and lines are
// both lowercased, so part boundaries match without regard to case.
#include "email/message_scanner.h"

#include "foundation/text.h"

namespace vantrel {

namespace {

constexpr std::string_view SubjectTag = "subject: ";
constexpr std::string_view ContentTypeTag = "content-type: ";
// The value keeps its leading blank: only "content-type:" is dropped.
constexpr std::size_t ContentTypeCut = 13;
constexpr std::size_t MinContentTypeLine = 15;
constexpr std::string_view BoundaryWord = "boundary";
constexpr std::string_view NameWord = "name";
constexpr std::string_view MessageWord = "message/";
constexpr std::size_t MinBoundarySegment = 10;
constexpr std::size_t MinNameSegment = 6;
constexpr std::size_t MinMessageSegment = 9;
constexpr std::string_view BoundaryLead = "--";
// Blank, tab and three bytes that some mailers put before a parameter.
constexpr std::string_view SegmentLead = " \t\xF2\xF4\xFF";

// The text between the first two double quotes; false without such a pair.
bool quotedValue(std::string_view segment, std::string_view& value)
{
    const auto open = segment.find('"');
    if (open == std::string_view::npos)
        return false;
    const auto close = segment.find('"', open + 1);
    if (close == std::string_view::npos)
        return false;
    value = segment.substr(open + 1, close - open - 1);
    return true;
}

// The quoted value, else the text after the first '='; false with neither.
bool parameterValue(std::string_view segment, std::string_view& value)
{
    if (quotedValue(segment, value))
        return true;
    const auto equals = segment.find('=');
    if (equals == std::string_view::npos)
        return false;
    value = segment.substr(equals + 1);
    return true;
}

} // namespace

void MessageScanner::feed(std::string_view line)
{
    line = line.substr(0, line.find('\0'));
    if (line.empty()) {
        // An embedded message's own header block follows its blank line.
        if (embeddedMessage_)
            embeddedMessage_ = false;
        else
            inHeaders_ = false;
        inContentType_ = false;
        return;
    }
    const std::string lowered = lowerAscii(line);
    if (!subjectFound_)
        findSubject(lowered);

    std::string_view text = lowered;
    if (!inHeaders_) {
        if (boundaries_.find(text) != boundaries_.end())
            inHeaders_ = true;
        return;
    }
    if (!inContentType_) {
        if (text.size() < MinContentTypeLine || !text.starts_with(ContentTypeTag))
            return;
        inContentType_ = true;
        text.remove_prefix(ContentTypeCut);
    }
    scanParameters(text);
    // A trailing ';' says the parameters go on in the next line.
    inContentType_ = text.ends_with(';');
}

void MessageScanner::findSubject(std::string_view lowered)
{
    const auto at = lowered.find(SubjectTag);
    if (at == std::string_view::npos || at + SubjectTag.size() >= lowered.size())
        return;
    subject_ = std::string(lowered.substr(at + SubjectTag.size(), MaxSubject));
    subjectFound_ = true;
}

void MessageScanner::scanParameters(std::string_view text)
{
    for (;;) {
        const auto semicolon = text.find(';');
        takeSegment(text.substr(0, semicolon));
        if (semicolon == std::string_view::npos)
            return;
        text.remove_prefix(semicolon + 1);
    }
}

void MessageScanner::takeSegment(std::string_view segment)
{
    const auto start = segment.find_first_not_of(SegmentLead);
    segment.remove_prefix(start == std::string_view::npos ? segment.size() : start);

    std::string_view value;
    if (segment.size() >= MinBoundarySegment && segment.starts_with(BoundaryWord)) {
        if (parameterValue(segment, value))
            boundaries_.insert((std::string(BoundaryLead) + std::string(value)).substr(0, MaxBoundary));
        return;
    }
    if (segment.size() >= MinNameSegment && segment.starts_with(NameWord)) {
        if (!parameterValue(segment, value))
            return;
        value = value.substr(0, MaxFileName);
        const auto dot = value.rfind('.');
        if (dot == std::string_view::npos)
            return;
        const std::string_view extension = value.substr(dot + 1);
        if (extension.empty() || extension.size() > MaxExtension)
            return;
        attachments_.push_back({"." + std::string(extension), std::string(value)});
        return;
    }
    if (segment.size() >= MinMessageSegment && segment.starts_with(MessageWord))
        embeddedMessage_ = true;
}

} // namespace vantrel

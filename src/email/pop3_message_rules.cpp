// RETR's end-of-message watch and TOP's line rules, and the copies of a
// message file that apply them. Lines are passed on as stored: whatever the
// sender's client dot-stuffed stays stuffed, and no stuffing or unstuffing
// takes place here.
#include "email/pop3_message_rules.h"

#include "email/pop3_replies.h"
#include "foundation/file_handle.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace vantrel::pop3 {

namespace {

constexpr std::string_view Mark = EndMark;
constexpr std::string_view DotLine = ".";

} // namespace

void RetrEndWatch::remember(const char* bytes, std::size_t length)
{
    if (length >= MarkLength) {
        std::memcpy(last_, bytes + length - MarkLength, MarkLength);
        held_ = MarkLength;
        return;
    }
    const std::size_t keep = std::min(held_, MarkLength - length);
    std::memmove(last_, last_ + held_ - keep, keep);
    std::memcpy(last_ + keep, bytes, length);
    held_ = keep + length;
}

std::size_t RetrEndWatch::take(const char* bytes, std::size_t length)
{
    std::size_t taken = 0;
    while (taken < length && !complete_) {
        const std::size_t unit = std::min(ReadUnit, length - taken);
        remember(bytes + taken, unit);
        taken += unit;
        complete_ = held_ == MarkLength && std::string_view(last_, MarkLength) == Mark;
    }
    return taken;
}

TopWriter::TopWriter(int bodyLines, std::uint64_t fileSize) : bodyLines_(std::max(bodyLines, 0)), fileSize_(fileSize) {}

bool TopWriter::endIfExhausted(std::string& out)
{
    if (counted_ < fileSize_)
        return false;
    out += EndMark;
    return true;
}

void TopWriter::sendLine(std::string_view line, std::string_view ending, std::string& out)
{
    out.append(line);
    out.append(ending);
    ++linesSent_;
}

bool TopWriter::takeLine(std::string_view line, std::string& out)
{
    // Every line counts with its CR LF, the empty ones read at the end of
    // the file too, so a file without its "." line still comes to an end.
    counted_ += line.size() + 2;
    if (line == DotLine) {
        out += linesSent_ > 0 ? DotLineEnd : EndMark;
        return true;
    }
    if (!inBody_) {
        if (!line.empty()) {
            sendLine(line, LineEnd, out);
            return false;
        }
        if (bodyLines_ == 0) {
            out += linesSent_ > 0 ? EndMark : EmptyHeadEnd;
            return true;
        }
        inBody_ = true;
        sendLine(line, LineEnd, out);
        return false;
    }
    if (++bodyLinesSent_ == bodyLines_) {
        sendLine(line, EndMark, out);
        return true;
    }
    sendLine(line, LineEnd, out);
    return false;
}

bool copyWholeMessage(FileHandle& file, std::string_view lead, const ByteSink& sink)
{
    static_assert(RetrieveBlockSize % RetrEndWatch::ReadUnit == 0, "a block holds whole read units");
    const std::uint64_t size = file.sizeAtOpen();
    RetrEndWatch watch;
    // The lead sits in front of the first block; later blocks start at
    // data, so every block read begins at a multiple of the read unit.
    const auto buffer = std::make_unique<char[]>(lead.size() + RetrieveBlockSize);
    char* const data = buffer.get() + lead.size();
    std::memcpy(buffer.get(), lead.data(), lead.size());
    std::size_t waiting = lead.size();
    std::uint64_t sent = 0;
    while (sent < size && !watch.complete()) {
        const std::size_t got = file.read(data, RetrieveBlockSize);
        // A file cut short since it was opened ends the message here rather
        // than leaving the client waiting for bytes never read.
        if (got == 0)
            break;
        const std::size_t count = watch.take(data, got);
        if (!sink(std::string_view(data - waiting, waiting + count)))
            return false;
        waiting = 0;
        sent += count;
    }
    if (watch.complete())
        return true;
    std::string last(buffer.get(), waiting);
    last += EndMark;
    return sink(last);
}

bool copyMessageTop(FileHandle& file, int bodyLines, std::string_view lead, const ByteSink& sink)
{
    TopWriter writer(bodyLines, file.sizeAtOpen());
    std::string out(lead);
    char line[TopWriter::LineCapacity];
    for (;;) {
        if (writer.endIfExhausted(out))
            break;
        const std::size_t length = file.readTextLine(line, sizeof line);
        if (writer.takeLine(std::string_view(line, length), out))
            break;
        if (out.size() >= GatherSize) {
            if (!sink(out))
                return false;
            out.clear();
        }
    }
    return sink(out);
}

} // namespace vantrel::pop3

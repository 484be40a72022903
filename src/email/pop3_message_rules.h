// The rules by which a stored message goes out on RETR and TOP. RETR
// sends the file's bytes as read in 4096-byte units and stops after the
// first unit whose last five bytes sent are CR LF "." CR LF; TOP sends the
// head and the first k lines of the body, line by line as stored, and
// closes with the terminating "." line. The watch and the writer are free
// of I/O; the copy functions read an open message file and hand the bytes
// to send to a sink, so they run without a network too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vantrel {

class FileHandle;

namespace pop3 {

// RETR reads large blocks made of whole read units and sends each at once;
// memory is held only while a message is copied.
constexpr std::size_t RetrieveBlockSize = 64 * 1024;
// TOP gathers its lines up to about this size per send (listings too).
constexpr std::size_t GatherSize = 16 * 1024;

// The size that STAT, LIST and RETR announce for a stored message: its
// file without the "." line (3 bytes) that ends it. A file cut shorter
// than that since the mailbox was opened announces none, never less.
constexpr long long announcedSize(std::uint64_t stored)
{
    return stored > 3 ? static_cast<long long>(stored - 3) : 0;
}

// Takes bytes to send; false ends the copy (the connection failed).
using ByteSink = std::function<bool(std::string_view)>;

class RetrEndWatch final {
public:
    static constexpr std::size_t ReadUnit = 4096;
    static constexpr std::size_t MarkLength = 5;

    // bytes holds consecutive read units of the file (the last one may be
    // short). Returns how many of them to send: through the end of the
    // first unit after which the bytes sent end with the mark, or all.
    std::size_t take(const char* bytes, std::size_t length);
    // The bytes taken so far end with the mark at a unit's end: the
    // message is complete and nothing more is sent.
    bool complete() const { return complete_; }

private:
    void remember(const char* bytes, std::size_t length);

    char last_[MarkLength] = {};
    std::size_t held_ = 0;
    bool complete_ = false;
};

class TopWriter final {
public:
    // Lines as read with readTextLine into a buffer of this size (at most
    // 4094 characters, CR LF removed).
    static constexpr std::size_t LineCapacity = 4095;

    // bodyLines below 0 counts as 0 (the caller sends -1 as RETR).
    TopWriter(int bodyLines, std::uint64_t fileSize);

    // Before each line: when the lines counted have reached the file size,
    // appends the end mark and answers true (the message is done).
    bool endIfExhausted(std::string& out);
    // Appends what the line sends; true when the message is done.
    bool takeLine(std::string_view line, std::string& out);

private:
    void sendLine(std::string_view line, std::string_view ending, std::string& out);

    const int bodyLines_;
    const std::uint64_t fileSize_;
    std::uint64_t counted_ = 0;
    int linesSent_ = 0;
    int bodyLinesSent_ = 0;
    bool inBody_ = false;
};

// The copies send `lead` (the reply line) together with the first bytes of
// the message: a reply and the start of its message go out in one segment
// rather than two, which a peer's delayed acknowledgement could hold up.
// False when the sink failed.
//
// RETR: the file's bytes from its start through the end rule, then the
// end mark unless the bytes already ended with it.
bool copyWholeMessage(FileHandle& file, std::string_view lead, const ByteSink& sink);
// TOP: the head and bodyLines lines of the body (below 0 counts as 0).
bool copyMessageTop(FileHandle& file, int bodyLines, std::string_view lead, const ByteSink& sink);

} // namespace pop3
} // namespace vantrel

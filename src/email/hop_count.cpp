// Counting "Received:" lines as a scan over bytes that may arrive in
// blocks: the scanner keeps its place within a line across blocks, so the
// bytes and the file form share one definition of a header line.
#include "email/hop_count.h"

#include "foundation/file_handle.h"
#include "foundation/text.h"

namespace vantrel {

namespace {

// Lowercase, as compared with each line's first bytes.
constexpr std::string_view ReceivedName = "received:";
constexpr std::size_t FileBlock = 4096;

class HopScanner final {
public:
    explicit HopScanner(int limit) : limit_(limit), finished_(limit <= 0) {}

    // Takes the next bytes of the message, up to the end of its header
    // block, the limit or the scan limit; finished() tells when no more
    // are wanted.
    void scan(std::string_view bytes)
    {
        for (const char c : bytes) {
            if (finished_)
                return;
            if (scanned_++ == HopHeaderScanLimit) {
                finished_ = true;
                return;
            }
            take(c);
        }
    }

    bool finished() const { return finished_; }
    int hops() const { return hops_; }

private:
    void take(char c)
    {
        if (c == '\n') {
            // An empty line, with or without its CR, ends the header block.
            finished_ = column_ == 0 || (column_ == 1 && onlyCr_);
            column_ = 0;
            matching_ = true;
            return;
        }
        if (column_ == 0)
            onlyCr_ = c == '\r';
        if (matching_ && column_ < ReceivedName.size()) {
            matching_ = lowerByte(c) == ReceivedName[column_];
            if (matching_ && column_ + 1 == ReceivedName.size() && ++hops_ >= limit_)
                finished_ = true;
        }
        // Only a line's first bytes matter: the column stops just past the name.
        if (column_ <= ReceivedName.size())
            ++column_;
    }

    int limit_;
    int hops_ = 0;
    std::size_t scanned_ = 0;
    std::size_t column_ = 0; // bytes of the line so far, up to the name's length + 1
    bool matching_ = true;   // the line so far is a prefix of ReceivedName
    bool onlyCr_ = false;    // the line's first byte is CR
    bool finished_;
};

} // namespace

int countHops(std::string_view message, int limit)
{
    HopScanner scanner(limit);
    scanner.scan(message);
    return scanner.hops();
}

bool countHopsInFile(std::string_view path, int limit, int& hops)
{
    FileHandle file;
    if (!file.open(path, FileMode::Read, IfMissing::Fail))
        return false;
    HopScanner scanner(limit);
    char block[FileBlock];
    while (!scanner.finished()) {
        const std::size_t length = file.read(block, sizeof block);
        scanner.scan(std::string_view(block, length));
        if (length < sizeof block)
            break;
    }
    hops = scanner.hops();
    return true;
}

} // namespace vantrel

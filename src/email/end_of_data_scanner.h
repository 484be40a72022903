// EndOfDataScanner: finds the end of an SMTP message in the bytes that
// follow DATA, however the receives split them, and says which bytes to
// store. The end is the first CR LF "." CR LF of the stream, the CR LF that
// ended the DATA line counting as its first two bytes; bytes after it are
// the client's next commands. Every byte is stored as received, except that
// a line holding a single "." that is opened or closed by a bare CR or a
// bare LF gets its dot doubled: no stored message holds a mark that a
// reader lenient about line ends would take as its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

class EndOfDataScanner final {
public:
    struct Step {
        std::size_t used = 0;  // input bytes that belong to the message
        bool complete = false; // the end mark was among them
    };

    // Ready for a new message, right after the CR LF of the DATA line.
    void reset();
    // Scans the next received bytes and appends what is to be stored to
    // `stored` (the mark included, once complete). A dot, or a dot and CR,
    // at the end of the input is held back until the next byte shows what
    // they are. After the mark nothing more is used.
    Step scan(std::string_view input, std::string& stored);
    bool complete() const { return state_ == State::Complete; }

private:
    // Where the scan stands: inside a line, right after a line break (of
    // kind lineBreak_), after a CR that may begin CR LF, after a dot at the
    // start of a line (opened by lineBreak_), after that dot and a CR.
    enum class State : std::uint8_t {
        Middle,
        LineStart,
        CarriageReturn,
        Dot,
        DotCarriageReturn,
        Complete
    };
    enum class Break : std::uint8_t {
        CrLf,
        Lf,
        Cr
    };

    void take(char byte, std::string& stored);

    State state_ = State::LineStart;
    Break lineBreak_ = Break::CrLf;
};

} // namespace vantrel

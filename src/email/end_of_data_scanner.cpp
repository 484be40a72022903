// The end-of-data state machine, one byte at a time. A dot at the start of
// a line is stored at once; when the line turns out to hold nothing but
// that dot between line breaks of which one is bare, a second dot is stored
// right behind it. The CR after such a dot is held back so that the second
// dot can still go before it.
#include "email/end_of_data_scanner.h"

namespace vantrel {

void EndOfDataScanner::reset()
{
    state_ = State::LineStart;
    lineBreak_ = Break::CrLf;
}

EndOfDataScanner::Step EndOfDataScanner::scan(std::string_view input, std::string& stored)
{
    Step step;
    while (step.used < input.size() && state_ != State::Complete)
        take(input[step.used++], stored);
    step.complete = state_ == State::Complete;
    return step;
}

void EndOfDataScanner::take(char byte, std::string& stored)
{
    // A byte that ends a state without belonging to it is taken again in
    // the state it leads to; at most twice per byte.
    for (;;) {
        switch (state_) {
        case State::Middle:
            stored.push_back(byte);
            if (byte == '\r') {
                state_ = State::CarriageReturn;
            } else if (byte == '\n') {
                state_ = State::LineStart;
                lineBreak_ = Break::Lf;
            }
            return;
        case State::CarriageReturn:
            if (byte == '\n') {
                stored.push_back(byte);
                state_ = State::LineStart;
                lineBreak_ = Break::CrLf;
                return;
            }
            state_ = State::LineStart;
            lineBreak_ = Break::Cr;
            continue;
        case State::LineStart:
            if (byte == '.') {
                stored.push_back(byte);
                state_ = State::Dot;
                return;
            }
            state_ = State::Middle;
            continue;
        case State::Dot:
            if (byte == '\r') {
                state_ = State::DotCarriageReturn;
                return;
            }
            if (byte == '\n') {
                stored += ".\n";
                state_ = State::LineStart;
                lineBreak_ = Break::Lf;
                return;
            }
            state_ = State::Middle;
            continue;
        case State::DotCarriageReturn:
            if (byte == '\n') {
                if (lineBreak_ == Break::CrLf) {
                    stored += "\r\n";
                    state_ = State::Complete;
                } else {
                    stored += ".\r\n";
                    state_ = State::LineStart;
                    lineBreak_ = Break::CrLf;
                }
                return;
            }
            // The held CR was a bare one and closed the dot's line.
            stored += ".\r";
            state_ = State::LineStart;
            lineBreak_ = Break::Cr;
            continue;
        case State::Complete:
            return;
        }
    }
}

} // namespace vantrel

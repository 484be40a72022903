// Feeds arbitrary bytes to the SMTP input side and checks what must always
// hold: texts taken from a command line carry no CR or LF and stay within
// 99 characters; the end-of-data scanner gives the same result however the
// receives are split, and a stored message holds no line with a lone dot
// except the final mark, whatever line ends a lenient reader accepts.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "email/end_of_data_scanner.h"
#include "email/smtp_parse.h"

namespace {

void checkText(const std::string& text)
{
    if (text.size() > vantrel::SmtpTextLimit || text.find_first_of("\r\n") != std::string::npos)
        __builtin_trap();
}

// True when, reading CR LF, LF and CR all as line ends, some line of the
// stored bytes (after the DATA line's CR LF) is a single dot, not counting
// the final mark when the message is complete.
bool holdsLenientMark(const std::string& stored, bool complete)
{
    const std::string text = "\r\n" + stored;
    const std::size_t end = complete ? text.size() - 3 : text.size();
    for (std::size_t i = 1; i + 1 < end; ++i) {
        if (text[i] != '.')
            continue;
        const bool opened = text[i - 1] == '\n' || text[i - 1] == '\r';
        const bool closed = text[i + 1] == '\n' || text[i + 1] == '\r';
        if (opened && closed)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (const auto host = vantrel::greetingHost(input))
        checkText(*host);
    if (const auto address = vantrel::commandAddress(input, vantrel::MailPrefix))
        checkText(*address);

    vantrel::EndOfDataScanner whole;
    whole.reset();
    std::string storedWhole;
    const auto step = whole.scan(input, storedWhole);

    vantrel::EndOfDataScanner split;
    split.reset();
    std::string storedSplit;
    const std::size_t cut = size == 0 ? 0 : data[0] % (size + 1);
    auto first = split.scan(input.substr(0, cut), storedSplit);
    std::size_t used = first.used;
    if (!first.complete)
        used += split.scan(input.substr(cut), storedSplit).used;
    if (storedSplit != storedWhole || used != step.used || split.complete() != step.complete)
        __builtin_trap();
    if (holdsLenientMark(storedWhole, step.complete))
        __builtin_trap();
    if (step.complete && storedWhole.size() >= 3 && storedWhole.compare(storedWhole.size() - 3, 3, ".\r\n") != 0)
        __builtin_trap();
    return 0;
}

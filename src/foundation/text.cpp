// Bounded formatting and the ASCII-only case helpers.
#include "foundation/text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace vantrel {

std::string formatText(std::size_t maxLength, const char* format, ...)
{
    // Most texts fit the stack buffer; longer ones are formatted a second
    // time into a string of the length they need, cut to maxLength.
    char small[512];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    std::string out;
    if (needed >= 0) {
        const std::size_t length = std::min(static_cast<std::size_t>(needed), maxLength);
        if (static_cast<std::size_t>(needed) < sizeof small) {
            out.assign(small, length);
        } else {
            out.resize(length + 1);
            std::vsnprintf(out.data(), out.size(), format, again);
            out.resize(length);
        }
    }
    va_end(again);
    return out;
}

void toLowerAscii(std::string& text)
{
    for (char& c : text)
        c = lowerByte(c);
}

std::string lowerAscii(std::string_view text)
{
    std::string out(text);
    toLowerAscii(out);
    return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerByte(a[i]) != lowerByte(b[i]))
            return false;
    }
    return true;
}

std::string_view trimText(std::string_view text, std::string_view blanks)
{
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool hasControlByte(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 32 || byte == 127;
    });
}

std::string blankControlBytes(std::string_view text)
{
    std::string out(text);
    std::replace_if(
        out.begin(), out.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }, ' ');
    return out;
}

std::size_t copyBounded(char* dest, std::size_t capacity, std::string_view text)
{
    if (capacity == 0)
        return 0;
    const std::size_t n = std::min(capacity - 1, text.size());
    if (n > 0)
        std::memcpy(dest, text.data(), n);
    dest[n] = '\0';
    return n;
}

std::string cutText(std::string_view text, std::size_t limit)
{
    return std::string(text.substr(0, limit));
}

std::string joinText(const std::vector<std::string>& items, std::string_view separator)
{
    std::string text;
    for (const std::string& item : items) {
        if (!text.empty())
            text += separator;
        text += item;
    }
    return text;
}

} // namespace vantrel

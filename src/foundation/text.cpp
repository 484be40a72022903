// Bounded formatting and the ASCII-only case helpers.
#include "foundation/text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace vantrel {

namespace {

char lowerByte(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string formatText(std::size_t maxLength, const char* format, ...)
{
    std::string out(maxLength + 1, '\0');
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(out.data(), out.size(), format, args);
    va_end(args);
    if (written < 0)
        return {};
    out.resize(std::min<std::size_t>(static_cast<std::size_t>(written), maxLength));
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

} // namespace vantrel

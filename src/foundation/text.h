// Small text helpers shared by every protocol: bounded printf-style
// formatting and the ASCII-only case functions of the system.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// printf-style formatting into a std::string, cut to maxLength characters.
std::string formatText(std::size_t maxLength, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Only 'A' to 'Z' change: names compare alike in every locale.
constexpr char lowerByte(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
void toLowerAscii(std::string& text);
std::string lowerAscii(std::string_view text);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
// The text without the `blanks` bytes around it (empty when it holds nothing else).
std::string_view trimText(std::string_view text, std::string_view blanks = " ");
// True when a control byte is in the text: one below 32 (a line break, a
// tab, ...) or DEL (127).
bool hasControlByte(std::string_view text);
// The text with every byte below 32 written as a blank: a name made by
// someone else, shown in a listing whose lines must not break.
std::string blankControlBytes(std::string_view text);
// At most `limit` bytes of the text: a value cut to the length its field
// or record allows.
std::string cutText(std::string_view text, std::size_t limit);
// '/' or '\\': both separate the parts of a path a client or a settings
// file names.
constexpr bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}
// The blanks of C's isspace in the "C" locale: ' ', '\t', '\n', '\v',
// '\f' and '\r'.
constexpr bool isSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}
// The items with the separator between each two: a list in a log line.
std::string joinText(const std::vector<std::string>& items, std::string_view separator);
// Copies at most capacity - 1 bytes and a zero; returns the bytes copied.
std::size_t copyBounded(char* dest, std::size_t capacity, std::string_view text);

} // namespace vantrel

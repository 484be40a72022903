// Checks log lines written now: "Ddd, DD Mmm YYYY HH:MM:SS -> text" CR LF.
// (No std::regex: g++ 12 warns inside it under the sanitizers.)
#pragma once

#include <cctype>
#include <string>
#include <string_view>

namespace vantrel::testing {

inline bool startsWithLongDate(std::string_view text)
{
    constexpr std::string_view Shape = "Aaa, 00 Aaa 0000 00:00:00";
    constexpr std::string_view Days = "Sun Mon Tue Wed Thu Fri Sat";
    constexpr std::string_view Months = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec";
    if (text.size() < Shape.size())
        return false;
    for (std::size_t i = 0; i < Shape.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool fits = Shape[i] == '0'                      ? std::isdigit(c) != 0
                          : Shape[i] == 'A' || Shape[i] == 'a' ? std::isalpha(c) != 0
                                                               : text[i] == Shape[i];
        if (!fits)
            return false;
    }
    return Days.find(text.substr(0, 3)) % 4 == 0 && Months.find(text.substr(8, 3)) % 4 == 0;
}

// True when the file holds exactly one line per text, in order.
inline bool isLogOf(std::string_view file, std::initializer_list<std::string_view> texts)
{
    for (const std::string_view text : texts) {
        const std::string rest = " -> " + std::string(text) + "\r\n";
        if (!startsWithLongDate(file) || file.substr(25, rest.size()) != rest)
            return false;
        file.remove_prefix(25 + rest.size());
    }
    return file.empty();
}

} // namespace vantrel::testing

// SMTP command line parsing; see smtp_parse.h.
#include "email/smtp_parse.h"

#include "foundation/text.h"

#include <algorithm>

namespace vantrel {

namespace {

constexpr std::size_t GreetingMinimum = 6;
constexpr std::size_t GreetingHostStart = 5;
constexpr std::string_view ExtendedGreetingWord = "ehlo ";
constexpr std::string_view SizeParameter = "size=";
// Beyond every message size the directory can hold; digits past it do
// not make the number grow.
constexpr std::uint64_t SizeCap = std::uint64_t{1} << 40;

std::string cutAndBlank(std::string_view text)
{
    return blankLineBreaks(text.substr(0, std::min(text.size(), SmtpTextLimit)));
}

} // namespace

std::string blankLineBreaks(std::string_view text)
{
    std::string result(text);
    std::replace_if(
        result.begin(), result.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return result;
}

std::optional<std::string> greetingHost(std::string_view line)
{
    if (line.size() < GreetingMinimum || (line[0] != 'H' && line[0] != 'h'))
        return std::nullopt;
    return cutAndBlank(line.substr(GreetingHostStart));
}

std::optional<std::string> extendedGreetingHost(std::string_view line)
{
    if (line.size() < GreetingMinimum ||
        !equalsIgnoreCase(line.substr(0, ExtendedGreetingWord.size()), ExtendedGreetingWord))
        return std::nullopt;
    return cutAndBlank(line.substr(GreetingHostStart));
}

std::optional<std::uint64_t> declaredSize(std::string_view line)
{
    // The parameters follow the address's closing bracket.
    const std::size_t close = line.find('>');
    if (close == std::string_view::npos)
        return std::nullopt;
    const std::string parameters = lowerAscii(line.substr(close + 1));
    for (std::size_t at = parameters.find(SizeParameter); at != std::string::npos;
         at = parameters.find(SizeParameter, at + 1)) {
        // A parameter starts after a blank.
        if (at == 0 || parameters[at - 1] != ' ')
            continue;
        std::uint64_t size = 0;
        std::size_t digit = at + SizeParameter.size();
        if (digit >= parameters.size() || parameters[digit] < '0' || parameters[digit] > '9')
            return std::nullopt;
        for (; digit < parameters.size() && parameters[digit] >= '0' && parameters[digit] <= '9'; ++digit)
            size = std::min(size * 10 + static_cast<std::uint64_t>(parameters[digit] - '0'), SizeCap);
        return size;
    }
    return std::nullopt;
}

std::optional<std::string> commandAddress(std::string_view line, std::string_view prefix)
{
    const std::size_t open = line.find('<');
    if (open != std::string_view::npos) {
        const std::size_t close = line.find('>', open + 1);
        if (close != std::string_view::npos)
            return cutAndBlank(line.substr(open + 1, close - open - 1));
    }
    if (line.size() > prefix.size() && equalsIgnoreCase(line.substr(0, prefix.size()), prefix))
        return cutAndBlank(line.substr(prefix.size()));
    return std::nullopt;
}

std::string commandWord(std::string_view line)
{
    return lowerAscii(line.substr(0, std::min(line.size(), SmtpWordLength)));
}

} // namespace vantrel

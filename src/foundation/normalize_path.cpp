// normalizePath: the clean-up that confines client paths. It works on the
// text as a zero-terminated string would be seen by the file system, so a
// zero byte ends the path here too.
#include "foundation/normalize_path.h"

#include "foundation/file_system.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "foundation/text.h"

namespace vantrel {

namespace {

constexpr std::size_t WorkingLength = MaxPath;
constexpr std::string_view DeviceReplacement = "xxx";
constexpr std::array<std::string_view, 11> DeviceNames = {"aux",  "con",  "com1", "com2", "com3", "com4",
                                                          "lpt1", "lpt2", "lpt3", "prn",  "nul"};

bool isDeviceName(std::string_view name)
{
    return std::any_of(DeviceNames.begin(), DeviceNames.end(),
                       [name](std::string_view device) { return equalsIgnoreCase(name, device); });
}

// Forward slashes become backslashes and runs of backslashes one.
std::string unifySeparators(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '/')
            c = '\\';
        if (c == '\\' && !out.empty() && out.back() == '\\')
            continue;
        out.push_back(c);
    }
    return out;
}

// Visits the names last to first; `budget` says whether the next ordinary
// name survives (1) or is eaten by a ".." after it (0 or less).
std::string cleanNames(std::string_view rest)
{
    std::vector<std::string_view> names;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t cut = rest.find('\\', pos);
        names.push_back(rest.substr(pos, cut == std::string_view::npos ? std::string_view::npos : cut - pos));
        if (cut == std::string_view::npos)
            break;
        pos = cut + 1;
    }

    std::vector<std::string_view> kept;
    int budget = 1;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        std::string_view name = *it;
        if (name.empty())
            continue;
        if (isDeviceName(name))
            name = DeviceReplacement;
        if (name.front() == '.') {
            if (name == "..")
                --budget;
            continue;
        }
        if (budget > 0)
            kept.push_back(name);
        budget = std::min(budget + 1, 1);
    }

    std::string out;
    for (auto it = kept.rbegin(); it != kept.rend(); ++it) {
        if (!out.empty())
            out.push_back('\\');
        out.append(*it);
    }
    return out;
}

} // namespace

bool normalizePath(std::string& text)
{
    std::string_view input(text);
    input = input.substr(0, input.find('\0'));
    const std::string unified = unifySeparators(input);

    std::string_view rest(unified);
    std::string prefix;
    if (rest.size() > 3 && rest[1] == ':' && rest[2] == '\\') {
        prefix.assign(rest.substr(0, 3));
        rest.remove_prefix(3);
    }
    if (rest.size() >= 2 && rest.front() == '\\') {
        prefix.push_back('\\');
        rest.remove_prefix(1);
    }
    const bool whole = rest.size() <= WorkingLength;
    rest = rest.substr(0, std::min(rest.size(), WorkingLength));

    text = prefix + cleanNames(rest);
    return whole;
}

} // namespace vantrel

// The check the path fuzzers share: every name of a cleaned path is
// usable on this server's file system.
#pragma once

#include "foundation/text.h"

#include <cstddef>
#include <string_view>

namespace fuzzcheck {

inline bool isDevice(std::string_view name)
{
    for (const char* device : {"aux", "con", "com1", "com2", "com3", "com4", "lpt1", "lpt2", "lpt3", "prn", "nul"}) {
        if (vantrel::equalsIgnoreCase(name, device))
            return true;
    }
    return false;
}

// False when a name between the '\' separators of `rest` is empty, starts
// with a dot or is a device name.
inline bool namesAreSafe(std::string_view rest)
{
    while (!rest.empty()) {
        const std::size_t cut = rest.find('\\');
        const std::string_view name = rest.substr(0, cut);
        if (name.empty() || name.front() == '.' || isDevice(name))
            return false;
        if (cut == std::string_view::npos)
            break;
        rest.remove_prefix(cut + 1);
    }
    return true;
}

} // namespace fuzzcheck

// The process's limit of open files. Every session holds its socket, its
// stop event and, during a transfer, a data connection or a file, so the
// common default soft limit of 1024 runs out long before the services'
// session limits do.
#pragma once

#include <cstdint>

namespace vantrel {

struct OpenFileLimit {
    std::uint64_t soft = 0;
    std::uint64_t hard = 0;
};

// Raises the soft limit of open files as far as the hard limit allows and
// returns the limits then in force.
OpenFileLimit raiseOpenFileLimit();

} // namespace vantrel

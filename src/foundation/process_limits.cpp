// Raising the open-file limit with setrlimit.
#include "foundation/process_limits.h"

#include <sys/resource.h>

namespace vantrel {

namespace {

// The kernel's usual ceiling (fs.nr_open), tried when the hard limit is
// "unlimited", which no soft limit of open files may be.
constexpr rlim_t UsualCeiling = 1048576;

} // namespace

OpenFileLimit raiseOpenFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return {};
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            limit = raised;
        } else if (limit.rlim_max == RLIM_INFINITY && limit.rlim_cur < UsualCeiling) {
            raised.rlim_cur = UsualCeiling;
            if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
                limit = raised;
        }
    }
    return {static_cast<std::uint64_t>(limit.rlim_cur), static_cast<std::uint64_t>(limit.rlim_max)};
}

} // namespace vantrel

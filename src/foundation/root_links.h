// Links below a root folder that name their target by its absolute path.
// Such a link is refused by RESOLVE_BENEATH even when its target lies in
// the same root; these functions resolve it as if it were relative: they
// follow the path one name at a time from the root's descriptor, turn an
// absolute target that starts with the root's own path into the names
// below the root, and open what remains with RESOLVE_BENEATH again, so
// that the kernel still has the last word. A target anywhere else, or a
// ".." above the root, is refused.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// The ways an absolute path can name the root: as configured and as the
// system resolves it (the configured path may pass through links).
using RootSpellings = std::vector<std::vector<std::string>>;

// The root's spellings for a local (already resolved) folder path.
RootSpellings spellingsOf(const std::string& localFolder);

// The names of an absolute link target below the root, joined by "/" (""
// for the root itself); false when the target does not start with one of
// the spellings. "." and empty names are dropped; ".." stays for the walk
// to judge.
bool belowRoot(std::string_view target, const RootSpellings& spellings, std::string& remainder);

// Opens `path` below `root` as openat2 would with RESOLVE_BENEATH, except
// that absolute links into the root are followed. -1 with errno set on
// failure (EXDEV for a way out, ELOOP for too many links).
int openFollowingRootLinks(int root, const std::string& path, int flags, unsigned mode, const RootSpellings& spellings);

} // namespace vantrel

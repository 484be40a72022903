// normalizePath: the one clean-up for every path a client can influence.
// "/" becomes "\", ".." steps never climb above the start of the text,
// names beginning with a dot vanish and device names become "xxx".
#pragma once

#include <string>

namespace vantrel {

// False when the text was longer than the working length and had to be
// cut: the result then names something else than the text did, and a
// caller that acts on a client's path refuses it.
bool normalizePath(std::string& text);

} // namespace vantrel

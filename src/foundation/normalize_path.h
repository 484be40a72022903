// normalizePath: the one clean-up for every path a client can influence.
// "/" becomes "\", ".." steps never climb above the start of the text,
// names beginning with a dot vanish and device names become "xxx".
#pragma once

#include <string>

namespace vantrel {

void normalizePath(std::string& text);

} // namespace vantrel

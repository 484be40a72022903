// The hop count of a stored message: the number of "Received:" header
// lines, one for each server the message passed through (this one's
// included). A message that has gathered HopLimit of them is taken to run
// in a loop between servers. Only the header block counts, up to the first
// empty line; a continuation line (starting with a blank or a tab) belongs
// to the header before it and is never counted itself.
#pragma once

#include <cstddef>
#include <string_view>

namespace vantrel {

constexpr int HopLimit = 30;
// Header bytes looked at, at most: a header block larger than this is not
// worth reading to its end to tell a loop.
constexpr std::size_t HopHeaderScanLimit = 256 * 1024;

// The "Received:" lines (any letter case) in the header block of the
// message's bytes, counted up to `limit` and within the first
// HopHeaderScanLimit bytes.
int countHops(std::string_view message, int limit);
// The same for a message file, read in bounded blocks and only up to the
// block where its header block ends. False when the file cannot be opened.
[[nodiscard]] bool countHopsInFile(std::string_view path, int limit, int& hops);

} // namespace vantrel

// The folder listing page ("folder view"): a header without length or
// dates, then a preformatted table of the folder's sub-folders and files
// with relative links. Every name and the request target are HTML-escaped
// so that nothing on disk or in a request can inject markup, and control
// bytes in names are shown as blanks.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

class RootFolder;

// &, <, > and " as entities; everything else as it is.
std::string escapeHtml(std::string_view text);

// The listing of `folder` below the site's root for the request target
// `url`; false when the folder cannot be enumerated there.
bool buildFolderListPage(const RootFolder& root, std::string_view folder, std::string_view url, std::string& page);

} // namespace vantrel

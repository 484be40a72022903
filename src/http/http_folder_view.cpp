// Folder listings and HttpResponse::prepareFolderList.
#include "http/http_folder_view.h"

#include "foundation/directory_scan.h"
#include "foundation/file_system.h"
#include "foundation/file_time.h"
#include "foundation/product.h"
#include "foundation/root_folder.h"
#include "foundation/text.h"
#include "http/http_response.h"

namespace vantrel {

namespace {

constexpr char ListHeader[] = "HTTP/1.1 200 OK\r\nServer: %s by %s\r\nAccept-Ranges: bytes\r\nContent-Type: "
                              "text/html\r\nConnection: close\r\n\r\n";
constexpr char ListHead[] = "<HTML><HEAD><TITLE>Contents of %s</TITLE></HEAD><body bgcolor=\"#FFFFFF\" "
                            "text=\"#000000\" link=\"#0000FF\" vlink=\"#000066\" alink=\"#FF0000\"><h2>Contents of "
                            "%s</h2><hr width=\"95%%\"><pre>  <a href=\"..\"><- Up 1 Level</a>\r\n\r\n  Type    "
                            "Created                     Size       Name\r\n  ****    *******                     "
                            "****       ****\r\n\r\n";
constexpr char FolderEntry[] = "  DIR     %s   %llu";
constexpr char FileEntry[] = "  FILE    %s   %llu";
constexpr char ListTail[] = "</pre><hr width=\"95%%\"><p>%s by %s</p></BODY></HTML>";
// Entry texts are padded with spaces to this width before the link.
constexpr std::size_t EntryColumn = 49;
constexpr std::size_t MaxEntryLength = 4999;
constexpr std::size_t MaxHeadLength = 8192;

void appendEntry(std::string& page, const char* format, const FindRecord& record)
{
    const auto size = static_cast<unsigned long long>(record.isDirectory ? 0 : record.size);
    std::string line =
        formatText(MaxEntryLength, format, formatFileTime(record.creationTime, DateForm::Long).c_str(), size);
    if (line.size() < EntryColumn)
        line.append(EntryColumn - line.size(), ' ');
    const std::string name = escapeHtml(blankControlBytes(record.name));
    const char* slash = record.isDirectory ? "/" : "";
    line += "<a href=\"" + name + slash + "\">" + name + slash + "</a>\r\n";
    line.resize(std::min(line.size(), MaxEntryLength));
    page += line;
}

bool isDotEntry(const std::string& name)
{
    return name == "." || name == "..";
}

} // namespace

std::string escapeHtml(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool buildFolderListPage(const RootFolder& root, std::string_view folder, std::string_view url, std::string& page)
{
    if (!root.isFolder(folder))
        return false;
    const std::string target = escapeHtml(url);
    page = formatText(MaxHeadLength, ListHead, target.c_str(), target.c_str());

    DirectoryScan scan;
    FindRecord record;
    for (bool more = scan.first(root, folder, record, ScanKinds::Folders); more; more = scan.next(record)) {
        if (!isDotEntry(record.name))
            appendEntry(page, FolderEntry, record);
    }
    for (bool more = scan.first(root, folder, record, ScanKinds::Files); more; more = scan.next(record))
        appendEntry(page, FileEntry, record);

    page += formatText(MaxHeadLength, ListTail, ProductName, MakerName);
    return true;
}

bool HttpResponse::prepareFolderList(const RootFolder& root, std::string_view folder, std::string_view url)
{
    resetResponse();
    if (url.size() > MaxPath)
        return false;
    std::string page;
    if (!buildFolderListPage(root, folder, url, page))
        return false;
    header_ = formatText(MaxHeadLength, ListHeader, ProductName, MakerName);
    body_ = std::move(page);
    kind_ = ResponseKind::FolderList;
    return true;
}

} // namespace vantrel

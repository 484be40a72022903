// Folder walking for the "Folder Select" window. The current folder is kept
// as a clean absolute path so that entering ".." is plain text editing, and
// hidden folders (names with a leading dot) stay reachable.
#include "shell/folder_select_logic.h"

#include "foundation/directory_scan.h"
#include "foundation/file_system.h"
#include "foundation/text.h"

#include <algorithm>
#include <strings.h>

namespace vantrel {

namespace {

constexpr char TitleError[] = "Error";
constexpr char TextUnreadable[] = "Unable to retrieve folder contents.";

// The list sorts like a desktop list box: letter case ignored.
bool listOrder(const std::string& a, const std::string& b)
{
    const int byCase = strcasecmp(a.c_str(), b.c_str());
    return byCase != 0 ? byCase < 0 : a < b;
}

} // namespace

FolderSelectLogic::FolderSelectLogic(MessagePrompt& prompt) : prompt_(prompt) {}

void FolderSelectLogic::setStartFolder(std::string_view text)
{
    if (text.empty())
        return;
    current_.assign(text.substr(0, MaxPath));
}

std::string FolderSelectLogic::normalizeFolder(std::string_view folder, std::string_view base)
{
    std::string whole;
    if (folder.empty() || !isSeparator(folder.front())) {
        whole.assign(base);
        whole += '/';
    }
    whole += folder;

    std::vector<std::string_view> names;
    std::string_view rest = whole;
    while (!rest.empty()) {
        std::size_t end = 0;
        while (end < rest.size() && !isSeparator(rest[end]))
            ++end;
        const std::string_view name = rest.substr(0, end);
        rest.remove_prefix(end < rest.size() ? end + 1 : end);
        if (name.empty() || name == ".")
            continue;
        if (name == ParentEntry) {
            if (!names.empty())
                names.pop_back();
            continue;
        }
        names.push_back(name);
    }
    std::string result;
    for (std::string_view name : names) {
        result += '/';
        result += name;
    }
    return result.empty() ? std::string(RootFolder) : result;
}

bool FolderSelectLogic::listFolders()
{
    DirectoryScan scan;
    FindRecord record;
    if (!scan.first(current_, record, ScanKinds::Folders))
        return false;
    const bool atRoot = current_ == RootFolder;
    do {
        if (!record.isDirectory || record.name == ".")
            continue;
        if (record.name == ParentEntry && atRoot)
            continue;
        entries_.push_back(record.name);
    } while (scan.next(record));
    std::sort(entries_.begin(), entries_.end(), listOrder);
    return true;
}

void FolderSelectLogic::fillList()
{
    entries_.clear();
    current_ = normalizeFolder(current_, currentDirectory());
    pathLine_ = current_;
    if (listFolders())
        return;
    entries_.clear();
    current_ = RootFolder;
    pathLine_ = current_;
    if (listFolders())
        return;
    entries_.clear();
    prompt_.show(TextUnreadable, TitleError, PromptButtons::Ok, PromptIcon::None);
}

std::string FolderSelectLogic::joined(std::string_view name) const
{
    std::string path = current_;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

void FolderSelectLogic::selectEntry(std::string_view name)
{
    if (name == ParentEntry)
        return;
    pathLine_ = joined(name);
}

void FolderSelectLogic::enterEntry(std::string_view name)
{
    current_ = joined(name);
    fillList();
}

std::string FolderSelectLogic::chosenFolder() const
{
    return pathLine_.substr(0, MaxPath);
}

} // namespace vantrel

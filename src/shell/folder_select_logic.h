// FolderSelectLogic: the fields and actions of the "Folder Select" window.
// It walks the local disk from one current folder (an absolute path, "/"
// being the fallback), lists that folder's subfolders and yields the folder
// shown in its path line.
#pragma once

#include "foundation/service_control.h"

#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

class FolderSelectLogic final {
public:
    static constexpr char RootFolder[] = "/";
    static constexpr char ParentEntry[] = "..";

    explicit FolderSelectLogic(MessagePrompt& prompt);

    // A non-empty text becomes the current folder (at most 260 characters).
    void setStartFolder(std::string_view text);
    // Normalises the current folder and lists its subfolders, falling back
    // to the root when it cannot be read.
    void fillList();
    // Single click: the path line names the entry without entering it.
    void selectEntry(std::string_view name);
    // Double click: enters the entry (".." goes to the parent) and refills.
    void enterEntry(std::string_view name);
    // What OK hands back: the path line, at most 260 characters.
    std::string chosenFolder() const;

    const std::string& currentFolder() const { return current_; }
    const std::string& pathLine() const { return pathLine_; }
    const std::vector<std::string>& entries() const { return entries_; }

    // An absolute "/" path with "." and ".." applied, never above the root;
    // "\" counts as a separator too. A relative text is taken below `base`.
    static std::string normalizeFolder(std::string_view folder, std::string_view base);

private:
    bool listFolders();
    std::string joined(std::string_view name) const;

    MessagePrompt& prompt_;
    std::string current_ = RootFolder;
    std::string pathLine_;
    std::vector<std::string> entries_;
};

} // namespace vantrel

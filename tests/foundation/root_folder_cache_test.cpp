// RootFolderCache: a folder stays open while its path leads to it, and a
// folder replaced, removed or reached through a changed link is never
// served from the one held open.
#include "foundation/root_folder_cache.h"

#include "foundation/file_handle.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace vantrel {
namespace {

using testing::ScratchFolder;
using testing::writeBytes;
namespace fs = std::filesystem;

// The text of `name` read through the folder, or "<missing>".
std::string readThrough(const RootFolder& root, const std::string& name)
{
    FileHandle file;
    if (!root.openFile(name, FileMode::Read, IfMissing::Fail, file))
        return "<missing>";
    char buffer[64];
    return std::string(buffer, file.read(buffer, sizeof buffer));
}

TEST(RootFolderCache, TheSameFolderIsSharedWhileItsPathLeadsToIt)
{
    ScratchFolder dir;
    fs::create_directories(dir / "site");
    writeBytes(dir / "site/page.html", "one");
    RootFolderCache cache;
    const auto first = cache.open(dir / "site");
    const auto second = cache.open(dir / "site");
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(readThrough(*second, "page.html"), "one");
    // A file changed inside the folder is read as it is now.
    writeBytes(dir / "site/page.html", "two");
    EXPECT_EQ(readThrough(*cache.open(dir / "site"), "page.html"), "two");
}

TEST(RootFolderCache, AReplacedRemovedOrRelinkedFolderIsOpenedAfresh)
{
    ScratchFolder dir;
    fs::create_directories(dir / "site");
    fs::create_directories(dir / "other");
    writeBytes(dir / "site/page.html", "old");
    writeBytes(dir / "other/page.html", "other");
    RootFolderCache cache;
    const auto old = cache.open(dir / "site");
    ASSERT_EQ(readThrough(*old, "page.html"), "old");

    // Moved away and replaced by a new folder of the same name.
    fs::rename(dir / "site", dir / "site.old");
    fs::create_directories(dir / "site");
    writeBytes(dir / "site/page.html", "new");
    const auto renewed = cache.open(dir / "site");
    EXPECT_NE(renewed.get(), old.get());
    EXPECT_EQ(readThrough(*renewed, "page.html"), "new");

    // Gone: nothing opens, as for a folder that never existed.
    fs::remove_all(dir / "site");
    const auto gone = cache.open(dir / "site");
    EXPECT_FALSE(gone->isOpen());
    EXPECT_EQ(readThrough(*gone, "page.html"), "<missing>");

    // A link whose target changes leads to the new target.
    fs::create_directory_symlink(dir / "site.old", dir / "site");
    EXPECT_EQ(readThrough(*cache.open(dir / "site"), "page.html"), "old");
    fs::remove(dir / "site");
    fs::create_directory_symlink(dir / "other", dir / "site");
    EXPECT_EQ(readThrough(*cache.open(dir / "site"), "page.html"), "other");
}

TEST(RootFolderCache, ManyFoldersAndCaseOnlyNamesStayCorrect)
{
    ScratchFolder dir;
    RootFolderCache cache;
    constexpr int Folders = static_cast<int>(RootFolderCache::MaxFolders) + 3;
    for (int i = 0; i < Folders; ++i) {
        fs::create_directories(dir / ("s" + std::to_string(i)));
        writeBytes(dir / ("s" + std::to_string(i) + "/n.txt"), std::to_string(i));
    }
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < Folders; ++i)
            EXPECT_EQ(readThrough(*cache.open(dir / ("s" + std::to_string(i))), "n.txt"), std::to_string(i));
    }
    // A path that names the folder by its letters only is resolved each time.
    fs::create_directories(dir / "Mixed");
    writeBytes(dir / "Mixed/n.txt", "mixed");
    EXPECT_EQ(readThrough(*cache.open(dir / "MIXED"), "n.txt"), "mixed");
    EXPECT_NE(cache.open(dir / "MIXED").get(), cache.open(dir / "MIXED").get());
}

} // namespace
} // namespace vantrel

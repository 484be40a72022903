// The shared index of folder names: a kept folder answers hits and misses
// without reading the disk, and a name created, renamed or removed in the
// folder is seen by the next lookup; where names differ only in case the
// smallest in byte order wins, as a plain scan would choose.
#include "foundation/folder_name_index.h"

#include "foundation/file_at.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

namespace vantrel {
namespace {

using testing::ScratchFolder;
using testing::writeBytes;

class OpenFolder final {
public:
    explicit OpenFolder(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~OpenFolder() { ::close(fd_); }
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::string lookUp(const std::string& folder, const std::string& name)
{
    const OpenFolder open(folder);
    std::string found;
    return findNameIgnoringCase(open.get(), name, found) ? found : "<none>";
}

// Waits (bounded) until the folder is kept: a lookup no longer reads it.
bool waitUntilKept(const std::string& folder)
{
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::nanoseconds(FolderNameIndex::SettleNanoseconds) + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        lookUp(folder, "warm");
        const std::uint64_t before = FolderNameIndex::instance().scans();
        lookUp(folder, "warm");
        if (FolderNameIndex::instance().scans() == before)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

TEST(FolderNameIndexTest, KeptFolderAnswersMissesWithoutReadingAndPicksSmallestName)
{
    ScratchFolder dir;
    writeBytes(dir / "readme.TXT", "a");
    writeBytes(dir / "README.txt", "b");
    writeBytes(dir / "Other.dat", "c");
    ASSERT_TRUE(waitUntilKept(dir.path()));
    const std::uint64_t before = FolderNameIndex::instance().scans();
    EXPECT_EQ(lookUp(dir.path(), "ReadMe.Txt"), "README.txt");
    EXPECT_EQ(lookUp(dir.path(), "OTHER.DAT"), "Other.dat");
    EXPECT_EQ(lookUp(dir.path(), "missing.txt"), "<none>");
    EXPECT_EQ(lookUp(dir.path(), "Other.da"), "<none>");
    EXPECT_EQ(FolderNameIndex::instance().scans(), before);
}

struct Change {
    const char* what;
    std::function<void(const ScratchFolder&)> apply;
    const char* asked;
    const char* expected;
};

TEST(FolderNameIndexTest, ChangeInKeptFolderIsSeenByNextLookup)
{
    const Change changes[] = {
        {"create", [](const ScratchFolder& d) { writeBytes(d / "New.txt", "n"); }, "NEW.TXT", "New.txt"},
        {"rename", [](const ScratchFolder& d) { ::rename((d / "Old.txt").c_str(), (d / "Moved.txt").c_str()); },
         "moved.txt", "Moved.txt"},
        {"rename away", [](const ScratchFolder& d) { ::rename((d / "Old.txt").c_str(), (d / "Moved.txt").c_str()); },
         "OLD.TXT", "<none>"},
        {"delete", [](const ScratchFolder& d) { ::unlink((d / "Old.txt").c_str()); }, "old.txt", "<none>"},
        {"smaller twin", [](const ScratchFolder& d) { writeBytes(d / "OLD.txt", "o"); }, "old.TXT", "OLD.txt"},
    };
    // All folders settle together, so the test waits once.
    ScratchFolder dirs[std::size(changes)];
    for (const ScratchFolder& dir : dirs)
        writeBytes(dir / "Old.txt", "o");
    for (std::size_t i = 0; i < std::size(changes); ++i) {
        SCOPED_TRACE(changes[i].what);
        ASSERT_TRUE(waitUntilKept(dirs[i].path()));
        lookUp(dirs[i].path(), changes[i].asked);
        changes[i].apply(dirs[i]);
        EXPECT_EQ(lookUp(dirs[i].path(), changes[i].asked), changes[i].expected);
    }
}

} // namespace
} // namespace vantrel

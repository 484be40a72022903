// Whole-file writes: a failed write leaves the target as it was and no
// temporary file, an existing file can be kept, and the temporary files of
// dead processes are cleared away while those of live ones stay.
#include "foundation/file_replace.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <set>
#include <string>

#include "scratch_folder.h"

namespace vantrel {
namespace {

using testing::readBytes;
using testing::ScratchFolder;
using testing::writeBytes;

std::set<std::string> namesIn(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// A process id that no process has any more.
int deadProcess()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return static_cast<int>(child);
}

TEST(FileReplace, WritesWholeFilesAndKeepsAnExistingOneWhenAsked)
{
    ScratchFolder dir;
    ASSERT_TRUE(writeWholeFile(dir / "a.txt", "first"));
    ASSERT_TRUE(writeWholeFile(dir / "a.txt", "second"));
    EXPECT_EQ(readBytes(dir / "a.txt"), "second");
    EXPECT_FALSE(writeWholeFile(dir / "a.txt", "third", IfExists::Keep));
    EXPECT_EQ(readBytes(dir / "a.txt"), "second");
    EXPECT_TRUE(writeWholeFile(dir / "b.txt", "new", IfExists::Keep));
    EXPECT_EQ(readBytes(dir / "b.txt"), "new");
    EXPECT_FALSE(writeWholeFile(dir / "missing/c.txt", "x"));
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"a.txt", "b.txt"}));
}

TEST(FileReplace, AWriteThatFailsPartWayLeavesTheTargetAsItWas)
{
    ScratchFolder dir;
    writeBytes(dir / "page.html", "the old page");
    const std::string big(4096, 'n');
    {
        // Writes past 100 bytes fail as on a full disk.
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit previous{};
        ::getrlimit(RLIMIT_FSIZE, &previous);
        rlimit limited = previous;
        limited.rlim_cur = 100;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        const bool replaced = writeWholeFile(dir / "page.html", big);
        const bool created = writeWholeFile(dir / "new.html", big, IfExists::Keep);
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
        EXPECT_FALSE(replaced);
        EXPECT_FALSE(created);
    }
    EXPECT_EQ(readBytes(dir / "page.html"), "the old page");
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"page.html"});
}

TEST(FileReplace, StaleTemporaryFilesOfDeadProcessesAreRemoved)
{
    ScratchFolder dir;
    const std::string dead = std::to_string(deadProcess());
    const std::string live = std::to_string(::getppid());
    const std::string own = std::to_string(::getpid());
    const std::set<std::string> stale{"general.dat." + dead + ".0.tmp", "http.dat." + dead + ".17.tmp",
                                      "404notfound.html." + dead + ".3.tmp"};
    const std::set<std::string> kept{"ftp.dat." + live + ".0.tmp",
                                     "ftp.dat." + own + ".2.tmp",
                                     "general.dat",
                                     "notes.tmp",
                                     "general.dat." + dead + ".tmp",
                                     "x." + dead + ".y.tmp",
                                     "." + dead + ".1.tmp",
                                     "general.dat." + dead + ".1.tmp.old"};
    for (const std::string& name : stale)
        writeBytes(dir / name, "partial");
    for (const std::string& name : kept)
        writeBytes(dir / name, "mine");
    std::filesystem::create_directory(dir / ("folder." + dead + ".0.tmp"));

    EXPECT_EQ(removeStaleTemporaryFiles(dir.path()), static_cast<int>(stale.size()));
    std::set<std::string> expected = kept;
    expected.insert("folder." + dead + ".0.tmp");
    EXPECT_EQ(namesIn(dir.path()), expected);
    EXPECT_EQ(removeStaleTemporaryFiles(dir / "missing"), 0);
}

} // namespace
} // namespace vantrel

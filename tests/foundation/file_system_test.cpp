// The file layer: case-insensitive resolution, folder and file operations,
// temporary files, folder enumeration with patterns, and the instance lock.
#include "foundation/file_system.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <set>

#include "foundation/directory_scan.h"
#include "foundation/instance_lock.h"
#include "scratch_folder.h"

namespace vantrel {
namespace {

using testing::readBytes;
using testing::ScratchFolder;
using testing::writeBytes;
namespace fs = std::filesystem;
using Names = std::set<std::string>;

TEST(LocalPath, ResolvesNamesWithoutCaseExactMatchFirst)
{
    ScratchFolder dir;
    fs::create_directories(dir / "Logs/Old");
    writeBytes(dir / "Logs/FtpLog_0.txt", "");
    writeBytes(dir / "readme", "");
    writeBytes(dir / "README", "");
    const std::string base = dir.path();
    EXPECT_EQ(localPath(base + "\\logs\\ftplog_0.TXT"), base + "/Logs/FtpLog_0.txt");
    EXPECT_EQ(localPath(base + "\\LOGS\\old\\"), base + "/Logs/Old/");
    EXPECT_EQ(localPath(base + "/logs/NewFile.Txt"), base + "/Logs/NewFile.Txt");
    EXPECT_EQ(localPath(base + "\\Missing\\logs"), base + "/Missing/logs");
    EXPECT_EQ(localPath(base + "\\readme"), base + "/readme");
    EXPECT_EQ(localPath(base + "\\README"), base + "/README");

    const std::string before = currentDirectory();
    ASSERT_EQ(::chdir(base.c_str()), 0);
    EXPECT_EQ(localPath("logs\\x.dat"), "Logs/x.dat");
    ASSERT_EQ(::chdir(before.c_str()), 0);
}

TEST(FileOperations, FoldersMovesCopiesAndDeletes)
{
    ScratchFolder dir;
    EXPECT_TRUE(createDirectory(dir.path() + "\\New"));
    EXPECT_FALSE(createDirectory(dir.path() + "\\new"));  // exists under another case
    EXPECT_FALSE(createDirectory(dir.path() + "\\a\\b")); // one level only
    writeBytes(dir / "New/f", "x");
    EXPECT_FALSE(removeDirectory(dir / "new"));
    EXPECT_FALSE(deleteFile(dir / "new"));
    EXPECT_TRUE(deleteFile(dir.path() + "\\NEW\\F"));
    EXPECT_FALSE(deleteFile(dir / "New/f"));
    EXPECT_TRUE(removeDirectory(dir / "new"));
    EXPECT_FALSE(isDirectory(dir / "New"));

    writeBytes(dir / "a", "A");
    writeBytes(dir / "b", "a much longer old content");
    EXPECT_FALSE(moveFile(dir / "a", dir / "B"));
    EXPECT_TRUE(moveFile(dir / "A", dir / "c"));
    EXPECT_FALSE(pathExists(dir / "a"));
    EXPECT_TRUE(copyFile(dir / "c", dir / "b"));
    EXPECT_EQ(readBytes(dir / "b"), "A");
    EXPECT_FALSE(copyFile(dir / "c", dir / "C"));
    EXPECT_FALSE(copyFile(dir / "none", dir / "x"));
    EXPECT_FALSE(pathExists(dir / "x"));
    std::uint64_t size = 0;
    EXPECT_TRUE(fileSize(dir / "c", size));
    EXPECT_EQ(size, 1u);
}

TEST(FileOperations, TemporaryFiles)
{
    ScratchFolder dir;
    std::string first;
    std::string second;
    ASSERT_TRUE(makeTempFile(dir.path(), "vts", first));
    ASSERT_TRUE(makeTempFile(dir.path(), "vts", second));
    EXPECT_NE(first, second);
    EXPECT_EQ(first.rfind(dir.path() + "/vts", 0), 0u) << first;
    EXPECT_TRUE(pathExists(second));
    EXPECT_FALSE(makeTempFile(dir / "missing", "vts", first));
    {
        const testing::PrivateTmpDir setting(dir.path());
        EXPECT_EQ(tempFolder(), dir.path() + "/");
    }
    ::unsetenv("TMPDIR");
    EXPECT_EQ(tempFolder(), "/tmp/");
}

Names scan(std::string_view path, ScanKinds kinds, bool pattern = false)
{
    DirectoryScan scan;
    FindRecord record;
    Names names;
    bool more = pattern ? scan.firstMatch(path, record, kinds) : scan.first(path, record, kinds);
    for (; more; more = scan.next(record))
        names.insert(record.name);
    EXPECT_FALSE(scan.next(record));
    return names;
}

TEST(DirectoryScanTest, KindsPatternsAndRecords)
{
    ScratchFolder dir;
    writeBytes(dir / "a.txt", "12345");
    writeBytes(dir / "B.TXT", "");
    writeBytes(dir / "c.log", "");
    writeBytes(dir / "noext", "");
    fs::create_directory(dir / "Sub");
    const std::string base = dir.path();
    EXPECT_EQ(scan(base, ScanKinds::Files), (Names{"a.txt", "B.TXT", "c.log", "noext"}));
    EXPECT_EQ(scan(base + "\\", ScanKinds::Folders), (Names{".", "..", "Sub"}));
    EXPECT_EQ(scan(base + "\\sub", ScanKinds::Both), (Names{".", ".."}));
    EXPECT_TRUE(scan(base + "\\missing", ScanKinds::Both).empty());
    EXPECT_TRUE(scan(base, static_cast<ScanKinds>(0)).empty());

    EXPECT_EQ(scan(base + "\\*.txt", ScanKinds::Both, true), (Names{"a.txt", "B.TXT"}));
    EXPECT_EQ(scan(base + "\\?.LOG", ScanKinds::Both, true), (Names{"c.log"}));
    EXPECT_EQ(scan(base + "\\*.*", ScanKinds::Both, true).size(), 7u);
    EXPECT_EQ(scan(base + "\\noext.*", ScanKinds::Both, true), (Names{"noext"}));
    EXPECT_EQ(scan(base + "\\*b*", ScanKinds::Both, true), (Names{"B.TXT", "Sub"}));
    EXPECT_TRUE(scan(base + "\\??.txt", ScanKinds::Both, true).empty());

    DirectoryScan one;
    FindRecord record;
    ASSERT_TRUE(one.firstMatch(base + "\\A.TXT", record, ScanKinds::Files));
    EXPECT_EQ(record.name, "a.txt");
    EXPECT_FALSE(record.isDirectory);
    EXPECT_EQ(record.size, 5u);
    EXPECT_LE(record.creationTime.seconds, record.lastWriteTime.seconds);
    EXPECT_GT(record.lastWriteTime.seconds, 0);

    EXPECT_TRUE(directoryExists(base + "\\sub\\"));
    EXPECT_FALSE(directoryExists(dir / "a.txt"));
    EXPECT_FALSE(directoryExists(dir / "missing"));
}

TEST(InstanceLockTest, SecondHolderIsRefusedUntilTheFirstEnds)
{
    ScratchFolder dir;
    const testing::PrivateTmpDir setting(dir.path());
    auto first = std::make_unique<InstanceLock>();
    ASSERT_TRUE(first->acquire("VantrelTestMutex"));
    InstanceLock second;
    InstanceLock other;
    EXPECT_FALSE(second.acquire("VantrelTestMutex"));
    EXPECT_TRUE(other.acquire("AnotherName"));
    first.reset();
    EXPECT_TRUE(second.acquire("VantrelTestMutex"));
}

} // namespace
} // namespace vantrel

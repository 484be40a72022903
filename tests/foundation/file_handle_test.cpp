// FileHandle: append-on-open, positions and the at-end flag, text lines,
// log lines, 64-bit sizes and the one-writer rule.
#include "foundation/file_handle.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "foundation/file_system.h"
#include "scratch_folder.h"

namespace vantrel {
namespace {

using testing::ScratchFolder;
using testing::readBytes;
using testing::writeBytes;

TEST(FileHandle, OpenAppendsAndNeverTruncates)
{
    ScratchFolder dir;
    writeBytes(dir / "f.txt", "old");
    FileHandle file;
    EXPECT_FALSE(file.open(dir / "none", FileMode::Write, IfMissing::Fail));
    EXPECT_FALSE(file.open(dir.path(), FileMode::Read, IfMissing::Fail));  // a folder
    ASSERT_TRUE(file.open(dir / "F.TXT", FileMode::Write, IfMissing::Fail));
    EXPECT_TRUE(file.writeAll("x", 1));
    FileTime written;
    FileTime created;
    ASSERT_TRUE(file.lastWriteTime(written) && file.creationTime(created));
    EXPECT_LE(created.seconds, written.seconds);
    EXPECT_LE(timeNow().seconds - written.seconds, 60);
    ASSERT_TRUE(file.open(dir / "f.txt", FileMode::Read, IfMissing::Fail));
    EXPECT_EQ(file.size(), 4u);
    EXPECT_FALSE(file.writeAll("y", 1));
    EXPECT_EQ(readBytes(dir / "f.txt"), "oldx");

    ASSERT_TRUE(file.open(dir.path() + "\\New.Txt", FileMode::Write, IfMissing::Create));
    EXPECT_TRUE(file.atEnd());
    EXPECT_TRUE(std::filesystem::exists(dir / "New.Txt"));
    ASSERT_TRUE(file.truncateAt(0));
    file.close();
    EXPECT_EQ(file.write("a", 1), 0u);
}

TEST(FileHandle, CreatingFindsANameOfOtherCaseAndRecordsTheStateAtOpen)
{
    ScratchFolder dir;
    std::filesystem::create_directory(dir / "Site");
    writeBytes(dir / "Site/Page.html", "12345");
    FileHandle file;
    // The exact name is missing, so the existing file is found by its case
    // rather than a second one created beside it.
    ASSERT_TRUE(file.open(dir.path() + "\\site\\PAGE.HTML", FileMode::Write, IfMissing::Create));
    EXPECT_EQ(file.sizeAtOpen(), 5u);
    FileTime written;
    ASSERT_TRUE(file.lastWriteTime(written));
    EXPECT_EQ(file.writeTimeAtOpen(), written);
    EXPECT_TRUE(file.writeAll("6", 1));
    EXPECT_EQ(file.sizeAtOpen(), 5u);
    EXPECT_EQ(file.size(), 6u);
    file.close();
    EXPECT_EQ(readBytes(dir / "Site/Page.html"), "123456");
    EXPECT_FALSE(std::filesystem::exists(dir / "Site/PAGE.HTML"));
    EXPECT_FALSE(std::filesystem::exists(dir / "site"));
}

TEST(FileHandle, SeeksAndTheAtEndFlag)
{
    ScratchFolder dir;
    writeBytes(dir / "f.bin", "0123456789");
    FileHandle file;
    ASSERT_TRUE(file.open(dir / "f.bin", FileMode::Read, IfMissing::Fail));
    EXPECT_TRUE(file.seekTo(10));
    EXPECT_TRUE(file.atEnd());
    EXPECT_FALSE(file.seekTo(11));
    EXPECT_TRUE(file.seekTo(4));
    EXPECT_FALSE(file.atEnd());
    char buffer[16] = {};
    EXPECT_EQ(file.read(buffer, 3), 3u);
    EXPECT_FALSE(file.atEnd());
    EXPECT_EQ(file.read(buffer, 16), 3u);
    EXPECT_EQ(std::string(buffer, 3), "789");
    EXPECT_TRUE(file.atEnd());
    file.rewind();
    EXPECT_FALSE(file.atEnd());

    writeBytes(dir / "empty", "");
    ASSERT_TRUE(file.open(dir / "empty", FileMode::Read, IfMissing::Fail));
    EXPECT_TRUE(file.atEnd());
}

TEST(FileHandle, SizesAndOffsetsBeyondFourGigabytes)
{
    ScratchFolder dir;
    const std::uint64_t big = (std::uint64_t{5} << 30) + 3;
    writeBytes(dir / "sparse", "");
    std::error_code error;
    std::filesystem::resize_file(dir / "sparse", big, error);
    if (error)
        GTEST_SKIP() << "no sparse files here: " << error.message();
    FileHandle file;
    ASSERT_TRUE(file.open(dir / "sparse", FileMode::Write, IfMissing::Fail));
    EXPECT_EQ(file.size(), big);
    EXPECT_TRUE(file.writeAll("Z", 1));
    EXPECT_TRUE(file.seekTo(big));
    char c = 0;
    EXPECT_EQ(file.read(&c, 1), 1u);
    EXPECT_EQ(c, 'Z');
}

TEST(FileHandle, TextLinesEndWithCrLfOnly)
{
    ScratchFolder dir;
    writeBytes(dir / "t", "\r\nabcdef\r\nab\r\nc\nd\re");
    FileHandle file;
    ASSERT_TRUE(file.open(dir / "t", FileMode::Read, IfMissing::Fail));
    std::vector<std::string> lines;
    char buffer[64];
    for (std::size_t capacity : {64, 4, 4, 4, 64, 64}) {
        EXPECT_FALSE(file.atEnd());
        const std::size_t n = file.readTextLine(buffer, capacity);
        lines.emplace_back(buffer, n);
        EXPECT_EQ(buffer[n], '\0');
    }
    // A full buffer ends a line early; a lone LF stays, a lone CR vanishes.
    EXPECT_EQ(lines, (std::vector<std::string>{"", "abc", "def", "", "ab", "c\nde"}));
    EXPECT_TRUE(file.atEnd());
    EXPECT_EQ(file.readTextLine(buffer, 0), 0u);
}

TEST(FileHandle, OneWriterAnyReaders)
{
    ScratchFolder dir;
    writeBytes(dir / "Shared", "data");
    writeBytes(dir / "other", "other");
    FileHandle writer;
    FileHandle second;
    ASSERT_TRUE(writer.open(dir / "Shared", FileMode::Write, IfMissing::Fail));
    EXPECT_FALSE(second.open(dir.path() + "\\SHARED", FileMode::Write, IfMissing::Create));
    EXPECT_FALSE(copyFile(dir / "other", dir / "Shared"));
    FileHandle readerA;
    FileHandle readerB;
    EXPECT_TRUE(readerA.open(dir / "Shared", FileMode::Read, IfMissing::Fail));
    EXPECT_TRUE(readerB.open(dir / "shared", FileMode::Read, IfMissing::Fail));

    // Opening another file releases the first one.
    ASSERT_TRUE(writer.open(dir / "other", FileMode::Write, IfMissing::Fail));
    EXPECT_TRUE(second.open(dir / "Shared", FileMode::Write, IfMissing::Fail));
    EXPECT_FALSE(readerA.open(dir / "other", FileMode::Write, IfMissing::Fail));
    writer.close();
    EXPECT_TRUE(readerA.open(dir / "other", FileMode::Write, IfMissing::Fail));
    EXPECT_EQ(readBytes(dir / "Shared"), "data");
}

} // namespace
} // namespace vantrel

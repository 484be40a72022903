// FileHandle: append-on-open, positions and the at-end flag, text lines,
// log lines, 64-bit sizes and the one-writer rule.
#include "foundation/file_handle.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "foundation/file_system.h"
#include "scratch_folder.h"

namespace vantrel {
namespace {

using testing::readBytes;
using testing::ScratchFolder;
using testing::writeBytes;

TEST(FileHandle, OpenAppendsAndNeverTruncates)
{
    ScratchFolder dir;
    writeBytes(dir / "f.txt", "old");
    FileHandle file;
    EXPECT_FALSE(file.open(dir / "none", FileMode::Write, IfMissing::Fail));
    EXPECT_FALSE(file.open(dir.path(), FileMode::Read, IfMissing::Fail)); // a folder
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

TEST(FileHandle, AFileBeingWrittenCannotBeDeletedMovedOrReplaced)
{
    ScratchFolder dir;
    writeBytes(dir / "upload", "first bytes");
    writeBytes(dir / "other", "other");
    FileHandle writer;
    ASSERT_TRUE(writer.open(dir / "upload", FileMode::Write, IfMissing::Fail));
    EXPECT_FALSE(deleteFile(dir / "upload"));
    EXPECT_FALSE(deleteFile(dir.path() + "\\UPLOAD"));
    EXPECT_FALSE(moveFile(dir / "upload", dir / "moved"));
    EXPECT_FALSE(copyFile(dir / "other", dir / "upload"));
    EXPECT_TRUE(writer.writeAll("+more", 5));
    EXPECT_EQ(readBytes(dir / "upload"), "first bytes+more");
    EXPECT_FALSE(std::filesystem::exists(dir / "moved"));

    // Once written, the file is an ordinary file again.
    writer.close();
    EXPECT_TRUE(moveFile(dir / "upload", dir / "moved"));
    EXPECT_TRUE(deleteFile(dir / "moved"));
}

TEST(FileHandle, AFileBeingReadMayGoAndTheReaderKeepsItsBytes)
{
    ScratchFolder dir;
    writeBytes(dir / "download", "all the bytes");
    writeBytes(dir / "newer", "newer");
    FileHandle reader;
    ASSERT_TRUE(reader.open(dir / "download", FileMode::Read, IfMissing::Fail));
    EXPECT_TRUE(moveFile(dir / "download", dir / "renamed"));
    EXPECT_TRUE(copyFile(dir / "newer", dir / "download"));
    EXPECT_TRUE(deleteFile(dir / "renamed"));
    char buffer[64] = {};
    EXPECT_EQ(reader.read(buffer, sizeof buffer), 13u);
    EXPECT_EQ(std::string(buffer), "all the bytes");
}

TEST(FileHandle, OnlyRegularFilesOpenAndNoneWaits)
{
    ScratchFolder dir;
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = dir / "socket";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::filesystem::create_symlink("pipe", dir / "pipe-link");

    const testing::PipeUnblocker unblocker(dir / "pipe", std::chrono::seconds(5));
    const auto begin = std::chrono::steady_clock::now();
    FileHandle file;
    for (const char* name : {"pipe", "pipe-link", "socket"}) {
        EXPECT_FALSE(file.open(dir / name, FileMode::Read, IfMissing::Fail)) << name;
        EXPECT_FALSE(file.open(dir / name, FileMode::Write, IfMissing::Create)) << name;
    }
    EXPECT_FALSE(file.open("/dev/null", FileMode::Read, IfMissing::Fail));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
    ::close(listener);

    // A descriptor handed over is held to the same rule.
    EXPECT_FALSE(file.adopt(::open((dir / "pipe").c_str(), O_RDONLY | O_NONBLOCK), FileMode::Read));
    writeBytes(dir / "plain", "x");
    ASSERT_TRUE(file.adopt(::open((dir / "plain").c_str(), O_RDONLY | O_NONBLOCK), FileMode::Read));
    EXPECT_EQ(::fcntl(file.descriptor(), F_GETFL) & O_NONBLOCK, 0);
}

} // namespace
} // namespace vantrel

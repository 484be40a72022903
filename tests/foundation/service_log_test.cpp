// Numbered logs: the header line, roll-over at the size limit, the line
// layout, and lines from many threads at once.
#include "foundation/service_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#include "log_line_check.h"
#include "scratch_folder.h"

namespace vantrel {
namespace {

using testing::readBytes;
using testing::ScratchFolder;
using testing::writeBytes;
namespace fs = std::filesystem;

constexpr char Header[] = "Vantrel Server 2.33: FTP log file\r\n";

class NumberedLogTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directory(dir_ / "logs"); }
    std::string prefix() const { return dir_.path() + "\\logs\\ftplog_"; }
    std::string file(int number) const { return dir_ / ("logs/ftplog_" + std::to_string(number) + ".txt"); }
    ScratchFolder dir_;
};

TEST_F(NumberedLogTest, HeaderLineThenLines)
{
    NumberedLog log(prefix(), Header);
    EXPECT_EQ(log.log().path(), prefix() + "0.txt");
    log.openNumber(0);
    log.rollOver(); // a file with content gets no second header
    EXPECT_TRUE(log.appendLine("a\r\nb\nc"));
    EXPECT_TRUE(testing::isLogOf(readBytes(file(0)), {Header, "a  b c"})) << readBytes(file(0));
}

TEST_F(NumberedLogTest, RollsOverOnceTheFileHasReachedTheLimit)
{
    writeBytes(file(0), std::string(51199, 'x'));
    NumberedLog log(prefix(), Header);
    log.openNumber(0);
    EXPECT_EQ(log.number(), 0);
    EXPECT_FALSE(fs::exists(file(1)));

    writeBytes(file(0), std::string(51200, 'x'));
    log.rollOver();
    EXPECT_EQ(log.number(), 1);
    EXPECT_TRUE(testing::isLogOf(readBytes(file(1)), {Header})) << readBytes(file(1));

    // Full files from an earlier run are skipped.
    writeBytes(file(4), std::string(60000, 'x'));
    writeBytes(file(5), std::string(51200, 'x'));
    writeBytes(file(6), "partly\r\n");
    log.openNumber(4);
    EXPECT_EQ(log.number(), 6);
    EXPECT_EQ(readBytes(file(6)), "partly\r\n");
}

TEST_F(NumberedLogTest, PathsSizesAndFailures)
{
    ServiceLog log;
    log.setPath(std::string(300, 'p'));
    EXPECT_EQ(log.path(), std::string(256, 'p'));
    log.setPath(dir_.path() + "\\logs\\size.txt");
    EXPECT_EQ(log.size(), 0u);
    EXPECT_TRUE(fs::exists(dir_ / "logs/size.txt"));
    EXPECT_TRUE(log.appendLine("12345"));
    EXPECT_EQ(log.size(), fs::file_size(dir_ / "logs/size.txt"));
    EXPECT_FALSE(log.writeHeaderIfEmpty(Header));
    log.setPath(dir_.path() + "\\nofolder\\x.txt");
    EXPECT_FALSE(log.appendLine("lost"));
    EXPECT_EQ(log.size(), 0u);
}

TEST_F(NumberedLogTest, AFileDeletedMovedOrReplacedBetweenLinesIsFollowed)
{
    NumberedLog log(prefix(), Header);
    log.openNumber(0);
    ASSERT_TRUE(log.appendLine("one"));
    fs::remove(file(0));
    ASSERT_TRUE(log.appendLine("two"));
    EXPECT_TRUE(testing::isLogOf(readBytes(file(0)), {"two"})) << readBytes(file(0));

    fs::rename(file(0), dir_ / "logs/kept.txt");
    ASSERT_TRUE(log.appendLine("three"));
    EXPECT_TRUE(testing::isLogOf(readBytes(file(0)), {"three"})) << readBytes(file(0));
    EXPECT_TRUE(testing::isLogOf(readBytes(dir_ / "logs/kept.txt"), {"two"}));

    // Written over by someone else: the next line goes to the new end.
    writeBytes(file(0), "replaced\r\n");
    ASSERT_TRUE(log.appendLine("four"));
    const std::string text = readBytes(file(0));
    EXPECT_EQ(text.rfind("replaced\r\n", 0), 0u) << text;
    EXPECT_TRUE(testing::isLogOf(text.substr(10), {"four"})) << text;
}

TEST_F(NumberedLogTest, LinesFromManyThreadsStayWhole)
{
    NumberedLog log(prefix(), Header);
    constexpr int Threads = 6;
    constexpr int Lines = 150;
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int t = 0; t < Threads; ++t) {
        writers.emplace_back([&log, &failures, t] {
            for (int i = 0; i < Lines; ++i)
                failures += log.appendLine("thread " + std::to_string(t) + " line " + std::to_string(i)) ? 0 : 1;
        });
    }
    for (auto& writer : writers)
        writer.join();
    EXPECT_EQ(failures.load(), 0);

    std::istringstream in(readBytes(file(0)));
    std::vector<int> nextLine(Threads, 0);
    for (std::string text; std::getline(in, text);) {
        int thread = -1;
        int number = -1;
        char cr = 0;
        ASSERT_TRUE(testing::startsWithLongDate(text)) << text;
        ASSERT_EQ(std::sscanf(text.c_str() + 25, " -> thread %d line %d%c", &thread, &number, &cr), 3) << text;
        ASSERT_TRUE(cr == '\r' && thread >= 0 && thread < Threads) << text;
        EXPECT_EQ(number, nextLine[thread]++) << text;
    }
    EXPECT_EQ(nextLine, std::vector<int>(Threads, Lines));
}

} // namespace
} // namespace vantrel

// The message file of an SMTP transaction: appended to, made durable, and
// either handed over to the queue or gone once its owner is.
#include "email/message_file.h"
#include "foundation/file_system.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace vantrel {
namespace {

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(MessageFileTest, AppendsSyncsAndIsKeptOnlyWhenReleased)
{
    std::string folder = (std::filesystem::temp_directory_path() / "vt-mf-XXXXXX").string();
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    const std::string kept = folder + "/kept.msg";
    const std::string dropped = folder + "/dropped.msg";
    std::ofstream(kept).flush();
    std::ofstream(dropped).flush();
    {
        MessageFile first;
        MessageFile second;
        EXPECT_FALSE(first.open(folder + "/missing.msg"));
        EXPECT_FALSE(first.append("x"));
        ASSERT_TRUE(first.open(kept));
        ASSERT_TRUE(second.open(dropped));
        ASSERT_TRUE(first.append("Received: x\r\n"));
        ASSERT_TRUE(first.append(std::string("a\0b\r\n", 5)));
        EXPECT_EQ(first.size(), 18u);
        ASSERT_TRUE(first.sync());
        EXPECT_EQ(contents(kept), std::string("Received: x\r\na\0b\r\n", 18));
        first.release();
        EXPECT_FALSE(first.append("released"));
        EXPECT_TRUE(first.path().empty());
    }
    EXPECT_EQ(contents(kept), std::string("Received: x\r\na\0b\r\n", 18));
    EXPECT_FALSE(pathExists(dropped));
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace vantrel

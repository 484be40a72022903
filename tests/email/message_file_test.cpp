// The message file of an SMTP session: unique in the temporary folder,
// appended to, emptied by RSET, and gone once its owner is.
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

class MessageFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        folder_ = (std::filesystem::temp_directory_path() / "vt-mf-XXXXXX").string();
        ASSERT_NE(::mkdtemp(folder_.data()), nullptr);
        ::setenv("TMPDIR", folder_.c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("TMPDIR");
        std::filesystem::remove_all(folder_);
    }
    bool folderEmpty() const { return std::filesystem::is_empty(folder_); }

    std::string folder_;
};

TEST_F(MessageFileTest, AppendsClearsAndIsRemovedWithItsOwner)
{
    std::string path;
    {
        MessageFile first;
        MessageFile second;
        ASSERT_TRUE(first.create());
        ASSERT_TRUE(second.create());
        EXPECT_NE(first.path(), second.path());
        path = first.path();
        EXPECT_EQ(path.rfind(folder_ + "/", 0), 0u) << path;
        ASSERT_TRUE(first.append("Received: x\r\n"));
        ASSERT_TRUE(first.append(std::string("a\0b\r\n", 5)));
        EXPECT_EQ(first.size(), 18u);
        EXPECT_EQ(contents(path), std::string("Received: x\r\na\0b\r\n", 18));
        ASSERT_TRUE(first.clear());
        EXPECT_EQ(first.size(), 0u);
        EXPECT_EQ(contents(path), "");
        ASSERT_TRUE(first.append("again"));
        first.close();
        EXPECT_EQ(contents(path), "again");
        EXPECT_FALSE(first.append("closed"));
        const std::string secondPath = second.path();
        second.remove();
        EXPECT_FALSE(pathExists(secondPath));
    }
    EXPECT_FALSE(pathExists(path));
    EXPECT_TRUE(folderEmpty());
}

TEST_F(MessageFileTest, NoTemporaryFolderNoFile)
{
    ::setenv("TMPDIR", (folder_ + "/missing").c_str(), 1);
    MessageFile file;
    EXPECT_FALSE(file.create());
    EXPECT_TRUE(file.path().empty());
    EXPECT_FALSE(file.append("x"));
}

} // namespace
} // namespace vantrel

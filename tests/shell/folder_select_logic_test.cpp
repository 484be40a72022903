// Walking folders with the "Folder Select" logic on a small tree.
#include "shell/folder_select_logic.h"

#include "shell_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using Entries = std::vector<std::string>;

class FolderSelectLogicTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* folder : {"a/b/c", "a/Zeta", "a/alpha", "a/.hidden"})
            fs::create_directories(fs::path(tree.path()) / folder);
        std::ofstream(tree / "a/file.txt") << "not a folder";
    }
    std::string at(const std::string& relative) const { return fs::canonical(tree.path()).string() + "/" + relative; }

    test::TempFolder tree;
    test::ScriptedPrompt prompt;
    FolderSelectLogic logic{prompt};
};

TEST_F(FolderSelectLogicTest, ListsSubfoldersSortedWithoutFilesOrDot)
{
    logic.setStartFolder(at("a"));
    logic.fillList();
    EXPECT_EQ(logic.pathLine(), at("a"));
    EXPECT_EQ(logic.entries(), (Entries{"..", ".hidden", "alpha", "b", "Zeta"}));
    EXPECT_TRUE(prompt.calls.empty());
}

TEST_F(FolderSelectLogicTest, DoubleClickWalksDownAndUp)
{
    logic.setStartFolder(at("a/b/c/"));
    logic.fillList();
    EXPECT_EQ(logic.currentFolder(), at("a/b/c"));
    EXPECT_EQ(logic.entries(), Entries{".."});

    logic.enterEntry("..");
    EXPECT_EQ(logic.currentFolder(), at("a/b"));
    EXPECT_EQ(logic.pathLine(), at("a/b"));
    EXPECT_EQ(logic.entries(), (Entries{"..", "c"}));

    logic.enterEntry("..");
    logic.enterEntry(".hidden"); // names with a leading dot stay reachable
    EXPECT_EQ(logic.currentFolder(), at("a/.hidden"));
}

TEST_F(FolderSelectLogicTest, SingleClickNamesASubfolderWithoutEnteringIt)
{
    logic.setStartFolder(at("a"));
    logic.fillList();
    logic.selectEntry("b");
    EXPECT_EQ(logic.pathLine(), at("a/b"));
    EXPECT_EQ(logic.currentFolder(), at("a"));
    EXPECT_EQ(logic.chosenFolder(), at("a/b"));

    logic.selectEntry(".."); // ignored: the line still names b
    EXPECT_EQ(logic.chosenFolder(), at("a/b"));
}

TEST_F(FolderSelectLogicTest, MissingOrEmptyStartShowsTheRoot)
{
    for (const std::string& start : {at("no/such/folder"), std::string()}) {
        FolderSelectLogic fresh(prompt);
        fresh.setStartFolder(start);
        fresh.fillList();
        EXPECT_EQ(fresh.currentFolder(), "/");
        EXPECT_EQ(fresh.chosenFolder(), "/");
        const Entries& entries = fresh.entries();
        EXPECT_EQ(std::count(entries.begin(), entries.end(), ".."), 0);
        EXPECT_NE(std::find(entries.begin(), entries.end(), "tmp"), entries.end());
    }
    EXPECT_TRUE(prompt.calls.empty());
}

TEST(FolderSelectPaths, NormalizeFolder)
{
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"/", "/"},
        {"/a/b/../c", "/a/c"},
        {"/a/b/..", "/a"},
        {"/../..", "/"},
        {"//a//b/", "/a/b"},
        {"/a/./b/.", "/a/b"},
        {"\\a\\b", "/a/b"},
        {"/a/.hidden/...", "/a/.hidden/..."},
        {"/con/com1", "/con/com1"},
        {"rel/x", "/base/rel/x"},
        {"../up", "/up"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FolderSelectLogic::normalizeFolder(c.in, "/base"), c.out) << c.in;
}

} // namespace
} // namespace vantrel

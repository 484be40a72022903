// The help window's texts and the site shortcut file.
#include "shell/help_logic.h"

#include "shell_test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace vantrel {
namespace {

constexpr char Page[] = "http://www.quorvell-labs.example/vantrel/";

std::string fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(HelpLogic, OpenSiteReplacesTheShortcutAndOpensThePage)
{
    test::TempFolder folder;
    const std::string path = folder / "vtsite.url";
    {
        std::ofstream old(path, std::ios::binary);
        old << std::string(300, 'x'); // longer than the new content
    }
    std::vector<std::string> opened;
    HelpLogic logic([&](std::string_view address) { opened.emplace_back(address); }, path);
    const std::string expected = "[InternetShortcut]\r\nURL=http://www.quorvell-labs.example/vantrel/\r\n";
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(logic.openSiteShortcut());
        EXPECT_EQ(fileBytes(path), expected); // no terminating zero, nothing appended
    }
    EXPECT_EQ(opened, (std::vector<std::string>{Page, Page}));
}

TEST(HelpLogic, UnwritableShortcutOpensNothingAndSaysNothing)
{
    test::TempFolder folder;
    bool opened = false;
    HelpLogic logic([&](std::string_view) { opened = true; }, folder / "missing/vtsite.url");
    EXPECT_FALSE(logic.openSiteShortcut());
    EXPECT_FALSE(opened);
}

} // namespace
} // namespace vantrel

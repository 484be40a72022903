// normalizePath as a table: the documented cases and inputs a hostile
// client would send to climb out of its root.
#include "foundation/normalize_path.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(NormalizePath, Table)
{
    const std::string a(250, 'a');
    const struct {
        std::string input;
        std::string expected;
        bool whole = true; // false: the text had to be cut
    } cases[] = {
        {"x\\y\\..\\z", "x\\z"},
        {"..\\..\\w", "w"},
        {"x\\.\\con", "x\\xxx"},
        {"COM1", "xxx"},
        {"C:\\x\\..\\y", "C:\\y"},
        {"a/b//c", "a\\b\\c"},
        {"\\a\\..\\..\\b", "\\b"},
        {"x\\.hidden", "x"},
        {"...", ""},
        {"con.txt\\com5\\lpt4\\com", "con.txt\\com5\\lpt4\\com"},
        {"Aux\\NUL\\prn\\cOm4\\LPT3\\com2\\lpt1", "xxx\\xxx\\xxx\\xxx\\xxx\\xxx\\xxx"},
        // Climbing out.
        {"../../etc/passwd", "etc\\passwd"},
        {"/../../etc", "\\etc"},
        {"x/..\\../y", "y"},
        {"a\\..\\b\\c\\..\\..\\d", "d"},
        {"a\\b\\..\\c", "a\\c"},
        {"....//....//etc", "etc"},
        {"con\\..\\x", "x"},
        {"C:/../windows", "C:\\windows"},
        {"a\\.ssh\\id", "a\\id"},
        {"x\\..", ""},
        {std::string("a\0\\..\\..\\x", 10), "a"},
        // Prefixes and separators.
        {"", ""},
        {"\\", ""},
        {"//", ""},
        {"\\..\\", "\\"},
        {"\\\\server\\share\\", "\\server\\share"},
        {"C:\\", "C:"},
        {"dir\\file name.txt", "dir\\file name.txt"},
        // The part after the prefix is cut to 260 characters first, and
        // the caller is told so.
        {a + "\\" + std::string(50, 'b'), a + "\\bbbbbbbbb", false},
        {"C:\\" + a + "\\" + std::string(50, 'b'), "C:\\" + a + "\\bbbbbbbbb", false},
        {std::string(260, 'z') + "\\..", std::string(260, 'z'), false},
        {"\\" + std::string(260, 'z'), "\\" + std::string(260, 'z')},
        {std::string(257, 'z') + "\\..", ""},
    };
    for (const auto& c : cases) {
        std::string text = c.input;
        EXPECT_EQ(normalizePath(text), c.whole) << "input: " << c.input;
        EXPECT_EQ(text, c.expected) << "input: " << c.input;
    }
}

} // namespace
} // namespace vantrel

// The path gate against hostile arguments: whatever a client sends, the
// full path stays below the account folder.
#include "ftp/ftp_path.h"

#include "foundation/file_system.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel {
namespace {

constexpr char Folder[] = "/srv/ftp/ann\\";

// The path as the file layer sees it: every "\" a "/", runs of "/" one.
std::string onDisk(const std::string& full)
{
    std::string out;
    for (char c : full) {
        if (c == '\\')
            c = '/';
        if (c == '/' && !out.empty() && out.back() == '/')
            continue;
        out.push_back(c);
    }
    return out;
}

bool hasDotDotName(const std::string& path)
{
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string::npos)
            end = path.size();
        if (path.compare(pos, end - pos, "..") == 0)
            return true;
        pos = end + 1;
    }
    return false;
}

void expectConfined(const FtpPath& path)
{
    const std::string disk = onDisk(path.full);
    EXPECT_EQ(disk.rfind("/srv/ftp/ann/", 0), 0u) << disk;
    EXPECT_FALSE(hasDotDotName(disk)) << disk;
    EXPECT_LE(path.full.size(), MaxPath);
}

struct GateCase {
    const char* currentDirectory;
    std::string argument;
    const char* relative; // expected relative path
};

class PathGate : public testing::TestWithParam<GateCase> {};

TEST_P(PathGate, ResolvesBelowTheAccountFolder)
{
    const GateCase& c = GetParam();
    FtpPath path;
    ASSERT_EQ(resolvePath(Folder, c.currentDirectory, c.argument, path), PathKind::Resolved);
    EXPECT_EQ(path.relative, c.relative);
    EXPECT_EQ(path.full, std::string(Folder) + c.relative);
    expectConfined(path);
}

INSTANTIATE_TEST_SUITE_P(
    HostileArguments, PathGate,
    testing::Values(
        GateCase{"/", "..", ""}, GateCase{"/", "../../../../etc/passwd", "etc\\passwd"},
        GateCase{"/", "..\\..\\..\\etc\\passwd", "etc\\passwd"}, GateCase{"/a/b", "../../../../../x", "x"},
        GateCase{"/a", "../x", "x"}, GateCase{"/a", "b/./c/../../../../y", "y"},
        GateCase{"/", "/etc/passwd", "etc\\passwd"}, GateCase{"/deep/down", "\\etc\\shadow", "etc\\shadow"},
        // A doubled leading separator keeps one: still below the folder.
        GateCase{"/", "//etc/passwd", "\\etc\\passwd"}, GateCase{"/", "\\\\server\\share\\x", "\\server\\share\\x"},
        // A drive prefix is only a name below the folder here.
        GateCase{"/", "C:\\Windows\\system32", "C:\\Windows\\system32"}, GateCase{"/", "c:/../../etc", "c:\\etc"},
        GateCase{"/a", "x:..\\..\\..\\y", "y"},
        // Names beginning with a dot cannot be addressed.
        GateCase{"/", ".hidden/file", "file"}, GateCase{"/", "...", ""}, GateCase{"/", "..../etc", "etc"},
        GateCase{"/", ".ssh\\authorized_keys", "authorized_keys"}, GateCase{"/", "sub/.git/config", "sub\\config"},
        // Device names reach the file system as "xxx".
        GateCase{"/", "con", "xxx"}, GateCase{"/", "sub/COM1/x", "sub\\xxx\\x"}, GateCase{"/", "Nul", "xxx"},
        GateCase{"/", "con.txt", "con.txt"}, GateCase{"/", "com5", "com5"},
        // Nothing is decoded: escapes stay literal names.
        GateCase{"/", "%2e%2e/%2e%2e/etc", "%2e%2e\\%2e%2e\\etc"}, GateCase{"/", " /../x", "x"},
        GateCase{"/", "a//b///c", "a\\b\\c"}, GateCase{"/a", "b\\c", "a\\b\\c"}, GateCase{"/a", "b/c", "a\\b\\c"},
        // A zero byte ends the path, as it does for the file system.
        GateCase{"/", std::string("a\0/../../../etc", 15), "a"}));

TEST(PathGate, BareSeparatorNamesTheFolderItself)
{
    FtpPath path;
    EXPECT_EQ(resolvePath(Folder, "/a/b", "/", path), PathKind::BareRoot);
    EXPECT_EQ(resolvePath(Folder, "/a/b", "\\", path), PathKind::BareRoot);
    EXPECT_EQ(resolvePath(Folder, "/a/b", "/.", path), PathKind::Resolved);
    EXPECT_EQ(path.relative, "");
}

TEST(PathGate, PathsThatWouldHaveToBeCutAreRefusedWhole)
{
    std::vector<std::string> arguments;
    arguments.push_back(std::string(5000, 'x'));
    std::string climb;
    for (int i = 0; i < 300; ++i)
        climb += "../";
    arguments.push_back(climb + "etc/passwd");
    std::string nested;
    for (int i = 0; i < 200; ++i)
        nested += "d/";
    arguments.push_back(nested + climb + "etc");
    arguments.push_back(std::string(259, 'a') + "/../../../../etc");
    // Cut to the limit, these two would both have named the same file.
    const std::size_t room = MaxPath - (sizeof Folder - 1);
    arguments.push_back(std::string(room, 'n') + "1");
    arguments.push_back(std::string(room, 'n') + "2");
    for (const std::string& argument : arguments) {
        FtpPath path;
        EXPECT_EQ(resolvePath(Folder, "/", argument, path), PathKind::TooLong) << argument.size();
    }
}

TEST(PathGate, APathThatFitsExactlyIsKeptWhole)
{
    const std::size_t room = MaxPath - (sizeof Folder - 1);
    FtpPath path;
    ASSERT_EQ(resolvePath(Folder, "/", std::string(room, 'n'), path), PathKind::Resolved);
    EXPECT_EQ(path.full.size(), MaxPath);
    expectConfined(path);
    // The current directory counts: the same name is too long one level down.
    EXPECT_EQ(resolvePath(Folder, "/d", std::string(room, 'n'), path), PathKind::TooLong);
}

TEST(PathGate, FolderWithoutFinalSeparatorDoesNotReachItsSiblings)
{
    FtpPath path;
    ASSERT_EQ(resolvePath("/srv/ftp/ann", "/", "x", path), PathKind::Resolved);
    EXPECT_EQ(onDisk(path.full), "/srv/ftp/ann/x");
}

TEST(PathGate, CurrentDirectoryIsNormalisedBelowTheFolderOnly)
{
    // Operators keep accounts in folders whose names a client could never use.
    const FtpPath hidden = currentDirectoryPath("/home/ann/.ftp/con\\", "/pub/docs");
    EXPECT_EQ(hidden.full, "/home/ann/.ftp/con\\pub\\docs");
    const FtpPath root = currentDirectoryPath("/home/ann/.ftp\\", "/");
    EXPECT_EQ(root.full, "/home/ann/.ftp\\");
}

} // namespace
} // namespace vantrel

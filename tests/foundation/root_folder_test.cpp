// RootFolder against hostile paths: links to files and folders outside the
// root, links inside it, dangling links, a link swapped in between the
// lookup and the open (once, and in a race), named pipes and sockets,
// paths too long to name and names with control bytes; under both
// confinements. Absolute links into the root work as relative ones would,
// and those that lead out, directly or down a chain, stay refused. The
// writer registry holds through the root as well.
#include "foundation/root_folder.h"
#include "foundation/root_links.h"

#include "foundation/directory_scan.h"
#include "foundation/file_handle.h"
#include "foundation/file_system.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

namespace vantrel {
namespace {

using testing::PipeUnblocker;
using testing::readBytes;
using testing::ScratchFolder;
using testing::writeBytes;
namespace fs = std::filesystem;

constexpr char Refused[] = "<refused>";

// Every case runs against this layout:
//   outside/secret.txt "secret", outside/sub/
//   root/file.txt "inside", root/Docs/Readme.TXT "readme", root/Docs/up -> ../file.txt
//   root/in_file -> file.txt, root/in_dir -> Docs
//   root/out_file -> ../outside/secret.txt, root/out_abs -> /.../outside/secret.txt
//   root/out_dir -> ../outside, root/dangling -> nowhere
//   root/dangling_out -> ../outside/made.txt
//   root/pipe (a named pipe), root/pipe_link -> pipe, root/socket
//   root/abs_in -> /.../root/file.txt, root/abs_dir -> /.../root/Docs,
//   root/abs_chain -> /.../root/in_file, root/rel_abs -> abs_in,
//   root/abs_out_chain -> /.../root/out_file, root/rel_out_chain -> abs_out_chain,
//   root/abs_escape -> /.../root/../outside/secret.txt,
//   root/abs_sibling -> /.../root2/secret.txt, root/abs_loop -> /.../root/abs_loop
class RootFolderTest : public ::testing::TestWithParam<Confinement> {
protected:
    void SetUp() override
    {
        outside = dir / "outside";
        rootPath = dir / "root";
        fs::create_directories(outside + "/sub");
        fs::create_directories(rootPath + "/Docs");
        writeBytes(outside + "/secret.txt", "secret");
        writeBytes(rootPath + "/file.txt", "inside");
        writeBytes(rootPath + "/Docs/Readme.TXT", "readme");
        fs::create_symlink("../file.txt", rootPath + "/Docs/up");
        fs::create_symlink("file.txt", rootPath + "/in_file");
        fs::create_symlink("Docs", rootPath + "/in_dir");
        fs::create_symlink("../outside/secret.txt", rootPath + "/out_file");
        fs::create_symlink(outside + "/secret.txt", rootPath + "/out_abs");
        fs::create_symlink("../outside", rootPath + "/out_dir");
        fs::create_symlink("nowhere", rootPath + "/dangling");
        fs::create_symlink("../outside/made.txt", rootPath + "/dangling_out");
        ASSERT_EQ(::mkfifo((rootPath + "/pipe").c_str(), 0600), 0);
        fs::create_symlink("pipe", rootPath + "/pipe_link");
        fs::create_directories(rootPath + "2");
        writeBytes(rootPath + "2/secret.txt", "secret");
        const std::pair<std::string, std::string> absolute[] = {
            {"abs_in", rootPath + "/file.txt"},
            {"abs_dir", rootPath + "//Docs/."},
            {"abs_chain", rootPath + "/in_file"},
            {"rel_abs", "abs_in"},
            {"abs_out_chain", rootPath + "/out_file"},
            {"rel_out_chain", "abs_out_chain"},
            {"abs_escape", rootPath + "/../outside/secret.txt"},
            {"abs_sibling", rootPath + "2/secret.txt"},
            {"abs_loop", rootPath + "/abs_loop"},
        };
        for (const auto& [name, target] : absolute)
            fs::create_symlink(target, rootPath + "/" + name);
        listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string socketPath = rootPath + "/socket";
        ASSERT_LT(socketPath.size(), sizeof address.sun_path);
        socketPath.copy(address.sun_path, socketPath.size());
        ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    void TearDown() override { ::close(listener); }

    // The root under the confinement of the test; skips where the kernel lacks it.
    bool expectConfinement(const RootFolder& root)
    {
        EXPECT_TRUE(root.isOpen());
        return root.confinement() == GetParam();
    }

    bool followsInsideLinks() const { return GetParam() == Confinement::Beneath; }

    static std::string readThrough(const RootFolder& root, const std::string& relative)
    {
        FileHandle file;
        if (!root.openFile(relative, FileMode::Read, IfMissing::Fail, file))
            return Refused;
        std::string bytes(64, '\0');
        bytes.resize(file.read(bytes.data(), bytes.size()));
        return bytes;
    }

    ScratchFolder dir;
    std::string outside;
    std::string rootPath;
    int listener = -1;
};

struct ReadCase {
    const char* path;
    const char* beneath; // what reading gives under each confinement
    const char* noLinks;
};

const ReadCase ReadCases[] = {
    {"file.txt", "inside", "inside"},
    {"FILE.TXT", "inside", "inside"},
    {"\\docs\\readme.txt", "readme", "readme"},
    {"Docs/Readme.TXT", "readme", "readme"},
    // Links that stay inside work where the kernel can tell.
    {"in_file", "inside", Refused},
    {"IN_DIR\\readme.txt", "readme", Refused},
    {"docs/up", "inside", Refused},
    {"docs/../file.txt", "inside", Refused},
    // Every way out is refused.
    {"out_file", Refused, Refused},
    {"OUT_FILE", Refused, Refused},
    {"out_abs", Refused, Refused},
    {"out_dir/secret.txt", Refused, Refused},
    {"Out_Dir\\Secret.TXT", Refused, Refused},
    {"../outside/secret.txt", Refused, Refused},
    {"docs/../../outside/secret.txt", Refused, Refused},
    {"in_dir/../../outside/secret.txt", Refused, Refused},
    {"dangling", Refused, Refused},
    // Absolute links into the root are followed like relative ones.
    {"abs_in", "inside", Refused},
    {"ABS_DIR\\readme.txt", "readme", Refused},
    {"abs_chain", "inside", Refused},
    {"rel_abs", "inside", Refused},
    {"abs_dir/up", "inside", Refused},
    // Those that lead out, at once or down a chain, are not.
    {"abs_out_chain", Refused, Refused},
    {"rel_out_chain", Refused, Refused},
    {"abs_escape", Refused, Refused},
    {"abs_sibling", Refused, Refused},
    {"abs_loop", Refused, Refused},
    {"abs_dir/../../outside/secret.txt", Refused, Refused},
    // Only regular files open.
    {"pipe", Refused, Refused},
    {"pipe_link", Refused, Refused},
    {"socket", Refused, Refused},
    {"Docs", Refused, Refused},
    {"", Refused, Refused},
};

TEST_P(RootFolderTest, ReadsOnlyRegularFilesInsideTheRoot)
{
    const RootFolder root(rootPath, GetParam());
    if (!expectConfinement(root))
        GTEST_SKIP() << "the kernel has no openat2";
    const PipeUnblocker unblocker(rootPath + "/pipe", std::chrono::seconds(5));
    const auto begin = std::chrono::steady_clock::now();
    for (const ReadCase& c : ReadCases)
        EXPECT_EQ(readThrough(root, c.path), followsInsideLinks() ? c.beneath : c.noLinks) << c.path;
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5)) << "an open waited";
}

TEST_P(RootFolderTest, CreatesNothingOutsideTheRoot)
{
    const RootFolder root(rootPath, GetParam());
    if (!expectConfinement(root))
        GTEST_SKIP() << "the kernel has no openat2";
    FileHandle file;
    EXPECT_TRUE(root.openFile("New.txt", FileMode::Write, IfMissing::Create, file));
    EXPECT_TRUE(file.writeAll("n", 1));
    file.close();
    EXPECT_EQ(readBytes(rootPath + "/New.txt"), "n");
    // An existing name of other case is written, not a second one made.
    EXPECT_TRUE(root.openFile("NEW.TXT", FileMode::Write, IfMissing::Create, file));
    file.close();
    EXPECT_FALSE(fs::exists(rootPath + "/NEW.TXT"));

    for (const char* path : {"out_dir/new.txt", "dangling_out", "out_file", "../outside/new.txt", "pipe"})
        EXPECT_FALSE(root.openFile(path, FileMode::Write, IfMissing::Create, file)) << path;
    for (const char* path : {"out_dir/made", "../outside/made", "dangling_out/made"})
        EXPECT_FALSE(root.createFolder(path)) << path;
    EXPECT_EQ(readBytes(outside + "/secret.txt"), "secret");
    EXPECT_FALSE(fs::exists(outside + "/new.txt"));
    EXPECT_FALSE(fs::exists(outside + "/made.txt"));
    EXPECT_FALSE(fs::exists(outside + "/made"));

    EXPECT_EQ(root.openFile("in_dir/new.txt", FileMode::Write, IfMissing::Create, file), followsInsideLinks());
    file.close();
    EXPECT_EQ(fs::exists(rootPath + "/Docs/new.txt"), followsInsideLinks());
}

TEST_P(RootFolderTest, ChangesNothingOutsideTheRoot)
{
    const RootFolder root(rootPath, GetParam());
    if (!expectConfinement(root))
        GTEST_SKIP() << "the kernel has no openat2";
    EXPECT_FALSE(root.deleteFile("out_dir/secret.txt"));
    EXPECT_FALSE(root.removeFolder("out_dir/sub"));
    EXPECT_FALSE(root.move("out_dir/secret.txt", "stolen.txt"));
    EXPECT_FALSE(root.move("file.txt", "out_dir/planted.txt"));
    EXPECT_FALSE(root.move("file.txt", "../outside/planted.txt"));
    EXPECT_TRUE(fs::exists(outside + "/sub"));
    EXPECT_EQ(readBytes(outside + "/secret.txt"), "secret");
    EXPECT_FALSE(fs::exists(outside + "/planted.txt"));
    EXPECT_FALSE(fs::exists(rootPath + "/stolen.txt"));

    // A link is a name inside the root: deleting it leaves its target alone.
    EXPECT_TRUE(root.deleteFile("out_file"));
    EXPECT_FALSE(fs::is_symlink(rootPath + "/out_file"));
    EXPECT_EQ(readBytes(outside + "/secret.txt"), "secret");

    EXPECT_TRUE(root.createFolder("made"));
    EXPECT_TRUE(root.move("MADE", "Made2"));
    EXPECT_TRUE(root.removeFolder("made2"));
    EXPECT_FALSE(fs::exists(rootPath + "/Made2"));
}

TEST_P(RootFolderTest, DescribesAndEnumeratesOnlyWhatLiesInside)
{
    const RootFolder root(rootPath, GetParam());
    if (!expectConfinement(root))
        GTEST_SKIP() << "the kernel has no openat2";
    FindRecord record;
    EXPECT_TRUE(root.isFolder(""));
    EXPECT_TRUE(root.isFolder("docs"));
    EXPECT_FALSE(root.isFolder("out_dir"));
    EXPECT_FALSE(root.isFolder("out_dir/sub"));
    EXPECT_FALSE(root.isFolder(".."));
    EXPECT_EQ(root.isFolder("in_dir"), followsInsideLinks());
    EXPECT_FALSE(root.describe("out_file", record));
    EXPECT_FALSE(root.describe("out_abs", record));
    ASSERT_TRUE(root.describe("FILE.TXT", record));
    EXPECT_EQ(record.name, "file.txt");
    EXPECT_EQ(record.size, 6u);
    EXPECT_EQ(root.describe("in_file", record), followsInsideLinks());

    std::set<std::string> names;
    DirectoryScan scan;
    for (bool more = scan.first(root, "", record, ScanKinds::Both); more; more = scan.next(record)) {
        names.insert(record.name);
        // The root's ".." stands for the root itself, not its parent.
        if (record.name == "..") {
            EXPECT_TRUE(record.isDirectory);
        }
        if (record.name == "in_file") {
            EXPECT_EQ(record.size, 6u);
        }
    }
    std::set<std::string> expected{".", "..", "file.txt", "Docs", "pipe", "socket"};
    if (followsInsideLinks())
        expected.insert({"in_file", "in_dir", "pipe_link", "abs_in", "abs_dir", "abs_chain", "rel_abs"});
    EXPECT_EQ(names, expected);

    EXPECT_FALSE(scan.first(root, "out_dir", record, ScanKinds::Both));
    EXPECT_FALSE(scan.firstMatch(root, "out_dir\\*.txt", record, ScanKinds::Both));
    EXPECT_FALSE(scan.firstMatch(root, "OUT*", record, ScanKinds::Both));
    ASSERT_TRUE(scan.firstMatch(root, "DOCS\\read*", record, ScanKinds::Files));
    EXPECT_EQ(record.name, "Readme.TXT");
}

TEST_P(RootFolderTest, ALinkSwappedInAfterTheLookupIsRefusedAtTheOpen)
{
    const RootFolder root(rootPath, GetParam());
    if (!expectConfinement(root))
        GTEST_SKIP() << "the kernel has no openat2";
    fs::create_directory(rootPath + "/swap");
    writeBytes(rootPath + "/swap/secret.txt", "inside");
    const std::string onDisk = root.onDiskPath("SWAP\\SECRET.TXT");
    EXPECT_EQ(onDisk, "swap/secret.txt");
    for (const std::string& target : {std::string("../outside"), outside}) {
        fs::rename(rootPath + "/swap", rootPath + "/swap_real");
        fs::create_symlink(target, rootPath + "/swap");
        FileHandle file;
        FindRecord record;
        EXPECT_FALSE(root.openFile(onDisk, FileMode::Read, IfMissing::Fail, file)) << target;
        EXPECT_FALSE(root.openFile(onDisk, FileMode::Write, IfMissing::Create, file)) << target;
        EXPECT_FALSE(root.describe(onDisk, record)) << target;
        EXPECT_FALSE(root.deleteFile(onDisk)) << target;
        fs::remove(rootPath + "/swap");
        fs::rename(rootPath + "/swap_real", rootPath + "/swap");
    }
    EXPECT_EQ(readBytes(outside + "/secret.txt"), "secret");
    EXPECT_EQ(readThrough(root, onDisk), "inside");
}

TEST_P(RootFolderTest, ALinkSwappedBackAndForthNeverLeadsOut)
{
    const RootFolder root(rootPath, GetParam());
    if (!expectConfinement(root))
        GTEST_SKIP() << "the kernel has no openat2";
    fs::create_directory(rootPath + "/flip");
    writeBytes(rootPath + "/flip/secret.txt", "inside");
    fs::create_symlink("../outside", rootPath + "/flip_link");
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        while (!stop)
            ::renameat2(AT_FDCWD, (rootPath + "/flip").c_str(), AT_FDCWD, (rootPath + "/flip_link").c_str(),
                        RENAME_EXCHANGE);
    });
    int inside = 0;
    int escaped = 0;
    for (int i = 0; i < 3000; ++i) {
        const std::string got = readThrough(root, "Flip/Secret.txt");
        inside += got == "inside";
        escaped += got == "secret";
    }
    stop = true;
    swapper.join();
    EXPECT_EQ(escaped, 0);
    RecordProperty("inside", inside);
}

TEST_P(RootFolderTest, PathsTooLongToNameAreRefusedNotCut)
{
    const RootFolder root(rootPath, GetParam());
    if (!expectConfinement(root))
        GTEST_SKIP() << "the kernel has no openat2";
    // The folder with its separator, and a name that just fits after it.
    const std::size_t room = MaxPath - (rootPath.size() + 1);
    ASSERT_LT(room, 255u);
    const std::string fitting(room, 'f');
    const std::string tooLong = fitting + "g";
    EXPECT_TRUE(root.fits(fitting));
    EXPECT_FALSE(root.fits(tooLong));
    FileHandle file;
    EXPECT_FALSE(root.openFile(tooLong, FileMode::Write, IfMissing::Create, file));
    EXPECT_FALSE(root.createFolder(tooLong));
    EXPECT_FALSE(fs::exists(rootPath + "/" + tooLong));
    EXPECT_FALSE(fs::exists(rootPath + "/" + fitting));
    ASSERT_TRUE(root.openFile(fitting, FileMode::Write, IfMissing::Create, file));
    file.close();
    EXPECT_TRUE(fs::exists(rootPath + "/" + fitting));
    EXPECT_FALSE(root.move(fitting, tooLong));
    EXPECT_TRUE(fs::exists(rootPath + "/" + fitting));
}

TEST_P(RootFolderTest, NamesWithControlBytesAreNotMadeButExistingOnesRead)
{
    const RootFolder root(rootPath, GetParam());
    if (!expectConfinement(root))
        GTEST_SKIP() << "the kernel has no openat2";
    FileHandle file;
    for (const std::string name : {"line\nbreak", "carriage\rreturn", "tab\there", "\x1f", "del\x7fname"}) {
        EXPECT_FALSE(root.openFile(name, FileMode::Write, IfMissing::Create, file)) << name;
        EXPECT_FALSE(root.createFolder(name)) << name;
        EXPECT_FALSE(root.move("file.txt", name)) << name;
        EXPECT_FALSE(fs::exists(rootPath + "/" + name)) << name;
    }
    EXPECT_TRUE(fs::exists(rootPath + "/file.txt"));
    // One made by a local user can still be read.
    writeBytes(rootPath + "/made\nlocally", "local");
    EXPECT_EQ(readThrough(root, "made\nlocally"), "local");
}

TEST_P(RootFolderTest, AFileBeingWrittenCannotBeDeletedOrMoved)
{
    const RootFolder root(rootPath, GetParam());
    if (!expectConfinement(root))
        GTEST_SKIP() << "the kernel has no openat2";
    FileHandle writer;
    ASSERT_TRUE(root.openFile("Docs/Readme.TXT", FileMode::Write, IfMissing::Fail, writer));
    FileHandle second;
    EXPECT_FALSE(root.openFile("docs/readme.txt", FileMode::Write, IfMissing::Create, second));
    EXPECT_FALSE(root.deleteFile("docs/readme.txt"));
    EXPECT_FALSE(root.move("docs/readme.txt", "elsewhere.txt"));
    EXPECT_TRUE(writer.writeAll("!", 1));
    writer.close();
    EXPECT_EQ(readBytes(rootPath + "/Docs/Readme.TXT"), "readme!");

    FileHandle reader;
    ASSERT_TRUE(root.openFile("file.txt", FileMode::Read, IfMissing::Fail, reader));
    EXPECT_TRUE(root.deleteFile("file.txt"));
    char bytes[16] = {};
    EXPECT_EQ(reader.read(bytes, sizeof bytes), 6u);
    EXPECT_EQ(std::string(bytes), "inside");
}

TEST(RootLinks, AbsoluteTargetsBelowTheRootLoseTheRootsPath)
{
    const RootSpellings spellings{{"srv", "ftp", "bob"}, {"data", "bob"}};
    const struct {
        const char* target;
        const char* remainder; // null: not below the root
    } cases[] = {
        {"/srv/ftp/bob/inside.txt", "inside.txt"},
        {"/srv/ftp/bob", ""},
        {"//srv/./ftp/bob//sub/", "sub"},
        {"/data/bob/a/b", "a/b"},
        {"/srv/ftp/bob/../alice/x", "../alice/x"}, // ".." is the walk's to judge
        {"/srv/ftp/bobby/x", nullptr},
        {"/srv/ftp", nullptr},
        {"/srv/ftp/../ftp/bob/x", nullptr},
        {"srv/ftp/bob/x", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        std::string remainder = "<unset>";
        const bool below = belowRoot(c.target, spellings, remainder);
        EXPECT_EQ(below, c.remainder != nullptr) << c.target;
        if (below && c.remainder != nullptr) {
            EXPECT_EQ(remainder, c.remainder) << c.target;
        }
    }
}

TEST(RootFolder, WithoutAFolderEverythingFails)
{
    const RootFolder none("");
    EXPECT_FALSE(none.isOpen());
    EXPECT_FALSE(none.isFolder(""));
    FileHandle file;
    EXPECT_FALSE(none.openFile("etc/passwd", FileMode::Read, IfMissing::Fail, file));
    ScratchFolder dir;
    const RootFolder missing(dir / "missing");
    EXPECT_FALSE(missing.isOpen());
    EXPECT_FALSE(missing.createFolder("x"));
}

INSTANTIATE_TEST_SUITE_P(BothConfinements, RootFolderTest,
                         ::testing::Values(Confinement::Beneath, Confinement::NoLinks),
                         [](const ::testing::TestParamInfo<Confinement>& info) {
                             return info.param == Confinement::Beneath ? "Beneath" : "NoLinks";
                         });

} // namespace
} // namespace vantrel

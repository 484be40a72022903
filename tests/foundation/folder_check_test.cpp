// The folder check of a service's activation as a table: a folder that may
// be written, one that is missing, a file in its place, and a folder that
// is only readable. Root writes into a read-only folder all the same, so
// under root that case is checked by a child process that has given up
// root for the unprivileged "nobody" ids.
#include "foundation/folder_check.h"

#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace vantrel {
namespace {

constexpr uid_t NobodyId = 65534;
// The exit status of a child that could not give up root (errno values
// stay below it).
constexpr int ChildCannotDrop = 255;

struct FolderCase {
    const char* what;
    std::string path;
    bool writable;
    int error;
};

// The check made by a child process with nobody's ids; false in `ran` when
// root could not be given up here (a user namespace without those ids).
bool checkAsNobody(const std::string& path, int& error, bool& ran)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(NobodyId) != 0 || ::setuid(NobodyId) != 0)
            ::_exit(ChildCannotDrop);
        int childError = 0;
        const bool writable = folderWritable(path, childError);
        ::_exit(writable ? 0 : childError);
    }
    int status = 0;
    ran = child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
          WEXITSTATUS(status) != ChildCannotDrop;
    error = ran ? WEXITSTATUS(status) : -1;
    return ran && error == 0;
}

TEST(FolderCheck, TellsWhetherFilesMayBeMadeInAFolder)
{
    testing::ScratchFolder scratch;
    // Nobody must reach the read-only folder to meet its own refusal.
    ASSERT_EQ(::chmod(scratch.path().c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((scratch / "open").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((scratch / "readonly").c_str(), 0555), 0);
    testing::writeBytes(scratch / "file", "x");
    const FolderCase cases[] = {
        {"writable", scratch / "open", true, 0},
        {"missing", scratch / "missing", false, ENOENT},
        {"below a missing folder", scratch / "missing/logs", false, ENOENT},
        {"a file", scratch / "file", false, ENOTDIR},
        {"read-only", scratch / "readonly", false, EACCES},
    };
    bool unchecked = false;
    for (const FolderCase& c : cases) {
        SCOPED_TRACE(c.what);
        int error = -1;
        bool ran = true;
        // Only the read-only folder depends on who asks.
        const bool writable =
            c.error == EACCES && ::geteuid() == 0 ? checkAsNobody(c.path, error, ran) : folderWritable(c.path, error);
        if (!ran) {
            unchecked = true;
            continue;
        }
        EXPECT_EQ(writable, c.writable);
        EXPECT_EQ(error, c.error);
    }
    if (unchecked)
        GTEST_SKIP() << "root could not give up its rights: the read-only folder was not checked";
}

} // namespace
} // namespace vantrel

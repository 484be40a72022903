// The instance lock tells a copy that runs already from a temporary folder
// where the lock file cannot be made, so that neither is reported as the
// other.
#include "foundation/instance_lock.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "scratch_folder.h"

namespace vantrel {
namespace {

using testing::ScratchFolder;
using testing::writeBytes;

TEST(InstanceLockFailures, AHolderIsToldFromAnUnusableFolder)
{
    ScratchFolder dir;
    writeBytes(dir / "plain-file", "x");
    const struct {
        const char* what;
        std::string folder;
        InstanceLockFailure failure;
        int error;
    } cases[] = {
        {"missing folder", dir / "missing", InstanceLockFailure::NoLockFile, ENOENT},
        {"a file, not a folder", dir / "plain-file", InstanceLockFailure::NoLockFile, ENOTDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const testing::PrivateTmpDir setting(c.folder);
        InstanceLock lock;
        EXPECT_FALSE(lock.acquire("VantrelTestInstance"));
        EXPECT_EQ(lock.failure(), c.failure);
        EXPECT_EQ(lock.failureError(), c.error);
        EXPECT_EQ(lock.lockFile(), c.folder + "/VantrelTestInstance.lock");
    }

    const testing::PrivateTmpDir setting(dir.path());
    InstanceLock first;
    ASSERT_TRUE(first.acquire("VantrelTestInstance"));
    EXPECT_EQ(first.failure(), InstanceLockFailure::None);
    InstanceLock second;
    EXPECT_FALSE(second.acquire("VantrelTestInstance"));
    EXPECT_EQ(second.failure(), InstanceLockFailure::HeldElsewhere);
}

} // namespace
} // namespace vantrel

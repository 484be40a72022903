// Settings files: exact bytes on disk, record order and lookup rules, and
// how damaged files are refused.
#include "foundation/settings_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "scratch_folder.h"

namespace vantrel {
namespace {

using testing::readBytes;
using testing::ScratchFolder;
using testing::writeBytes;

std::string le32(std::uint32_t v)
{
    return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF), static_cast<char>((v >> 16) & 0xFF),
            static_cast<char>(v >> 24)};
}

// A name/length block as it lies in a file: the name zero-padded to 300 bytes.
std::string head(const std::string& name, std::uint32_t length)
{
    std::string out = name;
    out.resize(300, '\0');
    return out + le32(length);
}

std::string record(const std::string& name, const std::string& value)
{
    return head(name, static_cast<std::uint32_t>(value.size())) + value;
}

TEST(SettingsStoreFile, GoldenBytes)
{
    std::string golden = std::string("\x03\0\0\0\x01\0\0\0", 8) + "autostart" + std::string(291, '\0') +
                         std::string("\x04\0\0\0\x01\0\0\0", 8);
    ASSERT_EQ(golden.size(), 316u);
    ScratchFolder dir;
    SettingsStore store;
    ASSERT_TRUE(store.save(dir / "empty.dat"));
    EXPECT_EQ(readBytes(dir / "empty.dat"), std::string("\x03\0\0\0\0\0\0\0", 8));
    store.setInt("autostart", 1);
    ASSERT_TRUE(store.save(dir / "general.dat"));
    EXPECT_EQ(readBytes(dir / "general.dat"), golden);

    // Texts keep their zero; integers are little-endian two's complement;
    // an over-long name is cut to 299 characters.
    store.setText("welcome", "Hi");
    store.setInt("port", -2);
    store.setInt(std::string(400, 'k'), 7);
    writeBytes(dir / "general.dat", std::string("\x03\0\0\0\0\0\0\0", 8)); // an older, empty file
    ASSERT_TRUE(store.save(dir.path() + "\\GENERAL.DAT"));
    EXPECT_EQ(readBytes(dir / "general.dat"),
              std::string("\x03\0\0\0\x04\0\0\0", 8) + golden.substr(8) + record("welcome", std::string("Hi\0", 3)) +
                  record("port", "\xFE\xFF\xFF\xFF") + record(std::string(299, 'k'), std::string("\x07\0\0\0", 4)));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2); // no temporary left
    EXPECT_FALSE(store.save(dir / "missing/x.dat"));

    SettingsStore loaded;
    ASSERT_TRUE(loaded.load(dir / "general.dat"));
    EXPECT_EQ(loaded.count(), 4);
    EXPECT_EQ(loaded.getInt("autostart"), 1);
    EXPECT_EQ(loaded.getText("welcome", 260), "Hi");
    EXPECT_EQ(loaded.getInt("port"), -2);
    EXPECT_EQ(loaded.getInt(std::string(400, 'k')), 7);
}

TEST(SettingsStoreFile, DamagedFilesAreRefused)
{
    const std::string good = record("first", "1234");
    const std::string second = record("second", "abcdef");
    const struct {
        const char* what;
        std::string bytes;
        bool loads;
        int recordsKept;
    } cases[] = {
        {"shorter than the header", std::string("\x03\0\0\0\0\0\0", 7), false, 0},
        {"version 2", le32(2) + le32(1) + good, false, 0},
        {"version 4", le32(4) + le32(1) + good, false, 0},
        {"ends inside the name block", le32(3) + le32(2) + good + second.substr(0, 200), false, 1},
        {"ends inside the length", le32(3) + le32(2) + good + second.substr(0, 302), false, 1},
        {"ends inside a value", le32(3) + le32(2) + good + second.substr(0, 306), false, 0},
        {"name without a zero byte", le32(3) + le32(2) + good + std::string(300, 'n') + le32(1) + "v", false, 1},
        {"negative value length", le32(3) + le32(2) + good + head("n", 0xFFFFFFFFu) + "xx", false, 0},
        {"huge value length", le32(3) + le32(2) + good + head("h", 0x7FFFFFFFu) + "xx", false, 0},
        {"negative count", le32(3) + le32(0xFFFFFFFFu) + good, true, 0},
        {"bytes after the last record", le32(3) + le32(1) + good + "trailing", true, 1},
    };
    ScratchFolder dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeBytes(dir / "d.dat", c.bytes);
        SettingsStore store;
        store.setInt("stale", 1);
        EXPECT_EQ(store.loadFile(dir / "d.dat"), c.loads ? SettingsLoad::Loaded : SettingsLoad::Damaged);
        EXPECT_EQ(store.count(), c.recordsKept);
        EXPECT_EQ(store.nameAt(0), c.recordsKept > 0 ? "first" : "");
    }
    SettingsStore store;
    store.setInt("stale", 1);
    EXPECT_EQ(store.loadFile(dir / "nothing.dat"), SettingsLoad::Missing);
    EXPECT_EQ(store.count(), 0);
}

// A save never replaces a file that does not load without keeping it as
// NAME.damaged first, and says so; a missing file has nothing to keep.
TEST(SettingsStoreFile, AFileThatDoesNotLoadIsKeptBeforeASaveReplacesIt)
{
    SettingsStore good;
    good.setText("welcome", "Hi");
    good.setInt("autostart", 1);
    ScratchFolder dir;
    ASSERT_TRUE(good.save(dir / "model.dat"));
    const std::string valid = readBytes(dir / "model.dat");

    const struct {
        const char* what;
        std::string before; // empty: no file
        bool kept;
    } cases[] = {
        {"garbage", "this is no settings file", true},
        {"truncated", valid.substr(0, valid.size() / 2), true},
        {"missing", "", false},
        {"valid", valid, false},
    };
    SettingsStore fresh;
    fresh.setInt("port", 21);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = dir / (std::string(c.what) + ".dat");
        if (!c.before.empty())
            writeBytes(file, c.before);
        writeBytes(file + ".damaged", "an older copy");
        ::testing::internal::CaptureStderr();
        ASSERT_TRUE(fresh.save(file));
        const std::string said = ::testing::internal::GetCapturedStderr();
        SettingsStore reloaded;
        EXPECT_EQ(reloaded.loadFile(file), SettingsLoad::Loaded);
        EXPECT_EQ(reloaded.getInt("port"), 21);
        EXPECT_EQ(readBytes(file + ".damaged"), c.kept ? c.before : "an older copy");
        if (c.kept)
            EXPECT_NE(said.find(file + " could not be read; it was kept as " + file + ".damaged"), std::string::npos)
                << said;
        else
            EXPECT_EQ(said, "");
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 9) << "no temporary left";
}

TEST(SettingsStoreFile, AFileThatCannotBeKeptIsNotReplaced)
{
    ScratchFolder dir;
    const std::string file = dir / "ftp.dat";
    writeBytes(file, "damaged");
    // A folder of that name cannot be replaced by the damaged file.
    std::filesystem::create_directories(file + ".damaged/inside");
    SettingsStore store;
    store.setInt("autostart", 0);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(store.save(file));
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(readBytes(file), "damaged");
    EXPECT_NE(said.find("could not be kept as " + file + ".damaged"), std::string::npos) << said;
}

TEST(SettingsStoreRecords, PositionsAndLookups)
{
    SettingsStore store;
    store.setInt("a", 1);
    store.setInt("b", 2);
    store.setInt("c", 3);
    store.setText("b", "three");
    store.setInt("d", 4);
    store.appendUnnamed("x", 1);
    store.appendUnnamed("x", 1);
    const char* expected[] = {"a", "b", "c", "d", "NONE", "NONE"};
    ASSERT_EQ(store.count(), 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(store.nameAt(i), expected[i]) << i;
    EXPECT_EQ(store.getText("b", 10), "three");
    EXPECT_EQ(store.getInt("b"), 0); // not 4 bytes long
    EXPECT_FALSE(store.hasKey("A"));

    EXPECT_TRUE(store.removeKey("b"));
    EXPECT_FALSE(store.removeKey("b"));
    EXPECT_TRUE(store.removeAt(0));
    EXPECT_EQ(store.nameAt(0), "c");
    EXPECT_EQ(store.count(), 4);
}

TEST(SettingsStoreRecords, CopiesAreBoundedAndFindNeedsTheExactLength)
{
    SettingsStore store;
    store.setText("name", "hello");
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(store.getData("absent", buffer, 8), 0u);
    EXPECT_EQ(store.getData("name", buffer, 3), 3u);
    EXPECT_EQ(std::string(buffer, 8), "hel#####");
    EXPECT_EQ(store.getData("name", buffer, 8), 6u);
    EXPECT_EQ(std::string(buffer, 7), std::string("hello\0#", 7));

    store.appendUnnamed("abc", 3);
    store.appendUnnamed("ab", 2);
    EXPECT_EQ(store.findData("ab", 2), 2);
    EXPECT_EQ(store.findData("abc", 3), 1);
    EXPECT_EQ(store.findData("a", 1), -1);
}

} // namespace
} // namespace vantrel

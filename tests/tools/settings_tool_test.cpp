// vantrel-settings driven through its command table: every value kind
// written and read back byte for byte, the listing, and the refusal to
// touch anything it cannot parse.
#include "../foundation/scratch_folder.h"

#include "tools/settings_tool.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace vantrel {
namespace {

using testing::readBytes;
using testing::writeBytes;

std::string le32(std::uint32_t value)
{
    std::string out;
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    return out;
}

std::string record(const std::string& name, const std::string& value)
{
    std::string out = name;
    out.resize(300, '\0');
    return out + le32(static_cast<std::uint32_t>(value.size())) + value;
}

std::string file(int count, const std::string& records)
{
    return le32(3) + le32(count) + records;
}

class SettingsToolTest : public ::testing::Test {
protected:
    int run(std::vector<std::string> words)
    {
        words.insert(words.begin(), path);
        out.str("");
        err.str("");
        return SettingsTool(out, err).run(words);
    }

    testing::ScratchFolder scratch;
    // A changing command takes the server's lock: a private one, so that a
    // server elsewhere on the machine does not refuse it.
    testing::PrivateTmpDir tmp{scratch.path()};
    std::string path = scratch / "test.dat";
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(SettingsToolTest, EveryValueKindRoundTrips)
{
    EXPECT_EQ(run({"create"}), 0);
    EXPECT_EQ(readBytes(path), file(0, ""));
    for (const std::vector<std::string>& words :
         std::vector<std::vector<std::string>>{{"set-int", "port", "8080"},
                                               {"set-text", "folder", "C:\\web \"site\""},
                                               {"set-text", "admin", ""},
                                               {"set-raw", "shop.example.org", "d:\\shop"},
                                               {"append-text", "alice"},
                                               {"append-int", "-2"},
                                               {"set-int", "port", "81"}, // replaced in place
                                               {"create"}})               // an existing file stays as it is
        EXPECT_EQ(run(words), 0) << words[0] << ": " << err.str();

    EXPECT_EQ(readBytes(path),
              file(6, record("port", le32(81)) + record("folder", "C:\\web \"site\"" + std::string(1, '\0')) +
                          record("admin", std::string(1, '\0')) + record("shop.example.org", "d:\\shop") +
                          record("NONE", std::string("alice", 6)) + record("NONE", le32(0xfffffffe))));
    ASSERT_EQ(run({"print"}), 0);
    EXPECT_EQ(out.str(), "0\tport\tint\t81\n"
                         "1\tfolder\ttext\t\"C:\\\\web \\\"site\\\"\"\n"
                         "2\tadmin\ttext\t\"\"\n"
                         "3\tshop.example.org\traw\t\"d:\\\\shop\"\n"
                         "4\tNONE\ttext\t\"alice\"\n"
                         "5\tNONE\tint\t-2\n");
    ASSERT_EQ(run({"get", "folder"}), 0);
    EXPECT_EQ(out.str(), "C:\\web \"site\"\n");

    EXPECT_EQ(run({"remove", "NONE"}), 0); // the first of that name
    EXPECT_EQ(run({"remove-at", "0"}), 0);
    EXPECT_EQ(run({"print"}), 0);
    EXPECT_EQ(out.str().substr(0, 8), "0\tfolder");
    EXPECT_NE(out.str().find("3\tNONE\tint\t-2\n"), std::string::npos) << out.str();
}

TEST_F(SettingsToolTest, RefusedCommandsChangeNothing)
{
    EXPECT_EQ(run({"print"}), 1); // missing: only writing commands make it
    EXPECT_EQ(run({"remove", "port"}), 1);
    EXPECT_FALSE(std::filesystem::exists(path));

    ASSERT_EQ(run({"set-int", "port", "80"}), 0);
    const std::string before = readBytes(path);
    for (const std::vector<std::string>& words :
         std::vector<std::vector<std::string>>{{"set-int", "port", "80x"},
                                               {"set-int", "port", "2147483648"},
                                               {"append-int", "0x10"},
                                               {"set-text", "", "x"},
                                               {"set-text", std::string(300, 'k'), "x"},
                                               {"remove", "other"},
                                               {"remove-at", "1"},
                                               {"remove-at", "-1"}})
        EXPECT_EQ(run(words), 1) << words[0] << " " << words[1];
    for (const std::vector<std::string>& words :
         std::vector<std::vector<std::string>>{{"set-int", "port"}, {"frobnicate"}, {"print", "x"}})
        EXPECT_EQ(run(words), 2) << words[0];
    EXPECT_EQ(readBytes(path), before);
}

TEST_F(SettingsToolTest, DamagedFilesAreNeverRewritten)
{
    const std::string good = file(1, record("port", le32(80)));
    for (const std::string& bytes : {std::string(), le32(3), file(0, "").replace(0, 1, "\2"), good.substr(0, 100),
                                     good.substr(0, good.size() - 1), file(2, record("port", le32(80))), good + "x"}) {
        writeBytes(path, bytes);
        for (const std::vector<std::string>& words : std::vector<std::vector<std::string>>{
                 {"set-int", "port", "8080"}, {"append-text", "x"}, {"create"}, {"print"}}) {
            EXPECT_EQ(run(words), 1) << words[0] << " on " << bytes.size() << " bytes";
            EXPECT_NE(err.str().find("left untouched"), std::string::npos) << err.str();
        }
        EXPECT_EQ(readBytes(path), bytes);
    }
}

TEST(SettingsToolKinds, GuessesWhatTheBytesHold)
{
    using Bytes = std::vector<unsigned char>;
    const std::pair<Bytes, ValueKind> cases[] = {
        {{}, ValueKind::Empty},
        {{0}, ValueKind::Text},
        {{1, 0, 0, 0}, ValueKind::Integer},
        {{0x90, 0x1f, 0, 0}, ValueKind::Integer},
        {{'a', 'b', 'c', 0}, ValueKind::Text},
        {{'/', 's', 'r', 'v'}, ValueKind::Raw},
        {{'h', 'i', '\r', '\n', 0}, ValueKind::Text},
        {{'a', 0, 'b', 0, 0}, ValueKind::Bytes},
    };
    for (const auto& [value, kind] : cases)
        EXPECT_EQ(valueKindName(guessValueKind(value)), valueKindName(kind)) << value.size() << " bytes";
}

} // namespace
} // namespace vantrel

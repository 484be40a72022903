// Support for the account table and settings panel tests: a fresh working
// folder per test (the account files live in the working directory), a
// writer for settings files built byte by byte, and the scripted message
// boxes, folder chooser and service that the panel works on.
#pragma once

#include "foundation/service_control.h"
#include "ftp/ftp_account_table.h"
#include "ftp/ftp_settings_panel.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel::testing {

// Makes a new empty folder with an "ftp" folder inside the working
// directory for the test's lifetime.
class WorkingFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = std::filesystem::current_path();
        std::string templ = (std::filesystem::temp_directory_path() / "vt-ftpb-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        folder_ = templ;
        std::filesystem::create_directory(folder_ / "ftp");
        std::filesystem::current_path(folder_);
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        if (!folder_.empty())
            std::filesystem::remove_all(folder_, ignored);
    }

    std::string path(const std::string& name) const { return (folder_ / name).string(); }

    std::filesystem::path folder_;

private:
    std::filesystem::path previous_;
};

inline std::string le32(std::int32_t value)
{
    const auto v = static_cast<std::uint32_t>(value);
    std::string out;
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((v >> shift) & 0xFF));
    return out;
}

// One record: the name zero-padded to 300 bytes, the length, the value.
inline std::string record(const std::string& name, const std::string& value)
{
    std::string out = name;
    out.resize(300, '\0');
    return out + le32(static_cast<std::int32_t>(value.size())) + value;
}

inline std::string textValue(const std::string& text)
{
    return text + std::string(1, '\0');
}

inline std::string header(int records)
{
    return le32(3) + le32(records);
}

inline void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

inline std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Shown {
    std::string text;
    std::string title;
    bool operator==(const Shown&) const = default;
};

class RecordingPrompt final : public MessagePrompt {
public:
    PromptAnswer show(std::string_view text, std::string_view title, PromptButtons buttons, PromptIcon) override
    {
        EXPECT_EQ(buttons, PromptButtons::Ok) << text;
        shown.push_back({std::string(text), std::string(title)});
        return PromptAnswer::Ok;
    }
    std::vector<Shown> takeShown() { return std::exchange(shown, {}); }

    std::vector<Shown> shown;
};

class ScriptedChooser final : public FolderChooser {
public:
    bool selectFolder(std::string& folder) override
    {
        startedAt = folder;
        if (!answer)
            return false;
        folder = *answer;
        return true;
    }
    std::optional<std::string> answer;
    std::string startedAt;
};

// The FTP service as the panel sees it.
class FakeService final : public FtpPanelTarget {
public:
    explicit FakeService(int capacity) : table(capacity, "Welcome") {}
    FtpAccountTable& accounts() override { return table; }
    std::uint16_t port() const override { return port_; }
    void setPort(std::uint16_t port) override { port_ = port; }
    bool autostart() const override { return autostart_; }
    void setAutostart(bool on) override { autostart_ = on; }
    bool isActive() const override { return active; }
    int perAddressCap() const override { return cap; }
    void setPerAddressCap(int value) override { cap = value; }
    int failedLoginLimit() const override { return loginLimit; }
    void setFailedLoginLimit(int value) override { loginLimit = value; }
    FtpTlsSettings tlsSettings() const override { return tls; }
    void setTlsSettings(const FtpTlsSettings& settings) override { tls = settings; }
    bool certificateLoads(std::string& whyNot) override
    {
        whyNot = certificateProblem;
        return certificateProblem.empty();
    }
    std::vector<ServicePortUse> otherServicePorts() const override { return otherPorts; }

    FtpAccountTable table;
    FtpTlsSettings tls;
    std::string certificateProblem;
    std::vector<ServicePortUse> otherPorts;
    std::uint16_t port_ = 21;
    int cap = 0;
    int loginLimit = 10;
    bool autostart_ = false;
    bool active = false;
};

} // namespace vantrel::testing

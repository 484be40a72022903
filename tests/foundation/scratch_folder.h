// ScratchFolder: a fresh folder per test below the temporary folder, with
// helpers to write and read whole files by absolute path.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vantrel::testing {

class ScratchFolder final {
public:
    ScratchFolder()
    {
        std::string templ = (std::filesystem::temp_directory_path() / "vt-f-XXXXXX").string();
        if (::mkdtemp(templ.data()) != nullptr)
            path_ = templ;
        EXPECT_FALSE(path_.empty()) << "mkdtemp failed";
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Absolute path of a name inside the folder, in the on-disk form.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

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

} // namespace vantrel::testing

// A temporary working folder for the web server's tests: created fresh,
// made the current directory (the server resolves "http\..." and "logs"
// against it), and removed again with everything in it.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace vantrel::testing {

class TestWorkFolder final {
public:
    TestWorkFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vt-http-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data());
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(root_);
        std::filesystem::create_directory(root_ / "logs");
        std::filesystem::create_directory(root_ / "http");
    }
    ~TestWorkFolder()
    {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(root_, ignored);
    }
    TestWorkFolder(const TestWorkFolder&) = delete;
    TestWorkFolder& operator=(const TestWorkFolder&) = delete;

    const std::filesystem::path& root() const { return root_; }

    // Writes a file below the folder, creating the folders on the way.
    void write(const std::string& relative, std::string_view bytes) const
    {
        const auto path = root_ / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    void makeFolder(const std::string& relative) const { std::filesystem::create_directories(root_ / relative); }
    std::string read(const std::string& relative) const
    {
        std::ifstream in(root_ / relative, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool exists(const std::string& relative) const { return std::filesystem::exists(root_ / relative); }

private:
    std::filesystem::path root_;
    std::filesystem::path previous_;
};

} // namespace vantrel::testing

// WorkingFolder: a fresh working directory per test with its "email"
// folder, where the mail directory keeps its files; the previous working
// directory comes back and the folder is removed when it goes.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace vantrel::testing {

// Made before and destroyed after the directory, which saves its files
// into the working directory when it goes.
class WorkingFolder final {
public:
    WorkingFolder()
    {
        previous_ = std::filesystem::current_path();
        std::string name = (std::filesystem::temp_directory_path() / "vt-epanel-XXXXXX").string();
        EXPECT_NE(::mkdtemp(name.data()), nullptr);
        folder_ = name;
        std::filesystem::create_directory(folder_ / "email");
        std::filesystem::current_path(folder_);
    }
    ~WorkingFolder()
    {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(folder_, ignored);
    }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

    std::string operator/(const std::string& name) const { return (folder_ / name).string(); }

private:
    std::filesystem::path previous_;
    std::filesystem::path folder_;
};

} // namespace vantrel::testing

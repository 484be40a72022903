// ScratchFolder: a fresh folder per test, removed afterwards, helpers
// that write and read whole files by absolute path, a TMPDIR of the test's
// own, and a guard that frees a thread stuck opening a named pipe.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>

namespace vantrel::testing {

class ScratchFolder final {
public:
    ScratchFolder()
    {
        std::string name = (std::filesystem::temp_directory_path() / "vt-f-XXXXXX").string();
        EXPECT_NE(::mkdtemp(name.data()), nullptr);
        path_ = name;
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// While it lives, TMPDIR names `folder`: the server's instance lock and
// control socket live there, so a test that takes them neither meets nor
// refuses a server another test runs at the same time.
class PrivateTmpDir final {
public:
    explicit PrivateTmpDir(const std::string& folder)
    {
        if (const char* tmp = std::getenv("TMPDIR")) {
            saved_ = tmp;
            hadOne_ = true;
        }
        ::setenv("TMPDIR", folder.c_str(), 1);
    }
    ~PrivateTmpDir()
    {
        if (hadOne_)
            ::setenv("TMPDIR", saved_.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }
    PrivateTmpDir(const PrivateTmpDir&) = delete;
    PrivateTmpDir& operator=(const PrivateTmpDir&) = delete;

private:
    std::string saved_;
    bool hadOne_ = false;
};

inline void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// While it lives, a reader that waits in open() on the pipe is released
// after `patience` by a writer opening the other end, so that a test of
// "opening never waits" fails instead of hanging.
class PipeUnblocker final {
public:
    PipeUnblocker(std::string pipe, std::chrono::milliseconds patience)
        : thread_([this, pipe = std::move(pipe), patience] {
              std::unique_lock<std::mutex> lock(mutex_);
              while (!done_) {
                  if (changed_.wait_for(lock, patience) == std::cv_status::timeout && !done_) {
                      const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
                      if (fd >= 0)
                          ::close(fd);
                  }
              }
          })
    {
    }
    ~PipeUnblocker()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    PipeUnblocker(const PipeUnblocker&) = delete;
    PipeUnblocker& operator=(const PipeUnblocker&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    std::thread thread_;
};

} // namespace vantrel::testing

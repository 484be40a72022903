// Test doubles shared by the shell tests: a message prompt with scripted
// answers, a service whose results the test sets, a private temporary
// folder and a bounded wait for a condition.
#pragma once

#include "foundation/service_control.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::test {

struct PromptCall {
    std::string text;
    std::string title;
    PromptButtons buttons;
    PromptIcon icon;
};

class ScriptedPrompt final : public MessagePrompt {
public:
    std::deque<PromptAnswer> answers;
    std::vector<PromptCall> calls;

    PromptAnswer show(std::string_view text, std::string_view title, PromptButtons buttons, PromptIcon icon) override
    {
        calls.push_back({std::string(text), std::string(title), buttons, icon});
        if (answers.empty())
            return buttons == PromptButtons::YesNo ? PromptAnswer::No : PromptAnswer::Ok;
        const PromptAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

// Results are taken from the front of each list; the last one repeats.
class FakeService final : public ServiceControl {
public:
    FakeService(std::string name, std::vector<std::string>& journal) : name_(std::move(name)), journal_(journal) {}

    std::vector<bool> loadResults{true};
    std::vector<bool> saveResults{true};
    bool activateResult = true;
    bool autostartFlag = false;
    bool active = false;
    int connections = 0;
    std::uint64_t bytesIn = 0;
    std::uint64_t bytesOut = 0;
    int loads = 0;
    int saves = 0;
    int ticks = 0;

    bool loadSettings() override
    {
        note("load");
        return next(loadResults, loads++);
    }
    bool saveSettings() override
    {
        note("save");
        return next(saveResults, saves++);
    }
    bool autostart() const override { return autostartFlag; }
    bool isActive() const override { return active; }
    bool activate() override
    {
        note("activate");
        active = activateResult;
        return activateResult;
    }
    void deactivate() override
    {
        note("deactivate");
        active = false;
    }
    int connectionCount() const override { return connections; }
    std::uint64_t totalBytesIn() const override { return bytesIn; }
    std::uint64_t totalBytesOut() const override { return bytesOut; }
    void tick() override { ++ticks; }

private:
    static bool next(const std::vector<bool>& results, int index)
    {
        const auto at = static_cast<std::size_t>(index);
        return at < results.size() ? results[at] : results.back();
    }
    void note(const char* what) { journal_.push_back(name_ + "." + what); }

    std::string name_;
    std::vector<std::string>& journal_;
};

class TempFolder final {
public:
    TempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vt-shell-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace vantrel::test

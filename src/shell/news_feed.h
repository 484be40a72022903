// NewsFeed: the background worker that fetches the maker's one-line news
// over plain HTTP at start and then once per interval, and keeps the text
// for the main window's once-a-second refresh.
#pragma once

#include "foundation/critical_lock.h"
#include "foundation/worker_thread.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel {

class LineSocket;

struct NewsFeedTiming {
    int initialDelayMs = 2000; // before the first retrieval
    int stepMs = 1000;         // sleeping step between retrievals
    // Idle waiting allowed per retrieval (sending and reading together):
    // 2400 pauses of 2 ms.
    int idleBudgetMs = 4800;
};

class NewsFeed final : public WorkerThread {
public:
    static constexpr std::uint32_t DefaultIntervalMs = 86400000;
    static constexpr std::uint16_t DefaultPort = 80;
    static constexpr std::size_t MaxTextLength = 2047;
    static constexpr std::size_t MaxHostLength = 255;
    static constexpr std::size_t MaxPathLength = 1023;
    static constexpr std::size_t MaxProductLength = 1023;
    static constexpr std::size_t LineCapacity = 3000;

    NewsFeed(std::uint32_t intervalMs, std::string host, std::uint16_t port, std::string path, std::string product,
             NewsFeedTiming timing = {});
    ~NewsFeed() override;

    // Stops a running worker, shows the "attempting" text and starts again.
    [[nodiscard]] bool startNews();
    bool hasNewText() const;
    // Copies the text, cut to capacity - 1 bytes and zero-terminated.
    void copyText(char* dest, std::size_t capacity) const;
    std::string text() const;
    void markShown();

    static std::string noNewsText(const std::string& product);

protected:
    void run() override;

private:
    enum class Outcome {
        Done,
        Stopped
    };

    Outcome retrieve();
    Outcome sendRequest(LineSocket& socket, int& budgetMs);
    Outcome readResponse(LineSocket& socket, int& budgetMs);
    // Waits for the socket within the idle budget; false once it is spent.
    bool idleWait(LineSocket& socket, bool forWriting, int& budgetMs);
    void setText(const std::string& value);

    const std::uint32_t intervalMs_;
    const std::string host_;
    const std::uint16_t port_;
    const std::string path_;
    const std::string product_;
    const NewsFeedTiming timing_;

    mutable CriticalLock lock_;
    std::string text_ VT_GUARDED_BY(lock_);
    bool newText_ VT_GUARDED_BY(lock_) = false;
};

} // namespace vantrel

// The news worker: a small HTTP/1.1 client of its own on a LineSocket. One
// retrieval sends a fixed GET, accepts only a status line with " 200 ", skips
// the headers and joins the body lines with CR LF. Every failure leaves the
// fixed "no news" text; a stop request abandons a retrieval at once.
#include "shell/news_feed.h"

#include "foundation/clock.h"
#include "foundation/line_socket.h"
#include "foundation/text.h"

#include <cstring>
#include <utility>

namespace vantrel {

namespace {

constexpr char TextAttempting[] = "Attempting to retrieve news...";
constexpr char TextNoNews[] = "%s: No news available.";
// The news server answers this request as it always has: its headers,
// the old browser name and the fixed date included, stay byte for byte,
// since the server's logs and its choice of text may depend on them.
constexpr char RequestFormat[] = "GET %s HTTP/1.1\r\nAccept: */*\r\nPragma: no-cache\r\n"
                                 "If-Modified-Since: Thu, 15 Mar 2001 12:36:46 GMT\r\n"
                                 "User-Agent: Mozilla/4.0 (compatible; MSIE 5.5; Windows 98)\r\n"
                                 "Host: %s\r\nReferer: %s\r\nConnection: Close\r\n\r\n";
constexpr char StatusOk[] = " 200 ";
// Path, host and product at their limits plus the fixed text.
constexpr std::size_t MaxRequestLength = 4096;

} // namespace

NewsFeed::NewsFeed(std::uint32_t intervalMs, std::string host, std::uint16_t port, std::string path,
                   std::string product, NewsFeedTiming timing)
    : intervalMs_(intervalMs), host_(cutText(host, MaxHostLength)), port_(port), path_(cutText(path, MaxPathLength)),
      product_(cutText(product, MaxProductLength)), timing_(timing)
{
}

NewsFeed::~NewsFeed()
{
    stop(StopTimeoutMs);
}

std::string NewsFeed::noNewsText(const std::string& product)
{
    return formatText(MaxTextLength, TextNoNews, product.c_str());
}

bool NewsFeed::startNews()
{
    stop(StopTimeoutMs);
    {
        LockGuard guard(lock_);
        text_ = TextAttempting;
        newText_ = true;
    }
    return start();
}

bool NewsFeed::hasNewText() const
{
    LockGuard guard(lock_);
    return newText_;
}

void NewsFeed::copyText(char* dest, std::size_t capacity) const
{
    LockGuard guard(lock_);
    copyBounded(dest, capacity, text_);
}

std::string NewsFeed::text() const
{
    LockGuard guard(lock_);
    return text_;
}

void NewsFeed::markShown()
{
    LockGuard guard(lock_);
    newText_ = false;
}

void NewsFeed::setText(const std::string& value)
{
    LockGuard guard(lock_);
    if (value == text_)
        return;
    text_ = value;
    newText_ = true;
}

void NewsFeed::run()
{
    if (pause(timing_.initialDelayMs))
        return;
    // Start as if a whole interval had passed: the first retrieval is at once.
    std::uint64_t elapsed = intervalMs_;
    while (!stopRequested()) {
        if (elapsed < intervalMs_) {
            if (pause(timing_.stepMs))
                return;
            elapsed += static_cast<std::uint64_t>(timing_.stepMs);
            continue;
        }
        elapsed = 0;
        if (retrieve() == Outcome::Stopped)
            return;
    }
}

bool NewsFeed::idleWait(LineSocket& socket, bool forWriting, int& budgetMs)
{
    if (budgetMs <= 0)
        return false;
    const std::uint32_t before = tickCount();
    waitFor({{&socket, forWriting ? WaitFor::Writable : WaitFor::Readable}}, budgetMs);
    budgetMs -= static_cast<int>(tickCount() - before);
    return true;
}

NewsFeed::Outcome NewsFeed::retrieve()
{
    LineSocket socket;
    if (!socket.connectTo(host_.c_str(), port_, stopEventDescriptor())) {
        setText(noNewsText(product_));
        return Outcome::Done;
    }
    int budgetMs = timing_.idleBudgetMs;
    if (sendRequest(socket, budgetMs) == Outcome::Stopped)
        return Outcome::Stopped;
    if (!socket.isConnected()) {
        setText(noNewsText(product_));
        return Outcome::Done;
    }
    return readResponse(socket, budgetMs);
}

NewsFeed::Outcome NewsFeed::sendRequest(LineSocket& socket, int& budgetMs)
{
    const std::string request =
        formatText(MaxRequestLength, RequestFormat, path_.c_str(), host_.c_str(), product_.c_str());
    std::size_t offset = 0;
    while (offset < request.size()) {
        if (stopRequested())
            return Outcome::Stopped;
        std::size_t length = request.size() - offset;
        if (!socket.sendSome(request.data() + offset, length))
            break;
        offset += length;
        if (length == 0 && !idleWait(socket, true, budgetMs)) {
            socket.close();
            break;
        }
    }
    return stopRequested() ? Outcome::Stopped : Outcome::Done;
}

NewsFeed::Outcome NewsFeed::readResponse(LineSocket& socket, int& budgetMs)
{
    enum class Stage {
        Status,
        Headers,
        Body
    } stage = Stage::Status;
    std::string body;
    bool gotBody = false;
    char line[LineCapacity];
    for (;;) {
        if (stopRequested())
            return Outcome::Stopped;
        if (!socket.readLine(line, sizeof line)) {
            if (socket.lastError() != SocketError::NoLineYet)
                break;
            // The budget is spent: end as if the server had closed.
            if (!idleWait(socket, false, budgetMs))
                break;
            continue;
        }
        switch (stage) {
        case Stage::Status:
            if (std::strstr(line, StatusOk) == nullptr) {
                setText(noNewsText(product_));
                return Outcome::Done;
            }
            stage = Stage::Headers;
            break;
        case Stage::Headers:
            if (line[0] == '\0')
                stage = Stage::Body;
            break;
        case Stage::Body:
            if (gotBody)
                body += "\r\n";
            body += line;
            if (body.size() > MaxTextLength)
                body.resize(MaxTextLength);
            gotBody = true;
            break;
        }
    }
    if (stopRequested())
        return Outcome::Stopped;
    setText(gotBody ? body : noNewsText(product_));
    return Outcome::Done;
}

} // namespace vantrel

// The failed-login table: admitting, concluding, ageing and making room.
#include "foundation/login_throttle.h"

#include <algorithm>
#include <tuple>
#include <utility>

namespace vantrel {

LoginAttempt::LoginAttempt(LoginAttempt&& other) noexcept
    : throttle_(std::exchange(other.throttle_, nullptr)), address_(other.address_), admitted_(other.admitted_)
{
}

LoginAttempt::~LoginAttempt()
{
    succeeded();
}

bool LoginAttempt::failed(std::uint32_t now)
{
    LoginThrottle* throttle = std::exchange(throttle_, nullptr);
    return throttle != nullptr && throttle->conclude(address_, true, now);
}

void LoginAttempt::succeeded()
{
    if (LoginThrottle* throttle = std::exchange(throttle_, nullptr))
        (void)throttle->conclude(address_, false, 0);
}

LoginThrottle::LoginThrottle(int limit) : limit_(std::clamp(limit, 0, MaxLimit)) {}

void LoginThrottle::setLimit(int limit)
{
    LockGuard guard(lock_);
    limit = std::clamp(limit, 0, MaxLimit);
    if (limit == limit_)
        return;
    limit_ = limit;
    // Logins under way keep their entries, so that their conclusion finds them.
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->second.pending == 0) {
            it = entries_.erase(it);
            continue;
        }
        it->second = Entry{0, 0, 0, it->second.pending, false};
        ++it;
    }
}

int LoginThrottle::limit() const
{
    LockGuard guard(lock_);
    return limit_;
}

std::size_t LoginThrottle::size() const
{
    LockGuard guard(lock_);
    return entries_.size();
}

namespace {

// Milliseconds from `since` to `now`. Sessions read the clock before they
// take the lock, so `now` may come a little before a time another session
// stored meanwhile: that is no time passed, not a wrapped-around age.
std::uint32_t elapsed(std::uint32_t since, std::uint32_t now)
{
    const std::uint32_t difference = now - since;
    return static_cast<std::int32_t>(difference) < 0 ? 0 : difference;
}

} // namespace

void LoginThrottle::age(Entry& entry, std::uint32_t now)
{
    if (entry.refusing) {
        if (elapsed(entry.refusedSince, now) < RefusalMs)
            return;
        entry.refusing = false;
        entry.failures = 0;
    }
    if (entry.failures > 0 && elapsed(entry.windowStart, now) >= WindowMs)
        entry.failures = 0;
}

bool LoginThrottle::isSpent(const Entry& entry, std::uint32_t now)
{
    Entry aged = entry;
    age(aged, now);
    return aged.pending == 0 && aged.failures == 0 && !aged.refusing;
}

LoginThrottle::Entry& LoginThrottle::entryFor(std::uint32_t address, std::uint32_t now)
{
    if (const auto found = entries_.find(address); found != entries_.end())
        return found->second;
    if (entries_.size() >= Capacity) {
        std::erase_if(entries_, [now](const auto& item) { return isSpent(item.second, now); });
    }
    if (entries_.size() >= Capacity) {
        // Still full: the entry whose minute began longest ago goes; one
        // that refuses, or has logins under way, only when no other can.
        auto oldest = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            const auto key = [now](const Entry& e) {
                return std::tuple(e.pending == 0, !e.refusing,
                                  elapsed(e.refusing ? e.refusedSince : e.windowStart, now));
            };
            if (oldest == entries_.end() || key(it->second) > key(oldest->second))
                oldest = it;
        }
        entries_.erase(oldest);
    }
    return entries_[address];
}

LoginAttempt LoginThrottle::attempt(std::uint32_t address, std::uint32_t now)
{
    LockGuard guard(lock_);
    if (limit_ == 0)
        return LoginAttempt(nullptr, address, true);
    Entry& entry = entryFor(address, now);
    age(entry, now);
    if (entry.refusing || entry.failures + entry.pending >= limit_)
        return LoginAttempt(nullptr, address, false);
    ++entry.pending;
    return LoginAttempt(this, address, true);
}

bool LoginThrottle::conclude(std::uint32_t address, bool failure, std::uint32_t now)
{
    LockGuard guard(lock_);
    if (const auto found = entries_.find(address); found != entries_.end())
        found->second.pending = std::max(found->second.pending - 1, 0);
    if (!failure || limit_ == 0)
        return false;
    // Made afresh when room was needed for other addresses meanwhile.
    Entry& entry = entryFor(address, now);
    age(entry, now);
    if (entry.refusing)
        return false;
    if (entry.failures == 0)
        entry.windowStart = now;
    if (++entry.failures < limit_)
        return false;
    entry.refusing = true;
    entry.refusedSince = now;
    return true;
}

} // namespace vantrel

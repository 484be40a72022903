// LoginThrottle: failed logins per client address, shared by the sessions
// of one service, so that guessing a password over many connections at once
// is as slow as guessing over one. After `limit` failures within a minute
// of the first, every login from that address is refused, whatever the
// password, for the next minute. The table holds a bounded number of
// addresses; an entry whose minute has passed goes when room is needed.
// Times are tick counts (clock.h), passed in by the caller.
#pragma once

#include "foundation/critical_lock.h"

#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace vantrel {

class LoginThrottle;

// One login's place in the throttle: admitted or not, then concluded as a
// failure or not. A login that ends unconcluded counts as no failure.
class LoginAttempt final {
public:
    LoginAttempt(LoginAttempt&& other) noexcept;
    LoginAttempt& operator=(LoginAttempt&&) = delete;
    LoginAttempt(const LoginAttempt&) = delete;
    LoginAttempt& operator=(const LoginAttempt&) = delete;
    ~LoginAttempt();

    // False while the address is throttled: the password is not to be
    // checked, and the login fails.
    bool admitted() const { return admitted_; }
    // The password was wrong. True when this failure starts the throttle,
    // which the caller logs once.
    [[nodiscard]] bool failed(std::uint32_t now);
    void succeeded();

private:
    friend class LoginThrottle;
    LoginAttempt(LoginThrottle* throttle, std::uint32_t address, bool admitted)
        : throttle_(throttle), address_(address), admitted_(admitted)
    {
    }

    LoginThrottle* throttle_ = nullptr; // null when there is nothing to conclude
    std::uint32_t address_ = 0;
    bool admitted_ = false;
};

class LoginThrottle final {
public:
    static constexpr int DefaultLimit = 10;
    // The largest limit the settings take.
    static constexpr int MaxLimit = 1000;
    static constexpr std::uint32_t WindowMs = 60000;
    static constexpr std::uint32_t RefusalMs = 60000;
    static constexpr std::size_t Capacity = 4096;

    explicit LoginThrottle(int limit = DefaultLimit);
    LoginThrottle(const LoginThrottle&) = delete;
    LoginThrottle& operator=(const LoginThrottle&) = delete;

    // 0 switches the throttle off; a change starts every address afresh.
    void setLimit(int limit);
    int limit() const;

    // Call before checking a password. Logins under way count against the
    // limit too, so that many sent at once cannot pass it.
    [[nodiscard]] LoginAttempt attempt(std::uint32_t address, std::uint32_t now);

    // For tests: addresses in the table.
    std::size_t size() const;

private:
    friend class LoginAttempt;
    struct Entry {
        std::uint32_t windowStart = 0; // the first failure of the minute
        std::uint32_t refusedSince = 0;
        int failures = 0;
        int pending = 0; // admitted logins not yet concluded
        bool refusing = false;
    };

    // True when this failure starts the refusal.
    bool conclude(std::uint32_t address, bool failure, std::uint32_t now);
    // Ends a minute that has passed.
    static void age(Entry& entry, std::uint32_t now);
    static bool isSpent(const Entry& entry, std::uint32_t now);
    // The entry of the address, made (room made first) when missing.
    Entry& entryFor(std::uint32_t address, std::uint32_t now) VT_REQUIRES(lock_);

    mutable CriticalLock lock_;
    std::unordered_map<std::uint32_t, Entry> entries_ VT_GUARDED_BY(lock_);
    int limit_ VT_GUARDED_BY(lock_);
};

} // namespace vantrel

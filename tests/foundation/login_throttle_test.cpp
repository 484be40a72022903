// The failed-login table: the limit within a minute, the minute of
// refusals, logins under way, switching off, and its bounded size.
#include "foundation/login_throttle.h"

#include <gtest/gtest.h>

#include <vector>

namespace vantrel {
namespace {

enum class Act {
    Fail,
    Succeed
};
enum class Seen {
    Admitted,
    AdmittedAndStarted,
    Refused
};

struct Step {
    std::uint32_t address;
    std::uint32_t at;
    Act act;
    Seen seen;
};

constexpr std::uint32_t A = 0x0100007f;
constexpr std::uint32_t B = 0x0200007f;

Seen run(LoginThrottle& throttle, const Step& step)
{
    LoginAttempt attempt = throttle.attempt(step.address, step.at);
    if (!attempt.admitted())
        return Seen::Refused;
    if (step.act == Act::Succeed) {
        attempt.succeeded();
        return Seen::Admitted;
    }
    return attempt.failed(step.at) ? Seen::AdmittedAndStarted : Seen::Admitted;
}

TEST(LoginThrottle, LimitWithinAMinuteThenAMinuteOfRefusals)
{
    LoginThrottle throttle(3);
    const Step steps[] = {
        {A, 0, Act::Fail, Seen::Admitted},
        {A, 1000, Act::Succeed, Seen::Admitted}, // a success does not undo failures
        {A, 2000, Act::Fail, Seen::Admitted},
        {B, 2500, Act::Fail, Seen::Admitted}, // every address counts alone
        {A, 3000, Act::Fail, Seen::AdmittedAndStarted},
        {A, 4000, Act::Succeed, Seen::Refused}, // whatever the password
        {B, 4000, Act::Succeed, Seen::Admitted},
        {A, 62999, Act::Succeed, Seen::Refused},
        {A, 63000, Act::Succeed, Seen::Admitted}, // the minute has passed
        {A, 64000, Act::Fail, Seen::Admitted},
        {A, 90000, Act::Fail, Seen::Admitted},
        // The minute from the first failure is over: counting starts again.
        {A, 124000, Act::Fail, Seen::Admitted},
        {A, 125000, Act::Fail, Seen::Admitted},
        {A, 126000, Act::Fail, Seen::AdmittedAndStarted},
        {A, 127000, Act::Fail, Seen::Refused},
        // Refused attempts do not stretch the minute.
        {A, 186000, Act::Succeed, Seen::Admitted},
    };
    for (const Step& step : steps)
        EXPECT_EQ(run(throttle, step), step.seen) << "at " << step.at;
}

TEST(LoginThrottle, LoginsUnderWayCountSoThatManyAtOnceCannotPass)
{
    LoginThrottle throttle(3);
    std::vector<LoginAttempt> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(throttle.attempt(A, 0));
        EXPECT_TRUE(held.back().admitted());
    }
    EXPECT_FALSE(throttle.attempt(A, 0).admitted());
    held[0].succeeded();
    EXPECT_TRUE(throttle.attempt(A, 0).admitted()); // concluded at once as no failure
    EXPECT_FALSE(held[1].failed(10));
    EXPECT_FALSE(held[2].failed(20));
    LoginAttempt last = throttle.attempt(A, 30);
    EXPECT_TRUE(last.admitted());
    EXPECT_TRUE(last.failed(30));
    EXPECT_FALSE(throttle.attempt(A, 40).admitted());

    // Sessions read the clock before the lock: a failure concluded with a
    // time just before the window's start still counts in that window.
    LoginThrottle racing(2);
    LoginAttempt early = racing.attempt(A, 1000);
    LoginAttempt late = racing.attempt(A, 1005);
    EXPECT_FALSE(late.failed(1005));
    EXPECT_TRUE(early.failed(1000));
    EXPECT_FALSE(racing.attempt(A, 1010).admitted());
}

TEST(LoginThrottle, ZeroSwitchesItOffAndAChangeStartsAfresh)
{
    LoginThrottle throttle(2);
    EXPECT_EQ(run(throttle, {A, 0, Act::Fail, Seen::Admitted}), Seen::Admitted);
    EXPECT_EQ(run(throttle, {A, 0, Act::Fail, Seen::Admitted}), Seen::AdmittedAndStarted);
    throttle.setLimit(0);
    for (std::uint32_t at = 0; at < 50; ++at)
        EXPECT_EQ(run(throttle, {A, at, Act::Fail, Seen::Admitted}), Seen::Admitted);
    throttle.setLimit(2);
    EXPECT_EQ(run(throttle, {A, 100, Act::Fail, Seen::Admitted}), Seen::Admitted);
    EXPECT_EQ(throttle.limit(), 2);
    throttle.setLimit(LoginThrottle::MaxLimit + 5);
    EXPECT_EQ(throttle.limit(), LoginThrottle::MaxLimit);
}

TEST(LoginThrottle, TheTableStaysBoundedAndKeepsRefusingRecentAddresses)
{
    LoginThrottle throttle(1);
    EXPECT_EQ(run(throttle, {A, 0, Act::Fail, Seen::Admitted}), Seen::AdmittedAndStarted);
    // Many more addresses, each refused after a failure, long after: A's
    // minute is over, so its entry may go; the table never grows past its
    // bound, and the oldest entries make room.
    constexpr std::uint32_t More = LoginThrottle::Capacity + 100;
    for (std::uint32_t i = 0; i < More; ++i)
        (void)run(throttle, {0x0a000000 + i, 70000 + i, Act::Fail, Seen::Admitted});
    EXPECT_LE(throttle.size(), LoginThrottle::Capacity);
    EXPECT_EQ(run(throttle, {A, 80000, Act::Succeed, Seen::Admitted}), Seen::Admitted);
    // The newest are still in their minute, and refused.
    EXPECT_EQ(run(throttle, {0x0a000000 + More - 1, 80001, Act::Succeed, Seen::Refused}), Seen::Refused);
}

} // namespace
} // namespace vantrel

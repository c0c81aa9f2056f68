// The answer limits of the LAN EchoResponder, driven by a hand-set clock.

#include "probe_limiter.h"

#include <gtest/gtest.h>

using namespace zapfer;
using namespace std::chrono_literals;

namespace {
using Time = ProbeLimiter::Clock::time_point;
const Time kStart = Time() + 1000s;

// How many of `count` probes from `source` at `now` are let through.
int allowed(ProbeLimiter& limiter, uint32_t source, int count, Time now) {
    int passed = 0;
    for (int i = 0; i < count; ++i)
        passed += limiter.allow(source, now) ? 1 : 0;
    return passed;
}
} // namespace

TEST(ProbeLimiter, OneSourceGetsTenAnswersASecond) {
    ProbeLimiter limiter;
    EXPECT_EQ(allowed(limiter, 7, 50, kStart), 10);
    // Still within the same second: nothing more for it, but another source is served.
    EXPECT_EQ(allowed(limiter, 7, 5, kStart + 999ms), 0);
    EXPECT_EQ(allowed(limiter, 8, 5, kStart + 999ms), 5);
}

TEST(ProbeLimiter, AllSourcesTogetherGetAHundredASecond) {
    ProbeLimiter limiter;
    int passed = 0;
    for (uint32_t source = 1; source <= 30; ++source)
        passed += allowed(limiter, source, 10, kStart + std::chrono::milliseconds(source));
    EXPECT_EQ(passed, 100);
    EXPECT_FALSE(limiter.allow(999, kStart + 500ms)) << "a new source over the total";
    EXPECT_TRUE(limiter.allow(999, kStart + 1001ms)) << "the oldest answer has left the window";
}

TEST(ProbeLimiter, TheWindowSlides) {
    ProbeLimiter limiter;
    // Five answers at 0 ms and five at 600 ms fill the source's second.
    EXPECT_EQ(allowed(limiter, 3, 5, kStart), 5);
    EXPECT_EQ(allowed(limiter, 3, 5, kStart + 600ms), 5);
    EXPECT_EQ(allowed(limiter, 3, 1, kStart + 999ms), 0);
    // At 1000 ms only the first five have aged out.
    EXPECT_EQ(allowed(limiter, 3, 10, kStart + 1000ms), 5);
    EXPECT_EQ(allowed(limiter, 3, 10, kStart + 1599ms), 0);
    EXPECT_EQ(allowed(limiter, 3, 10, kStart + 1600ms), 5);
    // A long quiet spell restores the full allowance.
    EXPECT_EQ(allowed(limiter, 3, 20, kStart + 60s), 10);
}

TEST(ProbeLimiter, ARefusedProbeDoesNotCount) {
    // A flood that is refused must not keep the source shut out once its
    // answered probes have aged out.
    ProbeLimiter limiter(2, 100, 1s);
    EXPECT_EQ(allowed(limiter, 1, 2, kStart), 2);
    for (int ms = 1; ms < 1000; ms += 10)
        EXPECT_FALSE(limiter.allow(1, kStart + std::chrono::milliseconds(ms)));
    EXPECT_EQ(allowed(limiter, 1, 5, kStart + 1000ms), 2);
}

TEST(ProbeSourcePort, PrivilegedAndDiscoveryPortsAreNeverAnswered) {
    for (const uint16_t port : {0, 1, 53, 123, 1023})
        EXPECT_FALSE(isProbeSourcePortAnswerable(port, 1755, 1755)) << port;
    EXPECT_FALSE(isProbeSourcePortAnswerable(1755, 1755, 1755));
    EXPECT_FALSE(isProbeSourcePortAnswerable(40000, 40000, 1755)) << "this responder's own port";
    EXPECT_FALSE(isProbeSourcePortAnswerable(40001, 40000, 40001)) << "the probe port";
    EXPECT_TRUE(isProbeSourcePortAnswerable(1024, 1755, 1755));
    EXPECT_TRUE(isProbeSourcePortAnswerable(51234, 1755, 1755));
}

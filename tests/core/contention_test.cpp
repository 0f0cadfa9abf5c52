// The pool's back-off after stalls: which pooled jobs count as a stall, how long the caller then
// works alone, how the serial period grows while stalls recur and when it starts over. Times
// are nanoseconds of a made-up clock.

#include "contention.hpp"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace zel::parallel::detail {
namespace {

constexpr std::int64_t MS = 1'000'000;
constexpr std::int64_t US = 1'000;

struct Job {
    std::int64_t worked;  // start to the caller's last own chunk
    std::int64_t waited;  // from there to the job's end
    bool stall;
};

TEST(ContentionBackoff, OnlyWaitsLongerThanTheCallersWorkAndOneMillisecondAreStalls) {
    const std::vector<Job> jobs = {
        {20 * US, 30 * US, false},    // the worker's last chunk: the normal end of a job
        {100 * US, 900 * US, false},  // long, but under a millisecond
        {5 * MS, 4 * MS, false},      // shorter than the caller's own work
        {200 * US, 1 * MS, true},     // exactly a millisecond, beyond the work
        {50 * US, 16 * MS, true},     // a scheduler tick
    };
    for (const Job& job : jobs) {
        ContentionBackoff backoff;
        const std::int64_t start = 100 * MS;
        const std::int64_t end = start + job.worked + job.waited;
        backoff.record(start, start + job.worked, end);
        EXPECT_EQ(backoff.pool_allowed(end), !job.stall) << job.worked << " " << job.waited;
        EXPECT_TRUE(backoff.pool_allowed(end + ContentionBackoff::FIRST_BACKOFF_NS));
    }
}

TEST(ContentionBackoff, SerialPeriodDoublesWhileStallsRecurAndHalvesAfterCalmPooledRunning) {
    ContentionBackoff backoff;
    std::int64_t now = 0;
    std::int64_t expected = ContentionBackoff::FIRST_BACKOFF_NS;
    const auto stall = [&] {
        backoff.record(now, now + 10 * US, now + 10 * US + 5 * MS);
        now += 10 * US + 5 * MS;
    };
    const auto clean = [&](std::int64_t duration) {
        backoff.record(now, now + duration, now + duration);
        now += duration;
    };
    const auto serial_for = [&](std::int64_t period) {
        EXPECT_FALSE(backoff.pool_allowed(now + period - 1)) << period;
        EXPECT_TRUE(backoff.pool_allowed(now + period)) << period;
        now += period;
    };
    for (int round = 0; round < 12; ++round) {
        stall();
        serial_for(expected);
        expected = std::min(2 * expected, ContentionBackoff::MAX_BACKOFF_NS);
    }
    EXPECT_EQ(expected, ContentionBackoff::MAX_BACKOFF_NS);
    // Clean pooled jobs shorter in total than the period leave it where it is.
    for (int job = 0; job < 100; ++job) {
        clean(100 * US);
    }
    stall();
    serial_for(ContentionBackoff::MAX_BACKOFF_NS);
    // Calm running as long as the period halves it, down to the first period and no further.
    for (std::int64_t period = ContentionBackoff::MAX_BACKOFF_NS;
         period > ContentionBackoff::FIRST_BACKOFF_NS; period /= 2) {
        clean(period);
    }
    clean(ContentionBackoff::MAX_BACKOFF_NS);
    stall();
    serial_for(ContentionBackoff::FIRST_BACKOFF_NS);
}

// A new thread count lets the pool run at once, but a stall then backs off as long as before.
TEST(ContentionBackoff, AllowNowEndsTheSerialPeriodButKeepsItsLength) {
    ContentionBackoff backoff;
    std::int64_t now = 0;
    for (int round = 0; round < 3; ++round) {
        backoff.record(now, now + 10 * US, now + 10 * US + 5 * MS);
        now += 10 * US + 5 * MS;
    }
    EXPECT_FALSE(backoff.pool_allowed(now));
    backoff.allow_now();
    EXPECT_TRUE(backoff.pool_allowed(now));
    backoff.record(now, now + 10 * US, now + 10 * US + 5 * MS);
    now += 10 * US + 5 * MS;
    const std::int64_t learned = 8 * ContentionBackoff::FIRST_BACKOFF_NS;
    EXPECT_FALSE(backoff.pool_allowed(now + learned - 1));
    EXPECT_TRUE(backoff.pool_allowed(now + learned));
}

}  // namespace
}  // namespace zel::parallel::detail

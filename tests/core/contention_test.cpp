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

TEST(ContentionBackoff,
     SerialPeriodDoublesWhileStallsRecurUpToTheLimitAndStartsOverAfterACleanJob) {
    ContentionBackoff backoff;
    std::int64_t now = 0;
    std::int64_t expected = ContentionBackoff::FIRST_BACKOFF_NS;
    const auto stall = [&] {
        backoff.record(now, now + 10 * US, now + 10 * US + 5 * MS);
        now += 10 * US + 5 * MS;
    };
    for (int round = 0; round < 12; ++round) {
        stall();
        EXPECT_FALSE(backoff.pool_allowed(now + expected - 1)) << round;
        EXPECT_TRUE(backoff.pool_allowed(now + expected)) << round;
        now += expected;
        expected = std::min(2 * expected, ContentionBackoff::MAX_BACKOFF_NS);
    }
    EXPECT_EQ(expected, ContentionBackoff::MAX_BACKOFF_NS);
    // A pooled job that ends without a stall: the next stall backs off for the first period.
    backoff.record(now, now + 30 * US, now + 40 * US);
    now += 40 * US;
    stall();
    EXPECT_TRUE(backoff.pool_allowed(now + ContentionBackoff::FIRST_BACKOFF_NS));
    EXPECT_FALSE(backoff.pool_allowed(now + ContentionBackoff::FIRST_BACKOFF_NS - 1));
}

}  // namespace
}  // namespace zel::parallel::detail

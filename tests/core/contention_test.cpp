// The pool's back-off after stalls: which pooled jobs count as a stall, how long the caller then
// works alone, how the serial period grows while stalls recur and when it starts over. Times
// are nanoseconds of a made-up clock.

#include "contention.hpp"

#include <cstddef>
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
    std::size_t own;      // chunks the caller ran, of 8
    std::int64_t spread;  // slowest minus fastest of the caller's chunks
    bool stall;
};

TEST(ContentionBackoff, StallsAreLongWaitsThatCostMoreThanTheWorkersChunksOrALostCore) {
    constexpr std::int64_t STALL = ContentionBackoff::STALL_NS;
    const std::vector<Job> jobs = {
        {20 * US, 30 * US, 4, 2 * US, false},   // the worker's last chunk: a normal end
        {STALL, STALL - 1, 7, 0, false},        // long, but under the threshold
        {5 * MS, 4 * MS, 4, 0, false},          // the caller would have needed 5 ms for them
        {5 * MS, 4 * MS, 7, 0, true},           // but under 1 ms for the one chunk it left
        {7 * MS, 1 * MS, 7, 0, false},          // exactly the time the caller would have taken
        {1 * MS, 8 * MS, 1, 0, true},           // 7 ms at the caller's pace against 8 waited
        {STALL / 4, STALL, 4, 0, true},         // exactly the threshold, beyond the work
        {50 * US, 16 * MS, 4, 0, true},         // a scheduler tick
        {0, 2 * MS, 0, 0, true},                // the workers took every chunk, yet it waited
        {STALL, 10 * US, 8, STALL - 1, false},  // the caller's chunks differ, but not by much
        {STALL, 10 * US, 8, STALL, true},       // the caller lost its core inside a chunk
        {2 * STALL, 10 * US, 8, STALL, false},  // for exactly half of its time
        {4 * MS, 10 * US, 8, 1 * MS, false},    // a small part of a long job: page faults
        {4 * MS, 10 * US, 8, 3 * MS, true},     // most of it
    };
    for (const Job& job : jobs) {
        ContentionBackoff backoff;
        const std::int64_t start = 100 * MS;
        const std::int64_t end = start + job.worked + job.waited;
        backoff.record({.start = start,
                        .own_done = start + job.worked,
                        .end = end,
                        .own = job.own,
                        .chunks = 8,
                        .own_spread = job.spread});
        EXPECT_EQ(backoff.pool_allowed(end), !job.stall)
            << job.worked << " " << job.waited << " " << job.own << " " << job.spread;
        EXPECT_TRUE(backoff.pool_allowed(end + ContentionBackoff::FIRST_BACKOFF_NS));
    }
}

// A job of two chunks, one each, that kept the caller waiting `waited` after its `worked`.
PooledJob job_at(std::int64_t now, std::int64_t worked, std::int64_t waited) {
    return {.start = now,
            .own_done = now + worked,
            .end = now + worked + waited,
            .own = 1,
            .chunks = 2};
}

TEST(ContentionBackoff, SerialPeriodDoublesWhileStallsRecurAndHalvesAfterCalmPooledRunning) {
    ContentionBackoff backoff;
    std::int64_t now = 0;
    std::int64_t expected = ContentionBackoff::FIRST_BACKOFF_NS;
    const auto stall = [&] {
        backoff.record(job_at(now, 10 * US, 5 * MS));
        now += 10 * US + 5 * MS;
    };
    const auto clean = [&](std::int64_t duration) {
        backoff.record(job_at(now, duration, 0));
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
        backoff.record(job_at(now, 10 * US, 5 * MS));
        now += 10 * US + 5 * MS;
    }
    EXPECT_FALSE(backoff.pool_allowed(now));
    backoff.allow_now();
    EXPECT_TRUE(backoff.pool_allowed(now));
    backoff.record(job_at(now, 10 * US, 5 * MS));
    now += 10 * US + 5 * MS;
    const std::int64_t learned = 8 * ContentionBackoff::FIRST_BACKOFF_NS;
    EXPECT_FALSE(backoff.pool_allowed(now + learned - 1));
    EXPECT_TRUE(backoff.pool_allowed(now + learned));
}

}  // namespace
}  // namespace zel::parallel::detail

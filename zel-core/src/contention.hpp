#pragma once

// When the pool's workers share their cores with other processes, a worker can be descheduled in
// the middle of a chunk, and the caller, done with every other chunk, waits for it for as long as
// the scheduler keeps it off a core: milliseconds, against microseconds of work. Such waits make
// two threads several times slower than one. The pool therefore watches how long each pooled job
// kept the caller waiting after it ran out of chunks, and how evenly the caller's own chunks ran.
// After a wait that costs more than the caller would have taken to run the workers' chunks
// itself, or a chunk of the caller's that shows it lost its core, it runs the following jobs on
// the caller alone for a while (a back-off that doubles while such stalls recur and halves again
// as pooled jobs run without them). Which thread runs a chunk never changes a result: the chunks
// and the order their partials are combined in are fixed.

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace zel::parallel::detail {

/// What the caller saw of one job it ran with the workers; times are nanoseconds of a monotonic
/// clock.
struct PooledJob {
    std::int64_t start = 0;     ///< the job was published
    std::int64_t own_done = 0;  ///< the caller finished the last chunk it claimed
    std::int64_t end = 0;       ///< every chunk was done
    std::size_t own = 0;        ///< chunks the caller ran
    std::size_t chunks = 0;     ///< chunks in the job
    /// Slowest minus fastest of the caller's own chunks (0 when it ran fewer than two).
    std::int64_t own_spread = 0;
};

class ContentionBackoff {
  public:
    /// A wait counts as a stall from this long (200 us): several times the longest a normal
    /// chunk takes (tens of microseconds), well below a scheduler time slice.
    static constexpr std::int64_t STALL_NS = 200'000;
    /// First and longest serial period after a stall.
    static constexpr std::int64_t FIRST_BACKOFF_NS = 10'000'000;
    static constexpr std::int64_t MAX_BACKOFF_NS = 1'000'000'000;

    /// Whether a job that starts at `now` may use the workers.
    bool pool_allowed(std::int64_t now) const noexcept {
        return now >= serial_until_;
    }

    /// Ends the current serial period, if any, keeping what recent stalls taught: the next stall
    /// backs off as long as one now would have.
    void allow_now() noexcept {
        serial_until_ = 0;
    }

    /// Records a pooled job (see PooledJob). It stalled when the caller waited at least
    /// STALL_NS for the workers and longer than it would have taken, at its own pace, to run
    /// their chunks itself, or when one of the caller's own chunks took STALL_NS longer than
    /// another and that difference is more than half the caller's time in the job: chunks of one
    /// job cost about the same, so the caller lost its core for that long, most often to a worker
    /// of its own that the system put on the same core. (A smaller spread, such as the page
    /// faults of a fresh buffer, is left alone.) Either way the job ran slower than on the caller
    /// alone. A stall starts a serial period and doubles the next one; pooled jobs without a
    /// stall halve it again once they have run that long without one, so that a worker whose
    /// core another process holds for a while costs one stall per (long) period, not one per job
    /// that follows a lucky one.
    void record(const PooledJob& job) noexcept {
        if (stalled(job)) {
            serial_until_ = job.end + backoff_;
            calm_since_ = serial_until_;
            backoff_ = std::min(2 * backoff_, MAX_BACKOFF_NS);
        } else if (job.end - calm_since_ >= backoff_) {
            backoff_ = std::max(backoff_ / 2, FIRST_BACKOFF_NS);
            calm_since_ = job.end;
        }
    }

  private:
    // Whether the job lost time to the pool (see record). The wait is compared in floating
    // point, since its products overflow no integer type the counts fit in; a caller that ran
    // no chunk has no pace, and any long wait is then a stall.
    static bool stalled(const PooledJob& job) noexcept {
        if (job.own_spread >= STALL_NS && 2 * job.own_spread > job.own_done - job.start) {
            return true;
        }
        const std::int64_t waited = job.end - job.own_done;
        if (waited < STALL_NS) {
            return false;
        }
        if (job.own == 0) {
            return true;
        }
        const double theirs = static_cast<double>(job.chunks - std::min(job.own, job.chunks));
        return static_cast<double>(waited) * static_cast<double>(job.own) >
               static_cast<double>(job.own_done - job.start) * theirs;
    }

    std::int64_t serial_until_ = 0;
    // Since when pooled jobs have run without a stall (the end of the last serial period).
    std::int64_t calm_since_ = 0;
    std::int64_t backoff_ = FIRST_BACKOFF_NS;
};

/// The pool's one back-off, shared by the pool and the thread-count setting.
ContentionBackoff& pool_contention() noexcept;

}  // namespace zel::parallel::detail

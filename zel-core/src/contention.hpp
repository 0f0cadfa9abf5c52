#pragma once

// When the pool's workers share their cores with other processes, a worker can be descheduled in
// the middle of a chunk, and the caller, done with every other chunk, waits for it for as long as
// the scheduler keeps it off a core: milliseconds, against microseconds of work. Such waits make
// two threads several times slower than one. The pool therefore watches how long each pooled job
// kept the caller waiting after it ran out of chunks, and after a wait that costs more than the
// job's own work it runs the following jobs on the caller alone for a while (a back-off that
// doubles while the waits recur and halves again as pooled jobs run without them). Which thread
// runs a chunk never changes a result: the chunks and the order their partials are combined in
// are fixed.

#include <algorithm>
#include <cstdint>

namespace zel::parallel::detail {

class ContentionBackoff {
  public:
    /// A wait counts as a stall from this long (1 ms): far beyond the few tens of microseconds a
    /// worker's last chunk takes, well below a scheduler time slice.
    static constexpr std::int64_t STALL_NS = 1'000'000;
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

    /// Records a pooled job: it started at `start`, the caller had claimed its last chunk and
    /// finished it at `own_done`, and every chunk was done at `end` (nanoseconds of a monotonic
    /// clock). A stall starts a serial period and doubles the next one; pooled jobs without a
    /// stall halve it again once they have run that long without one, so that a worker whose
    /// core another process holds for a while costs one stall per (long) period, not one per
    /// job that follows a lucky one.
    void record(std::int64_t start, std::int64_t own_done, std::int64_t end) noexcept {
        const std::int64_t waited = end - own_done;
        const std::int64_t worked = own_done - start;
        if (waited >= STALL_NS && waited > worked) {
            serial_until_ = end + backoff_;
            calm_since_ = serial_until_;
            backoff_ = std::min(2 * backoff_, MAX_BACKOFF_NS);
        } else if (end - calm_since_ >= backoff_) {
            backoff_ = std::max(backoff_ / 2, FIRST_BACKOFF_NS);
            calm_since_ = end;
        }
    }

  private:
    std::int64_t serial_until_ = 0;
    // Since when pooled jobs have run without a stall (the end of the last serial period).
    std::int64_t calm_since_ = 0;
    std::int64_t backoff_ = FIRST_BACKOFF_NS;
};

}  // namespace zel::parallel::detail

#include "zel/core/parallel.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <exception>
#include <limits>
#include <mutex>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "zel/core/error.hpp"

#include "contention.hpp"
#include <linux/futex.h>

namespace zel::parallel {
namespace {

// Spin-wait steps that pause the core before a waiting thread starts to yield it instead.
constexpr int PAUSES_BEFORE_YIELD = 1 << 8;

// One spin-wait step: a pause instruction where there is one for the first steps, then a yield,
// so that a waiting thread that shares its core with the thread it waits for (a worker put
// there because another process holds the other core) lets that thread run.
inline void relax(int spin) noexcept {
#if defined(__x86_64__) || defined(__i386__)
    if (spin < PAUSES_BEFORE_YIELD) {
        __builtin_ia32_pause();
        return;
    }
#endif
    (void)spin;
    std::this_thread::yield();
}

// Sleeps while `word` holds `expected` (or until woken): the kernel compares atomically, so a
// change made before the call is never slept through.
void futex_wait(std::atomic<std::uint32_t>& word, std::uint32_t expected) noexcept {
    static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected,
              nullptr, nullptr, 0);
}

void futex_wake_all(std::atomic<std::uint32_t>& word) noexcept {
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE_PRIVATE, INT_MAX,
              nullptr, nullptr, 0);
}

// A 32-bit word that threads can sleep on until it changes. The count of sleepers spares the
// wake-up system call when nobody sleeps; both sides use sequentially consistent operations, so
// either the waker sees the sleeper or the sleeper's kernel check sees the new value.
class WaitWord {
  public:
    std::uint32_t load() const noexcept {
        return word_.load(std::memory_order_acquire);
    }

    void store_and_wake(std::uint32_t value) noexcept {
        word_.store(value, std::memory_order_seq_cst);
        wake();
    }

    std::uint32_t add_and_wake(std::uint32_t delta) noexcept {
        const std::uint32_t value = word_.fetch_add(delta, std::memory_order_seq_cst) + delta;
        wake();
        return value;
    }

    // Adds `delta` and wakes the sleepers only when the result is `wake_at`.
    std::uint32_t add(std::uint32_t delta, std::uint32_t wake_at) noexcept {
        const std::uint32_t value = word_.fetch_add(delta, std::memory_order_seq_cst) + delta;
        if (value == wake_at) {
            wake();
        }
        return value;
    }

    void reset(std::uint32_t value) noexcept {
        word_.store(value, std::memory_order_relaxed);
    }

    // Sleeps until the word differs from `seen` (or a spurious wake-up).
    void sleep_while(std::uint32_t seen) noexcept {
        sleepers_.fetch_add(1, std::memory_order_seq_cst);
        if (word_.load(std::memory_order_seq_cst) == seen) {
            futex_wait(word_, seen);
        }
        sleepers_.fetch_sub(1, std::memory_order_seq_cst);
    }

  private:
    void wake() noexcept {
        if (sleepers_.load(std::memory_order_seq_cst) != 0) {
            futex_wake_all(word_);
        }
    }

    std::atomic<std::uint32_t> word_{0};
    std::atomic<std::uint32_t> sleepers_{0};
};

// Spin-wait steps before a waiting thread goes to sleep: the pauses, then 64 yields, about
// 20-50 us together. Consecutive gates on a large state follow each other within microseconds,
// so workers that stay awake that long save a wake-up per call, while a pool with nothing to do
// stops taking CPU time quickly.
constexpr int SPINS_BEFORE_SLEEP = PAUSES_BEFORE_YIELD + 64;

detail::ContentionBackoff& contention() noexcept {
    return detail::pool_contention();
}

// The pool. One job at a time (the driving thread submits, the library is used by one thread at
// a time); its chunks are claimed through one 64-bit word holding the job's generation (high
// half) and the next unclaimed chunk (low half). A claim is a compare-and-swap that succeeds
// only while the word still names the claimant's job, so a worker that wakes late can never take
// a chunk of a later job, and the job's fields it read stay valid while it runs its chunk: the
// job cannot end before that chunk is counted done.
class Pool {
  public:
    Pool() = default;
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    ~Pool() {
        stopping_.store(true, std::memory_order_release);
        generation_.add_and_wake(1);
        for (std::thread& worker : workers_) {
            worker.join();
        }
    }

    // Runs the job on the pool, or on the caller alone while a recent stall keeps the workers
    // out (see contention.hpp); either way each chunk runs exactly once.
    void run(std::size_t chunks, std::size_t threads, detail::ChunkTask task) {
        const std::int64_t start = now_ns();
        if (!contention().pool_allowed(start)) {
            for (std::size_t c = 0; c < chunks; ++c) {
                task(c);
            }
            return;
        }
        ensure_workers(threads - 1);
        const std::uint32_t generation = generation_.load() + 1;
        // Close the previous job's claims before its task and count change. A worker may have
        // read the claim word of the last job when all of its chunks were taken and then be
        // descheduled; had the word stayed, its compare-and-swap would succeed once it woke, on
        // the new task and count, and run a chunk of this job before it is published (and again
        // after). The closed word carries the new generation, so such a claim fails, and no chunk
        // index reaches CLAIMS_CLOSED. The release stores below order this one before any read
        // of the new task or count.
        claim_.store((std::uint64_t{generation} << 32) | CLAIMS_CLOSED, std::memory_order_relaxed);
        wanted_.store(threads - 1, std::memory_order_relaxed);
        task_.store(&task, std::memory_order_release);
        chunks_.store(chunks, std::memory_order_release);
        completed_.reset(0);
        failed_.store(false, std::memory_order_relaxed);
        failure_ = nullptr;
        claim_.store(std::uint64_t{generation} << 32, std::memory_order_release);
        generation_.store_and_wake(generation);

        detail::PooledJob record{.start = start, .chunks = chunks};
        work(generation, &record);
        // Only chunks that a worker has claimed can still be running.
        for (int spin = 0;; ++spin) {
            const std::uint32_t done = completed_.load();
            if (done >= chunks) {
                break;
            }
            if (spin < SPINS_BEFORE_SLEEP) {
                relax(spin);
            } else {
                completed_.sleep_while(done);
            }
        }
        task_.store(nullptr, std::memory_order_relaxed);
        record.end = now_ns();
        contention().record(record);
        if (failed_.load(std::memory_order_acquire)) {
            std::rethrow_exception(failure_);
        }
    }

  private:
    static std::int64_t now_ns() noexcept {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    // Claims and runs chunks of job `generation` until none is left. The caller passes its
    // record of the job, which gets how many chunks it ran, the time its last one ended and the
    // spread of their durations (one clock read per chunk; workers skip it).
    void work(std::uint32_t generation, detail::PooledJob* record = nullptr) {
        std::size_t ran = 0;
        std::int64_t last = record != nullptr ? now_ns() : 0;
        std::int64_t fastest = std::numeric_limits<std::int64_t>::max();
        std::int64_t slowest = 0;
        const auto finish = [&] {
            if (record != nullptr) {
                record->own = ran;
                record->own_done = last;
                record->own_spread = ran >= 2 ? slowest - fastest : 0;
            }
        };
        while (true) {
            std::uint64_t word = claim_.load(std::memory_order_acquire);
            if (static_cast<std::uint32_t>(word >> 32) != generation) {
                finish();
                return;
            }
            const std::uint32_t chunks = chunks_.load(std::memory_order_acquire);
            const detail::ChunkTask* task = task_.load(std::memory_order_acquire);
            const auto chunk = static_cast<std::uint32_t>(word);
            if (chunk >= chunks) {
                finish();
                return;
            }
            if (!claim_.compare_exchange_weak(word, word + 1, std::memory_order_acq_rel,
                                              std::memory_order_acquire)) {
                continue;
            }
            if (!failed_.load(std::memory_order_relaxed)) {
                try {
                    (*task)(chunk);
                } catch (...) {
                    const std::lock_guard<std::mutex> lock(failure_mutex_);
                    if (!failed_.load(std::memory_order_relaxed)) {
                        failure_ = std::current_exception();
                        failed_.store(true, std::memory_order_release);
                    }
                }
            }
            completed_.add(1, chunks);
            ++ran;
            if (record != nullptr) {
                const std::int64_t now = now_ns();
                fastest = std::min(fastest, now - last);
                slowest = std::max(slowest, now - last);
                last = now;
            }
        }
    }

    // `seen` is the generation when the worker was made: a thread that first runs after later
    // jobs (or the shutdown) were published still sees them as new.
    void worker_main(std::size_t index, std::uint32_t seen) {
        while (true) {
            for (int spin = 0; generation_.load() == seen; ++spin) {
                if (spin < SPINS_BEFORE_SLEEP) {
                    relax(spin);
                } else {
                    generation_.sleep_while(seen);
                }
            }
            if (stopping_.load(std::memory_order_acquire)) {
                return;
            }
            seen = generation_.load();
            if (index < wanted_.load(std::memory_order_relaxed)) {
                work(seen);
            }
        }
    }

    void ensure_workers(std::size_t count) {
        while (workers_.size() < count) {
            const std::size_t index = workers_.size();
            const std::uint32_t seen = generation_.load();
            workers_.emplace_back([this, index, seen] {
                worker_main(index, seen);
            });
        }
    }

    static constexpr std::uint64_t CLAIMS_CLOSED = 0xFFFF'FFFF;

    std::atomic<std::uint64_t> claim_{0};
    WaitWord generation_;
    std::atomic<std::uint32_t> chunks_{0};
    WaitWord completed_;
    std::atomic<const detail::ChunkTask*> task_{nullptr};
    std::atomic<std::size_t> wanted_{0};
    std::atomic<bool> failed_{false};
    std::atomic<bool> stopping_{false};
    std::mutex failure_mutex_;
    std::exception_ptr failure_;
    std::vector<std::thread> workers_;
};

Pool& pool() {
    static Pool instance;
    return instance;
}

// Held by the thread whose job is on the pool.
std::mutex& pool_owner() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

namespace detail {

// The back-off of the pool after stalls. Used by the driving thread only (jobs are submitted
// and thread counts set from it); a new thread count ends a serial period but keeps the period's
// length, since the other processes on the machine have not changed.
ContentionBackoff& pool_contention() noexcept {
    static ContentionBackoff state;
    return state;
}

void run_chunks(std::size_t chunks, ChunkTask task) {
    const auto polled = [&task](std::size_t c) {
        throw_if_cancelled();
        task(c);
    };
    const std::size_t threads = std::min(thread_count(), chunks);
    // A job's chunk numbers live in 32 bits of the claim word; a longer job (more than 2^45
    // summed elements) runs on the calling thread. So does the job of a thread that finds the
    // pool busy with another thread's job: it never waits for the pool, so callers on several
    // threads (or a caller inside another's callback) cannot block each other.
    std::unique_lock<std::mutex> owner(pool_owner(), std::defer_lock);
    if (threads < 2 || chunks > std::numeric_limits<std::uint32_t>::max() || !owner.try_lock()) {
        for (std::size_t c = 0; c < chunks; ++c) {
            polled(c);
        }
        return;
    }
    pool().run(chunks, threads, polled);
}

void check_sum_width(std::size_t width) {
    if (width > MAX_SUMS) {
        throw InvalidArgument("parallel::sum_many forms at most " + std::to_string(MAX_SUMS) +
                              " sums, not " + std::to_string(width));
    }
}

}  // namespace detail
}  // namespace zel::parallel

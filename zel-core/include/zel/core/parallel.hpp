#pragma once

/// \file
/// The shared worker pool: a parallel for-each over disjoint chunks of an index range and
/// deterministic parallel sums. Every call returns only when all its chunks are done.
///
/// The pool has one worker per CPU available to the process (affinity respected), unless the
/// environment sets `RAYON_NUM_THREADS` (or, when that is unset or not a number,
/// `RAYON_RS_NUM_CPUS`) to a positive number; any count is clamped to MAX_THREADS. The decision
/// between serial and parallel work is made here once: ranges shorter than GRAIN, or a pool of
/// one, run inline on the calling thread as a plain loop, without any indirect call.
///
/// Above the grain, the range is cut into fixed chunks that the calling thread and the workers
/// claim one at a time. The caller works through the chunks itself and waits only for chunks a
/// worker has already started, never for a worker that has not woken up. A worker descheduled in
/// the middle of a chunk still holds the caller up, and a worker the system puts on the caller's
/// own core takes turns with it. When a job loses time that way (a wait of 200 us or more that
/// cost more than running the workers' chunks on the caller would have, or one of the caller's
/// chunks 200 us slower than another and by more than half its time in the job), the following
/// jobs run on the caller alone for a while, 10 ms at first and twice as long after every
/// further stall (at most 1 s), shrinking again while pooled jobs run without one. On a machine
/// whose other cores are busy, parallel work thus degrades to the speed of the caller alone.
/// Which thread runs a chunk never changes a result.
///
/// An exception thrown by a body is caught where it arises and rethrown on the calling thread
/// once every started chunk has finished (the first one raised, when several are); chunks not
/// started by then are skipped.
///
/// Pooled work polls for cancellation (zel/core/cancel.hpp) before every chunk, and so do sums
/// of GRAIN elements or more on the calling thread alone; they throw `Cancelled` when a request
/// stands. A for-each on the calling thread alone stays one call and never polls.

#include <algorithm>
#include <cstddef>
#include <span>
#include <vector>

#include "zel/core/cancel.hpp"
#include "zel/core/detail/function_ref.hpp"

namespace zel::parallel {

/// Ranges with fewer elements than this run serially on the calling thread. Waking a worker and
/// handing out chunks costs a few microseconds on this kind of machine, and two threads gain
/// only 1.2-1.4x on a memory-bound pass, so a pass must take well over 10 us before the pool
/// pays; that is about 2^17 elements (2 MiB of amplitudes) for the cheapest kernels.
inline constexpr std::size_t GRAIN = std::size_t{1} << 17;

/// Length of the fixed chunks of `sum` and `sum_many`. Chunk boundaries depend only on the range
/// length, never on the number of threads, so sums are bitwise identical for any pool size.
inline constexpr std::size_t SUM_CHUNK = std::size_t{1} << 13;

/// Elements per chunk of `for_each` on the pool: a few tens of microseconds of work, small
/// enough that a worker descheduled in the middle of one holds up little, large enough that
/// claiming it costs nothing measurable.
inline constexpr std::size_t FOR_EACH_CHUNK = std::size_t{1} << 16;

/// Most workers the pool runs: larger counts, from the environment or from `set_thread_count`,
/// are clamped to this, so that no setting can ask the system for thousands of threads.
inline constexpr std::size_t MAX_THREADS = 256;

/// Most sums one `sum_many` call can form.
inline constexpr std::size_t MAX_SUMS = 64;

/// Number of threads parallel work runs on, the caller included, in [1, MAX_THREADS].
std::size_t thread_count() noexcept;

/// Sets the number of threads, clamped to MAX_THREADS; 0 restores the default from the
/// environment and the CPU count. Also ends a serial period after a stall. Call only from the
/// thread that drives the library, never during parallel work.
void set_thread_count(std::size_t count) noexcept;

namespace detail {

/// Work for chunk number `chunk`.
using ChunkTask = zel::detail::FunctionRef<void(std::size_t chunk)>;

/// Runs task(c) for every c in [0, chunks) on the calling thread and up to thread_count() - 1
/// workers, each chunk exactly once; returns when all are done, rethrowing the first exception.
/// Polls for cancellation before every chunk. Safe to call from several threads at once: while
/// one caller's job is on the pool, another caller runs its chunks on its own thread.
void run_chunks(std::size_t chunks, ChunkTask task);

/// Whether a range of `n` elements goes to the pool.
inline bool pooled(std::size_t n) noexcept {
    return n >= GRAIN && thread_count() >= 2;
}

/// Throws InvalidArgument when `width` exceeds MAX_SUMS.
void check_sum_width(std::size_t width);

}  // namespace detail

/// Calls body(begin, end) over disjoint chunks that together cover [0, n): once with [0, n) on
/// the calling thread below the grain, else in chunks of FOR_EACH_CHUNK elements that may run
/// concurrently.
template <class Body>
void for_each(std::size_t n, const Body& body) {
    if (!detail::pooled(n)) {
        body(std::size_t{0}, n);
        return;
    }
    const std::size_t chunks = (n + FOR_EACH_CHUNK - 1) / FOR_EACH_CHUNK;
    detail::run_chunks(chunks, [&body, n](std::size_t c) {
        body(c * FOR_EACH_CHUNK, std::min(n, (c + 1) * FOR_EACH_CHUNK));
    });
}

/// Sum of partial(begin, end) over the chunks [k * SUM_CHUNK, min((k + 1) * SUM_CHUNK, n)),
/// added in ascending k starting from -0.0 (so an empty range gives -0.0). The result does not
/// depend on the number of threads.
template <class Partial>
double sum(std::size_t n, const Partial& partial) {
    const std::size_t chunks = (n + SUM_CHUNK - 1) / SUM_CHUNK;
    double total = -0.0;
    if (!detail::pooled(n)) {
        for (std::size_t k = 0; k < chunks; ++k) {
            if (n >= GRAIN) {
                throw_if_cancelled();
            }
            total += partial(k * SUM_CHUNK, std::min(n, (k + 1) * SUM_CHUNK));
        }
        return total;
    }
    std::vector<double> partials(chunks);
    detail::run_chunks(chunks, [&](std::size_t k) {
        partials[k] = partial(k * SUM_CHUNK, std::min(n, (k + 1) * SUM_CHUNK));
    });
    for (const double value : partials) {
        total += value;
    }
    return total;
}

/// `totals.size()` sums at once (at most MAX_SUMS; more throw `InvalidArgument`) over the same
/// fixed chunks as `sum`: for each chunk, partial(begin, end, out) writes one partial value per
/// sum to out[0 .. totals.size()), and the partials of each sum are added in ascending chunk
/// order starting from -0.0. The results do not depend on the number of threads. Below the
/// grain nothing is allocated.
template <class Partial>
void sum_many(std::size_t n, std::span<double> totals, const Partial& partial) {
    const std::size_t width = totals.size();
    detail::check_sum_width(width);
    const std::size_t chunks = (n + SUM_CHUNK - 1) / SUM_CHUNK;
    std::fill(totals.begin(), totals.end(), -0.0);
    if (!detail::pooled(n)) {
        double values[MAX_SUMS];
        std::fill_n(values, width, -0.0);
        for (std::size_t k = 0; k < chunks; ++k) {
            if (n >= GRAIN) {
                throw_if_cancelled();
            }
            partial(k * SUM_CHUNK, std::min(n, (k + 1) * SUM_CHUNK), values);
            for (std::size_t j = 0; j < width; ++j) {
                totals[j] += values[j];
            }
        }
        return;
    }
    std::vector<double> partials(chunks * width);
    detail::run_chunks(chunks, [&](std::size_t k) {
        partial(k * SUM_CHUNK, std::min(n, (k + 1) * SUM_CHUNK), partials.data() + k * width);
    });
    for (std::size_t k = 0; k < chunks; ++k) {
        for (std::size_t j = 0; j < width; ++j) {
            totals[j] += partials[k * width + j];
        }
    }
}

}  // namespace zel::parallel

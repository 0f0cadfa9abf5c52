#pragma once

/// \file
/// The shared worker pool: a parallel for-each over disjoint chunks of an index range and a
/// deterministic parallel sum. Both return only when every chunk is done.
///
/// The pool has one worker per CPU available to the process (affinity respected), unless the
/// environment sets `RAYON_NUM_THREADS` (or, when that is unset or not a number,
/// `RAYON_RS_NUM_CPUS`) to a positive number; any count is clamped to MAX_THREADS. Ranges shorter
/// than the grain run on the calling thread without entering the pool.
///
/// An exception thrown by a body on a worker is caught there and rethrown on the calling thread
/// once every chunk has finished (the first one raised, when several are); chunks that had not
/// started by then are skipped.

#include <cstddef>
#include <span>

#include "zel/core/detail/function_ref.hpp"

namespace zel::parallel {

/// Body of a for-each: handles the indexes [begin, end).
using ChunkBody = detail::FunctionRef<void(std::size_t begin, std::size_t end)>;

/// Partial sum of the indexes [begin, end).
using ChunkSum = detail::FunctionRef<double(std::size_t begin, std::size_t end)>;

/// Several partial sums of the indexes [begin, end) at once, written to `out` (one value per
/// sum, as many as the caller asked `sum_many` for).
using ChunkSums = detail::FunctionRef<void(std::size_t begin, std::size_t end, double* out)>;

/// Ranges with fewer elements than this run serially on the calling thread. Entering a pool
/// region costs a few microseconds on this kind of machine (and far more when the VM stalls
/// the workers), and two threads gain only 1.2-1.4x on a memory-bound pass, so a pass must
/// take well over 10 us before the pool pays; that is about 2^17 elements (2 MiB of
/// amplitudes) for the cheapest kernels.
inline constexpr std::size_t GRAIN = std::size_t{1} << 17;

/// Length of the fixed chunks of `sum`. Chunk boundaries depend only on the range length, never
/// on the number of threads, so sums are bitwise identical for any pool size.
inline constexpr std::size_t SUM_CHUNK = std::size_t{1} << 13;

/// Most workers the pool runs: larger counts, from the environment or from `set_thread_count`,
/// are clamped to this, so that no setting can ask the system for thousands of threads.
inline constexpr std::size_t MAX_THREADS = 256;

/// Number of workers the pool runs parallel work with, in [1, MAX_THREADS].
std::size_t thread_count() noexcept;

/// Sets the number of workers, clamped to MAX_THREADS; 0 restores the default from the
/// environment and the CPU count. Call only from the thread that drives the library, never
/// during parallel work.
void set_thread_count(std::size_t count) noexcept;

/// Calls `body` over disjoint chunks that together cover [0, n), on the pool when n reaches the
/// grain, else once with [0, n) on the calling thread. Chunks may run concurrently.
void for_each(std::size_t n, ChunkBody body);

/// Sum of `partial` over the chunks [k * SUM_CHUNK, min((k + 1) * SUM_CHUNK, n)), added in
/// ascending k starting from -0.0 (so an empty range gives -0.0). The result does not depend on
/// the number of threads.
double sum(std::size_t n, ChunkSum partial);

/// Most sums one `sum_many` call can form.
inline constexpr std::size_t MAX_SUMS = 64;

/// `totals.size()` sums at once (at most MAX_SUMS; more throw `InvalidArgument`) over the same
/// fixed chunks as `sum`: for each chunk, `partial` writes one partial value per sum, and the
/// partials of each sum are added in ascending chunk order starting from -0.0. The results do not
/// depend on the number of threads. Below the grain nothing is allocated.
void sum_many(std::size_t n, std::span<double> totals, ChunkSums partial);

}  // namespace zel::parallel

#include "zel/core/parallel.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <omp.h>
#include <string>
#include <vector>

#include "zel/core/error.hpp"

#include <sched.h>

namespace zel::parallel {
namespace {

// A positive decimal number in an environment variable, clamped to MAX_THREADS (a number too
// large for 64 bits included), or 0 when the variable is unset or not a decimal number.
std::size_t positive_from_env(const char* name) noexcept {
    const char* text = std::getenv(name);
    if (text == nullptr) {
        return 0;
    }
    std::size_t value = 0;
    const char* end = text + std::strlen(text);
    const auto result = std::from_chars(text, end, value);
    if (result.ptr != end || result.ptr == text) {
        return 0;
    }
    if (result.ec == std::errc::result_out_of_range) {
        return MAX_THREADS;
    }
    if (result.ec != std::errc{}) {
        return 0;
    }
    return std::min(value, MAX_THREADS);
}

std::size_t default_thread_count() noexcept {
    std::size_t count = positive_from_env("RAYON_NUM_THREADS");
    if (count == 0) {
        count = positive_from_env("RAYON_RS_NUM_CPUS");
    }
    if (count != 0) {
        return count;
    }
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) {
        const int available = CPU_COUNT(&cpus);
        if (available > 0) {
            return std::min(static_cast<std::size_t>(available), MAX_THREADS);
        }
    }
    return std::min(static_cast<std::size_t>(std::max(1, omp_get_num_procs())), MAX_THREADS);
}

// Runs task(k) for every k in [0, count) on `threads` workers, statically divided. An exception
// leaving a task is caught on its worker (one escaping an OpenMP region would terminate the
// process) and rethrown here after the region; tasks not yet started are then skipped.
template <class Task>
void run_region(std::size_t count, std::size_t threads, const Task& task) {
    std::exception_ptr failure;
    std::atomic<bool> failed{false};
#pragma omp parallel for schedule(static) num_threads(static_cast <int>(threads))
    for (std::size_t k = 0; k < count; ++k) {
        if (failed.load(std::memory_order_relaxed)) {
            continue;
        }
        try {
            task(k);
        } catch (...) {
#pragma omp critical(zel_pool_failure)
            {
                if (!failure) {
                    failure = std::current_exception();
                }
            }
            failed.store(true, std::memory_order_relaxed);
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

std::atomic<std::size_t>& configured() noexcept {
    static std::atomic<std::size_t> count{default_thread_count()};
    return count;
}

}  // namespace

std::size_t thread_count() noexcept {
    return configured().load(std::memory_order_relaxed);
}

void set_thread_count(std::size_t count) noexcept {
    configured().store(count == 0 ? default_thread_count() : std::min(count, MAX_THREADS),
                       std::memory_order_relaxed);
}

void for_each(std::size_t n, ChunkBody body) {
    const std::size_t threads = thread_count();
    if (n < GRAIN || threads < 2) {
        body(0, n);
        return;
    }
    // One contiguous block per worker: the static split keeps each worker on the same pages
    // from call to call.
    const std::size_t blocks = threads;
    run_region(blocks, threads, [&](std::size_t b) {
        const std::size_t begin = n / blocks * b + std::min(b, n % blocks);
        const std::size_t end = begin + n / blocks + (b < n % blocks ? 1 : 0);
        body(begin, end);
    });
}

double sum(std::size_t n, ChunkSum partial) {
    const std::size_t chunks = (n + SUM_CHUNK - 1) / SUM_CHUNK;
    const std::size_t threads = thread_count();
    double total = -0.0;
    if (n < GRAIN || threads < 2) {
        for (std::size_t k = 0; k < chunks; ++k) {
            total += partial(k * SUM_CHUNK, std::min(n, (k + 1) * SUM_CHUNK));
        }
        return total;
    }
    std::vector<double> partials(chunks);
    run_region(chunks, threads, [&](std::size_t k) {
        partials[k] = partial(k * SUM_CHUNK, std::min(n, (k + 1) * SUM_CHUNK));
    });
    for (const double value : partials) {
        total += value;
    }
    return total;
}

void sum_many(std::size_t n, std::span<double> totals, ChunkSums partial) {
    const std::size_t width = totals.size();
    if (width > MAX_SUMS) {
        throw InvalidArgument("parallel::sum_many forms at most " + std::to_string(MAX_SUMS) +
                              " sums, not " + std::to_string(width));
    }
    const std::size_t chunks = (n + SUM_CHUNK - 1) / SUM_CHUNK;
    const std::size_t threads = thread_count();
    std::fill(totals.begin(), totals.end(), -0.0);
    if (n < GRAIN || threads < 2) {
        std::array<double, MAX_SUMS> values;
        for (std::size_t k = 0; k < chunks; ++k) {
            partial(k * SUM_CHUNK, std::min(n, (k + 1) * SUM_CHUNK), values.data());
            for (std::size_t j = 0; j < width; ++j) {
                totals[j] += values[j];
            }
        }
        return;
    }
    std::vector<double> partials(chunks * width);
    run_region(chunks, threads, [&](std::size_t k) {
        partial(k * SUM_CHUNK, std::min(n, (k + 1) * SUM_CHUNK), partials.data() + k * width);
    });
    for (std::size_t k = 0; k < chunks; ++k) {
        for (std::size_t j = 0; j < width; ++j) {
            totals[j] += partials[k * width + j];
        }
    }
}

}  // namespace zel::parallel

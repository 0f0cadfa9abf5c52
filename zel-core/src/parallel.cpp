#include "zel/core/parallel.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <omp.h>
#include <vector>

#include <sched.h>

namespace zel::parallel {
namespace {

// A positive decimal number in an environment variable, or 0.
std::size_t positive_from_env(const char* name) noexcept {
    const char* text = std::getenv(name);
    if (text == nullptr) {
        return 0;
    }
    std::size_t value = 0;
    const char* end = text + std::strlen(text);
    const auto result = std::from_chars(text, end, value);
    if (result.ec != std::errc{} || result.ptr != end) {
        return 0;
    }
    return value;
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
            return static_cast<std::size_t>(available);
        }
    }
    return static_cast<std::size_t>(std::max(1, omp_get_num_procs()));
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
    configured().store(count == 0 ? default_thread_count() : count, std::memory_order_relaxed);
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
#pragma omp parallel for schedule(static) num_threads(static_cast <int>(threads))
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::size_t begin = n / blocks * b + std::min(b, n % blocks);
        const std::size_t end = begin + n / blocks + (b < n % blocks ? 1 : 0);
        body(begin, end);
    }
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
#pragma omp parallel for schedule(static) num_threads(static_cast <int>(threads))
    for (std::size_t k = 0; k < chunks; ++k) {
        partials[k] = partial(k * SUM_CHUNK, std::min(n, (k + 1) * SUM_CHUNK));
    }
    for (const double value : partials) {
        total += value;
    }
    return total;
}

void sum_many(std::size_t n, std::span<double> totals, ChunkSums partial) {
    const std::size_t width = totals.size();
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
#pragma omp parallel for schedule(static) num_threads(static_cast <int>(threads))
    for (std::size_t k = 0; k < chunks; ++k) {
        partial(k * SUM_CHUNK, std::min(n, (k + 1) * SUM_CHUNK), partials.data() + k * width);
    }
    for (std::size_t k = 0; k < chunks; ++k) {
        for (std::size_t j = 0; j < width; ++j) {
            totals[j] += partials[k * width + j];
        }
    }
}

}  // namespace zel::parallel

// The number of threads parallel work runs on: from the environment at start, or from
// set_thread_count.

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "zel/core/parallel.hpp"

#include "contention.hpp"
#include <sched.h>

namespace zel::parallel {
namespace {

// What a thread-count variable holds: nothing, a positive decimal number (clamped to
// MAX_THREADS, a number too large for 64 bits included), or something else.
struct EnvCount {
    bool set = false;
    std::size_t value = 0;  // 0 when unset or invalid
};

EnvCount count_from_env(const char* name) noexcept {
    const char* text = std::getenv(name);
    if (text == nullptr) {
        return {};
    }
    std::size_t value = 0;
    const char* end = text + std::strlen(text);
    const auto result = std::from_chars(text, end, value);
    if (result.ptr != end || result.ptr == text) {
        return {true, 0};
    }
    if (result.ec == std::errc::result_out_of_range) {
        return {true, MAX_THREADS};
    }
    if (result.ec != std::errc{}) {
        return {true, 0};
    }
    return {true, std::min(value, MAX_THREADS)};
}

// One line on standard error, the first time in the process that a variable holds something
// that is not a positive number; the next rule applies.
void report_invalid(const char* name) noexcept {
    static std::atomic<bool> reported{false};
    if (reported.exchange(true)) {
        return;
    }
    const char* text = std::getenv(name);
    std::fprintf(stderr, "zel: %s=\"%s\" is not a positive whole number and is ignored\n", name,
                 text == nullptr ? "" : text);
}

std::size_t cpu_count() noexcept {
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) {
        const int available = CPU_COUNT(&cpus);
        if (available > 0) {
            return std::min(static_cast<std::size_t>(available), MAX_THREADS);
        }
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    return std::clamp<std::size_t>(hardware, 1, MAX_THREADS);
}

// RAYON_NUM_THREADS, or when it is unset or not a number RAYON_RS_NUM_CPUS, else the CPUs the
// process may use.
std::size_t default_thread_count() noexcept {
    for (const char* name : {"RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS"}) {
        const EnvCount count = count_from_env(name);
        if (count.value != 0) {
            return count.value;
        }
        if (count.set) {
            report_invalid(name);
        }
    }
    return cpu_count();
}

std::atomic<std::size_t>& configured() noexcept {
    static std::atomic<std::size_t> count{default_thread_count()};
    return count;
}

// Read when the library loads, so that a variable that is not a number is reported at start,
// not at the first parallel loop (which a small register may never reach).
[[maybe_unused]] const std::size_t THREADS_AT_START = configured().load();

}  // namespace

std::size_t thread_count() noexcept {
    return configured().load(std::memory_order_relaxed);
}

void set_thread_count(std::size_t count) noexcept {
    configured().store(count == 0 ? default_thread_count() : std::min(count, MAX_THREADS),
                       std::memory_order_relaxed);
    detail::pool_contention().allow_now();
}

}  // namespace zel::parallel

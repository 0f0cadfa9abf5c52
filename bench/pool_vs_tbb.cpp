// The library's pool against oneTBB's work-stealing parallel_for, on the same loop body: H on
// qubit n/2 of a 2^n state, one thread, the pool with two threads, and parallel_for with two
// threads over chunks of the pool's size. The three run in alternating windows of 250 ms, eight
// rounds, and each prints the median, fastest and slowest window per gate, so that a slow spell
// of the machine falls on all three alike. Run it idle and under bench/under_load.sh's busy loop:
//
//     ./build/bench/bench/pool_vs_tbb 20
//     taskset -c 1 sh -c 'while :; do :; done' & ./build/bench/bench/pool_vs_tbb 20; kill $!
//
// Built only where oneTBB is installed (Debian libtbb-dev); the library does not use it.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "zel/core/parallel.hpp"

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/parallel_for.h>

namespace {

constexpr double FACTOR = 0.7071067811865475;

// H on the pairs [begin, end) of qubit t, in compressed pair indexes.
void hadamard_pairs(double* parts, unsigned t, std::uint64_t begin, std::uint64_t end) {
    const std::uint64_t m = std::uint64_t{1} << t;
    for (std::uint64_t c = begin; c < end; ++c) {
        const std::uint64_t i = ((c & ~(m - 1)) << 1) | (c & (m - 1));
        const std::uint64_t j = i | m;
        const double r0 = parts[2 * i];
        const double i0 = parts[2 * i + 1];
        const double r1 = parts[2 * j];
        const double i1 = parts[2 * j + 1];
        parts[2 * i] = (r0 + r1) * FACTOR;
        parts[2 * i + 1] = (i0 + i1) * FACTOR;
        parts[2 * j] = (r0 - r1) * FACTOR;
        parts[2 * j + 1] = (i0 - i1) * FACTOR;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned n = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 20;
    if (n < 2 || n > 28) {
        std::fprintf(stderr, "usage: %s [n in 2..28]\n", argv[0]);
        return 2;
    }
    const unsigned t = n / 2;
    const std::uint64_t pairs = std::uint64_t{1} << (n - 1);
    std::vector<double> state(std::size_t{2} << n, 0.001);
    double* parts = state.data();
    const oneapi::tbb::global_control two(oneapi::tbb::global_control::max_allowed_parallelism, 2);
    constexpr int MODES = 3;
    const char* names[MODES] = {"one thread", "pool, 2 threads", "oneTBB, 2 threads"};
    std::vector<double> windows[MODES];
    for (int round = 0; round < 8; ++round) {
        for (int mode = 0; mode < MODES; ++mode) {
            zel::parallel::set_thread_count(mode == 1 ? 2 : 1);
            const auto start = std::chrono::steady_clock::now();
            std::uint64_t gates = 0;
            while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(250)) {
                if (mode == 0) {
                    hadamard_pairs(parts, t, 0, pairs);
                } else if (mode == 1) {
                    zel::parallel::for_each(pairs, [&](std::uint64_t begin, std::uint64_t end) {
                        hadamard_pairs(parts, t, begin, end);
                    });
                } else {
                    oneapi::tbb::parallel_for(
                        oneapi::tbb::blocked_range<std::uint64_t>(0, pairs,
                                                                  zel::parallel::FOR_EACH_CHUNK),
                        [&](const oneapi::tbb::blocked_range<std::uint64_t>& range) {
                            hadamard_pairs(parts, t, range.begin(), range.end());
                        },
                        oneapi::tbb::simple_partitioner());
                }
                ++gates;
            }
            const std::chrono::duration<double, std::micro> elapsed =
                std::chrono::steady_clock::now() - start;
            windows[mode].push_back(elapsed.count() / static_cast<double>(gates));
        }
    }
    for (int mode = 0; mode < MODES; ++mode) {
        std::vector<double>& w = windows[mode];
        std::sort(w.begin(), w.end());
        std::printf("%-18s median %.0f us per gate (fastest window %.0f, slowest %.0f)\n",
                    names[mode], w[w.size() / 2], w.front(), w.back());
    }
    return 0;
}

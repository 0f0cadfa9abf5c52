#pragma once

// The traversals the gate kernels share: a real-arithmetic view of the buffer, the run-time
// choice of prefetch for pairs and quads, and the blocked pass over pairs far apart whose
// results go back past the caches.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "zel/core/detail/kernels.hpp"

#include "cpu_dispatch.hpp"
#include "gate_kernels.hpp"
#include "index_iteration.hpp"
#include "traversal_policy.hpp"

namespace zel::detail {

inline constexpr std::size_t BYTES_PER_AMPLITUDE = sizeof(Amplitude);

static_assert(sizeof(Amplitude) == 2 * sizeof(double));

// One worker's share [begin, end) of the quads of qubits low < high, prefetching as `ahead`
// says; `first` and `second` are the members `quad` changes.
template <class Quad>
inline void quad_range(QuadLookahead ahead, const void* psi, std::uint64_t dimension,
                       std::uint64_t begin, std::uint64_t end, unsigned low, unsigned high,
                       std::uint64_t first, std::uint64_t second, const Quad& quad) {
    switch (ahead) {
        case QuadLookahead::none:
            for_each_quad(begin, end, low, high, quad);
            return;
        case QuadLookahead::touched:
            for_each_quad_ahead<QuadLookahead::touched>(psi, dimension, begin, end, low, high,
                                                        first, second, quad);
            return;
        case QuadLookahead::whole:
            for_each_quad_ahead<QuadLookahead::whole>(psi, dimension, begin, end, low, high, first,
                                                      second, quad);
            return;
        case QuadLookahead::whole_near:
            for_each_quad_ahead<QuadLookahead::whole_near>(psi, dimension, begin, end, low, high,
                                                           first, second, quad);
            return;
    }
}

// Real-arithmetic view of the amplitude buffer: re of amplitude k at 2k, im at 2k + 1.
class Parts {
  public:
    explicit Parts(Amplitude* data) noexcept : p_(reinterpret_cast<double*>(data)) {
    }

    double& re(std::uint64_t k) const noexcept {
        return p_[2 * k];
    }
    double& im(std::uint64_t k) const noexcept {
        return p_[2 * k + 1];
    }
    double* data() const noexcept {
        return p_;
    }

  private:
    double* p_;
};

// The pair update of the amplitudes at x and y (re, im each) in its vector form: V holds one
// amplitude (AmplitudeLanes) or two neighbouring ones (AmplitudePairLanes) from each side.
template <class V = AmplitudeLanes, class Update>
[[gnu::always_inline]] inline void update_whole(const Update& update, double* x, double* y) {
    V a0;
    V a1;
    std::memcpy(&a0, x, sizeof a0);
    std::memcpy(&a1, y, sizeof a1);
    update(a0, a1);
    std::memcpy(x, &a0, sizeof a0);
    std::memcpy(y, &a1, sizeof a1);
}

// Writes `bytes` (whole amplitudes) from the cache-resident buffer `from` to `to` past the
// caches, where `to` allows it. The far-pair traversals write their results back this way: a
// line of the upper region, evicted from the first-level cache by its partner in the lower one
// (same set, same way tag), need not come back before it is overwritten. H on the top qubit of
// 2^26 amplitudes, one thread: 1.9-2.0 passes of the probe with plain stores, 1.1-1.5 with
// these and steps of 32 amplitudes; steps of 8, 16, 64 or 1024 ran at 1.6-3.2 passes. Such
// stores are ordered only by stream_fence, which every worker calls before its share counts as
// done.
inline void stream_out(void* to, const void* from, std::size_t bytes) noexcept {
#if defined(__SSE2__)
    if (reinterpret_cast<std::uintptr_t>(to) % 16 == 0) {
        auto* out = static_cast<double*>(to);
        const auto* in = static_cast<const double*>(from);
        for (std::size_t k = 0; k < bytes / sizeof(double); k += 2) {
            _mm_stream_pd(out + k, _mm_loadu_pd(in + k));
        }
        return;
    }
#endif
    std::memcpy(to, from, bytes);
}

// Orders the stores of stream_out before every later store of this thread, so that the pool's
// release of a finished share publishes them.
inline void stream_fence() noexcept {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

// Copies `count` amplitudes from `from` into the buffer `to`, two at a time in vector registers.
// Written as a copy, GCC expands it into `rep movsq`, which ran slower here on the top qubits of
// 2^26 amplitudes (SX 1.27-1.34 passes of the probe against 1.15-1.16 with this loop, RX
// 1.13-1.20 against 1.06-1.07); the empty asm keeps the loop from being recognised as one.
[[gnu::always_inline]] inline void copy_in(double* to, const double* from, std::uint64_t count) {
    std::uint64_t k = 0;
    for (; k + 2 <= count; k += 2) {
        AmplitudePairLanes v;
        std::memcpy(&v, from + 2 * k, sizeof v);
        std::memcpy(to + 2 * k, &v, sizeof v);
        asm volatile("" ::: "memory");
    }
    if (k < count) {
        std::memcpy(to + 2 * k, from + 2 * k, BYTES_PER_AMPLITUDE);
    }
}

// Applies `update` to the pairs of the compressed indexes [begin, end) of a gate on qubit t,
// one step of `step` pairs at a time through a cache-resident copy of the upper amplitudes,
// which go back with stream_out. The arithmetic per pair is that of the direct loop; only the
// place where a1 waits changes. Cloned like pair_range: in the baseline build the arithmetic of
// RX, RY, SX and Y, not memory, set the pace here.
template <class Update>
[[gnu::noinline]] ZEL_EXACT_CLONES void blocked_pairs(double* parts, std::uint64_t begin,
                                                      std::uint64_t end, unsigned t,
                                                      std::uint64_t step, const Update& update) {
    const std::uint64_t m = std::uint64_t{1} << t;
    alignas(64) double upper[2 * FarPairTraversal::STREAM_BLOCK];
    step = std::min(step, FarPairTraversal::STREAM_BLOCK);
    for_each_pair_run(begin, end, t, [&](std::uint64_t i, std::uint64_t run) {
        for (std::uint64_t offset = 0; offset < run; offset += step) {
            const std::uint64_t length = std::min(step, run - offset);
            double* lower = parts + 2 * (i + offset);
            double* far = parts + 2 * (i + offset + m);
            const std::size_t bytes = static_cast<std::size_t>(length) * BYTES_PER_AMPLITUDE;
            copy_in(upper, far, length);
            // Whole amplitudes as vectors, two at a time (every pair update has that form): the
            // crossed parts of RX defeat the compiler's vectoriser in this loop, which then ran at
            // half the speed of H.
            std::uint64_t k = 0;
            for (; k + 2 <= length; k += 2) {
                update_whole<AmplitudePairLanes>(update, lower + 2 * k, upper + 2 * k);
            }
            if (k < length) {
                update_whole(update, lower + 2 * k, upper + 2 * k);
            }
            stream_out(far, upper, bytes);
        }
    });
    stream_fence();
}

// The exchange of a pair's two amplitudes, as a pair update for blocked_pairs: whole amplitudes
// only, so X takes the vector loop of the other kinds.
struct ExchangeUpdate {
    template <WholeAmplitudes V>
    void operator()(V& a0, V& a1) const noexcept {
        std::swap(a0, a1);
    }
};

// One worker's share [begin, end) of the compressed pair indexes of qubit t: pair(i, j) for each
// pair, prefetching the coming window as MODE says. Built for each instruction set and chosen
// when the library loads: at small t the arithmetic of the pairs, not memory, sets the pace,
// and wider vectors take two or four amplitudes at once (RX on qubit 1 of 2^24 amplitudes ran
// at half the probe's speed in the baseline build). Each lane computes what the scalar form
// computes, without contraction into FMA, so every clone gives the same bits. `pair` comes by
// value and holds its coefficients by value: a copy no amplitude can alias stays in registers.
// Flattened: left to itself, GCC inlined only one of the two calls to `pair` in the loop on
// qubit 1, which then ran scalar (RX there fell from 1.0 to 0.4-0.6 of the probe).
template <Lookahead MODE, class Pair>
[[gnu::flatten]] ZEL_EXACT_CLONES void pair_range(const void* psi, std::uint64_t dimension,
                                                  std::uint64_t begin, std::uint64_t end,
                                                  unsigned t, Pair pair) {
    if constexpr (MODE == Lookahead::none) {
        for_each_pair(begin, end, t, pair);
    } else {
        for_each_pair_ahead<MODE>(psi, dimension, begin, end, t, pair);
    }
}

// pair_range with the prefetch `ahead`, chosen at run time.
template <class Pair>
inline void pair_range(Lookahead ahead, const void* psi, std::uint64_t dimension,
                       std::uint64_t begin, std::uint64_t end, unsigned t, const Pair& pair) {
    switch (ahead) {
        case Lookahead::none:
            pair_range<Lookahead::none>(psi, dimension, begin, end, t, pair);
            return;
        case Lookahead::whole:
            pair_range<Lookahead::whole>(psi, dimension, begin, end, t, pair);
            return;
        case Lookahead::whole_outer:
            pair_range<Lookahead::whole_outer>(psi, dimension, begin, end, t, pair);
            return;
        case Lookahead::upper_later:
            pair_range<Lookahead::upper_later>(psi, dimension, begin, end, t, pair);
            return;
    }
}

}  // namespace zel::detail

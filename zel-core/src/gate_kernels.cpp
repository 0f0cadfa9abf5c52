#include "gate_kernels.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "zel/core/detail/kernels.hpp"
#include "zel/core/parallel.hpp"

#include "cpu_dispatch.hpp"
#include "index_iteration.hpp"
#include "traversal_policy.hpp"

namespace zel::detail {
namespace {

constexpr std::size_t BYTES_PER_AMPLITUDE = sizeof(Amplitude);

static_assert(sizeof(Amplitude) == 2 * sizeof(double));

// One worker's share [begin, end) of the quads of qubits low < high, prefetching as `ahead`
// says; `first` and `second` are the members `quad` changes.
template <class Quad>
void quad_range(QuadLookahead ahead, const void* psi, std::uint64_t dimension, std::uint64_t begin,
                std::uint64_t end, unsigned low, unsigned high, std::uint64_t first,
                std::uint64_t second, const Quad& quad) {
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
void stream_out(void* to, const void* from, std::size_t bytes) noexcept {
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
void stream_fence() noexcept {
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

// Exchanges the ranges [a, a + count) and [b, b + count) of amplitudes in blocks through a
// cache-resident buffer: for ranges far apart, three bursts per block instead of two interleaved
// streams. Out of line: inlined, its 16 KiB buffer would make every caller probe its stack
// pages.
[[gnu::noinline]] void swap_blocks(Amplitude* a, Amplitude* b, std::uint64_t count,
                                   std::uint64_t block) {
    alignas(64) std::byte buffer[FarPairTraversal::MAX_BLOCK * BYTES_PER_AMPLITUDE];
    for (std::uint64_t offset = 0; offset < count; offset += block) {
        const std::size_t bytes =
            static_cast<std::size_t>(std::min(block, count - offset)) * BYTES_PER_AMPLITUDE;
        void* x = a + offset;
        void* y = b + offset;
        std::memcpy(buffer, x, bytes);
        std::memcpy(x, y, bytes);
        std::memcpy(y, buffer, bytes);
    }
}

// Exchanges the ranges [a, a + count) and [b, b + count) of amplitudes, the range at b far
// from a, in steps of at most STREAM_BLOCK amplitudes: the step of b goes into a cache-resident
// buffer, trades places with the step of a, and goes back with stream_out. Needs stream_fence
// before the caller's share counts as done.
[[gnu::noinline]] void swap_streamed(Amplitude* a, Amplitude* b, std::uint64_t count,
                                     std::uint64_t step) {
    alignas(64) Amplitude buffer[FarPairTraversal::STREAM_BLOCK];
    step = std::min(step, FarPairTraversal::STREAM_BLOCK);
    for (std::uint64_t offset = 0; offset < count; offset += step) {
        const std::uint64_t length = std::min(step, count - offset);
        const std::size_t bytes = static_cast<std::size_t>(length) * BYTES_PER_AMPLITUDE;
        std::memcpy(static_cast<void*>(buffer), b + offset, bytes);
        std::swap_ranges(a + offset, a + offset + length, buffer);
        stream_out(b + offset, buffer, bytes);
    }
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
void pair_range(Lookahead ahead, const void* psi, std::uint64_t dimension, std::uint64_t begin,
                std::uint64_t end, unsigned t, const Pair& pair) {
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

// A 2x2 update of every pair of a one-qubit gate on qubit t. Workers take disjoint ranges of
// compressed indexes, so every pair is computed exactly as serially.
template <class Update>
[[gnu::noinline]] void pair_kernel(Amplitude* psi, std::uint64_t dimension, unsigned t,
                                   const Update& update) {
    const Parts a(psi);
    if (t >= far_from()) {
        const std::uint64_t block = far_block_size();
        parallel::for_each(dimension / 2, [&](std::uint64_t begin, std::uint64_t end) {
            blocked_pairs(a.data(), begin, end, t, block, update);
        });
        return;
    }
    const Lookahead ahead = pairs_lookahead(t);
    parallel::for_each(dimension / 2, [&](std::uint64_t begin, std::uint64_t end) {
        pair_range(ahead, psi, dimension, begin, end, t,
                   [a, update](std::uint64_t i, std::uint64_t j) {
                       if constexpr (std::is_same_v<Update, YUpdate>) {
                           // Whole amplitudes: one shuffle each, where the scalar form became
                           // cross-lane permutes (qubit 1 of 2^24: 0.67 of the probe, now 1.07).
                           update_whole(update, a.data() + 2 * i, a.data() + 2 * j);
                       } else {
                           update(a.re(i), a.im(i), a.re(j), a.im(j));
                       }
                   });
    });
}

// X: a permutation, so whole amplitudes move, 16 bytes at a time.
[[gnu::noinline]] void swap_pair_kernel(Amplitude* psi, std::uint64_t dimension, unsigned t) {
    if (t >= far_from()) {
        const std::uint64_t block = far_block_size();
        parallel::for_each(dimension / 2, [&](std::uint64_t begin, std::uint64_t end) {
            blocked_pairs(reinterpret_cast<double*>(psi), begin, end, t, block, ExchangeUpdate{});
        });
        return;
    }
    const Lookahead ahead = pairs_lookahead(t);
    parallel::for_each(dimension / 2, [&](std::uint64_t begin, std::uint64_t end) {
        pair_range(ahead, psi, dimension, begin, end, t, [psi](std::uint64_t i, std::uint64_t j) {
            std::swap(psi[i], psi[j]);
        });
    });
}

// Applies `update` to the amplitudes with bit t set.
template <class Update>
[[gnu::noinline]] void upper_half_kernel(Amplitude* psi, std::uint64_t dimension, unsigned t,
                                         const Update& update) {
    const Parts a(psi);
    const Lookahead ahead = upper_lookahead(t);
    parallel::for_each(dimension / 2, [&](std::uint64_t begin, std::uint64_t end) {
        pair_range(ahead, psi, dimension, begin, end, t,
                   [a, update](std::uint64_t, std::uint64_t j) {
                       update(a.re(j), a.im(j));
                   });
    });
}

}  // namespace

namespace {

// Calls f with the pair update of `kind` (Y, H, SX, RX, RY) and returns true; false for every
// other kind. The one place that maps a kind to its arithmetic, for whole states and pieces.
template <class F>
bool visit_pair_update(GateKind kind, HalfAngle angle, const F& f) {
    switch (kind) {
        case GateKind::Y:
            f(YUpdate{});
            return true;
        case GateKind::H:
            f(HUpdate{});
            return true;
        case GateKind::SX:
            f(SXUpdate{});
            return true;
        case GateKind::RX:
            f(RXUpdate{angle.alpha, angle.beta});
            return true;
        case GateKind::RY:
            f(RYUpdate{angle.alpha, angle.beta});
            return true;
        case GateKind::I:
        case GateKind::X:
        case GateKind::Z:
        case GateKind::S:
        case GateKind::T:
        case GateKind::RZ:
        case GateKind::CX:
        case GateKind::CZ:
        case GateKind::U:
        case GateKind::U2:
        case GateKind::P:
        case GateKind::SDG:
        case GateKind::TDG:
        case GateKind::SXDG:
        case GateKind::CY:
        case GateKind::CH:
        case GateKind::CP:
        case GateKind::CRX:
        case GateKind::CRY:
        case GateKind::CRZ:
        case GateKind::CU:
        case GateKind::CCX:
        case GateKind::CSWAP:
        case GateKind::RXX:
        case GateKind::RYY:
        case GateKind::RZZ:
        case GateKind::GPHASE:
        case GateKind::PAULI_ROTATION:
        case GateKind::UNITARY:
        case GateKind::FERMIONIC_SINGLE:
        case GateKind::FERMIONIC_DOUBLE:
        case GateKind::QUBIT_SINGLE:
        case GateKind::QUBIT_DOUBLE:
        case GateKind::SWAP:
            return false;
    }
    return false;
}

// The same for the update of a set target bit of Z, S and T.
template <class F>
bool visit_phase_update(GateKind kind, const F& f) {
    switch (kind) {
        case GateKind::Z:
            f(ZUpdate{});
            return true;
        case GateKind::S:
            f(SUpdate{});
            return true;
        case GateKind::T:
            f(TUpdate{});
            return true;
        case GateKind::I:
        case GateKind::X:
        case GateKind::Y:
        case GateKind::H:
        case GateKind::SX:
        case GateKind::RX:
        case GateKind::RY:
        case GateKind::RZ:
        case GateKind::CX:
        case GateKind::CZ:
        case GateKind::U:
        case GateKind::U2:
        case GateKind::P:
        case GateKind::SDG:
        case GateKind::TDG:
        case GateKind::SXDG:
        case GateKind::CY:
        case GateKind::CH:
        case GateKind::CP:
        case GateKind::CRX:
        case GateKind::CRY:
        case GateKind::CRZ:
        case GateKind::CU:
        case GateKind::CCX:
        case GateKind::CSWAP:
        case GateKind::RXX:
        case GateKind::RYY:
        case GateKind::RZZ:
        case GateKind::GPHASE:
        case GateKind::PAULI_ROTATION:
        case GateKind::UNITARY:
        case GateKind::FERMIONIC_SINGLE:
        case GateKind::FERMIONIC_DOUBLE:
        case GateKind::QUBIT_SINGLE:
        case GateKind::QUBIT_DOUBLE:
        case GateKind::SWAP:
            return false;
    }
    return false;
}

}  // namespace

void apply_pair_kind(Amplitude* psi, std::uint64_t dimension, GateKind kind, unsigned t,
                     HalfAngle angle) {
    if (kind == GateKind::X) {
        swap_pair_kernel(psi, dimension, t);
        return;
    }
    visit_pair_update(kind, angle, [&](const auto& update) {
        pair_kernel(psi, dimension, t, update);
    });
}

void apply_phase_kind(Amplitude* psi, std::uint64_t dimension, GateKind kind, unsigned t) {
    visit_phase_update(kind, [&](const auto& update) {
        upper_half_kernel(psi, dimension, t, update);
    });
}

// RZ on qubits from this one up runs as one sequential pass (runs of at least 16 amplitudes);
// below, pairs are adjacent enough that the pair loop is as good.
constexpr std::uint64_t RZ_SEQUENTIAL_FROM_QUBIT = 4;

namespace {

// One worker's share [begin, end) of the amplitudes for RZ on qubit t in runs of 2^t that share
// bit t, built for each instruction set like pair_range.
ZEL_EXACT_CLONES void rz_runs(double* parts, std::uint64_t begin, std::uint64_t end,
                              std::uint64_t t, RZUpdate clear, RZUpdate set) {
    const Parts a(reinterpret_cast<Amplitude*>(parts));
    const std::uint64_t m = std::uint64_t{1} << t;
    std::uint64_t k = begin;
    while (k < end) {
        const std::uint64_t run_end = std::min(end, (k | (m - 1)) + 1);
        const RZUpdate rotate = (k & m) != 0 ? set : clear;
        for (; k < run_end; ++k) {
            rotate(a.re(k), a.im(k));
        }
    }
}

}  // namespace

[[gnu::noinline]] void apply_rz(Amplitude* psi, std::uint64_t dimension, std::uint64_t num_qubits,
                                std::uint64_t t, HalfAngle angle) {
    const Parts a(psi);
    const RZUpdate clear{angle.alpha, -angle.beta};
    const RZUpdate set{angle.alpha, angle.beta};
    if (t >= num_qubits) {
        parallel::for_each(dimension, [&](std::uint64_t begin, std::uint64_t end) {
            for (std::uint64_t k = begin; k < end; ++k) {
                clear(a.re(k), a.im(k));
            }
        });
        return;
    }
    if (t < RZ_SEQUENTIAL_FROM_QUBIT) {
        parallel::for_each(dimension / 2, [&](std::uint64_t begin, std::uint64_t end) {
            pair_range<Lookahead::none>(psi, dimension, begin, end, static_cast<unsigned>(t),
                                        [a, clear, set](std::uint64_t i, std::uint64_t j) {
                                            clear(a.re(i), a.im(i));
                                            set(a.re(j), a.im(j));
                                        });
        });
        return;
    }
    // A diagonal gate needs no partner: one ascending pass, in runs of 2^t amplitudes that share
    // their bit t, reads the state as one stream wherever the target lies.
    parallel::for_each(dimension, [&](std::uint64_t begin, std::uint64_t end) {
        rz_runs(a.data(), begin, end, t, clear, set);
    });
}

[[gnu::noinline]] void apply_cz(Amplitude* psi, std::uint64_t dimension, std::uint64_t q0,
                                std::uint64_t q1) {
    const auto low = static_cast<unsigned>(std::min(q0, q1));
    const auto high = static_cast<unsigned>(std::max(q0, q1));
    const std::uint64_t both = (std::uint64_t{1} << q0) | (std::uint64_t{1} << q1);
    const Parts a(psi);
    const QuadLookahead ahead = quad_lookahead(QuadShape::cz, low, high);
    parallel::for_each(dimension / 4, [&](std::uint64_t begin, std::uint64_t end) {
        quad_range(ahead, psi, dimension, begin, end, low, high, both, both,
                   [a, both](std::uint64_t base) {
                       ZUpdate{}(a.re(base | both), a.im(base | both));
                   });
    });
}

// CX and SWAP exchange amplitude base | from with base | to for every quad of q0 and q1: CX
// swaps i (control set, target clear) with i + 2^target, SWAP exchanges i (first qubit set,
// second clear) with i - 2^q0 + 2^q1. When the two lie far apart and the runs of consecutive
// quads are long, whole blocks are exchanged through a cache-resident buffer (a swap either
// way, so bitwise the same).
[[gnu::noinline]] void apply_swap_kind(Amplitude* psi, std::uint64_t dimension, GateKind kind,
                                       std::uint64_t q0, std::uint64_t q1) {
    const std::uint64_t m0 = std::uint64_t{1} << q0;
    const std::uint64_t m1 = std::uint64_t{1} << q1;
    const std::uint64_t from = m0;
    const std::uint64_t to = kind == GateKind::CX ? m0 | m1 : m1;
    const auto low = static_cast<unsigned>(std::min(q0, q1));
    const auto high = static_cast<unsigned>(std::max(q0, q1));
    const std::uint64_t distance = from < to ? to - from : from - to;
    const std::uint64_t block = far_block_size();
    const unsigned far = far_from();
    // Members on lines of one way tag go through the buffer even with runs of a quarter block
    // (qubit 8 of the pair {8, 23}): the direct loop there ran 4x slower than the buffer. Both
    // rules hold only where the CPU folds way tags, which `far` below 64 stands for.
    const bool shared_tag = far < 64 && same_line_tag(from ^ to);
    const bool far_apart = far < 64 && distance >= (std::uint64_t{1} << far);
    const std::uint64_t min_run = shared_tag ? std::min<std::uint64_t>(block, 256) : block;
    if (!(shared_tag || far_apart) || (std::uint64_t{1} << low) < min_run) {
        const QuadShape shape = kind == GateKind::SWAP ? QuadShape::swap
                                : q0 == low            ? QuadShape::cx_control_low
                                                       : QuadShape::cx_target_low;
        const QuadLookahead ahead = quad_lookahead(shape, low, high);
        parallel::for_each(dimension / 4, [&](std::uint64_t begin, std::uint64_t end) {
            quad_range(ahead, psi, dimension, begin, end, low, high, from, to,
                       [psi, from, to](std::uint64_t base) {
                           std::swap(psi[base | from], psi[base | to]);
                       });
        });
        return;
    }
    parallel::for_each(dimension / 4, [&](std::uint64_t begin, std::uint64_t end) {
        for_each_quad_run(begin, end, low, high, [&](std::uint64_t base, std::uint64_t run) {
            if (far_apart) {
                swap_streamed(psi + (base | from), psi + (base | to), run, block);
            } else {
                swap_blocks(psi + (base | from), psi + (base | to), run, block);
            }
        });
        if (far_apart) {
            stream_fence();
        }
    });
}

void copy_amplitudes(Amplitude* to, const Amplitude* from, std::uint64_t count) {
    parallel::for_each(count, [to, from](std::uint64_t begin, std::uint64_t end) {
        std::memcpy(static_cast<void*>(to + begin), from + begin,
                    static_cast<std::size_t>(end - begin) * BYTES_PER_AMPLITUDE);
    });
}

void zero_amplitudes(Amplitude* psi, std::uint64_t count) {
    parallel::for_each(count, [psi](std::uint64_t begin, std::uint64_t end) {
        std::memset(static_cast<void*>(psi + begin), 0,
                    static_cast<std::size_t>(end - begin) * BYTES_PER_AMPLITUDE);
    });
}

// --- Entry points of detail/kernels.hpp ---------------------------------------------------

namespace {

template <class Update>
void pairs_of(KernelAmplitude* lower, KernelAmplitude* upper, std::size_t count,
              const Update& update) {
    const Parts l(lower);
    const Parts u(upper);
    for (std::size_t k = 0; k < count; ++k) {
        update(l.re(k), l.im(k), u.re(k), u.im(k));
    }
}

template <class Update>
void each_of(KernelAmplitude* amplitudes, std::size_t count, const Update& update) {
    const Parts a(amplitudes);
    for (std::size_t k = 0; k < count; ++k) {
        update(a.re(k), a.im(k));
    }
}

}  // namespace

void apply_pair_gate(const GateType& gate, std::span<const double> params, KernelAmplitude* lower,
                     KernelAmplitude* upper, std::size_t count) noexcept {
    if (gate.kind == GateKind::X) {
        std::swap_ranges(lower, lower + count, upper);
        return;
    }
    const HalfAngle angle = is_rotation(gate.kind) ? half_angle(gate, params) : HalfAngle{};
    visit_pair_update(gate.kind, angle, [&](const auto& update) {
        pairs_of(lower, upper, count, update);
    });
}

void apply_diagonal_gate(const GateType& gate, std::span<const double> params, bool bit,
                         KernelAmplitude* amplitudes, std::size_t count) noexcept {
    if (gate.kind == GateKind::RZ) {
        const HalfAngle angle = half_angle(gate, params);
        each_of(amplitudes, count, RZUpdate{angle.alpha, bit ? angle.beta : -angle.beta});
        return;
    }
    if (bit) {
        visit_phase_update(gate.kind, [&](const auto& update) {
            each_of(amplitudes, count, update);
        });
    }
}

}  // namespace zel::detail

// The kernels of the original two-qubit kinds: CZ's phase, and the exchanges of CX and SWAP
// with their block-wise forms for qubits far apart.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "zel/core/detail/kernels.hpp"
#include "zel/core/parallel.hpp"

#include "gate_kernels.hpp"
#include "index_iteration.hpp"
#include "pair_traversal.hpp"
#include "traversal_policy.hpp"

namespace zel::detail {
namespace {

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
}  // namespace

[[gnu::noinline]] void apply_cz(Amplitude* psi, std::uint64_t dimension, std::uint64_t q0,
                                std::uint64_t q1) {
    if (dimension <= SMALL_REGISTER) {
        const std::uint64_t both = (std::uint64_t{1} << q0) | (std::uint64_t{1} << q1);
        const Parts a(psi);
        for (std::uint64_t i = both; i < dimension; i = ((i | both) + 1) | both) {
            ZUpdate{}(a.re(i), a.im(i));
        }
        return;
    }
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
    if (dimension <= SMALL_REGISTER) {
        // The bases: both bits clear; each exchanges base | from with base | to.
        const std::uint64_t both = m0 | m1;
        for (std::uint64_t base = 0; base < dimension; base = ((base | both) + 1) & ~both) {
            std::swap(psi[base | from], psi[base | to]);
        }
        return;
    }
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
}  // namespace zel::detail

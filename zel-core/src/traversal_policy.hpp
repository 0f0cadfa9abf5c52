#pragma once

// How the gate kernels traverse the state, decided by CPU and by qubit: from which qubit pairs
// count as far apart and go through a cache-resident buffer, and how each loop prefetches. The
// kernels in gate_kernels.cpp read these; the values come from the measurements quoted with them.

#include <array>
#include <cstdint>

#include "index_iteration.hpp"

namespace zel::detail {

/// The qubit from which the pair kernels take the blocked traversal: the CPU's default until a
/// test or benchmark sets another (set_far_pair_traversal).
unsigned far_from() noexcept;

/// Amplitudes per block of the blocked traversal.
std::uint64_t far_block_size() noexcept;

// How the loops on qubit t prefetch (for_each_pair_ahead), chosen by measurement on every qubit
// of 2^24 and 2^26 amplitudes, each against the plain loop and the other modes. Loops over both
// members of each pair: from qubit 4, where pairs lie 256 B apart (there Y ran at up to 1.6
// passes of the probe without the window and at most 1.03 with it, X at up to 1.19 and 1.11,
// three runs of each build alternating; the other kinds at parity); from qubit 10 the window
// no longer fits the first-level cache and goes to the second (qubit 10: 0.6-0.8 of the probe
// before, 0.9-1.1 after); from qubit 12 the plain loop is as fast or faster (qubits 12-13 of 2^24
// and 2^26 amplitudes: H, RX, RY and Y 1.11-1.17 passes of the probe with the window, 0.92-1.07
// without, SX at parity; X 1.26-1.27 with it, 1.05-1.14 without).
inline constexpr unsigned PAIRS_PLAIN_FROM = 12;

inline constexpr Lookahead pairs_lookahead(unsigned t) noexcept {
    if (t < 4 || t >= PAIRS_PLAIN_FROM) {
        return Lookahead::none;
    }
    return t < 10 ? Lookahead::whole : Lookahead::whole_outer;
}

// Z, S and T change only the upper members, whose runs are 64 B long on qubit 2 and 32 KiB on
// qubit 11. Which mode fared best changed from qubit to qubit (prefetching only the changed
// lines ran 3x slower than reading every line on qubit 3, and 1.2-1.4x on qubits 5-7); from
// qubit 12 the plain loop was as fast.
inline constexpr Lookahead upper_lookahead(unsigned t) noexcept {
    using enum Lookahead;
    constexpr std::array<Lookahead, 12> BY_QUBIT{
        none,  none,  upper_later, whole,       whole_outer, whole,
        whole, whole, upper_later, upper_later, upper_later, upper_later};
    return t < BY_QUBIT.size() ? BY_QUBIT[t] : none;
}

// Whether the lines of amplitudes i and i ^ mask share their set and their way tag in the
// first-level data cache of the CPUs of folds_way_tags, which then cannot hold both: a loop that
// works on the two at once loses each to the other on every access. The cache predicts the way of a
// line from eight bits folded out of address bits 12-27 in pairs (12 with 27, 13 with 26, 14 with
// 25, 15 with 20, ..., 19 with 24), so two lines in one set share the tag when their addresses
// differ in both bits of a pair, or in neither, for every pair, for instance only above bit 27.
// Measured here: SWAP on qubits {11, 16} and {8, 23} of 2^24 amplitudes (address bits 15 and 20, 12
// and 27) ran 4-6x slower than on {11, 17} and {8, 22} (AMD family 19h; on 1Ah at most 1.4x, where
// the buffer did not help); H's access pattern on the top qubit of 2^26 amplitudes (bit 29) ran 9x
// slower than the probe, and at the probe with each partner 4 KiB further. In amplitude bits (16
// bytes each) the pairs are 8 with 23, 9 with 22, 10 with 21, 11 with 16, ..., 15 with 20; bits 2-7
// choose the set.
inline constexpr bool same_line_tag(std::uint64_t mask) noexcept {
    if ((mask & 0xFC) != 0 || (mask >> 2) == 0) {
        return false;
    }
    constexpr std::array<std::pair<unsigned, unsigned>, 8> PAIRS{
        {{8, 23}, {9, 22}, {10, 21}, {11, 16}, {12, 17}, {13, 18}, {14, 19}, {15, 20}}};
    for (const auto& [a, b] : PAIRS) {
        if ((((mask >> a) ^ (mask >> b)) & 1) != 0) {
            return false;
        }
    }
    return true;
}

// How the direct loops of CX, CZ and SWAP prefetch, by their lower qubit (2-11; none above),
// each the fastest of the four modes in a sweep over lower qubits 2-11 of 2^24 amplitudes, and
// with the lower qubit on 0 or 1 by the upper one.
// Which lines to fetch depends on where the changed members lie: SWAP changes one member on
// each side of the upper qubit, CX two members that differ in its target, CZ one.
enum class QuadShape : unsigned char { swap, cx_control_low, cx_target_low, cz };

inline constexpr QuadLookahead quad_lookahead(QuadShape shape, unsigned low,
                                              unsigned high) noexcept {
    using enum QuadLookahead;
    if (low < 2) {
        // Each line then holds members of several quads, and the upper qubit sets the pattern,
        // as for a one-qubit kind on it: SWAP and CX with its control on qubit 0 or 1 change
        // lines on both sides of it (1.05-1.3 passes of the probe against 1.4-2.9 with the
        // upper qubit on 5-10), CX with its target there and CZ only the lines with the upper
        // bit set (0.5-1.0 on 3-13 against 0.55-4.3).
        constexpr unsigned UPPER_QUBITS = 14;
        constexpr std::array<std::array<QuadLookahead, UPPER_QUBITS>, 2> BY_UPPER{{
            {none, none, none, none, none, whole, whole, whole, whole, whole, whole, none, none,
             none},
            {none, none, none, touched, whole, whole, whole, touched, touched, touched, touched,
             touched, touched, touched},
        }};
        const bool both_sides = shape == QuadShape::swap || shape == QuadShape::cx_control_low;
        return high < UPPER_QUBITS ? BY_UPPER[both_sides ? 0 : 1][high] : none;
    }
    constexpr unsigned QUBITS = 12;
    constexpr std::array<std::array<QuadLookahead, QUBITS>, 4> BY_SHAPE{{
        // swap: 0.6-1.0 of a probe pass on qubits 2-11, against 0.7-4.1
        {none, none, touched, touched, whole, whole, whole, whole, touched, touched, touched,
         touched},
        // cx_control_low: 0.55-1.4, against 0.7-3.1
        {none, none, touched, whole_near, whole, whole, whole, whole, touched, touched, touched,
         touched},
        // cx_target_low: 0.55-0.85, against 0.5-1.9
        {none, none, touched, touched, touched, touched, touched, touched, touched, touched,
         touched, touched},
        // cz: 0.45-0.85, against 0.5-2.5
        {none, none, touched, whole_near, touched, touched, touched, touched, touched, touched,
         touched, none},
    }};
    return low < QUBITS ? BY_SHAPE[static_cast<std::size_t>(shape)][low] : none;
}

}  // namespace zel::detail

// The Pauli-string rotation exp(-i theta/2 P) in one pass. Every amplitude takes the same update,
// new a_m = c a_m + sign(m ^ x) f turned(a_(m ^ x)), with c = cos(theta/2), sign(j) the parity of
// j & z and f, turned() fixed by the string (see apply_pauli_rotation). The pass goes by aligned
// blocks of a few amplitudes: the partner of a block is a block, the signs inside a block are a
// pattern fixed for the whole pass, and only a block's own parity changes from one to the next.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "zel/core/parallel.hpp"

#include "cpu_dispatch.hpp"
#include "gate_math.hpp"
#include "primitive_kernels.hpp"

namespace zel::detail {
namespace {

using A = PrimitiveAmplitude;
using V = AmplitudeLanes;
using V2 = AmplitudePairLanes;

inline bool odd_parity(std::uint64_t bits) noexcept {
    return (std::popcount(bits) & 1) != 0;
}

// Amplitudes of a block: 2^SPAN_BITS, one 64-byte line, as two vectors of two amplitudes.
constexpr unsigned SPAN_BITS = 2;
constexpr std::uint64_t SPAN = std::uint64_t{1} << SPAN_BITS;

// How the partner's vector is turned before it is scaled: its parts exchanged for an imaginary
// factor, its two amplitudes exchanged when qubit 0 is under x.
enum Turn : unsigned { KEEP = 0, PARTS = 1, AMPLITUDES = 2, BOTH = 3 };

// Taken and returned by reference: a 32-byte vector by value is a different calling convention
// with AVX than without, which the compilers warn of.
template <unsigned TURN>
[[gnu::always_inline]] inline void turn_pair(V2& v) noexcept {
    if constexpr (TURN == PARTS) {
        v = __builtin_shufflevector(v, v, 1, 0, 3, 2);
    } else if constexpr (TURN == AMPLITUDES) {
        v = __builtin_shufflevector(v, v, 2, 3, 0, 1);
    } else if constexpr (TURN == BOTH) {
        v = __builtin_shufflevector(v, v, 3, 2, 1, 0);
    }
}

// The two vectors of the block at `line` (its first part), both in registers.
struct Line {
    V2 low;
    V2 high;
};

[[gnu::always_inline]] inline Line load_line(const double* line) noexcept {
    Line l;
    std::memcpy(&l.low, line, sizeof l.low);
    std::memcpy(&l.high, line + 4, sizeof l.high);
    return l;
}

[[gnu::always_inline]] inline void store_line(double* line, const Line& l) noexcept {
    std::memcpy(line, &l.low, sizeof l.low);
    std::memcpy(line + 4, &l.high, sizeof l.high);
}

// Lanes of all ones where a line's amplitude changes, zeros where a control on qubit 0 or 1
// leaves it alone.
using Mask = std::int64_t __attribute__((vector_size(32)));

struct LineMask {
    Mask low;
    Mask high;
};

// What every block of a pass shares. Blocks are numbered by index >> SPAN_BITS; the pass visits
// the block numbers of `blocks` (its controls set, the highest block bit of x clear) and each
// one's partner block.
struct BlockPass {
    IndexPattern blocks;
    V2 kept;                     // c in every lane
    Line factor[2];              // sign f by the partner's position, for a block parity of 0, 1
    std::uint64_t z_blocks = 0;  // z >> SPAN_BITS
    std::uint64_t x_blocks = 0;  // x >> SPAN_BITS: a block's partner is its number ^ x_blocks
    bool crossed = false;        // qubit 1 under x: the partner of the low vector is the high one
    LineMask changed;            // the amplitudes the controls on qubits 0 and 1 select
};

// new = c own + f turned(partner), the partner's vectors exchanged when they cross. A branch on
// `crossed` is the same for the whole pass. With MASKED, the amplitudes outside `changed` keep
// their bits.
template <unsigned TURN, bool MASKED>
[[gnu::always_inline]] inline Line rotated_line(const Line& own, const Line& partner, const Line& f,
                                                const BlockPass& pass) noexcept {
    V2 to_low = pass.crossed ? partner.high : partner.low;
    V2 to_high = pass.crossed ? partner.low : partner.high;
    turn_pair<TURN>(to_low);
    turn_pair<TURN>(to_high);
    const V2 low = pass.kept * own.low + f.low * to_low;
    const V2 high = pass.kept * own.high + f.high * to_high;
    if constexpr (MASKED) {
        return {pass.changed.low ? low : own.low, pass.changed.high ? high : own.high};
    } else {
        return {low, high};
    }
}

// A worker's share [begin, end) of the compressed block numbers. With SELF (x_blocks == 0) a
// block is its own partner; otherwise block b and b ^ x_blocks are read, then both written. Each
// lane computes c a + (f s) t, lane for lane the one-amplitude update, so every clone gives the
// same bits.
template <unsigned TURN, bool SELF, bool MASKED>
ZEL_EXACT_CLONES void rotate_blocks(double* parts, std::uint64_t begin, std::uint64_t end,
                                    const BlockPass& shared) {
    // A copy no pointer reaches: the stores to the amplitudes cannot force a reload.
    const BlockPass pass = shared;
    // Consecutive compressed numbers give consecutive blocks below the lowest fixed bit.
    const std::uint64_t run = std::uint64_t{1}
                              << (pass.blocks.fixed_count == 0 ? 63 : pass.blocks.fixed[0]);
    const bool partner_odd = odd_parity(pass.x_blocks & pass.z_blocks);
    // The parity of a block's number under z holds along aligned runs of 2^steady blocks.
    const unsigned steady =
        static_cast<unsigned>(std::countr_zero(pass.z_blocks | std::uint64_t{1} << 62));
    const std::uint64_t steady_run = std::uint64_t{1} << steady;
    std::uint64_t c = begin;
    while (c < end) {
        const std::uint64_t length = std::min(run - (c & (run - 1)), end - c);
        const std::uint64_t first = pass.blocks.expand(c);
        for (std::uint64_t b = first; b < first + length;) {
            const std::uint64_t last = std::min(first + length, (b | (steady_run - 1)) + 1);
            const bool odd = odd_parity(b & pass.z_blocks);
            const Line f_own = pass.factor[odd != (SELF ? false : partner_odd) ? 1 : 0];
            const Line f_other = pass.factor[odd ? 1 : 0];
            for (; b < last; ++b) {
                double* own_line = parts + 2 * (b << SPAN_BITS);
                const Line own = load_line(own_line);
                if constexpr (SELF) {
                    store_line(own_line, rotated_line<TURN, MASKED>(own, own, f_own, pass));
                } else {
                    double* other_line = parts + 2 * ((b ^ pass.x_blocks) << SPAN_BITS);
                    const Line other = load_line(other_line);
                    const Line new_own = rotated_line<TURN, MASKED>(own, other, f_own, pass);
                    const Line new_other = rotated_line<TURN, MASKED>(other, own, f_other, pass);
                    store_line(own_line, new_own);
                    store_line(other_line, new_other);
                }
            }
        }
        c += length;
    }
}

template <unsigned TURN, bool SELF, bool MASKED>
void rotate_all_blocks(double* parts, std::uint64_t visited, const BlockPass& pass) {
    // Spread over the pool by amplitudes, like the other kernels; chunks hold whole blocks.
    parallel::for_each(
        visited << SPAN_BITS, [parts, &pass](std::uint64_t begin, std::uint64_t end) {
            rotate_blocks<TURN, SELF, MASKED>(parts, begin >> SPAN_BITS, end >> SPAN_BITS, pass);
        });
}

template <unsigned TURN>
void rotate_all_blocks(double* parts, std::uint64_t visited, const BlockPass& pass, bool masked) {
    if (pass.x_blocks == 0) {
        if (masked) {
            rotate_all_blocks<TURN, true, true>(parts, visited, pass);
        } else {
            rotate_all_blocks<TURN, true, false>(parts, visited, pass);
        }
    } else if (masked) {
        rotate_all_blocks<TURN, false, true>(parts, visited, pass);
    } else {
        rotate_all_blocks<TURN, false, false>(parts, visited, pass);
    }
}

void rotate_by_blocks(double* parts, std::uint64_t dimension, std::uint64_t x, std::uint64_t z,
                      std::uint64_t controls, double c, V coefficient, bool imaginary) {
    BlockPass pass;
    pass.kept = V2{c, c, c, c};
    pass.z_blocks = z >> SPAN_BITS;
    pass.x_blocks = x >> SPAN_BITS;
    pass.crossed = (x & 2) != 0;
    // The amplitude at position m of a block takes the sign of its partner's position m ^ x.
    for (unsigned odd = 0; odd < 2; ++odd) {
        double lanes[2 * SPAN];
        for (std::uint64_t m = 0; m < SPAN; ++m) {
            const bool negative = (odd != 0) != odd_parity((m ^ x) & z & (SPAN - 1));
            const V f = negative ? -coefficient : coefficient;
            lanes[2 * m] = f[0];
            lanes[2 * m + 1] = f[1];
        }
        pass.factor[odd] = load_line(lanes);
    }
    const std::uint64_t control_lanes = controls & (SPAN - 1);
    std::int64_t changed[SPAN];
    for (std::uint64_t m = 0; m < SPAN; ++m) {
        changed[m] = (m & control_lanes) == control_lanes ? -1 : 0;
    }
    pass.changed = {Mask{changed[0], changed[0], changed[1], changed[1]},
                    Mask{changed[2], changed[2], changed[3], changed[3]}};
    const std::uint64_t control_blocks = controls >> SPAN_BITS;
    const std::uint64_t pivot = pass.x_blocks == 0 ? 0 : std::bit_floor(pass.x_blocks);
    pass.blocks = IndexPattern::of(control_blocks | pivot, control_blocks);
    const std::uint64_t visited = (dimension >> SPAN_BITS) >> pass.blocks.fixed_count;
    const bool masked = control_lanes != 0;
    const unsigned turn = (imaginary ? PARTS : KEEP) | ((x & 1) != 0 ? AMPLITUDES : KEEP);
    switch (turn) {
        case KEEP:
            rotate_all_blocks<KEEP>(parts, visited, pass, masked);
            return;
        case PARTS:
            rotate_all_blocks<PARTS>(parts, visited, pass, masked);
            return;
        case AMPLITUDES:
            rotate_all_blocks<AMPLITUDES>(parts, visited, pass, masked);
            return;
        default:
            rotate_all_blocks<BOTH>(parts, visited, pass, masked);
            return;
    }
}

// Registers of at most this many amplitudes take a plain loop (see apply_pauli_rotation).
constexpr std::uint64_t SMALL_REGISTER = 32;

}  // namespace

void apply_pauli_rotation(A* psi, std::uint64_t dimension, std::uint64_t x, std::uint64_t z,
                          unsigned y_count, std::uint64_t controls, double c, double s) {
    // f = -i s i^(y_count) is real (s, -s) for an odd number of Y and imaginary (-is, is) for an
    // even one: in vector lanes (re, im) it multiplies the partner as it is, or with its parts
    // exchanged. A diagonal string (x = 0) is its own partner: c - i s or c + i s by the parity.
    const bool imaginary = y_count % 2 == 0;
    const double size = (y_count % 4 == 0 || y_count % 4 == 3) ? -s : s;
    const V coefficient = imaginary ? V{-size, size} : V{size, size};
    auto* parts = reinterpret_cast<double*>(psi);
    if (dimension > SMALL_REGISTER) {
        rotate_by_blocks(parts, dimension, x, z, controls, c, coefficient, imaginary);
        return;
    }
    // Up to five qubits the set-up of the block loop and the pool would cost more than the
    // update: each amplitude the controls select together with its partner m ^ x (which the
    // controls select too: the string's qubits are not controls), from the old values of both,
    // with the block loop's arithmetic lane for lane.
    const V kept = {c, c};
    const auto turned = [imaginary](V v) {
        return imaginary ? swap_parts(v) : v;
    };
    // The amplitudes m with every control set and, when x flips any bit, its highest bit clear
    // (then m < partner), ascending: the fixed bits are filled with ones before each increment
    // so that the carry passes over them.
    const std::uint64_t top = x == 0 ? 0 : std::uint64_t{1} << (63 - std::countl_zero(x));
    const std::uint64_t fixed = controls | top;
    for (std::uint64_t m = controls; m < dimension; m = (((m | fixed) + 1) & ~fixed) | controls) {
        const std::uint64_t partner = m ^ x;
        V a;
        V b;
        std::memcpy(&a, parts + 2 * m, sizeof a);
        std::memcpy(&b, parts + 2 * partner, sizeof b);
        const V f = odd_parity(partner & z) ? -coefficient : coefficient;
        const V new_a = kept * a + f * turned(b);
        if (partner != m) {
            const V g = odd_parity(m & z) ? -coefficient : coefficient;
            const V new_b = kept * b + g * turned(a);
            std::memcpy(parts + 2 * partner, &new_b, sizeof new_b);
        }
        std::memcpy(parts + 2 * m, &new_a, sizeof new_a);
    }
}

}  // namespace zel::detail

#pragma once

// The loops of the kernels in primitive_kernels.cpp: every index of an IndexPattern, by runs or,
// on small registers, block by block; and the complex products of a matrix entry in vector
// lanes. Only that file includes this one.

#include <algorithm>
#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>

#include "zel/core/parallel.hpp"

#include "gate_math.hpp"
#include "primitive_kernels.hpp"

namespace zel::detail {

// Qubits below this make a block: see for_each_index_by_block.
inline constexpr unsigned BLOCK_BITS = 3;

// The block loop of for_each_index_by_block with MATCHING indexes per block, a constant the
// inner loop unrolls over (as a count read at run time it stayed a loop through the table).
template <std::size_t MATCHING, class Body>
void blocks_of(std::uint64_t count, std::uint64_t run, const IndexPattern& blocks,
               const std::array<std::uint64_t, 8>& positions, const Body& body) {
    std::array<std::uint64_t, MATCHING> at;
    std::copy_n(positions.begin(), MATCHING, at.begin());
    const Body local = body;
    for (std::uint64_t c = 0; c < count;) {
        const std::uint64_t length = std::min(run, count - c);
        const std::uint64_t base = blocks.expand(c) << BLOCK_BITS;
        for (std::uint64_t k = 0; k < length; ++k) {
            const std::uint64_t start = base + (k << BLOCK_BITS);
            for (std::size_t p = 0; p < MATCHING; ++p) {
                local(start + at[p]);
            }
        }
        c += length;
    }
}

// for_each_index on the calling thread for a pattern that fixes a qubit below BLOCK_BITS, where
// runs would hold one, two or four indexes. Inside every aligned block of 2^BLOCK_BITS indexes
// the positions that match the low fixed qubits are the same, so the loop goes block by block
// with one insertion of zero bits per block.
template <class Body>
void for_each_index_by_block(std::uint64_t dimension, const IndexPattern& pattern,
                             const Body& body) {
    constexpr std::uint64_t block = std::uint64_t{1} << BLOCK_BITS;
    IndexPattern blocks;
    blocks.set = pattern.set >> BLOCK_BITS;
    std::uint64_t low_fixed = 0;
    for (unsigned j = 0; j < pattern.fixed_count; ++j) {
        if (pattern.fixed[j] < BLOCK_BITS) {
            low_fixed |= std::uint64_t{1} << pattern.fixed[j];
        } else {
            blocks.fixed[blocks.fixed_count++] = pattern.fixed[j] - BLOCK_BITS;
        }
    }
    const std::uint64_t low_set = pattern.set & (block - 1);
    std::array<std::uint64_t, block> positions{};
    std::size_t matching = 0;
    for (std::uint64_t p = 0; p < block; ++p) {
        if ((p & low_fixed) == low_set) {
            positions[matching++] = p;
        }
    }
    const std::uint64_t count = (dimension >> BLOCK_BITS) >> blocks.fixed_count;
    const std::uint64_t run = blocks.fixed_count == 0 ? count : std::uint64_t{1} << blocks.fixed[0];
    // At least one qubit below BLOCK_BITS is fixed, so at most half of a block matches.
    switch (matching) {
        case 4:
            blocks_of<4>(count, run, blocks, positions, body);
            return;
        case 2:
            blocks_of<2>(count, run, blocks, positions, body);
            return;
        default:
            blocks_of<1>(count, run, blocks, positions, body);
            return;
    }
}

// Runs body(base, length) for the runs of consecutive indexes of `pattern`, spread over the pool
// above the grain. Compressed indexes that differ only below the lowest fixed bit f map to
// consecutive indexes, so the loop goes by runs of 2^f (the whole range when nothing is fixed):
// one insertion of zero bits per run. A run never crosses a multiple of 2^f.
template <class RunBody>
void for_each_run(std::uint64_t dimension, const IndexPattern& pattern, const RunBody& body) {
    const std::uint64_t count = dimension >> pattern.fixed_count;
    const std::uint64_t run =
        pattern.fixed_count == 0 ? count : std::uint64_t{1} << pattern.fixed[0];
    parallel::for_each(count, [&](std::uint64_t begin, std::uint64_t end) {
        // A copy of the body that no pointer reaches: the pool takes the address of this
        // closure, and the coefficients of one held by reference were reloaded after every
        // store to an amplitude.
        const RunBody local = body;
        std::uint64_t c = begin;
        while (c < end) {
            const std::uint64_t length = std::min(run - (c & (run - 1)), end - c);
            local(pattern.expand(c), length);
            c += length;
        }
    });
}

// Whether for_each_index goes block by block (for_each_index_by_block).
inline bool by_block(std::uint64_t dimension, const IndexPattern& pattern) {
    return pattern.fixed_count != 0 && pattern.fixed[0] < BLOCK_BITS &&
           dimension >= (std::uint64_t{1} << BLOCK_BITS) &&
           !parallel::detail::pooled(dimension >> pattern.fixed_count);
}

// Runs body(i) for every index of `pattern`: by runs (for_each_run), whose inner loop the
// compiler can vectorise, or block by block on small registers. Every call of body touches its
// own amplitudes, so the order of the calls changes no value.
template <class Body>
void for_each_index(std::uint64_t dimension, const IndexPattern& pattern, const Body& body) {
    if (by_block(dimension, pattern)) {
        for_each_index_by_block(dimension, pattern, body);
        return;
    }
    for_each_run(dimension, pattern, [body](std::uint64_t base, std::uint64_t length) {
        for (std::uint64_t k = 0; k < length; ++k) {
            body(base + k);
        }
    });
}

// An amplitude coefficient in both widths of vector: (re, im) repeated.
template <WholeAmplitudes V>
[[gnu::always_inline]] inline V widen(AmplitudeLanes c) noexcept {
    if constexpr (std::same_as<V, AmplitudeLanes>) {
        return c;
    } else {
        return __builtin_shufflevector(c, c, 0, 1, 0, 1);
    }
}

// Entry m times amplitude a in vector lanes (re, im): (mr, mr) a + (-mi, mi) (im, re). Lane for
// lane what times(m, a) computes, since x + (-y) is x - y to the bit.
struct Coefficient {
    AmplitudeLanes real;
    AmplitudeLanes imag;

    explicit Coefficient(PrimitiveAmplitude m) noexcept
        : real{m.real(), m.real()}, imag{-m.imag(), m.imag()} {
    }

    template <WholeAmplitudes V>
    [[gnu::always_inline]] V times(V a, V swapped) const noexcept {
        return widen<V>(real) * a + widen<V>(imag) * swapped;
    }
};

// The update of a pair by a 2x2 matrix (row-major), whole amplitudes at a time.
struct MatrixUpdate {
    Coefficient m00;
    Coefficient m01;
    Coefficient m10;
    Coefficient m11;

    template <WholeAmplitudes V>
    [[gnu::always_inline]] void operator()(V& a0, V& a1) const noexcept {
        const V s0 = swap_parts(a0);
        const V s1 = swap_parts(a1);
        const V b0 = m00.times(a0, s0) + m01.times(a1, s1);
        const V b1 = m10.times(a0, s0) + m11.times(a1, s1);
        a0 = b0;
        a1 = b1;
    }
};

// MatrixUpdate on two neighbouring pairs at once, its coefficients widened to two amplitudes
// when the update is made: widened in the loop, they took a shuffle each on every step where the
// sixteen AVX2 registers ran short. The same products and sums, lane for lane.
struct TwoPairMatrixUpdate {
    AmplitudePairLanes real[4];
    AmplitudePairLanes imag[4];

    explicit TwoPairMatrixUpdate(const MatrixUpdate& m) noexcept
        : real{widen<AmplitudePairLanes>(m.m00.real), widen<AmplitudePairLanes>(m.m01.real),
               widen<AmplitudePairLanes>(m.m10.real), widen<AmplitudePairLanes>(m.m11.real)},
          imag{widen<AmplitudePairLanes>(m.m00.imag), widen<AmplitudePairLanes>(m.m01.imag),
               widen<AmplitudePairLanes>(m.m10.imag), widen<AmplitudePairLanes>(m.m11.imag)} {
    }

    [[gnu::always_inline]] void operator()(AmplitudePairLanes& a0,
                                           AmplitudePairLanes& a1) const noexcept {
        const AmplitudePairLanes s0 = swap_parts(a0);
        const AmplitudePairLanes s1 = swap_parts(a1);
        const AmplitudePairLanes b0 = (real[0] * a0 + imag[0] * s0) + (real[1] * a1 + imag[1] * s1);
        const AmplitudePairLanes b1 = (real[2] * a0 + imag[2] * s0) + (real[3] * a1 + imag[3] * s1);
        a0 = b0;
        a1 = b1;
    }
};

// The update a loop over two pairs per vector applies: MatrixUpdate widened once, any other as is.
inline TwoPairMatrixUpdate two_pair_update(const MatrixUpdate& m) noexcept {
    return TwoPairMatrixUpdate(m);
}

template <class Update>
const Update& two_pair_update(const Update& update) noexcept {
    return update;
}

// MatrixUpdate on a pair whose two amplitudes are neighbours (qubit 0), the pair as one vector
// (re0, im0, re1, im1). The terms m00 a0 and m11 a1 form in place; m10 a0 and m01 a1 form in
// the other half and the halves trade places before the sum. Each lane takes the products and
// the sum of MatrixUpdate (the upper row adds its terms the other way round, the same bits), so
// the AVX2 clone, which takes a whole pair per instruction, gives the bits of the baseline.
struct NeighbourPairUpdate {
    AmplitudePairLanes direct_real;
    AmplitudePairLanes direct_imag;
    AmplitudePairLanes crossed_real;
    AmplitudePairLanes crossed_imag;

    explicit NeighbourPairUpdate(const PrimitiveAmplitude m[4]) noexcept
        : direct_real{m[0].real(), m[0].real(), m[3].real(), m[3].real()},
          direct_imag{-m[0].imag(), m[0].imag(), -m[3].imag(), m[3].imag()},
          crossed_real{m[2].real(), m[2].real(), m[1].real(), m[1].real()},
          crossed_imag{-m[2].imag(), m[2].imag(), -m[1].imag(), m[1].imag()} {
    }

    [[gnu::always_inline]] AmplitudePairLanes operator()(AmplitudePairLanes pair) const noexcept {
        const AmplitudePairLanes swapped = swap_parts(pair);
        const AmplitudePairLanes crossed = crossed_real * pair + crossed_imag * swapped;
        return (direct_real * pair + direct_imag * swapped) +
               __builtin_shufflevector(crossed, crossed, 2, 3, 0, 1);
    }
};

}  // namespace zel::detail

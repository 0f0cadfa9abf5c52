#include "primitive_kernels.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

#include "zel/core/parallel.hpp"

#include "gate_math.hpp"
#include "index_iteration.hpp"

namespace zel::detail {
namespace {

using A = PrimitiveAmplitude;

// (a + ib)(c + id) written out: std::complex's product checks for infinities and is slower.
inline A times(A u, A v) noexcept {
    return A(u.real() * v.real() - u.imag() * v.imag(), u.real() * v.imag() + u.imag() * v.real());
}

inline bool odd_parity(std::uint64_t bits) noexcept {
    return (std::popcount(bits) & 1) != 0;
}

// Qubits below this make a block: see for_each_index_by_block.
constexpr unsigned BLOCK_BITS = 3;

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
    for (std::uint64_t c = 0; c < count;) {
        const std::uint64_t length = std::min(run, count - c);
        const std::uint64_t base = blocks.expand(c) << BLOCK_BITS;
        for (std::uint64_t k = 0; k < length; ++k) {
            const std::uint64_t start = base + (k << BLOCK_BITS);
            for (std::size_t p = 0; p < matching; ++p) {
                body(start + positions[p]);
            }
        }
        c += length;
    }
}

// Runs body(i) for every index of `pattern`, spread over the pool above the grain. Compressed
// indexes that differ only below the lowest fixed bit f map to consecutive indexes, so the loop
// goes by runs of 2^f (the whole range when nothing is fixed): one insertion of zero bits per
// run, and an inner loop the compiler can vectorise. Every call of body touches its own
// amplitudes, so the order of the calls changes no value.
template <class Body>
void for_each_index(std::uint64_t dimension, const IndexPattern& pattern, const Body& body) {
    const std::uint64_t count = dimension >> pattern.fixed_count;
    if (pattern.fixed_count != 0 && pattern.fixed[0] < BLOCK_BITS &&
        dimension >= (std::uint64_t{1} << BLOCK_BITS) && !parallel::detail::pooled(count)) {
        for_each_index_by_block(dimension, pattern, body);
        return;
    }
    const std::uint64_t run =
        pattern.fixed_count == 0 ? count : std::uint64_t{1} << pattern.fixed[0];
    parallel::for_each(count, [&](std::uint64_t begin, std::uint64_t end) {
        std::uint64_t c = begin;
        while (c < end) {
            const std::uint64_t length = std::min(run - (c & (run - 1)), end - c);
            const std::uint64_t base = pattern.expand(c);
            for (std::uint64_t k = 0; k < length; ++k) {
                body(base + k);
            }
            c += length;
        }
    });
}

}  // namespace

IndexPattern IndexPattern::of(std::uint64_t mask_fixed, std::uint64_t mask_set) noexcept {
    IndexPattern pattern;
    pattern.set = mask_set;
    for (std::uint64_t rest = mask_fixed; rest != 0; rest &= rest - 1) {
        pattern.fixed[pattern.fixed_count++] = static_cast<unsigned>(std::countr_zero(rest));
    }
    return pattern;
}

std::uint64_t IndexPattern::expand(std::uint64_t c) const noexcept {
    for (unsigned j = 0; j < fixed_count; ++j) {
        c = insert_zero_bit(c, fixed[j]);
    }
    return c | set;
}

void apply_controlled_pair(A* psi, std::uint64_t dimension, std::uint64_t controls, unsigned t,
                           const A m[4]) {
    const std::uint64_t bit = std::uint64_t{1} << t;
    // Each amplitude as a vector (re, im); entry m times a is (mr, mr) a + (-mi, mi) (im, re).
    using V = AmplitudeLanes;
    const auto real_lanes = [](A x) {
        return V{x.real(), x.real()};
    };
    const auto imag_lanes = [](A x) {
        return V{-x.imag(), x.imag()};
    };
    const V r00 = real_lanes(m[0]), r01 = real_lanes(m[1]);
    const V r10 = real_lanes(m[2]), r11 = real_lanes(m[3]);
    const V i00 = imag_lanes(m[0]), i01 = imag_lanes(m[1]);
    const V i10 = imag_lanes(m[2]), i11 = imag_lanes(m[3]);
    const auto update = [&](std::uint64_t i, std::uint64_t j) {
        V a0;
        V a1;
        std::memcpy(&a0, &psi[i], sizeof a0);
        std::memcpy(&a1, &psi[j], sizeof a1);
        const V s0 = swap_parts(a0);
        const V s1 = swap_parts(a1);
        const V b0 = (r00 * a0 + i00 * s0) + (r01 * a1 + i01 * s1);
        const V b1 = (r10 * a0 + i10 * s0) + (r11 * a1 + i11 * s1);
        std::memcpy(static_cast<void*>(&psi[i]), &b0, sizeof b0);
        std::memcpy(static_cast<void*>(&psi[j]), &b1, sizeof b1);
    };
    if (controls == 0) {
        // No control: the pair loop of the original kinds, runs of consecutive pairs.
        parallel::for_each(dimension / 2, [&](std::uint64_t begin, std::uint64_t end) {
            for_each_pair(begin, end, t, update);
        });
        return;
    }
    for_each_index(dimension, IndexPattern::of(controls | bit, controls), [&](std::uint64_t i) {
        update(i, i | bit);
    });
}

void apply_controlled_phase(A* psi, std::uint64_t dimension, std::uint64_t selected, A phase) {
    for_each_index(dimension, IndexPattern::of(selected, selected), [&](std::uint64_t i) {
        psi[i] = times(phase, psi[i]);
    });
}

void apply_controlled_permutation(A* psi, std::uint64_t dimension, std::uint64_t controls,
                                  unsigned t, unsigned b, bool exchange) {
    const std::uint64_t bit_t = std::uint64_t{1} << t;
    if (!exchange) {
        for_each_index(dimension, IndexPattern::of(controls | bit_t, controls),
                       [&](std::uint64_t i) {
                           std::swap(psi[i], psi[i | bit_t]);
                       });
        return;
    }
    // The amplitudes with bit t set and bit b clear trade places with their mirror images.
    const std::uint64_t bit_b = std::uint64_t{1} << b;
    for_each_index(dimension, IndexPattern::of(controls | bit_t | bit_b, controls | bit_t),
                   [&](std::uint64_t i) {
                       std::swap(psi[i], psi[(i ^ bit_t) | bit_b]);
                   });
}

void apply_pauli_rotation(A* psi, std::uint64_t dimension, std::uint64_t x, std::uint64_t z,
                          unsigned y_count, std::uint64_t controls, double theta) {
    const double c = std::cos(theta / 2);
    const double s = std::sin(theta / 2);
    if (x == 0) {
        // Diagonal: the factor is c - i s or c + i s by the parity of the bits under z.
        const A plus(c, -s), minus(c, s);
        for_each_index(dimension, IndexPattern::of(controls, controls), [&](std::uint64_t i) {
            psi[i] = times(odd_parity(i & z) ? minus : plus, psi[i]);
        });
        return;
    }
    // new a_k = c a_k + f sign(k') a_k' with k' = k ^ x, f = -i s i^(y_count), sign(j) the
    // parity of j & z; the same with k and k' exchanged. f is real (s, -s) for an odd number of
    // Y and imaginary (-is, is) for an even one: in vector lanes (re, im) it multiplies the
    // partner as it is, or with its parts exchanged.
    using V = AmplitudeLanes;
    const bool imaginary = y_count % 2 == 0;
    const double size = (y_count % 4 == 0 || y_count % 4 == 3) ? -s : s;
    const V coefficient = imaginary ? V{-size, size} : V{size, size};
    const V kept = {c, c};
    const auto turned = [imaginary](V v) {
        return imaginary ? swap_parts(v) : v;
    };
    const std::uint64_t pivot = x & (~x + 1);
    for_each_index(dimension, IndexPattern::of(controls | pivot, controls), [&](std::uint64_t k) {
        const std::uint64_t partner = k ^ x;
        V a;
        V b;
        std::memcpy(&a, &psi[k], sizeof a);
        std::memcpy(&b, &psi[partner], sizeof b);
        const V fa = odd_parity(k & z) ? -coefficient : coefficient;
        const V fb = odd_parity(partner & z) ? -coefficient : coefficient;
        const V new_a = kept * a + fb * turned(b);
        const V new_b = kept * b + fa * turned(a);
        std::memcpy(static_cast<void*>(&psi[k]), &new_a, sizeof new_a);
        std::memcpy(static_cast<void*>(&psi[partner]), &new_b, sizeof new_b);
    });
}

void apply_excitation(A* psi, std::uint64_t dimension, std::uint64_t from, std::uint64_t to,
                      std::uint64_t parity, bool negative, double theta) {
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    // The partner shares every bit outside the orbitals, so one parity serves both.
    using V = AmplitudeLanes;
    const V kept = {c, c};
    const V turned = {s, s};
    const std::uint64_t both = from | to;
    for_each_index(dimension, IndexPattern::of(both, from), [&](std::uint64_t i) {
        const std::uint64_t j = i ^ both;
        V a;
        V b;
        std::memcpy(&a, &psi[i], sizeof a);
        std::memcpy(&b, &psi[j], sizeof b);
        const V f = negative != odd_parity(i & parity) ? -turned : turned;
        const V new_a = kept * a - f * b;
        const V new_b = kept * b + f * a;
        std::memcpy(static_cast<void*>(&psi[i]), &new_a, sizeof new_a);
        std::memcpy(static_cast<void*>(&psi[j]), &new_b, sizeof new_b);
    });
}

void apply_dense(A* psi, std::uint64_t dimension, std::span<const std::uint64_t> qubits,
                 std::span<const A> matrix) {
    const std::size_t k = qubits.size();
    const std::size_t d = std::size_t{1} << k;
    std::uint64_t mask = 0;
    std::array<std::uint64_t, 64> offsets{};
    for (std::size_t local = 0; local < d; ++local) {
        std::uint64_t offset = 0;
        for (std::size_t j = 0; j < k; ++j) {
            if (((local >> j) & 1U) != 0) {
                offset |= std::uint64_t{1} << qubits[j];
            }
        }
        offsets[local] = offset;
    }
    for (const std::uint64_t q : qubits) {
        mask |= std::uint64_t{1} << q;
    }
    for_each_index(dimension, IndexPattern::of(mask, 0), [&](std::uint64_t base) {
        std::array<A, 64> in;
        for (std::size_t j = 0; j < d; ++j) {
            in[j] = psi[base | offsets[j]];
        }
        for (std::size_t r = 0; r < d; ++r) {
            A sum(0.0, 0.0);
            for (std::size_t j = 0; j < d; ++j) {
                sum += times(matrix[r * d + j], in[j]);
            }
            psi[base | offsets[r]] = sum;
        }
    });
}

}  // namespace zel::detail

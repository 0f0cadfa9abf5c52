#include "primitive_kernels.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

#include "zel/core/parallel.hpp"

#include "cpu_dispatch.hpp"
#include "gate_math.hpp"
#include "index_iteration.hpp"
#include "pair_traversal.hpp"
#include "primitive_loops.hpp"
#include "traversal_policy.hpp"

namespace zel::detail {
namespace {

using A = PrimitiveAmplitude;

inline bool odd_parity(std::uint64_t bits) noexcept {
    return (std::popcount(bits) & 1) != 0;
}

// The pair kernel of the original one-qubit kinds (the far-pair traversal from far_from(), the
// prefetch of pairs_lookahead below), for a pair update on whole amplitudes.
template <class Update>
[[gnu::noinline]] void whole_pair_kernel(A* psi, std::uint64_t dimension, unsigned t,
                                         const Update& update) {
    auto* parts = reinterpret_cast<double*>(psi);
    if (t >= far_from()) {
        const std::uint64_t block = far_block_size();
        parallel::for_each(dimension / 2, [&](std::uint64_t begin, std::uint64_t end) {
            blocked_pairs(parts, begin, end, t, block, update);
        });
        return;
    }
    const Lookahead ahead = pairs_lookahead(t);
    parallel::for_each(dimension / 2, [&](std::uint64_t begin, std::uint64_t end) {
        pair_range(ahead, psi, dimension, begin, end, t,
                   [parts, update](std::uint64_t i, std::uint64_t j) {
                       update_whole(update, parts + 2 * i, parts + 2 * j);
                   });
    });
}

// The general 2x2 product on qubit 0, a pair per vector: [begin, end) numbers the pairs. The
// update comes by reference and is copied where no store to an amplitude can reach it.
ZEL_EXACT_CLONES void neighbour_pairs(double* parts, std::uint64_t begin, std::uint64_t end,
                                      const NeighbourPairUpdate& update) {
    const NeighbourPairUpdate local = update;
    for (std::uint64_t c = begin; c < end; ++c) {
        AmplitudePairLanes pair;
        std::memcpy(&pair, parts + 4 * c, sizeof pair);
        pair = local(pair);
        std::memcpy(parts + 4 * c, &pair, sizeof pair);
    }
}

// A phase on the amplitudes with bit t set: the loop of the original S and T kernels.
[[gnu::noinline]] void upper_phase_kernel(A* psi, std::uint64_t dimension, unsigned t,
                                          const Coefficient phase) {
    auto* parts = reinterpret_cast<double*>(psi);
    const Lookahead ahead = upper_lookahead(t);
    parallel::for_each(dimension / 2, [&](std::uint64_t begin, std::uint64_t end) {
        pair_range(ahead, psi, dimension, begin, end, t,
                   [parts, phase](std::uint64_t, std::uint64_t j) {
                       AmplitudeLanes a;
                       std::memcpy(&a, parts + 2 * j, sizeof a);
                       a = phase.times(a, swap_parts(a));
                       std::memcpy(parts + 2 * j, &a, sizeof a);
                   });
    });
}

// A phase on `count` consecutive amplitudes, two at a time. Cloned like pair_range: each lane
// computes what the one-amplitude form computes, so every clone gives the same bits.
ZEL_EXACT_CLONES void phase_run(double* parts, std::uint64_t count, const Coefficient phase) {
    std::uint64_t k = 0;
    for (; k + 2 <= count; k += 2) {
        AmplitudePairLanes a;
        std::memcpy(&a, parts + 2 * k, sizeof a);
        a = phase.times(a, swap_parts(a));
        std::memcpy(parts + 2 * k, &a, sizeof a);
    }
    if (k < count) {
        AmplitudeLanes a;
        std::memcpy(&a, parts + 2 * k, sizeof a);
        a = phase.times(a, swap_parts(a));
        std::memcpy(parts + 2 * k, &a, sizeof a);
    }
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
    const MatrixUpdate update{Coefficient(m[0]), Coefficient(m[1]), Coefficient(m[2]),
                              Coefficient(m[3])};
    auto* parts = reinterpret_cast<double*>(psi);
    if (controls == 0 && t == 0) {
        const NeighbourPairUpdate neighbours(m);
        parallel::for_each(dimension / 2, [&](std::uint64_t begin, std::uint64_t end) {
            neighbour_pairs(parts, begin, end, neighbours);
        });
        return;
    }
    if (controls == 0) {
        whole_pair_kernel(psi, dimension, t, update);
        return;
    }
    for_each_index(dimension, IndexPattern::of(controls | bit, controls), [=](std::uint64_t i) {
        update_whole(update, parts + 2 * i, parts + 2 * (i | bit));
    });
}

void apply_controlled_phase(A* psi, std::uint64_t dimension, std::uint64_t selected, A phase) {
    const Coefficient factor(phase);
    auto* parts = reinterpret_cast<double*>(psi);
    if (selected != 0 && (selected & (selected - 1)) == 0) {
        upper_phase_kernel(psi, dimension, static_cast<unsigned>(std::countr_zero(selected)),
                           factor);
        return;
    }
    const IndexPattern pattern = IndexPattern::of(selected, selected);
    if (by_block(dimension, pattern)) {
        for_each_index_by_block(dimension, pattern, [=](std::uint64_t i) {
            AmplitudeLanes a;
            std::memcpy(&a, parts + 2 * i, sizeof a);
            a = factor.times(a, swap_parts(a));
            std::memcpy(parts + 2 * i, &a, sizeof a);
        });
        return;
    }
    for_each_run(dimension, pattern, [=](std::uint64_t base, std::uint64_t length) {
        phase_run(parts + 2 * base, length, factor);
    });
}

void apply_controlled_permutation(A* psi, std::uint64_t dimension, std::uint64_t controls,
                                  unsigned t, unsigned b, bool exchange) {
    const std::uint64_t bit_t = std::uint64_t{1} << t;
    if (!exchange) {
        if (controls == 0) {
            whole_pair_kernel(psi, dimension, t, ExchangeUpdate{});
            return;
        }
        for_each_index(dimension, IndexPattern::of(controls | bit_t, controls),
                       [=](std::uint64_t i) {
                           std::swap(psi[i], psi[i | bit_t]);
                       });
        return;
    }
    // The amplitudes with bit t set and bit b clear trade places with their mirror images.
    const std::uint64_t bit_b = std::uint64_t{1} << b;
    for_each_index(dimension, IndexPattern::of(controls | bit_t | bit_b, controls | bit_t),
                   [=](std::uint64_t i) {
                       std::swap(psi[i], psi[(i ^ bit_t) | bit_b]);
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
    for_each_index(dimension, IndexPattern::of(both, from), [=](std::uint64_t i) {
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

namespace {

// The dense product on every group of amplitudes, with D (the matrix's side) fixed at compile
// time when it is a template argument (D = 0: read from `d`). Each output amplitude is the sum of
// its row's products in column order, from zero.
template <std::size_t D>
void dense_groups(A* psi, std::uint64_t dimension, std::uint64_t mask,
                  const std::array<std::uint64_t, 64>& offsets, std::size_t d, const A* matrix) {
    const std::size_t side = D == 0 ? d : D;
    auto* parts = reinterpret_cast<double*>(psi);
    for_each_index(dimension, IndexPattern::of(mask, 0), [&](std::uint64_t base) {
        std::array<AmplitudeLanes, D == 0 ? 64 : D> in;
        std::array<AmplitudeLanes, D == 0 ? 64 : D> swapped;
        for (std::size_t j = 0; j < side; ++j) {
            std::memcpy(&in[j], parts + 2 * (base | offsets[j]), sizeof in[j]);
            swapped[j] = swap_parts(in[j]);
        }
        for (std::size_t r = 0; r < side; ++r) {
            AmplitudeLanes sum = {0.0, 0.0};
            for (std::size_t j = 0; j < side; ++j) {
                const A m = matrix[r * side + j];
                sum += AmplitudeLanes{m.real(), m.real()} * in[j] +
                       AmplitudeLanes{-m.imag(), m.imag()} * swapped[j];
            }
            std::memcpy(parts + 2 * (base | offsets[r]), &sum, sizeof sum);
        }
    });
}

}  // namespace

void apply_dense(A* psi, std::uint64_t dimension, std::span<const std::uint64_t> qubits,
                 std::span<const A> matrix) {
    const std::size_t k = qubits.size();
    const std::size_t d = std::size_t{1} << k;
    if (k == 1) {
        // One qubit: the pair kernel's loop with the whole matrix.
        apply_controlled_pair(psi, dimension, 0, static_cast<unsigned>(qubits[0]), matrix.data());
        return;
    }
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
    // Two and three qubits, the common cases, with the loops over the matrix unrolled.
    switch (k) {
        case 2:
            dense_groups<4>(psi, dimension, mask, offsets, d, matrix.data());
            return;
        case 3:
            dense_groups<8>(psi, dimension, mask, offsets, d, matrix.data());
            return;
        default:
            dense_groups<0>(psi, dimension, mask, offsets, d, matrix.data());
            return;
    }
}

}  // namespace zel::detail

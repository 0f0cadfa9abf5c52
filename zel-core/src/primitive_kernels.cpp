#include "primitive_kernels.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>

#include "zel/core/parallel.hpp"

#include "cpu_dispatch.hpp"
#include "fused_kernel.hpp"
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
    if (t == 0) {
        parallel::for_each(dimension / 2, [&](std::uint64_t begin, std::uint64_t end) {
            pair_range(ahead, psi, dimension, begin, end, t,
                       [parts, update](std::uint64_t i, std::uint64_t j) {
                           update_whole(update, parts + 2 * i, parts + 2 * j);
                       });
        });
        return;
    }
    // Above qubit 0 the pairs of i and i + 1 (i even) lie side by side: the even one takes both,
    // as one vector of two amplitudes on each side, and the odd one is left to it. A range that
    // starts at an odd pair finds it done by the range before, which alone writes it; the loop
    // and its prefetch stay those of the original kinds. In the AVX2 clone the two-amplitude form
    // ran at 1.2-2.0x the time of H on qubits 1-23 (one amplitude per instruction).
    const auto two_pairs = two_pair_update(update);
    parallel::for_each(dimension / 2, [&](std::uint64_t begin, std::uint64_t end) {
        pair_range(ahead, psi, dimension, begin, end, t,
                   [parts, two_pairs](std::uint64_t i, std::uint64_t j) {
                       if ((i & 1U) == 0) {
                           update_whole<AmplitudePairLanes>(two_pairs, parts + 2 * i,
                                                            parts + 2 * j);
                       }
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
                      std::uint64_t parity, bool negative, double c, double s) {
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

void apply_dense(A* psi, std::uint64_t dimension, std::span<const std::uint64_t> qubits,
                 std::span<const A> matrix) {
    const std::size_t k = qubits.size();
    const std::size_t d = std::size_t{1} << k;
    if (k == 1) {
        // One qubit: the pair kernel's loop with the whole matrix.
        apply_controlled_pair(psi, dimension, 0, static_cast<unsigned>(qubits[0]), matrix.data());
        return;
    }
    // The dense block kernel of the fused path. Each amplitude sums its row in the order of the
    // matrix's columns, whatever the qubits' places, so a distributed state, which moves a
    // rank's qubits to local places, gets the bits of the whole one.
    std::uint64_t mask = 0;
    for (const std::uint64_t q : qubits) {
        mask |= std::uint64_t{1} << q;
    }
    // Its coefficients: entry (r, c) at (r * d + c) * 8, the real part four times, then the
    // imaginary part (both lanes of a vector take the same matrix). Up to four qubits they fit
    // in 16 KiB on the stack; wider matrices cost far more to check than to allocate.
    constexpr std::size_t STACK_COEFFICIENTS = std::size_t{16} * 16 * 8;
    std::array<double, STACK_COEFFICIENTS> stack_coefficients;
    std::unique_ptr<double[]> heap_coefficients;
    double* coefficients = stack_coefficients.data();
    if (d * d * 8 > STACK_COEFFICIENTS) {
        heap_coefficients = std::make_unique_for_overwrite<double[]>(d * d * 8);
        coefficients = heap_coefficients.get();
    }
    // The entries are read as parts: a copy of the complex value went through the stack in two
    // halves read back whole, a stall on every entry.
    const auto* entries = reinterpret_cast<const double*>(matrix.data());
    for (std::size_t e = 0; e < d * d; ++e) {
        std::fill_n(coefficients + 8 * e, 4, entries[2 * e]);
        std::fill_n(coefficients + 8 * e + 4, 4, entries[2 * e + 1]);
    }
    // The kernel takes groups in pairs that differ in the lowest qubit the matrix leaves alone.
    const auto lane_bit = static_cast<unsigned>(std::countr_one(mask));
    const auto mixed = static_cast<unsigned>(k);
    const BlockKernelArgs block{mixed, qubits.data(), nullptr, 0, lane_bit, coefficients};
    if (lane_bit < static_cast<unsigned>(std::countr_zero(dimension))) {
        parallel::for_each(dimension >> (mixed + 1), [&](std::uint64_t begin, std::uint64_t end) {
            apply_block_range(psi, block, begin, end);
        });
        return;
    }
    // The block mixes every qubit of the state, so its lane bit lies above them: the state,
    // followed by as many zero amplitudes, makes the one pair of groups of a buffer twice its
    // size, and each of its amplitudes takes the arithmetic it takes in a larger state.
    std::array<A, std::size_t{2} * 64> doubled{};
    std::copy_n(psi, dimension, doubled.begin());
    apply_block_range(doubled.data(), block, 0, 1);
    std::copy_n(doubled.begin(), dimension, psi);
}

}  // namespace zel::detail

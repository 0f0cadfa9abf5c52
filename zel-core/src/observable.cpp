#include "zel/core/observable.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <iterator>
#include <limits>
#include <memory>
#include <span>

#include "zel/core/error.hpp"
#include "zel/core/parallel.hpp"

#include "index_iteration.hpp"
#include "pauli_mask.hpp"

namespace zel {
namespace {

using detail::check_partner;
using detail::mask_term;
using detail::MaskedTerm;

// Lane layout of one block of four amplitudes (qubits 0 and 1 enumerated): double 2r + c is
// part c (0 real, 1 imaginary) of the amplitude with residue r = index & 3.
constexpr std::size_t QUAD = 4;
constexpr std::size_t QUAD_LANES = 2 * QUAD;
constexpr std::uint64_t QUAD_BITS = QUAD - 1;

// The two residues r of a flip mask F in [1, 3] with r < r ^ F: one per pair {r, r ^ F}.
constexpr std::uint64_t lower_residue(std::uint64_t flip, std::size_t pair) noexcept {
    return pair == 0 ? 0 : (flip == 1 ? 2 : 1);
}

// Sums over all blocks of four amplitudes, for terms whose masks lie within qubits 0 and 1, in
// one pass: the eight squared lanes (giving |psi_r|^2 for every residue r) and, for every flip
// mask F present, the lane products of the two lower residues r with their partners s = r ^ F:
// x_r x_s, y_r y_s (real part of conj(psi_s) psi_r) and x_r y_s, y_r x_s (its imaginary
// part). Output layout: the 8 squares, then 8 values per flip mask 1, 2, 3 in that order:
// [x_r x_s, y_r y_s, x_r y_s, y_r x_s] for the first lower residue, then for the second.
constexpr std::size_t QUAD_SUMS = QUAD_LANES + 3 * QUAD_LANES;

template <bool F1, bool F2, bool F3>
void quad_partials(const double* psi, std::size_t begin, std::size_t end, double* out) {
    double squares[QUAD_LANES];
    double products[3][QUAD_LANES];
    std::fill(std::begin(squares), std::end(squares), -0.0);
    for (auto& row : products) {
        std::fill(std::begin(row), std::end(row), -0.0);
    }
    constexpr bool PRESENT[3] = {F1, F2, F3};
    for (std::size_t block = begin; block < end; ++block) {
        const double* v = std::assume_aligned<64>(psi + block * QUAD_LANES);
        for (std::size_t l = 0; l < QUAD_LANES; ++l) {
            squares[l] += v[l] * v[l];
        }
        for (std::uint64_t flip = 1; flip <= 3; ++flip) {
            if (!PRESENT[flip - 1]) {
                continue;
            }
            for (std::size_t pair = 0; pair < 2; ++pair) {
                const std::uint64_t r = lower_residue(flip, pair);
                const std::uint64_t s = r ^ flip;
                double* p = products[flip - 1] + 4 * pair;
                p[0] += v[2 * r] * v[2 * s];
                p[1] += v[2 * r + 1] * v[2 * s + 1];
                p[2] += v[2 * r] * v[2 * s + 1];
                p[3] += v[2 * r + 1] * v[2 * s];
            }
        }
    }
    std::copy(std::begin(squares), std::end(squares), out);
    for (std::size_t f = 0; f < 3; ++f) {
        std::copy(std::begin(products[f]), std::end(products[f]), out + QUAD_LANES * (f + 1));
    }
}

using QuadPartials = void (*)(const double*, std::size_t, std::size_t, double*);

// One instantiation per set of flip masks, so that the pass computes only the products needed.
constexpr QuadPartials QUAD_PARTIALS[8] = {
    quad_partials<false, false, false>, quad_partials<true, false, false>,
    quad_partials<false, true, false>,  quad_partials<true, true, false>,
    quad_partials<false, false, true>,  quad_partials<true, false, true>,
    quad_partials<false, true, true>,   quad_partials<true, true, true>,
};

// Sign of a term at basis index k: (-1)^popcount(k & sign).
constexpr bool odd_parity(std::uint64_t k, std::uint64_t sign) noexcept {
    return (std::popcount(k & sign) & 1) != 0;
}

// Inner sums of terms whose masks lie within qubits 0 and 1 (state of at least two qubits), all
// from one pass. The inner sum of a term is the sum over residues r of its sign at r times its
// value at r: Re G(r) for an even count of Y factors, -Im G(r) for an odd one, where
// G(r) = sum over blocks of conj(psi[r ^ F]) psi[r]; G(r ^ F) is the conjugate of G(r).
void quad_inner_sums(const ZarnikState& state, std::span<const MaskedTerm> terms, double* inner) {
    unsigned present = 0;
    for (const MaskedTerm& term : terms) {
        if (term.flip != 0) {
            present |= 1U << (term.flip - 1);
        }
    }
    const QuadPartials partials = QUAD_PARTIALS[present];
    const double* psi = reinterpret_cast<const double*>(state.amplitudes().data());
    double sums[QUAD_SUMS];
    parallel::sum_many(static_cast<std::size_t>(state.dimension() / QUAD), sums,
                       [psi, partials](std::size_t begin, std::size_t end, double* out) {
                           partials(psi, begin, end, out);
                       });
    for (std::size_t t = 0; t < terms.size(); ++t) {
        const MaskedTerm& term = terms[t];
        const bool imaginary = (term.y_count & 1U) != 0;
        double total = -0.0;
        for (std::uint64_t r = 0; r < QUAD; ++r) {
            double value = 0.0;
            if (term.flip == 0) {
                // Re(conj(psi_r) psi_r) = |psi_r|^2; the imaginary part vanishes.
                value = imaginary ? 0.0 : sums[2 * r] + sums[2 * r + 1];
            } else {
                const std::uint64_t s = r ^ term.flip;
                const std::uint64_t lower = std::min(r, s);
                const std::size_t pair = lower == lower_residue(term.flip, 0) ? 0 : 1;
                const double* p = sums + QUAD_LANES * term.flip + 4 * pair;
                if (!imaginary) {
                    value = p[0] + p[1];
                } else {
                    // -Im G(lower) = x_l y_u - y_l x_u; the upper residue has the conjugate.
                    const double minus_im = p[2] - p[3];
                    value = r == lower ? minus_im : -minus_im;
                }
            }
            total += odd_parity(r, term.sign) ? -value : value;
        }
        inner[t] = (term.y_count & 2U) != 0 ? -total : total;
    }
}

// Inner sums of terms that all share the flip mask F, from one pass over the state. A diagonal
// group (F = 0) visits every index. Otherwise each pair {k, m = k ^ F} is visited once, from the
// member k whose highest flipped bit is clear: with psi[m] = a + bi and psi[k] = x + yi, the
// value at k is a x + b y (even count of Y factors) or b x - a y (odd), and the value at m is
// the same or its negation, with the term's sign at m equal to its sign at k times
// (-1)^popcount(F & sign). So the sum over the m members is the sum over the k members times a
// fixed +-1.
void group_inner_sums(const ZarnikState& state, std::uint64_t flip,
                      std::span<const MaskedTerm> terms, double* inner) {
    const ZarnikState::Amplitude* psi = state.amplitudes().data();
    const std::size_t width = terms.size();
    std::array<double, parallel::MAX_SUMS> sums;
    const std::span<double> totals(sums.data(), width);
    if (flip == 0) {
        parallel::sum_many(static_cast<std::size_t>(state.dimension()), totals,
                           [&](std::size_t begin, std::size_t end, double* out) {
                               std::fill(out, out + width, -0.0);
                               for (std::size_t k = begin; k < end; ++k) {
                                   const double p = psi[k].real() * psi[k].real() +
                                                    psi[k].imag() * psi[k].imag();
                                   for (std::size_t t = 0; t < width; ++t) {
                                       out[t] += odd_parity(k, terms[t].sign) ? -p : p;
                                   }
                               }
                           });
        for (std::size_t t = 0; t < width; ++t) {
            // An odd count of Y factors with no flip has value b x - a y = y x - x y = 0.
            inner[t] = (terms[t].y_count & 1U) != 0 ? 0.0 : sums[t];
            inner[t] = (terms[t].y_count & 2U) != 0 ? -inner[t] : inner[t];
        }
        return;
    }
    const auto high = static_cast<unsigned>(63 - std::countl_zero(flip));
    parallel::sum_many(
        static_cast<std::size_t>(state.dimension() / 2), totals,
        [&](std::size_t begin, std::size_t end, double* out) {
            std::fill(out, out + width, -0.0);
            detail::for_each_pair(begin, end, high, [&](std::uint64_t k, std::uint64_t) {
                const std::uint64_t m = k ^ flip;
                const double a = psi[m].real();
                const double b = psi[m].imag();
                const double x = psi[k].real();
                const double y = psi[k].imag();
                const double real_value = a * x + b * y;
                const double imaginary_value = b * x - a * y;
                for (std::size_t t = 0; t < width; ++t) {
                    const double value =
                        (terms[t].y_count & 1U) != 0 ? imaginary_value : real_value;
                    out[t] += odd_parity(k, terms[t].sign) ? -value : value;
                }
            });
        });
    for (std::size_t t = 0; t < width; ++t) {
        const MaskedTerm& term = terms[t];
        const bool partner_negated = odd_parity(flip, term.sign) != ((term.y_count & 1U) != 0);
        const double total = sums[t] + (partner_negated ? -sums[t] : sums[t]);
        inner[t] = (term.y_count & 2U) != 0 ? -total : total;
    }
}

// Whether every term's masks lie within qubits 0 and 1.
bool all_within_quad(std::span<const MaskedTerm> terms) noexcept {
    return std::all_of(terms.begin(), terms.end(), [](const MaskedTerm& term) {
        return ((term.flip | term.sign) & ~QUAD_BITS) == 0;
    });
}

// Inner sums of up to MAX_SUMS terms: all from one pass when their masks lie within qubits 0
// and 1, else one pass per distinct flip mask (the diagonal terms together in one).
void batch_inner_sums(const ZarnikState& state, std::span<const MaskedTerm> terms, double* inner) {
    if (state.num_qubits() >= 2 && all_within_quad(terms)) {
        quad_inner_sums(state, terms, inner);
        return;
    }
    // Terms ordered by flip mask (stable), each run of equal masks evaluated as one group.
    std::array<std::size_t, parallel::MAX_SUMS> order;
    std::array<MaskedTerm, parallel::MAX_SUMS> grouped;
    std::array<double, parallel::MAX_SUMS> grouped_inner;
    for (std::size_t t = 0; t < terms.size(); ++t) {
        order[t] = t;
    }
    std::stable_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(terms.size()),
                     [&](std::size_t lhs, std::size_t rhs) {
                         return terms[lhs].flip < terms[rhs].flip;
                     });
    for (std::size_t t = 0; t < terms.size(); ++t) {
        grouped[t] = terms[order[t]];
    }
    std::size_t first = 0;
    while (first < terms.size()) {
        std::size_t last = first + 1;
        while (last < terms.size() && grouped[last].flip == grouped[first].flip) {
            ++last;
        }
        group_inner_sums(state, grouped[first].flip,
                         std::span<const MaskedTerm>(grouped.data() + first, last - first),
                         grouped_inner.data() + first);
        first = last;
    }
    for (std::size_t t = 0; t < terms.size(); ++t) {
        inner[order[t]] = grouped_inner[t];
    }
}

}  // namespace

PauliSum PauliSum::h2_hamiltonian() {
    // The coefficients in hexadecimal so that each is exactly the intended double.
    constexpr double IDENTITY = -0x1.0d685541c7a0fp+0;  // -1.052373245772859
    constexpr double Z_SINGLE = 0x1.977ce88639429p-2;   // 0.39793742484318045
    constexpr double Z_PAIR = -0x1.71a05f7020d00p-7;    // -0.01128010425623538
    constexpr double XY_PAIR = 0x1.728c0e8f31cd0p-3;    // 0.18093119978423156
    PauliSum sum;
    sum.terms = {
        {IDENTITY, {}},
        {Z_SINGLE, {{0, Pauli::Z}}},
        {-Z_SINGLE, {{1, Pauli::Z}}},
        {Z_PAIR, {{0, Pauli::Z}, {1, Pauli::Z}}},
        {XY_PAIR, {{0, Pauli::X}, {1, Pauli::X}}},
        {XY_PAIR, {{0, Pauli::Y}, {1, Pauli::Y}}},
    };
    return sum;
}

double PauliSum::expectation_value(const ZarnikState& state) const {
    const std::uint64_t dimension = state.dimension();
    // Terms go in batches of at most MAX_SUMS, in order, so that nothing is allocated here. All
    // terms are checked before any work starts; a sum that fits one batch keeps its masks; a
    // longer one passes its checks through the last slot and masks every batch again.
    std::array<MaskedTerm, parallel::MAX_SUMS> masked;
    for (std::size_t t = 0; t < terms.size(); ++t) {
        MaskedTerm& term = masked[std::min(t, parallel::MAX_SUMS - 1)];
        mask_term(terms[t], term);
        check_partner(term, dimension);
    }
    std::array<double, parallel::MAX_SUMS> inner;
    double total = -0.0;
    for (std::size_t first = 0; first < terms.size(); first += parallel::MAX_SUMS) {
        const std::size_t count = std::min(parallel::MAX_SUMS, terms.size() - first);
        if (terms.size() > parallel::MAX_SUMS) {
            for (std::size_t t = 0; t < count; ++t) {
                mask_term(terms[first + t], masked[t]);
            }
        }
        batch_inner_sums(state, std::span<const MaskedTerm>(masked.data(), count), inner.data());
        // Each inner sum is multiplied by its weight and added to the total in term order.
        for (std::size_t t = 0; t < count; ++t) {
            total += terms[first + t].coefficient * inner[t];
        }
    }
    return total;
}

}  // namespace zel

#include "zel/core/observable.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <span>

#include "zel/core/detail/reductions.hpp"
#include "zel/core/parallel.hpp"

#include "index_iteration.hpp"

namespace zel {
namespace detail {
namespace {

// Lane layout of one block of four amplitudes (qubits 0 and 1 enumerated): double 2r + c is
// part c (0 real, 1 imaginary) of the amplitude with residue r = index & 3.
constexpr std::size_t QUAD_LANES = 2 * QUAD_AMPLITUDES;
constexpr std::uint64_t QUAD_BITS = QUAD_AMPLITUDES - 1;

// The two residues r of a flip mask F in [1, 3] with r < r ^ F: one per pair {r, r ^ F}.
constexpr std::uint64_t lower_residue(std::uint64_t flip, std::size_t pair) noexcept {
    return pair == 0 ? 0 : (flip == 1 ? 2 : 1);
}

// Sums over blocks of four amplitudes, for terms whose masks lie within qubits 0 and 1, in
// one pass: the eight squared lanes (giving |psi_r|^2 for every residue r) and, for every flip
// mask F present, the lane products of the two lower residues r with their partners s = r ^ F:
// x_r x_s, y_r y_s (real part of conj(psi_s) psi_r) and x_r y_s, y_r x_s (its imaginary
// part). Output layout: the 8 squares, then 8 values per flip mask 1, 2, 3 in that order:
// [x_r x_s, y_r y_s, x_r y_s, y_r x_s] for the first lower residue, then for the second.
static_assert(QUAD_SUMS == QUAD_LANES + 3 * QUAD_LANES);

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

// Inner sums of the terms of a quad pass. The inner sum of a term is the sum over residues r of
// its sign at r times its value at r: Re G(r) for an even count of Y factors, -Im G(r) for an
// odd one, where G(r) = sum over blocks of conj(psi[r ^ F]) psi[r]; G(r ^ F) is the conjugate
// of G(r).
void quad_inner_sums(std::span<const MaskedTerm> terms, const double* sums, double* inner) {
    for (std::size_t t = 0; t < terms.size(); ++t) {
        const MaskedTerm& term = terms[t];
        const bool imaginary = (term.y_count & 1U) != 0;
        double total = -0.0;
        for (std::uint64_t r = 0; r < QUAD_AMPLITUDES; ++r) {
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

// Inner sums of the terms of a diagonal pass, whose sums are the signed sums of |psi_k|^2.
void diagonal_inner_sums(std::span<const MaskedTerm> terms, const double* sums, double* inner) {
    for (std::size_t t = 0; t < terms.size(); ++t) {
        // An odd count of Y factors with no flip has value b x - a y = y x - x y = 0.
        inner[t] = (terms[t].y_count & 1U) != 0 ? 0.0 : sums[t];
        inner[t] = (terms[t].y_count & 2U) != 0 ? -inner[t] : inner[t];
    }
}

// Inner sums of the terms of a flip pass with mask F. Each pair {k, m = k ^ F} is visited once,
// from the member k whose highest flipped bit is clear: with psi[m] = a + bi and
// psi[k] = x + yi, the value at k is a x + b y (even count of Y factors) or b x - a y (odd),
// and the value at m is the same or its negation, with the term's sign at m equal to its sign
// at k times (-1)^popcount(F & sign). So the sum over the m members is the sum over the k
// members times a fixed +-1.
void flip_inner_sums(std::uint64_t flip, std::span<const MaskedTerm> terms, const double* sums,
                     double* inner) {
    for (std::size_t t = 0; t < terms.size(); ++t) {
        const MaskedTerm& term = terms[t];
        const bool partner_negated = odd_parity(flip, term.sign) != ((term.y_count & 1U) != 0);
        const double total = sums[t] + (partner_negated ? -sums[t] : sums[t]);
        inner[t] = (term.y_count & 2U) != 0 ? -total : total;
    }
}

}  // namespace

void plan_expectation_batch(std::span<const MaskedTerm> terms, std::uint64_t num_qubits,
                            ExpectationBatch& batch) noexcept {
    const std::uint64_t dimension = std::uint64_t{1} << num_qubits;
    const std::size_t count = terms.size();
    batch.term_count = count;
    // One branch-free walk finds whether every mask lies within qubits 0 and 1 and which flip
    // masks occur (bit F for mask F).
    std::uint64_t outside = 0;
    unsigned flips = 0;
    for (const MaskedTerm& term : terms) {
        outside |= (term.flip | term.sign) & ~QUAD_BITS;
        flips |= 1U << (term.flip & QUAD_BITS);
    }
    if (num_qubits >= 2 && outside == 0) {
        batch.terms = terms.data();
        batch.pass_count = 1;
        batch.sum_count = QUAD_SUMS;
        batch.passes[0] = ExpectationPass{
            PassKind::Quad, 0, 0, flips >> 1, 0, count, 0, QUAD_SUMS, dimension / QUAD_AMPLITUDES};
        return;
    }
    // Terms ordered by flip mask (stable), each run of equal masks one pass.
    for (std::size_t t = 0; t < count; ++t) {
        batch.position[t] = t;
    }
    std::stable_sort(batch.position.begin(),
                     batch.position.begin() + static_cast<std::ptrdiff_t>(count),
                     [&](std::size_t lhs, std::size_t rhs) {
                         return terms[lhs].flip < terms[rhs].flip;
                     });
    for (std::size_t g = 0; g < count; ++g) {
        batch.grouped[g] = terms[batch.position[g]];
    }
    batch.terms = batch.grouped.data();
    batch.pass_count = 0;
    batch.sum_count = count;
    std::size_t first = 0;
    while (first < count) {
        const std::uint64_t flip = batch.grouped[first].flip;
        std::size_t last = first + 1;
        while (last < count && batch.grouped[last].flip == flip) {
            ++last;
        }
        const std::size_t width = last - first;
        ExpectationPass& pass = batch.passes[batch.pass_count++];
        if (flip == 0) {
            pass =
                ExpectationPass{PassKind::Diagonal, 0, 0, 0, first, width, first, width, dimension};
        } else {
            const auto high = static_cast<unsigned>(63 - std::countl_zero(flip));
            pass = ExpectationPass{PassKind::Flip, flip,  high,         0, first, width,
                                   first,          width, dimension / 2};
        }
        first = last;
    }
}

namespace {

// Adds the items [begin, end) of a diagonal pass to the sums of its `width` terms: each sum
// takes the items in ascending order, one addition per item. OFFSET false: the source starts
// at basis index 0 (a whole state), which saves an addition per item.
template <bool OFFSET>
[[gnu::always_inline]] inline void accumulate_diagonal(const MaskedTerm* terms, std::size_t width,
                                                       const PassSource& source,
                                                       std::uint64_t begin, std::uint64_t end,
                                                       double* out) noexcept {
    const std::complex<double>* psi = source.lower;
    const std::uint64_t first_index = OFFSET ? source.first_index : 0;
    for (std::uint64_t k = begin; k < end; ++k) {
        const double p = psi[k].real() * psi[k].real() + psi[k].imag() * psi[k].imag();
        for (std::size_t t = 0; t < width; ++t) {
            out[t] += odd_parity(first_index + k, terms[t].sign) ? -p : p;
        }
    }
}

// The same for a flip pass, whose items are pairs.
template <bool OFFSET>
[[gnu::always_inline]] inline void accumulate_flip(const MaskedTerm* terms, std::size_t width,
                                                   const PassSource& source, std::uint64_t begin,
                                                   std::uint64_t end, double* out) noexcept {
    const std::complex<double>* lower = source.lower;
    const std::complex<double>* partner = source.partner;
    const std::uint64_t flip = source.flip;
    const std::uint64_t first_index = OFFSET ? source.first_index : 0;
    for_each_pair(begin, end, source.high, [&](std::uint64_t k, std::uint64_t) {
        const std::uint64_t m = k ^ flip;
        const double a = partner[m].real();
        const double b = partner[m].imag();
        const double x = lower[k].real();
        const double y = lower[k].imag();
        const double real_value = a * x + b * y;
        const double imaginary_value = b * x - a * y;
        for (std::size_t t = 0; t < width; ++t) {
            const double value = (terms[t].y_count & 1U) != 0 ? imaginary_value : real_value;
            out[t] += odd_parity(first_index + k, terms[t].sign) ? -value : value;
        }
    });
}

// One chunk's partials of a pass of kind KIND. The kind is a template argument so that each
// pass over a whole state compiles to its own loop, as fast as a loop written for it alone.
template <PassKind KIND, bool OFFSET>
[[gnu::always_inline]] inline void chunk_partial(const ExpectationBatch& batch,
                                                 const ExpectationPass& pass,
                                                 const PassSource& source, std::uint64_t begin,
                                                 std::uint64_t end, double* out) noexcept {
    if constexpr (KIND == PassKind::Quad) {
        QUAD_PARTIALS[pass.quad_flips](reinterpret_cast<const double*>(source.lower),
                                       static_cast<std::size_t>(begin),
                                       static_cast<std::size_t>(end), out);
    } else {
        const MaskedTerm* terms = batch.terms + pass.first_term;
        std::fill(out, out + pass.term_count, -0.0);
        if constexpr (KIND == PassKind::Diagonal) {
            accumulate_diagonal<OFFSET>(terms, pass.term_count, source, begin, end, out);
        } else {
            accumulate_flip<OFFSET>(terms, pass.term_count, source, begin, end, out);
        }
    }
}

// The sums of one pass over a whole state, its chunks spread over the pool.
template <PassKind KIND>
void whole_state_sums(const ExpectationBatch& batch, const ExpectationPass& pass,
                      const ZarnikState::Amplitude* psi, double* sums) {
    const PassSource source{psi, psi, pass.flip, pass.high, 0};
    // A quad pass has a fixed number of sums, which lets the compiler unroll their loops.
    const std::size_t width = KIND == PassKind::Quad ? QUAD_SUMS : pass.sum_count;
    parallel::sum_many(static_cast<std::size_t>(pass.items),
                       std::span<double>(sums + pass.first_sum, width),
                       [&](std::size_t begin, std::size_t end, double* out) {
                           chunk_partial<KIND, false>(batch, pass, source, begin, end, out);
                       });
}

}  // namespace

void accumulate_pass(const ExpectationBatch& batch, const ExpectationPass& pass,
                     const PassSource& source, std::uint64_t begin, std::uint64_t end,
                     double* out) noexcept {
    const MaskedTerm* terms = batch.terms + pass.first_term;
    switch (pass.kind) {
        case PassKind::Quad:
            return;
        case PassKind::Diagonal:
            accumulate_diagonal<true>(terms, pass.term_count, source, begin, end, out);
            return;
        case PassKind::Flip:
            accumulate_flip<true>(terms, pass.term_count, source, begin, end, out);
            return;
    }
}

void pass_partial(const ExpectationBatch& batch, const ExpectationPass& pass,
                  const PassSource& source, std::uint64_t begin, std::uint64_t end,
                  double* out) noexcept {
    switch (pass.kind) {
        case PassKind::Quad:
            chunk_partial<PassKind::Quad, true>(batch, pass, source, begin, end, out);
            return;
        case PassKind::Diagonal:
            chunk_partial<PassKind::Diagonal, true>(batch, pass, source, begin, end, out);
            return;
        case PassKind::Flip:
            chunk_partial<PassKind::Flip, true>(batch, pass, source, begin, end, out);
            return;
    }
}

void batch_inner_sums(const ExpectationBatch& batch, const double* sums, double* inner) noexcept {
    const std::span<const MaskedTerm> all(batch.terms, batch.term_count);
    if (batch.passes[0].kind == PassKind::Quad) {
        // One pass, in term order.
        quad_inner_sums(all, sums, inner);
        return;
    }
    std::array<double, parallel::MAX_SUMS> grouped;
    for (std::size_t p = 0; p < batch.pass_count; ++p) {
        const ExpectationPass& pass = batch.passes[p];
        const std::span<const MaskedTerm> terms = all.subspan(pass.first_term, pass.term_count);
        double* out = grouped.data() + pass.first_term;
        if (pass.kind == PassKind::Diagonal) {
            diagonal_inner_sums(terms, sums + pass.first_sum, out);
        } else {
            flip_inner_sums(pass.flip, terms, sums + pass.first_sum, out);
        }
    }
    for (std::size_t g = 0; g < batch.term_count; ++g) {
        inner[batch.position[g]] = grouped[g];
    }
}

}  // namespace detail

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
    const ZarnikState::Amplitude* psi = state.amplitudes().data();
    return detail::expectation_in_batches(
        *this, state.num_qubits(), state.dimension(),
        [psi](const detail::ExpectationBatch& batch, double* sums) {
            for (std::size_t p = 0; p < batch.pass_count; ++p) {
                const detail::ExpectationPass& pass = batch.passes[p];
                switch (pass.kind) {
                    case detail::PassKind::Quad:
                        detail::whole_state_sums<detail::PassKind::Quad>(batch, pass, psi, sums);
                        break;
                    case detail::PassKind::Diagonal:
                        detail::whole_state_sums<detail::PassKind::Diagonal>(batch, pass, psi,
                                                                             sums);
                        break;
                    case detail::PassKind::Flip:
                        detail::whole_state_sums<detail::PassKind::Flip>(batch, pass, psi, sums);
                        break;
                }
            }
        });
}

}  // namespace zel

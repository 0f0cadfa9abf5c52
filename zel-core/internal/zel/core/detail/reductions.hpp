#pragma once

// The pieces of the library's deterministic reductions, for components that hold a state in
// pieces (the distributed state of zel-mpi) and must reproduce a whole state's result bit for
// bit: each reduction is a sum, in ascending order from -0.0, of partials over fixed chunks of
// parallel::SUM_CHUNK basis indices, and these functions compute one chunk's partial exactly as
// ZarnikState does.
//
// Expectation values go through the same pieces inside the core: PauliSum::expectation_value
// is `expectation_in_batches` with each pass summed over the whole state by parallel::sum_many.

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/gradient.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/parallel.hpp"

namespace zel::detail {

/// The entropy partial of the `count` amplitudes starting at `psi`: for a state of at least 64
/// amplitudes, calculate_entropy() is -0.0 plus the partials of the chunks
/// [k * SUM_CHUNK, (k + 1) * SUM_CHUNK), added in ascending k.
double entropy_partial(const std::complex<double>* psi, std::size_t count) noexcept;

// --- Expectation values -------------------------------------------------------------------
//
// A sum's terms go in batches of at most parallel::MAX_SUMS, in order. Each batch is planned
// into passes over the state: one quad pass for all its terms when every mask lies within
// qubits 0 and 1 (on at least two qubits), else one pass per distinct flip mask (the diagonal
// terms together in one). A pass has `items` (blocks of four amplitudes, amplitudes, or pairs)
// and `sum_count` sums; each sum is -0.0 plus the pass's chunk partials over the items
// [k * SUM_CHUNK, (k + 1) * SUM_CHUNK) in ascending k. The batch's sums then give every term's
// inner sum (`batch_inner_sums`), and the value adds coefficient * inner sum in term order.

/// A Pauli string in mask form. P|k> = f(k)|k ^ flip> with
/// f(k) = i^y_count * (-1)^popcount(k & sign): X flips its bit; Y flips it and contributes
/// +i for a clear bit, -i for a set one (i times -1); Z contributes -1 for a set bit. Masks
/// combine by XOR, which reproduces walking the factors one by one. No default member
/// initialisers: arrays of these are stack scratch that `mask_term` fills.
struct MaskedTerm {
    std::uint64_t flip;
    std::uint64_t sign;
    unsigned y_count;
    bool flips_beyond_64_bits;  ///< An X or Y factor names a qubit >= 64.
};

/// Writes the term's masks into `masked` in place (no temporary: a returned copy read back
/// whole stalls on store forwarding, and this runs on every term of every evaluation).
inline void mask_term(const PauliTerm& term, MaskedTerm& masked) {
    masked = MaskedTerm{0, 0, 0, false};
    for (const PauliFactor& factor : term.paulis) {
        const std::uint64_t bit = factor.qubit < 64 ? std::uint64_t{1} << factor.qubit : 0;
        switch (factor.kind) {
            case Pauli::I:
                break;
            case Pauli::X:
                masked.flip ^= bit;
                masked.flips_beyond_64_bits |= factor.qubit >= 64;
                break;
            case Pauli::Y:
                masked.flip ^= bit;
                masked.sign ^= bit;
                masked.flips_beyond_64_bits |= factor.qubit >= 64;
                ++masked.y_count;
                break;
            case Pauli::Z:
                masked.sign ^= bit;
                break;
        }
    }
}

/// Throws the bounds report (len `dimension`) when the term's partner of index 0 (its flip
/// mask) leaves the array, which happens exactly when some flipped qubit does.
inline void check_partner(const MaskedTerm& term, std::uint64_t dimension) {
    if (term.flips_beyond_64_bits) {
        throw IndexOutOfBounds(dimension, std::numeric_limits<std::uint64_t>::max());
    }
    if (term.flip >= dimension) {
        throw IndexOutOfBounds(dimension, term.flip);
    }
}

/// How a pass walks the state.
enum class PassKind : std::uint8_t {
    /// Every term of the batch at once; items are blocks of QUAD_AMPLITUDES amplitudes.
    Quad,
    /// Terms without X or Y factors; items are amplitudes.
    Diagonal,
    /// Terms sharing one non-zero flip mask; items are the pairs {k, k ^ flip} numbered by the
    /// member k whose highest flipped bit is clear (k is the item index with a zero bit
    /// inserted at that bit).
    Flip,
};

/// Amplitudes per item of a quad pass (qubits 0 and 1 enumerated).
inline constexpr std::size_t QUAD_AMPLITUDES = 4;

/// Sums of a quad pass: the eight squared lanes of a block, then eight lane products per flip
/// mask 1, 2, 3.
inline constexpr std::size_t QUAD_SUMS = 32;
static_assert(QUAD_SUMS <= parallel::MAX_SUMS);

/// One pass of a batch.
struct ExpectationPass {
    PassKind kind;
    std::uint64_t flip;      ///< Flip: the terms' flip mask; 0 otherwise.
    unsigned high;           ///< Flip: the highest bit of `flip`.
    unsigned quad_flips;     ///< Quad: bit f - 1 is set when some term has flip mask f.
    std::size_t first_term;  ///< Its terms are batch.terms[first_term, + term_count).
    std::size_t term_count;  ///< Terms of the pass.
    std::size_t first_sum;   ///< Its sums are sums[first_sum, + sum_count) of the batch.
    std::size_t sum_count;   ///< QUAD_SUMS for a quad pass, else term_count.
    std::uint64_t items;     ///< 2^n / 4, 2^n or 2^n / 2 for Quad, Diagonal, Flip.

    /// Number of chunks, ceil(items / SUM_CHUNK).
    std::uint64_t chunks() const noexcept {
        return (items + parallel::SUM_CHUNK - 1) / parallel::SUM_CHUNK;
    }
};

/// The plan of one batch: its terms in pass order, and the passes in order. Stack scratch
/// without initialisers, filled by `plan_expectation_batch`; `terms` may point into the array
/// the batch was planned from, so a batch is used only while that array lives, and never copied.
struct ExpectationBatch {
    ExpectationBatch() = default;
    ExpectationBatch(const ExpectationBatch&) = delete;
    ExpectationBatch& operator=(const ExpectationBatch&) = delete;

    std::size_t term_count;
    std::size_t pass_count;
    std::size_t sum_count;  ///< Sums of all passes together, at most MAX_SUMS.
    /// The batch's terms in pass order: terms[g] is term position[g] of the batch. A quad
    /// batch keeps the planned array (position[g] = g, not stored); others point at `grouped`.
    const MaskedTerm* terms;
    std::array<std::size_t, parallel::MAX_SUMS> position;
    std::array<MaskedTerm, parallel::MAX_SUMS> grouped;
    std::array<ExpectationPass, parallel::MAX_SUMS> passes;
};

/// Plans the passes of one batch of at most MAX_SUMS `terms` (already checked against the
/// state) on a state of `num_qubits` qubits. The batch may refer to `terms` afterwards.
void plan_expectation_batch(std::span<const MaskedTerm> terms, std::uint64_t num_qubits,
                            ExpectationBatch& batch) noexcept;

/// Where a pass reads the amplitudes of its items [begin, end), numbered from the first item
/// the source holds:
/// - Quad: block b is lower[4b, 4b + 4); lower must be 64-byte aligned.
/// - Diagonal: item k is lower[k], whose basis index is first_index + k.
/// - Flip: item c names k = c with a zero bit inserted at `high`; the pair is lower[k] and
///   partner[k ^ flip], the former at basis index first_index + k. On a whole state both
///   pointers are the state, `flip` the pass's mask and `high` its highest bit; with the lower
///   members of one contiguous range in `lower` and their partners, in the same order
///   permuted by `flip`, in `partner`, set `high` to CONTIGUOUS_ITEMS (k = c).
struct PassSource {
    const std::complex<double>* lower;
    const std::complex<double>* partner;
    std::uint64_t flip;
    unsigned high;
    std::uint64_t first_index;
};

/// A `PassSource::high` under which item c is k = c.
inline constexpr unsigned CONTIGUOUS_ITEMS = 63;

/// Writes the `pass.sum_count` partials of the items [begin, end) of one chunk (or of a whole
/// short pass) to `out`, each -0.0 plus the chunk's item contributions in ascending order.
void pass_partial(const ExpectationBatch& batch, const ExpectationPass& pass,
                  const PassSource& source, std::uint64_t begin, std::uint64_t end,
                  double* out) noexcept;

/// For Diagonal and Flip passes: adds the contributions of the items [begin, end), in
/// ascending order, to the `pass.sum_count` partials in `out`. A chunk cut into consecutive
/// pieces gives pass_partial's bits when `out` starts at -0.0 and the pieces come in order.
void accumulate_pass(const ExpectationBatch& batch, const ExpectationPass& pass,
                     const PassSource& source, std::uint64_t begin, std::uint64_t end,
                     double* out) noexcept;

/// Every term's inner sum, in the batch's term order, from the batch's `sums` (pass p's at
/// sums[first_sum, + sum_count)).
void batch_inner_sums(const ExpectationBatch& batch, const double* sums, double* inner) noexcept;

/// The expectation value of `sum` on a state of `num_qubits` qubits (`dimension` = 2^n)
/// whose passes are summed by `batch_sums(const ExpectationBatch&, double* sums)`, which must
/// write each pass's sums as defined above. Checks every term first and throws what
/// `PauliSum::expectation_value` throws before calling `batch_sums` at all. Allocates nothing.
template <class BatchSums>
double expectation_in_batches(const PauliSum& sum, std::uint64_t num_qubits,
                              std::uint64_t dimension, BatchSums&& batch_sums) {
    constexpr std::size_t WIDTH = parallel::MAX_SUMS;
    const std::vector<PauliTerm>& terms = sum.terms;
    // All terms are checked before any work starts; a sum that fits one batch keeps its
    // masks; a longer one passes its checks through the last slot and masks every batch again.
    std::array<MaskedTerm, WIDTH> masked;
    for (std::size_t t = 0; t < terms.size(); ++t) {
        MaskedTerm& term = masked[std::min(t, WIDTH - 1)];
        mask_term(terms[t], term);
        check_partner(term, dimension);
    }
    ExpectationBatch batch;
    std::array<double, WIDTH> sums;
    std::array<double, WIDTH> inner;
    double total = -0.0;
    for (std::size_t first = 0; first < terms.size(); first += WIDTH) {
        const std::size_t count = std::min(WIDTH, terms.size() - first);
        if (terms.size() > WIDTH) {
            for (std::size_t t = 0; t < count; ++t) {
                mask_term(terms[first + t], masked[t]);
            }
        }
        plan_expectation_batch(std::span<const MaskedTerm>(masked.data(), count), num_qubits,
                               batch);
        batch_sums(static_cast<const ExpectationBatch&>(batch), sums.data());
        batch_inner_sums(batch, sums.data(), inner.data());
        // Each inner sum is multiplied by its weight and added to the total in term order.
        for (std::size_t t = 0; t < count; ++t) {
            total += terms[first + t].coefficient * inner[t];
        }
    }
    return total;
}

// --- Products and overlaps of the adjoint gradients ---------------------------------------
//
// H|psi> adds, for every target amplitude j, the flip groups' products in group order:
// out_j = sum_g group_factor(g, j ^ flip_g) psi_(j ^ flip_g), from +0. The overlaps of the
// backward sweep are sums over items (basis indexes, or the compressed indexes of the amplitudes
// an operation moves) in the fixed chunks of parallel::SUM_CHUNK items: each chunk's partial is
// +0 plus its items' contributions in ascending order, and the value is -0.0 plus the partials
// in ascending chunk order. The `add_*` functions add the contributions of the items
// [begin, end) to a running partial acc[0] (real part), acc[1] (imaginary part); a chunk cut into
// consecutive pieces gives the bits of the whole chunk. They read the vectors through
// `a(index)` (phi, the bra) and `b(index)` (psi, the ket), which return the amplitude at a
// basis index, so a caller that holds the vectors in blocks reads the same values as one that
// holds them whole.

using GradientAmplitude = std::complex<double>;

// Products written out in real arithmetic: std::complex's operator* checks for infinities and
// NaN (Annex G) and is several times slower in these loops.
inline GradientAmplitude times(GradientAmplitude x, GradientAmplitude y) noexcept {
    return {x.real() * y.real() - x.imag() * y.imag(), x.real() * y.imag() + x.imag() * y.real()};
}

// conj(x) * y.
inline GradientAmplitude conj_times(GradientAmplitude x, GradientAmplitude y) noexcept {
    return {x.real() * y.real() + x.imag() * y.imag(), x.real() * y.imag() - x.imag() * y.real()};
}

inline GradientAmplitude power_of_i(unsigned exponent) noexcept {
    constexpr std::array<GradientAmplitude, 4> POWERS = {
        GradientAmplitude(1.0, 0.0), GradientAmplitude(0.0, 1.0), GradientAmplitude(-1.0, 0.0),
        GradientAmplitude(0.0, -1.0)};
    return POWERS[exponent % 4];
}

// sum_t weight_t (-1)^popcount(source & sign_t): the factor that the group's terms together
// put on the amplitude moved from `source` to `source ^ flip`, added in term order.
inline GradientAmplitude group_factor(const PauliFlipGroup& group, std::uint64_t source) noexcept {
    GradientAmplitude factor(0.0, 0.0);
    for (std::size_t t = 0; t < group.weights.size(); ++t) {
        if (std::popcount(source & group.signs[t]) % 2 == 0) {
            factor += group.weights[t];
        } else {
            factor -= group.weights[t];
        }
    }
    return factor;
}

/// `c` with zero bits inserted at the positions `sorted` (ascending), one after the other.
inline std::uint64_t with_zero_bits(std::uint64_t c, std::span<const unsigned> sorted) noexcept {
    for (const unsigned bit : sorted) {
        const std::uint64_t low = (std::uint64_t{1} << bit) - 1;
        c = ((c & ~low) << 1) | (c & low);
    }
    return c;
}

/// What the backward sweep reads for the derivatives of one operation, the same for a whole
/// state and a distributed one. Each slot's derivative is 2 Re <phi| D |psi> with
/// D = dU/dtheta U^dagger:
/// - Zero: every slot's derivative is 0 (kinds that read no parameter).
/// - HalfPauli: D = -i weight P under `controls`, P|k> = (-1)^popcount(k & sign) |k ^ flip>
///   without its power of i (folded into `weight`); slot 0 is 2 Im(weight * overlap), the
///   overlap summed by `add_signed_overlap`.
/// - Dense: `matrices[s]` on `qubits` for slot s, summed by `add_dense_overlap`; slot s is 2 Im of
///   the sum when `imaginary` (matrices[0] is the generator G, D = -i G), else 2 Re.
/// - Excitation: D = T - T^dagger; slot 0 is 2 Re of the sum of `add_excitation_overlap`.
struct OperationDerivative {
    enum class Form : std::uint8_t { Zero, HalfPauli, Dense, Excitation };
    Form form = Form::Zero;
    std::uint64_t flip = 0;                                ///< HalfPauli: the X|Y mask.
    std::uint64_t sign = 0;                                ///< HalfPauli: the Y|Z mask.
    std::uint64_t controls = 0;                            ///< HalfPauli: the control mask.
    GradientAmplitude weight;                              ///< HalfPauli: 1/2 i^(Y count).
    std::vector<std::uint64_t> qubits;                     ///< Dense: local bit j is qubits[j].
    std::vector<std::vector<GradientAmplitude>> matrices;  ///< Dense: one per slot, row-major.
    bool imaginary = false;                                ///< Dense: 2 Im instead of 2 Re.
    std::uint64_t from = 0;    ///< Excitation: bits set on the amplitudes it moves.
    std::uint64_t to = 0;      ///< Excitation: bits clear on the amplitudes it moves.
    std::uint64_t parity = 0;  ///< Excitation: the parity bits of T's sign.
    bool negative = false;     ///< Excitation: T's own sign.
};

/// The derivative form of an operation already checked against the register.
OperationDerivative operation_derivative(const Operation& op);

/// The index of the first operation with parameters (`ops.size()` when none has any): the
/// backward sweep stops there, since nothing before it has a gradient.
inline std::size_t first_parametric(std::span<const Operation> ops) noexcept {
    for (std::size_t k = 0; k < ops.size(); ++k) {
        if (!ops[k].params.empty()) {
            return k;
        }
    }
    return ops.size();
}

/// The items of a dense overlap: the basis indexes whose bits at `qubits` are clear, numbered
/// by the compressed index c (`with_zero_bits(c, sorted)`), and the offset of each local basis
/// state of the matrix (local bit j at qubit qubits[j]).
struct DenseItems {
    std::vector<unsigned> sorted;
    std::vector<std::uint64_t> offset;

    explicit DenseItems(std::span<const std::uint64_t> qubits) {
        const std::size_t k = qubits.size();
        sorted.assign(qubits.begin(), qubits.end());
        std::sort(sorted.begin(), sorted.end());
        offset.assign(std::size_t{1} << k, 0);
        for (std::size_t local = 0; local < offset.size(); ++local) {
            for (std::size_t j = 0; j < k; ++j) {
                if ((local >> j) & 1U) {
                    offset[local] |= std::uint64_t{1} << qubits[j];
                }
            }
        }
    }
};

/// <phi|psi>: items are basis indexes j, contribution conj(a_j) b_j.
template <class A, class B>
void add_inner(std::uint64_t begin, std::uint64_t end, const A& a, const B& b, double* acc) {
    GradientAmplitude part(acc[0], acc[1]);
    for (std::uint64_t j = begin; j < end; ++j) {
        part += conj_times(a(j), b(j));
    }
    acc[0] = part.real();
    acc[1] = part.imag();
}

/// <phi|P|psi> of one Pauli string without its power of i, restricted to the basis states j
/// whose `controls` bits are set: contribution (-1)^popcount((j ^ flip) & sign) conj(a_j)
/// b_(j ^ flip).
template <bool CONTROLLED, class A, class B>
void add_signed_overlap(std::uint64_t begin, std::uint64_t end, std::uint64_t flip,
                        std::uint64_t sign, std::uint64_t controls, const A& a, const B& b,
                        double* acc) {
    double re = acc[0];
    double im = acc[1];
    for (std::uint64_t j = begin; j < end; ++j) {
        if (CONTROLLED && (j & controls) != controls) {
            continue;
        }
        const std::uint64_t source = j ^ flip;
        const double s = 1.0 - 2.0 * static_cast<double>(std::popcount(source & sign) & 1);
        const GradientAmplitude z = conj_times(a(j), b(source));
        re += s * z.real();
        im += s * z.imag();
    }
    acc[0] = re;
    acc[1] = im;
}

/// <phi|B|psi> of one flip group of a sum B: contribution
/// conj(a_j) group_factor(group, j ^ flip) b_(j ^ flip).
template <class A, class B>
void add_group_overlap(std::uint64_t begin, std::uint64_t end, const PauliFlipGroup& group,
                       const A& a, const B& b, double* acc) {
    GradientAmplitude part(acc[0], acc[1]);
    for (std::uint64_t j = begin; j < end; ++j) {
        const std::uint64_t source = j ^ group.flip;
        part += conj_times(a(j), times(group_factor(group, source), b(source)));
    }
    acc[0] = part.real();
    acc[1] = part.imag();
}

/// <phi|D|psi> for a row-major matrix D on the qubits of `items`: item c, with base index
/// i = with_zero_bits(c, items.sorted), contributes sum_r conj(a_(i | offset_r)) row_r with
/// row_r = sum_col D_(r, col) b_(i | offset_col) from +0, columns ascending.
template <class A, class B>
void add_dense_overlap(std::uint64_t begin, std::uint64_t end, const DenseItems& items,
                       std::span<const GradientAmplitude> matrix, const A& a, const B& b,
                       double* acc) {
    const std::size_t d = items.offset.size();
    const std::uint64_t* offset = items.offset.data();
    GradientAmplitude part(acc[0], acc[1]);
    for (std::uint64_t c = begin; c < end; ++c) {
        const std::uint64_t base = with_zero_bits(c, items.sorted);
        for (std::size_t r = 0; r < d; ++r) {
            GradientAmplitude row(0.0, 0.0);
            for (std::size_t col = 0; col < d; ++col) {
                row += times(matrix[r * d + col], b(base | offset[col]));
            }
            part += conj_times(a(base | offset[r]), row);
        }
    }
    acc[0] = part.real();
    acc[1] = part.imag();
}

/// The item after `i` of an excitation: the next index with every `from` bit set and every `to`
/// bit clear, what `expand` gives for the next item, in a few operations instead of one bit
/// insertion per orbital (the carry of the increment passes over the orbitals' bits).
inline std::uint64_t next_excitation_item(std::uint64_t i,
                                          const OperationDerivative& excitation) noexcept {
    const std::uint64_t both = excitation.from | excitation.to;
    return (((i | both) + 1) & ~both) | excitation.from;
}

/// Re <phi| T - T^dagger |psi> of an excitation: item c names i = expand(c), an amplitude the
/// excitation moves (expand inserts zero bits at the orbitals and sets `from`; only the first
/// item of a range is expanded, the others follow by `next_excitation_item`), with partner
/// j = i ^ from ^ to; it contributes
/// s (Re conj(a_j) b_i - Re conj(a_i) b_j) to acc[0] with T's sign s. acc[1] is left alone.
template <class Expand, class A, class B>
void add_excitation_overlap(std::uint64_t begin, std::uint64_t end,
                            const OperationDerivative& excitation, const Expand& expand, const A& a,
                            const B& b, double* acc) {
    const std::uint64_t both = excitation.from | excitation.to;
    double part = acc[0];
    std::uint64_t i = begin < end ? expand(begin) : 0;
    for (std::uint64_t c = begin; c < end; ++c, i = next_excitation_item(i, excitation)) {
        const std::uint64_t j = i ^ both;
        const double value = conj_times(a(j), b(i)).real() - conj_times(a(i), b(j)).real();
        const bool negative =
            excitation.negative != ((std::popcount(i & excitation.parity) & 1) != 0);
        part += negative ? -value : value;
    }
    acc[0] = part;
}

/// The rotation that undoes an excitation of angle theta: cos(-theta) and sin(-theta).
struct UndoRotation {
    double c;
    double s;

    explicit UndoRotation(double theta) : c(std::cos(-theta)), s(std::sin(-theta)) {
    }
};

/// `add_excitation_overlap` with each pair of both vectors rotated back right after its
/// contribution is read: x_i, x_j become c x_i - f x_j and c x_j + f x_i with f = s times T's
/// sign, the kernel's arithmetic for the inverse excitation, so the vectors get the bits that
/// applying the inverse gives them. Amplitude i of a vector is a[i & low] (b[i & low]): the whole
/// state with low = ~0, or one block that holds every pair of the items.
template <class Expand>
void add_excitation_overlap_and_undo(std::uint64_t begin, std::uint64_t end,
                                     const OperationDerivative& excitation, const Expand& expand,
                                     const UndoRotation& undo, GradientAmplitude* a,
                                     GradientAmplitude* b, std::uint64_t low, double* acc) {
    const std::uint64_t both = excitation.from | excitation.to;
    const double c = undo.c;
    const auto rotate = [c](GradientAmplitude& x, GradientAmplitude& y, double f) {
        const GradientAmplitude new_x(c * x.real() - f * y.real(), c * x.imag() - f * y.imag());
        const GradientAmplitude new_y(c * y.real() + f * x.real(), c * y.imag() + f * x.imag());
        x = new_x;
        y = new_y;
    };
    double part = acc[0];
    std::uint64_t i = begin < end ? expand(begin) : 0;
    for (std::uint64_t k = begin; k < end; ++k, i = next_excitation_item(i, excitation)) {
        const std::uint64_t j = i ^ both;
        GradientAmplitude& a_i = a[i & low];
        GradientAmplitude& a_j = a[j & low];
        GradientAmplitude& b_i = b[i & low];
        GradientAmplitude& b_j = b[j & low];
        const double value = conj_times(a_j, b_i).real() - conj_times(a_i, b_j).real();
        const bool negative =
            excitation.negative != ((std::popcount(i & excitation.parity) & 1) != 0);
        part += negative ? -value : value;
        const double f = negative ? -undo.s : undo.s;
        rotate(a_i, a_j, f);
        rotate(b_i, b_j, f);
    }
    acc[0] = part;
}

}  // namespace zel::detail

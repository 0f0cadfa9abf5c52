#include "zel/core/observable.hpp"

#include <bit>
#include <limits>

#include "zel/core/fatal.hpp"
#include "zel/core/parallel.hpp"

namespace zel {
namespace {

// A Pauli string in mask form. P|k> = f(k)|k ^ flip> with
// f(k) = i^y_count * (-1)^popcount(k & sign): X flips its bit; Y flips it and contributes
// +i for a clear bit, -i for a set one (i times -1); Z contributes -1 for a set bit. Masks
// combine by XOR, which reproduces walking the factors one by one.
struct MaskedTerm {
    std::uint64_t flip = 0;
    std::uint64_t sign = 0;
    unsigned y_count = 0;
    bool flips_beyond_64_bits = false;
};

MaskedTerm mask_term(const PauliTerm& term) {
    MaskedTerm masked;
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
    return masked;
}

// <psi|P|psi> for one masked term. With psi[m] = a + bi and psi[k] = x + yi, the contribution
// Re(conj(psi[m]) f psi[k]) is (a x + b y) for f = 1 and (b x - a y) for f = i; the other two
// phases negate these.
double term_value(const ZarnikState::Amplitude* psi, std::size_t dimension,
                  const MaskedTerm& term) {
    const bool imaginary = (term.y_count & 1U) != 0;
    const bool negated = (term.y_count & 2U) != 0;
    const std::uint64_t flip = term.flip;
    const std::uint64_t sign = term.sign;
    const double inner = parallel::sum(dimension, [=](std::size_t begin, std::size_t end) {
        double partial = -0.0;
        for (std::size_t k = begin; k < end; ++k) {
            const std::size_t m = k ^ flip;
            const double a = psi[m].real();
            const double b = psi[m].imag();
            const double x = psi[k].real();
            const double y = psi[k].imag();
            const double value = imaginary ? b * x - a * y : a * x + b * y;
            partial += (std::popcount(k & sign) & 1) != 0 ? -value : value;
        }
        return partial;
    });
    return negated ? -inner : inner;
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
    // Every partner index is checked before any work starts: the partner of index 0 is the
    // flip mask itself, and it leaves the array exactly when some flipped qubit does.
    for (const PauliTerm& term : terms) {
        const MaskedTerm masked = mask_term(term);
        if (masked.flips_beyond_64_bits) {
            fatal_index_out_of_bounds(dimension, std::numeric_limits<std::uint64_t>::max());
        }
        if (masked.flip >= dimension) {
            fatal_index_out_of_bounds(dimension, masked.flip);
        }
    }
    const ZarnikState::Amplitude* psi = state.amplitudes().data();
    double total = -0.0;
    for (const PauliTerm& term : terms) {
        total += term.coefficient * term_value(psi, static_cast<std::size_t>(dimension),
                                               mask_term(term));
    }
    return total;
}

}  // namespace zel

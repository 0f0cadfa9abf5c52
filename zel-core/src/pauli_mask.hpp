#pragma once

// Pauli strings in mask form, shared by the expectation value and the dense matrix of a sum.

#include <cstdint>
#include <limits>

#include "zel/core/error.hpp"
#include "zel/core/observable.hpp"

namespace zel::detail {

// A Pauli string in mask form. P|k> = f(k)|k ^ flip> with
// f(k) = i^y_count * (-1)^popcount(k & sign): X flips its bit; Y flips it and contributes
// +i for a clear bit, -i for a set one (i times -1); Z contributes -1 for a set bit. Masks
// combine by XOR, which reproduces walking the factors one by one.
// No default member initialisers: arrays of these are stack scratch that mask_term fills.
struct MaskedTerm {
    std::uint64_t flip;
    std::uint64_t sign;
    unsigned y_count;
    bool flips_beyond_64_bits;
};

// Writes the term's masks into `masked` in place (no temporary: a returned copy read back
// whole stalls on store forwarding, and this runs on every term of every evaluation).
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

// Throws the bounds report when the term's partner of index 0 (its flip mask) leaves the
// array, which happens exactly when some flipped qubit does.
inline void check_partner(const MaskedTerm& term, std::uint64_t dimension) {
    if (term.flips_beyond_64_bits) {
        throw IndexOutOfBounds(dimension, std::numeric_limits<std::uint64_t>::max());
    }
    if (term.flip >= dimension) {
        throw IndexOutOfBounds(dimension, term.flip);
    }
}

}  // namespace zel::detail

#pragma once

/// \file
/// Observables written as weighted sums of Pauli strings, the built-in H2 Hamiltonian, and
/// their exact expectation values on a state vector.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zel/core/state.hpp"

namespace zel {

/// Single-qubit Pauli kind, one byte.
enum class Pauli : std::uint8_t { I = 0, X = 1, Y = 2, Z = 3 };

/// One factor of a Pauli string: `kind` acting on qubit `qubit` (bit `qubit` of a basis index).
struct PauliFactor {
    std::uint64_t qubit = 0;
    Pauli kind = Pauli::I;

    friend bool operator==(const PauliFactor&, const PauliFactor&) = default;
};

/// `coefficient` times the product of `paulis`; an empty product is the identity. Each qubit
/// occurs at most once; the order of the factors does not change the value.
struct PauliTerm {
    double coefficient = 0.0;
    std::vector<PauliFactor> paulis;

    friend bool operator==(const PauliTerm&, const PauliTerm&) = default;
};

/// A Hermitian observable: the sum of its terms, in insertion order.
struct PauliSum {
    std::vector<PauliTerm> terms;

    /// The qubit Hamiltonian of H2 on qubits 0 and 1 (hartree), six terms in this order:
    /// identity, Z0, Z1, Z0 Z1, X0 X1, Y0 Y1.
    static PauliSum h2_hamiltonian();

    /// Exact <psi|H|psi> = sum over terms of coefficient * <psi|P|psi>, computed on the
    /// amplitudes (no sampling). The state need not be normalised. A sum without terms gives
    /// -0.0. The result is the same for any number of worker threads.
    ///
    /// Throws `IndexOutOfBounds` (len 2^n, index m) before any work when an X or Y
    /// factor names a qubit at or beyond the state's qubit count; m is the partner of basis
    /// index 0 in the first such term (2^64 - 1 when it has no 64-bit form). Z and I factors
    /// on such qubits read a 0 bit and change nothing.
    double expectation_value(const ZarnikState& state) const;

    friend bool operator==(const PauliSum&, const PauliSum&) = default;
};

/// Reads a Pauli sum from text: terms joined by "+" or "-", each an optional real coefficient
/// (decimal, with optional exponent; 1 when absent), an optional "*", then its factors, e.g.
/// "0.5 * X0 Z1 - 1.2 YY + 0.3". A factor is a letter I, X, Y or Z followed by its qubit
/// ("X0", "Z12"); or a term's factors are one string of letters without indexes, written like
/// a ket: the rightmost letter acts on qubit 0 ("YY" is Y on qubits 1 and 0, "XIZ" is Z on
/// qubit 0 and X on qubit 2; its I letters add no factor). A term without factors is the
/// identity. Whitespace between tokens is free. Terms and factors keep their written order.
///
/// Throws `ParseError` naming the byte offset of the first bad character ("position 6:
/// expected '+' or '-' between terms, found 'Q'"); a qubit named twice in one term is an error.
PauliSum parse_pauli_sum(std::string_view text);

/// A sum as text that `parse_pauli_sum` reads back to the same terms, with indexed factors
/// ("-1.052373245772859 + 0.39793742484318045 * Z0 ..."); coefficients in the shortest digits
/// that read back exactly. Coefficients that are NaN or infinite have no such text.
std::string pauli_text(const PauliSum& sum);

}  // namespace zel

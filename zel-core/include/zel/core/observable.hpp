#pragma once

/// \file
/// Observables written as weighted sums of Pauli strings, the built-in H2 Hamiltonian, and
/// their exact expectation values on a state vector.

#include <cstdint>
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
    /// Stops with "index out of bounds: the len is {2^n} but the index is {m}" when an X or Y
    /// factor names a qubit at or beyond the state's qubit count; m is the partner of basis
    /// index 0 in the first such term (2^64 - 1 when it has no 64-bit form). Z and I factors
    /// on such qubits read a 0 bit and change nothing.
    double expectation_value(const ZarnikState& state) const;

    friend bool operator==(const PauliSum&, const PauliSum&) = default;
};

}  // namespace zel

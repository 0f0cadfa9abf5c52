#pragma once

/// \file
/// Qubit reduction of a mapped Hamiltonian by its Z2 symmetries.
///
/// - The parity mapping's two-qubit reduction (blocked spin ordering only): qubit n - 1 holds
///   the alpha-electron parity and qubit 2n - 1 the total parity; every term of a Hamiltonian
///   that conserves both electron numbers acts on them with I or Z only, so they are replaced
///   by their eigenvalues and removed.
/// - General tapering: the Z-type Pauli strings that commute with every term are found by
///   linear algebra over GF(2) on the terms' X masks; each generator tau_k gets a pivot qubit
///   q_k that no other generator touches, the Hamiltonian is rotated by the Cliffords
///   U_k = (X_qk + tau_k) / sqrt(2), after which it acts on q_k with I or X only, and X_qk is
///   replaced by the eigenvalue of tau_k on a reference basis state (the Hartree–Fock state).
///
/// Removing qubits renumbers the rest downwards; a basis state of the full register whose
/// removed bits match the sector maps to the basis index with those bits taken out
/// (`remove_qubits`).

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "zel/chem/integrals.hpp"
#include "zel/chem/mapping.hpp"
#include "zel/core/observable.hpp"

namespace zel::chem {

/// A Hamiltonian on fewer qubits and where the qubits went.
struct ReducedHamiltonian {
    PauliSum hamiltonian;                     ///< The reduced operator, terms sorted as mapped.
    std::size_t num_qubits = 0;               ///< Qubits of the reduced register.
    std::vector<std::size_t> removed_qubits;  ///< Removed qubits of the full register, ascending.
    std::vector<int> eigenvalues;  ///< +1 or -1 substituted for each removed qubit, same order.
};

/// The parity mapping's two-qubit reduction of `parity_hamiltonian` on `num_qubits` = 2n
/// qubits in blocked spin ordering, in the sector of `sector`: qubit n - 1 is replaced by
/// (-1)^num_alpha and qubit 2n - 1 by (-1)^(num_alpha + num_beta), and both are removed.
/// Terms merged again and those at or below `tolerance` dropped.
///
/// Throws `InvalidArgument` when `num_qubits` is odd, below 4 or above MAX_MODES, when a term
/// acts on qubit n - 1 or 2n - 1 with X or Y (the operator does not conserve the electron
/// numbers, or was not mapped by parity in blocked order), or `tolerance` is invalid.
ReducedHamiltonian two_qubit_reduction(const PauliSum& parity_hamiltonian, std::size_t num_qubits,
                                       Sector sector, double tolerance = DEFAULT_DROP_TOLERANCE);

/// A Z-type symmetry generator: the product of Z on the set bits of `z_mask`, and its pivot
/// qubit, on which no other generator of the same set has a factor.
struct Z2Symmetry {
    std::uint64_t z_mask = 0;
    std::size_t pivot = 0;

    friend bool operator==(const Z2Symmetry&, const Z2Symmetry&) = default;
};

/// Independent generators of the Z-type Pauli strings on `num_qubits` qubits that commute with
/// every term of `sum`, pivots ascending: each generator's pivot is a qubit that no other
/// generator has a factor on. Throws `InvalidArgument` when `num_qubits` exceeds MAX_MODES or a
/// term names a qubit at or beyond it.
std::vector<Z2Symmetry> find_z2_symmetries(const PauliSum& sum, std::size_t num_qubits);

/// Tapers `sum` on `num_qubits` qubits by all of its Z-type symmetries (`find_z2_symmetries`),
/// in the sector of basis state `reference_index` (eigenvalue of each generator on it), and
/// removes the pivot qubits. Throws as `find_z2_symmetries`, and `InvalidArgument` when
/// `reference_index` has a bit at or beyond `num_qubits` or `tolerance` is invalid.
ReducedHamiltonian taper(const PauliSum& sum, std::size_t num_qubits, std::uint64_t reference_index,
                         double tolerance = DEFAULT_DROP_TOLERANCE);

/// Applies the same rotation and substitution as `taper` did to `reduced` to another operator
/// that commutes with the symmetries (e.g. N, S_z or S^2), on the full register of `num_qubits`.
/// Throws `InvalidArgument` when the operator does not commute with a generator.
PauliSum taper_operator(const PauliSum& op, std::size_t num_qubits,
                        const std::vector<Z2Symmetry>& symmetries,
                        const ReducedHamiltonian& reduced,
                        double tolerance = DEFAULT_DROP_TOLERANCE);

/// The basis index `index` with the bits of `removed_qubits` (ascending) taken out and the
/// higher bits moved down.
std::uint64_t remove_qubits(std::uint64_t index, std::span<const std::size_t> removed_qubits);

}  // namespace zel::chem

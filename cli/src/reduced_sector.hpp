#pragma once

// Exact energies on a reduced register. After the parity mapping's two-qubit reduction or
// Z2 tapering, a particle-number and spin sector is still spanned by basis states: those of the
// full register's sector whose removed qubits agree with the substituted eigenvalues, with
// those qubits taken out (the tapering Cliffords turn each such state into one basis state of
// the reduced register, up to a sign). The lowest eigenvalue over that span is the sector's
// exact energy.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "zel/chem/tapering.hpp"
#include "zel/core/observable.hpp"

namespace zel::cli {

/// Basis states of the reduced register of `reduced` that stand for the full register's
/// `sector_basis`: each state whose symmetry eigenvalues (`symmetries`, the Z strings of the
/// generators; for the two-qubit reduction, Z on each removed qubit) equal `eigenvalues`, with
/// the removed qubits taken out. Ascending.
std::vector<std::uint64_t> reduced_sector_basis(std::span<const std::uint64_t> sector_basis,
                                                std::span<const std::uint64_t> symmetries,
                                                std::span<const int> eigenvalues,
                                                std::span<const std::size_t> removed_qubits);

/// The lowest eigenvalue of `hamiltonian` restricted to the span of `basis` (distinct basis
/// indexes, ascending); matrix elements that lead out of the span are ignored. Dense for small
/// spans, Lanczos (Spectra) beyond. Throws `InvalidArgument` for an empty span, a non-finite
/// coefficient or a solver that does not converge.
double restricted_ground_energy(const PauliSum& hamiltonian, std::span<const std::uint64_t> basis);

}  // namespace zel::cli

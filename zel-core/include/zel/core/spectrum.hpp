#pragma once

/// \file
/// Exact ground states of small observables by dense diagonalisation: the 2^n x 2^n matrix of a
/// `PauliSum` is built and handed to Eigen's self-adjoint eigensolver. Cost grows as 8^n; the
/// solver accepts up to MAX_GROUND_STATE_QUBITS qubits.

#include <cstdint>
#include <vector>

#include "zel/core/observable.hpp"
#include "zel/core/state.hpp"

namespace zel {

/// Largest register `ground_state` and `ground_energy` accept. The cost grows eightfold per
/// qubit: measured on one core of a 2-core build machine, a 20-term sum on 10 qubits takes
/// 0.3 s (real matrix) to 0.9 s (complex) for the energy alone and 2.4-3 s with the
/// eigenvector, so 12 qubits (a 4096 x 4096 matrix, 128 MiB real or 256 MiB complex) take up to
/// a few minutes.
inline constexpr std::uint64_t MAX_GROUND_STATE_QUBITS = 12;

/// The lowest eigenvalue of an observable and one of its eigenvectors.
struct GroundState {
    double energy;      ///< The lowest eigenvalue (the observable's unit, hartree for H2).
    ZarnikState state;  ///< A normalised eigenvector for it, as a state of the register.
};

/// The dense matrix of `sum` on `num_qubits` qubits, row-major: element (m, k) at m * 2^n + k is
/// <m|H|k>, so that (H psi)_m = sum over k of H(m, k) psi_k. Throws as `ground_state` does.
std::vector<ZarnikState::Amplitude> dense_matrix(const PauliSum& sum, std::uint64_t num_qubits);

/// The exact ground state of `sum` on `num_qubits` qubits: the lowest eigenvalue of its matrix
/// and a normalised eigenvector (its global phase is the solver's). A sum whose terms all have
/// an even number of Y factors has a real symmetric matrix and is solved in real arithmetic.
///
/// Throws `InvalidArgument` when `num_qubits` exceeds MAX_GROUND_STATE_QUBITS or a coefficient
/// is not finite, and `IndexOutOfBounds` as `expectation_value` does for an X or Y factor on a
/// qubit outside the register.
///
/// Answers a cancellation request (zel/core/cancel.hpp) within milliseconds: from 8 qubits on
/// the solver runs on a thread of its own, and when the call is cancelled that thread still
/// finishes the diagonalisation, which cannot be interrupted, before it releases its memory.
GroundState ground_state(const PauliSum& sum, std::uint64_t num_qubits);

/// The lowest eigenvalue alone, the same value as `ground_state(sum, num_qubits).energy`,
/// without computing the eigenvector (about three times faster).
double ground_energy(const PauliSum& sum, std::uint64_t num_qubits);

}  // namespace zel

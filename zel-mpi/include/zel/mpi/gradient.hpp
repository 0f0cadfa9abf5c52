#pragma once

/// \file
/// Energy gradients by the adjoint method, the product of a Pauli sum with a state and the
/// energy gradients of an operator pool, on a distributed state: the functions of
/// `zel/core/gradient.hpp` with the same contracts and, bit for bit, the same results, the same
/// values on every rank.
///
/// The registers these evaluations serve (molecular Hamiltonians of up to some 20 qubits) fit
/// one process: each call checks its arguments on every rank, gathers the state once (every
/// rank allocates the whole vector, 16 * 2^n bytes, as `DistributedState::gather` does) and
/// runs the core's passes on it, so the partial sums are added in the core's fixed order.

#include <span>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/gradient.hpp"
#include "zel/core/observable.hpp"
#include "zel/mpi/state.hpp"

namespace zel::mpi {

/// Writes H|psi> into `out` (collective), bitwise `zel::apply_pauli_sum` of the whole state,
/// each rank receiving its block. Throws `InvalidArgument` when the qubit counts or the rank
/// counts of `psi` and `out` differ or both are the same object, and `IndexOutOfBounds` as the
/// core does for an X or Y factor beyond the register, on every rank before any communication
/// and before `out` changes.
void apply_pauli_sum(const PauliSum& sum, const DistributedState& psi, DistributedState& out);

/// H|psi> as a new state with the layout of `psi` (see the overload writing into `out`).
DistributedState apply_pauli_sum(const PauliSum& sum, const DistributedState& psi);

/// The energy of `circuit` run on a copy of `reference` under `hamiltonian` and its derivative
/// for every parameter slot (collective): bitwise `zel::energy_and_gradient` of the whole
/// reference, the same on every rank. Throws what the core throws (`check_operation` for the
/// first operation that does not fit the register, `IndexOutOfBounds` for the Hamiltonian) on
/// every rank before any communication.
EnergyGradient energy_and_gradient(const ZarnikGraph& circuit, const PauliSum& hamiltonian,
                                   const DistributedState& reference);

/// The energy gradients of appending exp(i theta B_k) for each generator B_k at `psi`
/// (collective): bitwise `zel::pool_gradients` of the whole state, the same on every rank.
/// Throws `IndexOutOfBounds` for the Hamiltonian or a generator as the core does, on every rank
/// before any communication.
std::vector<double> pool_gradients(const PauliSum& hamiltonian, const DistributedState& psi,
                                   std::span<const PauliSum> generators);

}  // namespace zel::mpi

#pragma once

/// \file
/// Energy gradients by the adjoint method, the product of a Pauli sum with a state and the
/// energy gradients of an operator pool, on a distributed state: the functions of
/// `zel/core/gradient.hpp` with the same contracts and, bit for bit, the same results, the same
/// values on every rank.
///
/// Each rank works on its own blocks (a block is 16 * 2^(n-k) bytes for n qubits on 2^k ranks)
/// and never holds the whole vector. Where a product or an overlap pairs amplitudes across a rank
/// bit (a flip mask, an excitation or a matrix on a rank-bit qubit), the rank trades whole
/// blocks with its partner rank (rank ^ the rank bits involved) by MPI_Sendrecv, in pieces of
/// the state's exchange size. The sums of the overlaps and the energy are taken over the core's
/// fixed chunks in the core's order: each rank sums the chunks within its items as the sweep
/// reaches them, and the running sums pass through the ranks in rank order once at the end (a
/// sum with a chunk that continues across ranks, on blocks smaller than a chunk, passes at
/// once). Every value therefore has the core's bits, for any rank count and thread count.
///
/// Memory per rank, on top of the caller's state and the exchange buffers:
/// - `apply_pauli_sum`: the output block and one received block of psi (when some flip mask has
///   rank bits; traded again when the partner rank changes from one flip group to the next).
/// - `pool_gradients`: the block of H|psi> and one received block of psi.
/// - `energy_and_gradient`: the blocks of psi(theta) and of H|psi>, and the blocks received for
///   the operation being swept: one for a Pauli rotation whose string flips a rank bit, two (psi
///   and phi) for an excitation that moves amplitudes across rank bits, 2 (2^j - 1) for a kind
///   with a matrix (U, U2, CU, the phases) on j rank-bit qubits; the largest of these is kept
///   for the sweep. A circuit with an operation of a kind from U on that needs more qubits than
///   a block has (its orbitals, for a fermionic excitation), which the distributed state cannot
///   run, is evaluated on the gathered state as the core does (16 * 2^n bytes per rank; only
///   blocks of a few qubits come to this).

#include <span>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/gradient.hpp"
#include "zel/core/observable.hpp"
#include "zel/mpi/state.hpp"

namespace zel::mpi {

/// Writes H|psi> into `out` (collective), bitwise `zel::apply_pauli_sum` of the whole state,
/// each rank computing its block: for every target amplitude the flip groups' products in the
/// core's order. Throws `InvalidArgument` when the qubit counts or the rank
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

#pragma once

/// \file
/// Exact energy gradients of parametrised circuits on `ZarnikState` by the adjoint method, the
/// product of a Pauli sum with a state, and the energy gradients of an operator pool.
///
/// Qubit q is bit q of a basis index. Energies are in the units of the Pauli sum's
/// coefficients (hartree for molecular Hamiltonians).

#include <cstdint>
#include <span>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/state.hpp"

namespace zel {

/// The energy <psi|H|psi> of a circuit's output state and its derivatives.
struct EnergyGradient {
    /// <psi(theta)|H|psi(theta)>, the real part of <psi|H psi>.
    double energy = 0.0;
    /// dE/dtheta_r for every parameter slot r of the circuit, in `parameters(circuit)` order.
    std::vector<double> gradient;
};

/// Writes H|psi> into `out` (overwritten; any previous amplitudes are discarded): one pass over
/// the state per distinct X|Y flip mask of the sum's terms. `out` must have the qubit count of
/// `psi` and must not be `psi`. Throws `InvalidArgument` when the qubit counts differ or both are
/// the same object, and the `IndexOutOfBounds` of `PauliSum::expectation_value` when an X or Y
/// factor names a qubit at or beyond the register, before `out` changes. Z and I factors on
/// such qubits read a 0 bit.
void apply_pauli_sum(const PauliSum& sum, const ZarnikState& psi, ZarnikState& out);

/// H|psi> as a new state (see the overload writing into `out`).
ZarnikState apply_pauli_sum(const PauliSum& sum, const ZarnikState& psi);

/// The energy of `circuit` run on a copy of `reference` under `hamiltonian`, and its derivative
/// with respect to every parameter slot, by the adjoint method: one forward pass, one product
/// H|psi>, then a backward sweep that undoes each operation on both vectors and reads each
/// slot's derivative as 2 Re <phi| dU/dtheta U^dagger |psi>. It holds three state vectors
/// whatever the number of parameters. Every parametric kind is covered: for one-parameter kinds
/// U = exp(-i theta G) gives 2 Im <phi|G|psi>; U, U2 and CU use the exact derivative of their
/// matrix. A rotation's slot 0 is its angle (the kernels read params[0]); slots that no kernel
/// reads (further entries of a rotation, parameters of kinds without any) have derivative 0.
///
/// The register is the reference's. Throws, before any work, what applying an operation would
/// throw (`check_operation`) for the first operation that does not fit the register, and the
/// `IndexOutOfBounds` of `apply_pauli_sum` for the Hamiltonian.
EnergyGradient energy_and_gradient(const ZarnikGraph& circuit, const PauliSum& hamiltonian,
                                   const ZarnikState& reference);

/// The gradient part of `energy_and_gradient`: dE/dtheta_r in `parameters(circuit)` order.
std::vector<double> energy_gradient(const ZarnikGraph& circuit, const PauliSum& hamiltonian,
                                    const ZarnikState& reference);

/// Energy gradients of an operator pool at `psi`: entry k is dE/dtheta at theta = 0 of
/// appending exp(theta A_k) to the circuit that made `psi`, where A_k = i B_k is
/// anti-Hermitian and B_k = `generators[k]` is the Hermitian Pauli sum given (for a fermionic
/// excitation T - T^dagger, B = -i (T - T^dagger)). The value is 2 Re <H psi|A_k psi> =
/// -2 Im <H psi|B_k psi>, from one product H|psi> and one pass per distinct flip mask of each
/// B_k (one per excitation under Jordan–Wigner). Throws the `IndexOutOfBounds` of
/// `apply_pauli_sum` for the Hamiltonian or any generator, before any work.
std::vector<double> pool_gradients(const PauliSum& hamiltonian, const ZarnikState& psi,
                                   std::span<const PauliSum> generators);

}  // namespace zel

#pragma once

/// \file
/// Exact energy gradients of parametrised circuits on `ZarnikState` by the adjoint method, the
/// product of a Pauli sum with a state, and the energy gradients of an operator pool.
///
/// Qubit q is bit q of a basis index. Energies are in the units of the Pauli sum's
/// coefficients (hartree for molecular Hamiltonians).

#include <complex>
#include <cstdint>
#include <memory>
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

/// Terms of a Pauli sum that share one X|Y flip mask. Term t maps |k> to
/// weights[t] (-1)^popcount(k & signs[t]) |k ^ flip>, its coefficient and its i^(number of Y)
/// folded into the weight.
struct PauliFlipGroup {
    std::uint64_t flip = 0;                     ///< X|Y mask shared by the group's terms.
    std::vector<std::complex<double>> weights;  ///< One per term, in the sum's term order.
    std::vector<std::uint64_t> signs;           ///< Y|Z mask of each term.
};

/// A Pauli sum grouped by flip mask once, for a register of a fixed qubit count: the solvers
/// multiply states by one Hamiltonian hundreds of times, and grouping its terms each time costs
/// a noticeable share of a product. Products and gradients through a prepared sum give the same
/// bits as through the sum itself.
class PreparedPauliSum {
  public:
    /// Groups `sum`'s terms by flip mask, groups in the order their first term appears. Throws
    /// `IndexOutOfBounds` (as `PauliSum::expectation_value` does) when an X or Y factor names a
    /// qubit at or beyond `num_qubits`; Z and I factors on such qubits read a 0 bit.
    PreparedPauliSum(const PauliSum& sum, std::uint64_t num_qubits);

    /// The qubit count of the states this sum applies to.
    std::uint64_t num_qubits() const noexcept {
        return num_qubits_;
    }

    /// The groups, in the order their first term appears in the sum.
    std::span<const PauliFlipGroup> groups() const noexcept {
        return groups_;
    }

    /// Whether every group's factor sum_t |weight_t| is finite with room to spare, so that the
    /// factor a group puts on any amplitude is finite and a zero amplitude contributes an exact
    /// zero. Products skip the zero amplitudes of a sparse state only then.
    bool finite_factors() const noexcept {
        return finite_factors_;
    }

    /// The factors of a sparse product for one support, kept between products (internal).
    struct SparseFactors;

  private:
    friend struct SparseFactorsAccess;
    std::uint64_t num_qubits_ = 0;
    std::vector<PauliFlipGroup> groups_;
    bool finite_factors_ = true;
    // The factors every group puts on the non-zero amplitudes of the last sparse state, shared
    // by copies: a solve's states keep one support, so its products reuse them.
    std::shared_ptr<SparseFactors> sparse_;
};

/// Writes H|psi> into `out` (overwritten) for a prepared H. When psi's non-zero amplitudes are
/// a small part of the register (a molecular state stays in its electron-number and spin
/// sector), the pass visits only those; the result has the same bits as the pass over every
/// amplitude. The sum keeps the factors it computed for the last such set of amplitudes (up to
/// 32 MiB, shared by its copies and safe to use from several threads), so the products of one
/// solve, whose states share that set, cost one multiply-add per group and amplitude. Throws
/// `InvalidArgument` when `psi` and `out` differ in qubit count from the prepared sum or are the
/// same object, before `out` changes.
void apply_pauli_sum(const PreparedPauliSum& sum, const ZarnikState& psi, ZarnikState& out);

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

/// `energy_and_gradient` for a prepared Hamiltonian: the same values, without grouping the
/// terms again. Throws what the other overload throws for the circuit, then `InvalidArgument`
/// when the reference's qubit count is not the prepared sum's.
EnergyGradient energy_and_gradient(const ZarnikGraph& circuit, const PreparedPauliSum& hamiltonian,
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

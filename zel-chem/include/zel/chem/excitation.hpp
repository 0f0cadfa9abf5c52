#pragma once

/// \file
/// Excitation operators for variational ansätze: the spin-preserving singles and doubles from
/// the Hartree–Fock determinant (the UCCSD list), generalised singles and doubles, and qubit
/// excitations; their anti-Hermitian generators T - T^dagger as fermion operators and, under any
/// mapping, as Pauli sums; and circuits of Pauli rotations that apply exp(theta (T - T^dagger))
/// with one logical parameter per excitation.
///
/// Modes are spin orbitals numbered by the `SpinOrdering` named in each signature; after
/// mapping, mode j is qubit j.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "zel/chem/fermion.hpp"
#include "zel/chem/integrals.hpp"
#include "zel/chem/mapping.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/gradient.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/state.hpp"

namespace zel::chem {

/// Whether an excitation acts on fermions (with the parity of the modes between, under the
/// mapping) or on qubits (no parity strings: raising and lowering operators of the qubits).
enum class ExcitationKind : std::uint8_t { Fermionic, Qubit };

/// T = a†_to[0] ... a†_to[k-1] a_from[k-1] ... a_from[0] for k = 1 (single) or 2 (double);
/// for a qubit excitation the same product of qubit raising |1><0| and lowering |0><1|
/// operators. Modes within `from` and within `to` are distinct, and no mode is in both.
struct Excitation {
    std::vector<std::uint32_t> from;
    std::vector<std::uint32_t> to;
    ExcitationKind kind = ExcitationKind::Fermionic;

    friend bool operator==(const Excitation&, const Excitation&) = default;
};

/// The UCCSD list: every spin-preserving single and double from the Hartree–Fock determinant of
/// `sector` over `num_orbitals` spatial orbitals (occupied: alpha and beta orbitals below
/// num_alpha and num_beta), modes numbered by `ordering`. Singles first (alpha, then beta;
/// occupied i ascending, then virtual a ascending), then doubles alpha-alpha, beta-beta,
/// alpha-beta (i < j, a < b within one spin). Throws `InvalidArgument` when a count exceeds
/// `num_orbitals` or 2n exceeds MAX_MODES.
std::vector<Excitation> uccsd_excitations(std::size_t num_orbitals, Sector sector,
                                          SpinOrdering ordering);

/// Generalised spin-preserving singles and doubles over all `num_orbitals` orbitals, whatever
/// their occupation: one single from p to q per pair of orbitals p < q of one spin (alpha, then
/// beta), and one double per unordered pair of distinct mode pairs of the same spin pattern
/// (alpha-alpha, beta-beta, alpha-beta), from the pair listed first to the other. Throws
/// `InvalidArgument` when 2n exceeds MAX_MODES.
std::vector<Excitation> generalized_excitations(std::size_t num_orbitals, SpinOrdering ordering);

/// The same excitations as qubit excitations.
std::vector<Excitation> as_qubit_excitations(std::vector<Excitation> excitations);

/// T - T^dagger of a fermionic excitation. Throws `InvalidArgument` for a qubit excitation or
/// a malformed one (see `Excitation`).
FermionOperator excitation_operator(const Excitation& excitation);

/// The Hermitian B with T - T^dagger = i B, as a Pauli sum on `num_modes` qubits: for a
/// fermionic excitation `map_operator` of -i (T - T^dagger) under `mapping`; for a qubit
/// excitation the product of the qubits' raising and lowering operators expanded directly
/// (`mapping` is not used). Its terms commute with each other. Throws `InvalidArgument` for a
/// malformed excitation or a mode at or beyond `num_modes`.
PauliSum excitation_generator(const Excitation& excitation, Mapping mapping, std::size_t num_modes);

/// One operation parameter slot that follows a logical parameter: slot = coefficient * theta.
struct TiedSlot {
    std::size_t slot = 0;
    double coefficient = 0.0;
};

/// A circuit whose operation parameters are tied to fewer logical parameters: logical
/// parameter k drives the slots `ties[k]` (flat slots of `parameters(circuit)`).
struct TiedAnsatz {
    ZarnikGraph circuit;
    std::vector<std::vector<TiedSlot>> ties;

    /// Number of logical parameters.
    std::size_t parameter_count() const noexcept {
        return ties.size();
    }

    /// Writes every tied slot from `theta` (one value per logical parameter): a slot becomes the
    /// sum of coefficient * theta over the ties that name it; other slots keep their value. Throws
    /// `InvalidArgument` when the length differs from `parameter_count()`.
    void set_parameters(std::span<const double> theta);

    /// dE/dtheta_k from the per-slot gradient of the circuit by the chain rule. Throws
    /// `InvalidArgument` when a tie names a slot beyond `slot_gradient`.
    std::vector<double> logical_gradient(std::span<const double> slot_gradient) const;
};

/// Appends exp(i theta B) = exp(theta (T - T^dagger)) for the generator B (from
/// `excitation_generator`) to `ansatz` as one PAULI_ROTATION per term of B, all driven by one
/// new logical parameter (term c P is a rotation by -2 c theta), and returns that parameter's
/// index. The product is exact because the terms commute. Throws `InvalidArgument`, leaving the
/// ansatz unchanged, when two terms anticommute, a term is the identity or has a non-finite
/// coefficient, or a qubit is at or beyond `ansatz.circuit.num_qubits`.
std::size_t excitation_circuit(TiedAnsatz& ansatz, const PauliSum& generator);

/// How `excitation_circuit` applies an excitation.
enum class ExcitationPath : std::uint8_t {
    /// One operation with one parameter where one fits: FERMIONIC_SINGLE or FERMIONIC_DOUBLE for
    /// a fermionic excitation under Jordan–Wigner, QUBIT_SINGLE or QUBIT_DOUBLE for a qubit
    /// excitation under any mapping. Fermionic excitations under the parity and Bravyi–Kitaev
    /// mappings take the Pauli rotations.
    Native,
    /// One PAULI_ROTATION per term of `excitation_generator` (2 for a single, 8 for a double).
    PauliRotations,
};

/// Appends exp(theta (T - T^dagger)) for `excitation` (modes are qubits under `mapping`) to
/// `ansatz`, driven by one new logical parameter, and returns that parameter's index: by `path`,
/// as one native operation whose parameter is theta, or as the Pauli rotations of
/// `excitation_generator` (the overload above). Both give the same state to rounding. Throws
/// `InvalidArgument`, leaving the ansatz unchanged, for a malformed excitation (see
/// `Excitation`) or a mode at or beyond `ansatz.circuit.num_qubits`.
std::size_t excitation_circuit(TiedAnsatz& ansatz, const Excitation& excitation, Mapping mapping,
                               ExcitationPath path = ExcitationPath::Native);

/// The energy of `ansatz` at logical parameters `theta` on a copy of `reference` under
/// `hamiltonian`, and its gradient with respect to `theta` (adjoint method, then the chain
/// rule). Throws as `TiedAnsatz::set_parameters` and `energy_and_gradient`.
EnergyGradient ansatz_energy_and_gradient(const TiedAnsatz& ansatz, std::span<const double> theta,
                                          const PauliSum& hamiltonian,
                                          const ZarnikState& reference);

}  // namespace zel::chem

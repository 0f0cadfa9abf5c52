// Guide, "Observables" and "Circuits and evaluation": a Pauli sum written by hand and as text,
// the built-in H2 operator, expectation values, the exact ground state, and the energy and
// entropy of the state a circuit prepares.

#include <array>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/spectrum.hpp"
#include "zel/core/state.hpp"

namespace {

/// The Pauli string of `term` as text over `num_qubits` qubits, written like a ket: the rightmost
/// letter acts on qubit 0, the leftmost on qubit num_qubits - 1, "I" where no factor acts.
std::string pauli_text(const zel::PauliTerm& term, std::uint64_t num_qubits) {
    std::string text(num_qubits, 'I');
    for (const zel::PauliFactor& factor : term.paulis) {
        text[num_qubits - 1 - factor.qubit] = "IXYZ"[static_cast<int>(factor.kind)];
    }
    return text;
}

}  // namespace

int main() {
    // H = 0.5 ZX - 0.25 IZ, written like a ket (rightmost letter on qubit 0):
    // "ZX" is X on qubit 0 and Z on qubit 1; "IZ" is Z on qubit 0.
    const zel::PauliSum h{{
        {0.5, {{0, zel::Pauli::X}, {1, zel::Pauli::Z}}},
        {-0.25, {{0, zel::Pauli::Z}}},
    }};
    for (const zel::PauliTerm& term : h.terms) {
        std::cout << term.coefficient << " " << pauli_text(term, 2) << '\n';
    }

    // On basis state 2 (qubit 1 reads 1, qubit 0 reads 0): ZX flips qubit 0, so it has no
    // diagonal part and gives 0; IZ gives +1 because qubit 0 reads 0. <H> = -0.25.
    zel::ZarnikState state(2);
    state.set_computational_basis(2);
    std::cout << "<2|H|2> = " << h.expectation_value(state) << '\n';

    // The built-in two-qubit H2 operator (hartree): identity, Z0, Z1, Z0 Z1, X0 X1, Y0 Y1.
    const zel::PauliSum h2 = zel::PauliSum::h2_hamiltonian();
    for (const zel::PauliTerm& term : h2.terms) {
        std::cout << term.coefficient << " " << pauli_text(term, 2) << '\n';
    }

    // A circuit: X on qubit 0, RY(theta) on qubit 1 with theta as its tunable parameter, CX with
    // control 1 and target 0. It prepares cos(theta/2)|1> + sin(theta/2)|2>.
    zel::ZarnikGraph circuit(2);
    circuit.add_gate_with_params(zel::GateType::of(zel::GateKind::X), {0}, {});
    circuit.add_gate_with_params(zel::GateType::ry(-0.4), {1}, {-0.4});
    circuit.add_gate_with_params(zel::GateType::of(zel::GateKind::CX), {1, 0}, {});

    // Every evaluation replays the circuit from basis state 0 on a private copy; the reference
    // state only supplies the qubit count, whatever its amplitudes.
    const zel::ZarnikState reference(2);
    const double energy = zel::evaluate_circuit_energy(reference, circuit, h2);
    const zel::Telemetry telemetry = zel::evaluate_circuit_telemetry(reference, circuit, h2);
    std::cout << "energy " << energy << " Ha, entropy " << telemetry.entropy << " bits\n";

    // The energy as a function of the parameters, in flat order (operations in order, each
    // operation's params in order). The circuit itself is not changed.
    const zel::EnergyFn energy_fn(circuit, reference, h2);
    const std::vector<double> theta{-0.42};
    std::cout << "energy at theta = -0.42: " << energy_fn(theta) << " Ha\n";

    // The same operator as text: indexed factors, or one string of letters per term whose
    // rightmost letter acts on qubit 0 ("XX" is X1 X0).
    const zel::PauliSum parsed = zel::parse_pauli_sum(
        "-1.052373245772859 + 0.39793742484318045 * Z0 - 0.39793742484318045 * Z1"
        " - 0.01128010425623538 * Z0 Z1 + 0.18093119978423156 * XX + 0.18093119978423156 * YY");

    // The exact ground state by dense diagonalisation (small registers only).
    const zel::GroundState ground = zel::ground_state(parsed, 2);
    std::cout << "lowest eigenvalue " << ground.energy << " Ha; <psi|H|psi> of its vector "
              << parsed.expectation_value(ground.state) << " Ha\n";
    return parsed.terms.size() == 6 ? 0 : 1;
}

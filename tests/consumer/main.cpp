// Uses each of the three installed libraries once and checks the results, so that a broken
// install (missing header, library or dependency) fails to build and a wrong one fails to run.

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <string>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"
#include "zel/neural/brain.hpp"

namespace {

int failures = 0;

void check(bool ok, const char* what) {
    if (!ok) {
        std::cerr << "consumer: " << what << " failed\n";
        ++failures;
    }
}

}  // namespace

int main() {
    const zel::PauliSum hamiltonian = zel::PauliSum::h2_hamiltonian();
    const zel::ZarnikState reference(2);

    // X on qubit 0 prepares basis state 1: every Z on qubit 0 reads -1, every Z on qubit 1 +1.
    zel::ZarnikGraph circuit(2);
    circuit.add_gate_with_params(zel::GateType::of(zel::GateKind::X), {0}, {});
    double expected = 0.0;
    for (const zel::PauliTerm& term : hamiltonian.terms) {
        double sign = 1.0;
        for (const zel::PauliFactor& factor : term.paulis) {
            if (factor.kind != zel::Pauli::Z) {
                sign = 0.0;
            } else if (factor.qubit == 0) {
                sign = -sign;
            }
        }
        expected += term.coefficient * sign;
    }
    const double energy = zel::evaluate_circuit_energy(reference, circuit, hamiltonian);
    check(std::abs(energy - expected) < 1e-12, "energy of basis state 1");

    // One SPSA step of the strategy on a rotation must keep the angle equal to the parameter.
    circuit.add_gate_with_params(zel::GateType::ry(0.0), {1}, {0.0});
    zel::NeuralZarnikBrain brain(0.001, 0.0001, -1.136);
    const zel::ZarnikGraph snapshot = circuit;
    brain.optimize_parameters(circuit, zel::EnergyFn(snapshot, reference, hamiltonian));
    check(circuit.operations[1].gate.angle == circuit.operations[1].params[0],
          "angle follows the tuned parameter");

    const std::string qasm = zel::to_open_qasm(circuit);
    check(qasm.starts_with("OPENQASM 3.0;\n"), "OpenQASM header");
    check(qasm.find("x q[0];\n") != std::string::npos, "OpenQASM gate line");

    std::cout << "consumer: energy " << energy << " Ha, " << (failures == 0 ? "ok" : "FAILED")
              << '\n';
    return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

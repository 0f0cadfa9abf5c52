// Uses each of the three installed libraries and checks the results, so that a broken install
// (missing header, library or dependency) fails to build and a wrong one fails to run: an
// energy, an SPSA step, every exception kind caught, a silent search, seeded sampling repeated,
// and the export.

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/measurement.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/output.hpp"
#include "zel/core/random.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/spectrum.hpp"
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

// Whether `body` throws an E (and nothing else).
template <class E, class Body>
bool throws(Body body) {
    try {
        body();
    } catch (const E&) {
        return true;
    } catch (...) {
        return false;
    }
    return false;
}

// Every exception kind of the libraries reaches the caller, which goes on afterwards.
void catch_each_kind() {
    zel::ZarnikState state(2);
    const std::vector<std::uint64_t> outside{2};
    check(throws<zel::IndexOutOfBounds>([&] {
              state.apply_gate(zel::GateType::of(zel::GateKind::H), outside, {});
          }),
          "IndexOutOfBounds");
    check(throws<zel::StateIndexOutOfBounds>([&] {
              state.set_computational_basis(4);
          }),
          "StateIndexOutOfBounds");
    check(throws<zel::InvalidLayout>([] {
              zel::ZarnikState too_large(59);
          }),
          "InvalidLayout");
    check(throws<zel::ParseError>([] {
              static_cast<void>(zel::parse_pauli_sum("X0 +"));
          }),
          "ParseError");
    check(throws<zel::InvalidArgument>([] {
              static_cast<void>(zel::ground_energy(zel::PauliSum{}, 40));
          }),
          "InvalidArgument");
    check(throws<zel::AllocationError>([] {
              zel::ZarnikState huge(zel::ZarnikState::MAX_QUBITS);
          }),
          "AllocationError");
    check(throws<std::bad_alloc>([] {
              zel::ZarnikState huge(zel::ZarnikState::MAX_QUBITS);
          }),
          "AllocationError as std::bad_alloc");
    // A write to a closed standard output fails in the sink, not in the process.
    const int saved = ::dup(1);
    ::close(1);
    check(throws<zel::OutputError>([] {
              zel::standard_output().write("lost\n");
          }),
          "OutputError");
    ::dup2(saved, 1);
    ::close(saved);
    check(state.amplitudes()[0] == 1.0, "state unchanged after the exceptions");
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
    zel::NeuralZarnikBrain brain(0.001, 0.0001, -1.136, zel::null_output());
    const zel::ZarnikGraph snapshot = circuit;
    brain.optimize_parameters(circuit, zel::EnergyFn(snapshot, reference, hamiltonian));
    check(circuit.operations[1].gate.angle == circuit.operations[1].params[0],
          "angle follows the tuned parameter");

    catch_each_kind();

    // A silent search: nothing reaches standard output.
    zel::NeuralZarnikBrain quiet(0.001, 0.0001, -1.136, zel::null_output());
    zel::LoopOptions options;
    options.output = &zel::null_output();
    const zel::LoopResult result =
        zel::run_zarnik_loop(zel::ZarnikState(2), zel::ZarnikGraph(2), hamiltonian, quiet, options);
    check(result.circuit.gate_count() == 166 && !result.converged, "silent search");

    // Sampling with a fixed seed twice gives the same counts.
    zel::ZarnikGraph bell(2);
    bell.add_gate(zel::GateType::of(zel::GateKind::H), {0});
    bell.add_gate(zel::GateType::of(zel::GateKind::CX), {0, 1});
    const zel::ZarnikState bell_state = zel::run_circuit(bell, 2);
    zel::random::Generator first(99);
    zel::random::Generator second(99);
    const auto counts = zel::sample_counts(bell_state, 4000, first);
    check(counts == zel::sample_counts(bell_state, 4000, second), "seeded sampling repeats");
    check(counts.size() == 2 && counts.count(0) == 1 && counts.count(3) == 1,
          "Bell outcomes 00 and 11 only");

    const std::string qasm = zel::to_open_qasm(circuit);
    check(qasm.starts_with("OPENQASM 3.0;\n"), "OpenQASM header");
    check(qasm.find("x q[0];\n") != std::string::npos, "OpenQASM gate line");

    std::cout << "consumer: energy " << energy << " Ha, " << (failures == 0 ? "ok" : "FAILED")
              << '\n';
    return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

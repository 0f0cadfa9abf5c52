#include "zel/core/simulator.hpp"

#include <string>

#include "zel/core/console.hpp"
#include "zel/core/float_text.hpp"

namespace zel {
namespace {

// The state `circuit` prepares: a copy of the reference reset to |0...0>, then every operation
// in circuit order.
ZarnikState prepare(const ZarnikState& reference, const ZarnikGraph& circuit) {
    ZarnikState working = reference;
    working.set_computational_basis(0);
    for (const Operation& op : circuit.operations) {
        working.apply_gate(op.gate, op.qubits, op.params);
    }
    return working;
}

}  // namespace

double evaluate_circuit_energy(const ZarnikState& reference, const ZarnikGraph& circuit,
                               const PauliSum& hamiltonian) {
    const ZarnikState working = prepare(reference, circuit);
    return hamiltonian.expectation_value(working);
}

Telemetry evaluate_circuit_telemetry(const ZarnikState& reference, const ZarnikGraph& circuit,
                                     const PauliSum& hamiltonian) {
    const ZarnikState working = prepare(reference, circuit);
    const double energy = hamiltonian.expectation_value(working);
    return Telemetry{energy, working.calculate_entropy()};
}

ZarnikGraph with_parameters(const ZarnikGraph& circuit, std::span<const double> values) {
    ZarnikGraph copy = circuit;
    std::size_t r = 0;
    for (Operation& op : copy.operations) {
        for (double& slot : op.params) {
            if (r < values.size()) {
                slot = values[r++];
            }
        }
        if (!op.params.empty() && is_rotation(op.gate.kind)) {
            op.gate.angle = op.params[0];
        }
    }
    return copy;
}

double EnergyFn::operator()(std::span<const double> values) const {
    return evaluate_circuit_energy(state_, with_parameters(circuit_, values), hamiltonian_);
}

namespace detail {

void print_loop_start(double energy) {
    console::print("Starting Zarnik Loop. Initial Energy: " + format_fixed(energy, 6) + "\n");
}

void print_adding(const GateType& gate, std::span<const std::uint64_t> qubits) {
    std::string line = "Strategy: Adding " + debug_text(gate) + " on qubits [";
    for (std::size_t k = 0; k < qubits.size(); ++k) {
        if (k != 0) {
            line += ", ";
        }
        line += std::to_string(qubits[k]);
    }
    line += "]\n";
    console::print(line);
}

void print_removing(std::uint64_t index) {
    console::print("Strategy: Removing gate at index " + std::to_string(index) + "\n");
}

void print_converged() {
    console::print("Strategy: Converged. Halting.\n");
}

void print_progress(std::uint64_t iteration, double energy, double entropy) {
    console::print("Iter " + std::to_string(iteration) + ": Energy = " + format_fixed(energy, 6) +
                   " | Entropy = " + format_fixed(entropy, 4) + "\n");
}

}  // namespace detail
}  // namespace zel

#include "zel/core/simulator.hpp"

#include <string>

#include "zel/core/cancel.hpp"
#include "zel/core/float_text.hpp"
#include "zel/core/fusion.hpp"

namespace zel {
namespace {

bool fuses(Evaluation mode, std::uint64_t num_qubits) noexcept {
    return mode == Evaluation::Fused && num_qubits >= FUSION_FROM_QUBITS;
}

// Runs `circuit` on `state`, gate by gate or fused.
void run_on(ZarnikState& state, const ZarnikGraph& circuit, Evaluation mode) {
    if (fuses(mode, state.num_qubits())) {
        apply_fused(state, fuse(circuit, state.num_qubits()));
        return;
    }
    for (const Operation& op : circuit.operations) {
        throw_if_cancelled();
        state.apply(op);
    }
}

// The state `circuit` prepares: a copy of the reference reset to |0...0>, then every operation
// in circuit order.
ZarnikState prepare(const ZarnikState& reference, const ZarnikGraph& circuit, Evaluation mode) {
    ZarnikState working = reference;
    working.set_computational_basis(0);
    run_on(working, circuit, mode);
    return working;
}

}  // namespace

ZarnikState run_circuit(const ZarnikGraph& circuit, std::uint64_t num_qubits, Evaluation mode) {
    ZarnikState state(num_qubits);
    run_on(state, circuit, mode);
    return state;
}

void apply_circuit(ZarnikState& state, const ZarnikGraph& circuit) {
    for (const Operation& op : circuit.operations) {
        check_operation(state.num_qubits(), op);
    }
    for (const Operation& op : circuit.operations) {
        throw_if_cancelled();
        state.apply(op);
    }
}

double evaluate_circuit_energy(const ZarnikState& reference, const ZarnikGraph& circuit,
                               const PauliSum& hamiltonian, Evaluation mode) {
    const ZarnikState working = prepare(reference, circuit, mode);
    return hamiltonian.expectation_value(working);
}

Telemetry evaluate_circuit_telemetry(const ZarnikState& reference, const ZarnikGraph& circuit,
                                     const PauliSum& hamiltonian, Evaluation mode) {
    const ZarnikState working = prepare(reference, circuit, mode);
    const double energy = hamiltonian.expectation_value(working);
    return Telemetry{energy, working.calculate_entropy()};
}

ZarnikGraph with_parameters(const ZarnikGraph& circuit, std::span<const double> values) {
    ZarnikGraph copy = circuit;
    set_parameters(copy, values);
    return copy;
}

double EnergyFn::operator()(std::span<const double> values) const {
    return evaluate_circuit_energy(state_, with_parameters(circuit_, values), hamiltonian_, mode_);
}

}  // namespace zel

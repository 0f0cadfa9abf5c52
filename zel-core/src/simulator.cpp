#include "zel/core/simulator.hpp"

#include "zel/core/cancel.hpp"
#include "zel/core/evaluation.hpp"
#include "zel/core/fusion.hpp"

namespace zel {
namespace detail {

ZarnikState StateEvaluation<ZarnikState>::fresh_like(const ZarnikState& reference) {
    ZarnikState working = reference;
    working.set_computational_basis(0);
    return working;
}

void StateEvaluation<ZarnikState>::run(ZarnikState& state, const ZarnikGraph& circuit,
                                       Evaluation mode) {
    if (mode == Evaluation::Fused && state.num_qubits() >= FUSION_FROM_QUBITS) {
        apply_fused(state, fuse(circuit, state.num_qubits()));
        return;
    }
    for (const Operation& op : circuit.operations) {
        throw_if_cancelled();
        state.apply(op);
    }
}

}  // namespace detail

using Evaluate = detail::StateEvaluation<ZarnikState>;

ZarnikState run_circuit(const ZarnikGraph& circuit, std::uint64_t num_qubits, Evaluation mode) {
    ZarnikState state(num_qubits);
    Evaluate::run(state, circuit, mode);
    return state;
}

void apply_circuit(ZarnikState& state, const ZarnikGraph& circuit) {
    detail::apply_checked_circuit(state, circuit);
}

double evaluate_circuit_energy(const ZarnikState& reference, const ZarnikGraph& circuit,
                               const PauliSum& hamiltonian, Evaluation mode) {
    return detail::circuit_energy(reference, circuit, hamiltonian, mode);
}

Telemetry evaluate_circuit_telemetry(const ZarnikState& reference, const ZarnikGraph& circuit,
                                     const PauliSum& hamiltonian, Evaluation mode) {
    return detail::circuit_telemetry(reference, circuit, hamiltonian, mode);
}

ZarnikGraph with_parameters(const ZarnikGraph& circuit, std::span<const double> values) {
    ZarnikGraph copy = circuit;
    set_parameters(copy, values);
    return copy;
}

double EnergyFn::operator()(std::span<const double> values) const {
    return detail::energy_at(state_, circuit_, hamiltonian_, values, mode_);
}

}  // namespace zel

#pragma once

/// \file
/// Circuit evaluation written once for every state type: a fresh working state like the
/// reference, every operation of the circuit, then the energy (and the entropy). The functions
/// of `zel/core/simulator.hpp` run it on a `ZarnikState`, those of `zel/mpi/simulator.hpp` on a
/// `DistributedState`; a state type takes part by specialising `detail::StateEvaluation`.

#include <concepts>
#include <cstdint>
#include <span>
#include <utility>

#include "zel/core/circuit.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

namespace zel::detail {

/// What differs between state types in an evaluation. A specialisation provides
/// `static State fresh_like(const State& reference)` (|0...0> on the reference's register and
/// layout), `static void run(State&, const ZarnikGraph&, Evaluation)` (every operation in
/// circuit order, by the given mode where the state type has more than one) and
/// `static double energy(const PauliSum&, const State&)` (the expectation value).
template <class State>
struct StateEvaluation;

/// A state type the evaluation runs on: its `StateEvaluation` and the state's own
/// `num_qubits`, `apply` and `calculate_entropy`.
template <class State>
concept EvaluatedState = requires(State& state, const State& reference, const ZarnikGraph& circuit,
                                  const PauliSum& hamiltonian, const Operation& op) {
    { StateEvaluation<State>::fresh_like(reference) } -> std::same_as<State>;
    StateEvaluation<State>::run(state, circuit, Evaluation::Exact);
    { StateEvaluation<State>::energy(hamiltonian, reference) } -> std::convertible_to<double>;
    { reference.num_qubits() } -> std::convertible_to<std::uint64_t>;
    { reference.calculate_entropy() } -> std::convertible_to<double>;
    state.apply(op);
};

/// On a `ZarnikState`: the working state is a copy of the reference reset to |0...0>, and a run
/// goes gate by gate (checking for cancellation before each operation) or through fusion.
template <>
struct StateEvaluation<ZarnikState> {
    static ZarnikState fresh_like(const ZarnikState& reference);
    static void run(ZarnikState& state, const ZarnikGraph& circuit, Evaluation mode);
    static double energy(const PauliSum& hamiltonian, const ZarnikState& state) {
        return hamiltonian.expectation_value(state);
    }
};

/// The state `circuit` prepares from |0...0> on the reference's register.
template <EvaluatedState State>
State prepare_state(const State& reference, const ZarnikGraph& circuit, Evaluation mode) {
    State working = StateEvaluation<State>::fresh_like(reference);
    StateEvaluation<State>::run(working, circuit, mode);
    return working;
}

/// Every operation of `circuit` checked against `state` (`check_operation`), then applied in
/// order: a circuit that would fail throws its first failing operation's exception before any
/// amplitude changes.
template <EvaluatedState State>
void apply_checked_circuit(State& state, const ZarnikGraph& circuit) {
    for (const Operation& op : circuit.operations) {
        check_operation(state.num_qubits(), op);
    }
    StateEvaluation<State>::run(state, circuit, Evaluation::Exact);
}

/// The energy of the state `circuit` prepares.
template <EvaluatedState State>
double circuit_energy(const State& reference, const ZarnikGraph& circuit,
                      const PauliSum& hamiltonian, Evaluation mode) {
    const State working = prepare_state(reference, circuit, mode);
    return StateEvaluation<State>::energy(hamiltonian, working);
}

/// The energy, then the entropy, of the state `circuit` prepares.
template <EvaluatedState State>
Telemetry circuit_telemetry(const State& reference, const ZarnikGraph& circuit,
                            const PauliSum& hamiltonian, Evaluation mode) {
    const State working = prepare_state(reference, circuit, mode);
    const double energy = StateEvaluation<State>::energy(hamiltonian, working);
    return Telemetry{energy, working.calculate_entropy()};
}

/// The optimiser's energy at parameter values: `circuit_energy` of the circuit with `values`
/// written into its parameter slots (`with_parameters`).
template <EvaluatedState State>
double energy_at(const State& reference, const ZarnikGraph& circuit, const PauliSum& hamiltonian,
                 std::span<const double> values, Evaluation mode) {
    return circuit_energy(reference, with_parameters(circuit, values), hamiltonian, mode);
}

}  // namespace zel::detail

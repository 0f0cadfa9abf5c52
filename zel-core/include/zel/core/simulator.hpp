#pragma once

/// \file
/// Circuit evaluation (energy, entropy and the optimiser's energy function) and the search loop.
///
/// Every evaluation replays the whole circuit on a private working state that starts as basis
/// state |0...0>; the reference state contributes only its qubit count. Nothing is cached.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/state.hpp"
#include "zel/core/strategy.hpp"

namespace zel {

/// Energy (hartree) and entropy (bits) of one evaluation.
struct Telemetry {
    double energy = 0.0;
    double entropy = 0.0;
};

/// Energy of the state that `circuit` prepares from |0...0> on `reference.num_qubits()` qubits:
/// `hamiltonian.expectation_value` of it. Gate and observable preconditions apply.
double evaluate_circuit_energy(const ZarnikState& reference, const ZarnikGraph& circuit,
                               const PauliSum& hamiltonian);

/// Energy and entropy (computed after the energy, on the same state) of the state that
/// `circuit` prepares from |0...0> on `reference.num_qubits()` qubits.
Telemetry evaluate_circuit_telemetry(const ZarnikState& reference, const ZarnikGraph& circuit,
                                     const PauliSum& hamiltonian);

/// Copy of `circuit` with `values` written into its parameter slots in flat order (operations in
/// order, each one's `params` in order): slot r takes values[r] while r < values.size(), later
/// slots keep their value, surplus values are ignored. Then every RX, RY or RZ with parameters
/// gets `angle` = `params[0]`.
ZarnikGraph with_parameters(const ZarnikGraph& circuit, std::span<const double> values);

/// The optimiser's energy function over a snapshot circuit, a state and a Hamiltonian, all
/// borrowed read-only: calling it with a vector of parameter values returns
/// `evaluate_circuit_energy(state, with_parameters(circuit, values), hamiltonian)`. Calls are
/// independent and change nothing.
class EnergyFn {
  public:
    EnergyFn(const ZarnikGraph& circuit, const ZarnikState& state, const PauliSum& hamiltonian)
        : circuit_(circuit), state_(state), hamiltonian_(hamiltonian) {
    }

    // It only borrows: temporaries would be gone before the first call.
    EnergyFn(ZarnikGraph&&, const ZarnikState&, const PauliSum&) = delete;
    EnergyFn(const ZarnikGraph&, ZarnikState&&, const PauliSum&) = delete;
    EnergyFn(const ZarnikGraph&, const ZarnikState&, PauliSum&&) = delete;

    double operator()(std::span<const double> values) const;

  private:
    const ZarnikGraph& circuit_;
    const ZarnikState& state_;
    const PauliSum& hamiltonian_;
};

/// Iterations of the search loop at most.
inline constexpr std::uint64_t MAX_ITERATIONS = 1000;

/// The search loop prints a progress line at every iteration that is a multiple of this.
inline constexpr std::uint64_t PROGRESS_INTERVAL = 50;

/// Outcome of `run_zarnik_loop`.
struct LoopResult {
    ZarnikGraph circuit;     ///< The final circuit.
    double energy = 0.0;     ///< The latest evaluated energy (hartree).
    bool converged = false;  ///< Whether the loop ended by a `Converged` action.
};

namespace detail {
// The loop's console lines; each is one write to standard output.
void print_loop_start(double energy);
void print_adding(const GateType& gate, std::span<const std::uint64_t> qubits);
void print_removing(std::uint64_t index);
void print_converged();
void print_progress(std::uint64_t iteration, double energy, double entropy);
}  // namespace detail

/// The search: evaluates the circuit, then for at most MAX_ITERATIONS iterations lets
/// `strategy` tune the parameters (only when some operation has any), asks it for one action,
/// applies the action, re-evaluates, and prints a progress line every PROGRESS_INTERVAL
/// iterations. Takes ownership of the reference state (released on return) and the circuit.
template <ZarnikStrategy Strategy>
LoopResult run_zarnik_loop(ZarnikState reference, ZarnikGraph circuit, const PauliSum& hamiltonian,
                           Strategy& strategy) {
    Telemetry current = evaluate_circuit_telemetry(reference, circuit, hamiltonian);
    detail::print_loop_start(current.energy);

    for (std::uint64_t i = 0; i < MAX_ITERATIONS; ++i) {
        if (circuit.has_parameters()) {
            const ZarnikGraph snapshot = circuit;
            const ZarnikState state_copy = reference;
            const EnergyFn energy_fn(snapshot, state_copy, hamiltonian);
            std::as_const(strategy).optimize_parameters(circuit, energy_fn);
            current = evaluate_circuit_telemetry(reference, circuit, hamiltonian);
        }

        StrategyAction action =
            strategy.evaluate_and_evolve(std::as_const(circuit), current.energy, current.entropy);

        if (std::holds_alternative<Converged>(action)) {
            detail::print_converged();
            return LoopResult{std::move(circuit), current.energy, true};
        }
        if (auto* add = std::get_if<AddGate>(&action)) {
            detail::print_adding(add->gate, add->qubits);
            std::vector<double> params;
            if (is_rotation(add->gate.kind)) {
                params.push_back(add->gate.angle);
            }
            circuit.add_gate_with_params(add->gate, std::move(add->qubits), std::move(params));
        } else if (const auto* remove = std::get_if<RemoveGate>(&action)) {
            if (remove->index < circuit.gate_count()) {
                detail::print_removing(remove->index);
                circuit.remove_operation(remove->index);
            }
        }

        current = evaluate_circuit_telemetry(reference, circuit, hamiltonian);
        if (i % PROGRESS_INTERVAL == 0) {
            detail::print_progress(i, current.energy, current.entropy);
        }
    }
    return LoopResult{std::move(circuit), current.energy, false};
}

}  // namespace zel

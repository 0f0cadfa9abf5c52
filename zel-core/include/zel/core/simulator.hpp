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
#include "zel/core/detail/loop_lines.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/output.hpp"
#include "zel/core/state.hpp"
#include "zel/core/strategy.hpp"

namespace zel {

/// How a circuit is run to a state.
enum class Evaluation {
    /// Gate by gate through the exact kernels: the fixed arithmetic, the same bits everywhere.
    Exact,
    /// Through gate fusion (`zel/core/fusion.hpp`): runs of gates become dense blocks applied in
    /// one pass each. Faster on large states, equal to the exact path to rounding only. Registers
    /// below FUSION_FROM_QUBITS qubits take the exact path, where fusing costs more than it saves.
    Fused,
};

/// Smallest register on which Evaluation::Fused fuses.
inline constexpr std::uint64_t FUSION_FROM_QUBITS = 12;

/// Energy (hartree) and entropy (bits) of one evaluation.
struct Telemetry {
    double energy = 0.0;
    double entropy = 0.0;
};

/// The state that `circuit` prepares from |0...0> on `num_qubits` qubits: every operation
/// applied in order. The register size is `num_qubits`, not `circuit.num_qubits` (`validate`
/// reports when they differ). Throws what the constructor and `apply_gate` throw.
ZarnikState run_circuit(const ZarnikGraph& circuit, std::uint64_t num_qubits,
                        Evaluation mode = Evaluation::Exact);

/// Applies every operation of `circuit` to `state`, in order. All operations are checked
/// against the state first (`check_gate`), so a circuit that would fail throws the exception of
/// its first failing operation before any amplitude changes.
void apply_circuit(ZarnikState& state, const ZarnikGraph& circuit);

/// Energy of the state that `circuit` prepares from |0...0> on `reference.num_qubits()` qubits:
/// `hamiltonian.expectation_value` of it. Gate and observable preconditions apply.
double evaluate_circuit_energy(const ZarnikState& reference, const ZarnikGraph& circuit,
                               const PauliSum& hamiltonian, Evaluation mode = Evaluation::Exact);

/// Energy and entropy (computed after the energy, on the same state) of the state that
/// `circuit` prepares from |0...0> on `reference.num_qubits()` qubits.
Telemetry evaluate_circuit_telemetry(const ZarnikState& reference, const ZarnikGraph& circuit,
                                     const PauliSum& hamiltonian,
                                     Evaluation mode = Evaluation::Exact);

/// Copy of `circuit` with `values` written into its parameter slots by `set_parameters` (flat
/// order; slot r takes values[r] while r < values.size(), later slots keep their value, surplus
/// values are ignored; then every rotation with parameters gets `angle` = `params[0]`).
ZarnikGraph with_parameters(const ZarnikGraph& circuit, std::span<const double> values);

/// The optimiser's energy function over a snapshot circuit, a state and a Hamiltonian, all
/// borrowed read-only: calling it with a vector of parameter values returns
/// `evaluate_circuit_energy(state, with_parameters(circuit, values), hamiltonian)`. Calls are
/// independent and change nothing.
class EnergyFn {
  public:
    EnergyFn(const ZarnikGraph& circuit, const ZarnikState& state, const PauliSum& hamiltonian,
             Evaluation mode = Evaluation::Exact)
        : circuit_(circuit), state_(state), hamiltonian_(hamiltonian), mode_(mode) {
    }

    // It only borrows: temporaries would be gone before the first call.
    EnergyFn(ZarnikGraph&&, const ZarnikState&, const PauliSum&,
             Evaluation = Evaluation::Exact) = delete;
    EnergyFn(const ZarnikGraph&, ZarnikState&&, const PauliSum&,
             Evaluation = Evaluation::Exact) = delete;
    EnergyFn(const ZarnikGraph&, const ZarnikState&, PauliSum&&,
             Evaluation = Evaluation::Exact) = delete;

    double operator()(std::span<const double> values) const;

  private:
    const ZarnikGraph& circuit_;
    const ZarnikState& state_;
    const PauliSum& hamiltonian_;
    Evaluation mode_;
};

/// Iterations of the search loop at most.
inline constexpr std::uint64_t MAX_ITERATIONS = 1000;

/// The search loop prints a progress line at every iteration that is a multiple of this.
inline constexpr std::uint64_t PROGRESS_INTERVAL = 50;

/// Settings of `run_zarnik_loop`; the defaults are those of `kvt_run`.
struct LoopOptions {
    /// Iterations at most.
    std::uint64_t max_iterations = MAX_ITERATIONS;
    /// A progress line at every iteration that is a multiple of this; 0 prints none.
    std::uint64_t progress_interval = PROGRESS_INTERVAL;
    /// Where the start, strategy and progress lines go; null is taken as `null_output()`.
    OutputSink* output = &standard_output();
    /// How every evaluation of the loop and of its energy function runs the circuit.
    Evaluation evaluation = Evaluation::Exact;
};

/// Outcome of `run_zarnik_loop`.
struct LoopResult {
    ZarnikGraph circuit;     ///< The final circuit.
    double energy = 0.0;     ///< The latest evaluated energy (hartree).
    bool converged = false;  ///< Whether the loop ended by a `Converged` action.
};

namespace detail {

/// The steps of the search loop over any way of evaluating a circuit, for `run_zarnik_loop` and
/// for the distributed state's loop: `evaluate(circuit)` returns its Telemetry, and
/// `tune(circuit)` runs the strategy's `optimize_parameters` on the live circuit with an energy
/// function over a snapshot of it.
template <ZarnikStrategy Strategy, class Evaluate, class Tune>
LoopResult search_loop(ZarnikGraph circuit, Strategy& strategy, const LoopOptions& options,
                       const Evaluate& evaluate, const Tune& tune) {
    OutputSink& out = options.output != nullptr ? *options.output : null_output();
    Telemetry current = evaluate(std::as_const(circuit));
    print_loop_start(out, current.energy);

    for (std::uint64_t i = 0; i < options.max_iterations; ++i) {
        if (circuit.has_parameters()) {
            tune(circuit);
            current = evaluate(std::as_const(circuit));
        }

        StrategyAction action =
            strategy.evaluate_and_evolve(std::as_const(circuit), current.energy, current.entropy);

        if (std::holds_alternative<Converged>(action)) {
            print_converged(out);
            return LoopResult{std::move(circuit), current.energy, true};
        }
        if (auto* add = std::get_if<AddGate>(&action)) {
            print_adding(out, add->gate, add->qubits);
            circuit.add_gate(add->gate, std::move(add->qubits));
        } else if (const auto* remove = std::get_if<RemoveGate>(&action)) {
            if (remove->index < circuit.gate_count()) {
                print_removing(out, remove->index);
                circuit.remove_operation(remove->index);
            }
        }

        current = evaluate(std::as_const(circuit));
        if (options.progress_interval != 0 && i % options.progress_interval == 0) {
            print_progress(out, i, current.energy, current.entropy);
        }
    }
    return LoopResult{std::move(circuit), current.energy, false};
}

}  // namespace detail

/// The search: evaluates the circuit, then for at most `options.max_iterations` iterations lets
/// `strategy` tune the parameters (only when some operation has any), asks it for one action,
/// applies the action, re-evaluates, and prints a progress line every
/// `options.progress_interval` iterations, all lines to `options.output`. Takes ownership of the
/// reference state (released on return) and the circuit. Whatever the evaluations, the strategy
/// or the sink throw propagates to the caller.
template <ZarnikStrategy Strategy>
LoopResult run_zarnik_loop(ZarnikState reference, ZarnikGraph circuit, const PauliSum& hamiltonian,
                           Strategy& strategy, const LoopOptions& options = {}) {
    const Evaluation mode = options.evaluation;
    return detail::search_loop(
        std::move(circuit), strategy, options,
        [&](const ZarnikGraph& current) {
            return evaluate_circuit_telemetry(reference, current, hamiltonian, mode);
        },
        [&](ZarnikGraph& live) {
            // The snapshot and the state copy live for this one step.
            const ZarnikGraph snapshot = live;
            const ZarnikState state_copy = reference;
            const EnergyFn energy_fn(snapshot, state_copy, hamiltonian, mode);
            strategy.optimize_parameters(live, energy_fn);
        });
}

}  // namespace zel

#pragma once

/// \file
/// The interface through which a search strategy shapes a circuit: once per iteration of the
/// search loop it may tune the circuit's parameters, then it proposes one `StrategyAction`.

#include <concepts>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "zel/core/circuit.hpp"

namespace zel {

/// Append an operation with `gate` on `qubits`. A rotation enters with its angle as its only
/// parameter; any other kind with no parameters.
struct AddGate {
    GateType gate;
    std::vector<std::uint64_t> qubits;

    friend bool operator==(const AddGate&, const AddGate&) = default;
};

/// Remove the operation at position `index`; later operations move up by one. An index at or
/// beyond the gate count is ignored by the search loop.
struct RemoveGate {
    std::uint64_t index = 0;

    friend bool operator==(const RemoveGate&, const RemoveGate&) = default;
};

/// Leave the circuit as it is.
struct NoChange {
    friend bool operator==(const NoChange&, const NoChange&) = default;
};

/// The strategy's goal is reached: stop the search.
struct Converged {
    friend bool operator==(const Converged&, const Converged&) = default;
};

/// One structural step proposed by a strategy.
using StrategyAction = std::variant<AddGate, RemoveGate, NoChange, Converged>;

/// Energy of a parameter vector: one value per parameter slot, in flat order (operations in
/// circuit order, each operation's `params` in order). A stand-in callable for the concept
/// check; strategies accept any callable of this shape.
struct EnergyCallableArchetype {
    double operator()(std::span<const double> values) const;
};

/// A search strategy.
///
/// - `optimize_parameters(graph, energy_fn)` tunes the `params` of the graph's operations in
///   place, keeping each rotation's angle equal to its `params[0]` (`set_parameters` does
///   both). `energy_fn(values)` returns the energy of the graph as it stood on entry with
///   `values` written into its slots, and leaves the graph untouched. Called only when some
///   operation has parameters. The loop calls it on the strategy as a mutable object, so an
///   optimiser that keeps state between steps (momentum, a step count) may be a non-const
///   member; a `const` member satisfies the concept as well.
/// - `evaluate_and_evolve(graph, energy, entropy)` (strategy mutable) returns the next action
///   for the circuit whose latest energy (hartree) and entropy (bits) are given.
template <class S>
concept ZarnikStrategy = requires(S& strategy, ZarnikGraph& graph, const ZarnikGraph& shown,
                                  const EnergyCallableArchetype& energy_fn, double energy,
                                  double entropy) {
    { strategy.optimize_parameters(graph, energy_fn) } -> std::same_as<void>;
    { strategy.evaluate_and_evolve(shown, energy, entropy) } -> std::same_as<StrategyAction>;
};

}  // namespace zel

#pragma once

/// \file
/// `NeuralZarnikBrain`: the adaptive search strategy. It decides from the energy alone whether
/// the search has converged, whether a nearly vanished rotation is pruned, or whether an
/// entangling CX is added after the energy stagnated, and it tunes all rotation parameters at
/// once by simultaneous perturbation stochastic approximation (SPSA).

#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/strategy.hpp"

namespace zel {

/// A callable from a flat parameter vector to an energy in hartree.
template <class F>
concept EnergyFunction = std::invocable<const F&, std::span<const double>> && std::convertible_to <
                         std::invoke_result_t<const F&, std::span<const double>>,
double > ;

/// Parameter magnitudes at or below this are never pruned (they are taken as exact zeros).
inline constexpr double MIN_PRUNE_MAGNITUDE = 1e-10;

/// An energy change strictly below this counts as stagnation.
inline constexpr double STAGNATION_TOLERANCE = 1e-4;

/// Stagnation tests in a row needed before a CX is added.
inline constexpr std::uint64_t STAGNATION_LIMIT = 6;

namespace detail {

/// The parameter slots of a circuit in flat order and where each came from.
struct ParameterSlots {
    std::vector<double> theta;
    std::vector<std::uint64_t> operation;  ///< Position of the slot's operation.
    std::vector<std::uint64_t> position;   ///< Position of the slot within that `params`.
};

ParameterSlots collect_parameters(const ZarnikGraph& graph);

/// One fair random sign per slot from the calling thread's random source: +1.0 for a draw
/// below 2^63, -1.0 otherwise.
std::vector<double> draw_signs(std::size_t count);

/// Writes `values` back into the slots; a rotation whose first parameter is written also gets it
/// as its angle. Slots that no longer fit the circuit are skipped.
void write_parameters(ZarnikGraph& graph, const ParameterSlots& slots,
                      std::span<const double> values);

}  // namespace detail

/// The adaptive strategy, a plain record of eleven fields. Satisfies `ZarnikStrategy`.
struct NeuralZarnikBrain {
    double learning_rate;    ///< Stored for callers; no decision reads it.
    double prune_threshold;  ///< Parameter magnitudes strictly between MIN_PRUNE_MAGNITUDE and
                             ///< this are pruned.
    double target_energy;    ///< An energy at or below this (hartree) means convergence.
    double last_energy = std::numeric_limits<double>::max();  ///< Energy of the last
                                                              ///< stagnation test.
    std::uint64_t stagnation_count = 0;  ///< Consecutive stagnation tests so far.
    double spsa_a = 0.1;                 ///< Numerator of the SPSA step gain.
    double spsa_c = 0.1;                 ///< Numerator of the SPSA perturbation size.
    double spsa_stability = 10.0;        ///< Stability offset of the step gain.
    double spsa_alpha = 0.602;           ///< Exponent of the step gain.
    double spsa_gamma = 0.101;           ///< Exponent of the perturbation size.
    std::uint64_t iteration = 0;         ///< Number of `evaluate_and_evolve` calls so far.

    /// A fresh strategy. Prints the two-line community-edition notice to standard output first,
    /// on every construction.
    NeuralZarnikBrain(double learning_rate, double prune_threshold, double target_energy);

    /// The decision for the circuit `graph` whose latest energy is `energy`; `entropy` is not
    /// consulted. In order: count the call; converge when energy <= target; prune the first
    /// operation whose parameter magnitude (params[0], else a rotation's angle, else 0) lies
    /// strictly between MIN_PRUNE_MAGNITUDE and prune_threshold; otherwise run the stagnation
    /// test, which adds CX on [0, 1] after STAGNATION_LIMIT stagnant tests on >= 2 qubits.
    StrategyAction evaluate_and_evolve(const ZarnikGraph& graph, double energy, double entropy);

    /// One SPSA step over every parameter slot of `graph` (flat order), with step index
    /// k = `iteration`: c_k = spsa_c / (k+1)^spsa_gamma, a_k = spsa_a / (spsa_stability +
    /// k+1)^spsa_alpha. Evaluates `energy_fn` at theta + c_k delta, then at theta - c_k delta,
    /// for random signs delta, and moves every slot by -delta a_k (E+ - E-) / (2 c_k), writing
    /// rotations' angles too. Does nothing when the circuit has no parameters, and leaves every
    /// value unchanged when that step is not finite (a NaN or infinite energy).
    template <EnergyFunction F>
    void optimize_parameters(ZarnikGraph& graph, const F& energy_fn) const;

  private:
    struct Gains {
        double step;          ///< a_k
        double perturbation;  ///< c_k
    };
    Gains gains() const noexcept;
};

template <EnergyFunction F>
void NeuralZarnikBrain::optimize_parameters(ZarnikGraph& graph, const F& energy_fn) const {
    const detail::ParameterSlots slots = detail::collect_parameters(graph);
    if (slots.theta.empty()) {
        return;
    }
    const Gains g = gains();
    const std::vector<double> delta = detail::draw_signs(slots.theta.size());
    const std::size_t n = slots.theta.size();

    std::vector<double> probe(n);
    for (std::size_t s = 0; s < n; ++s) {
        probe[s] = delta[s] * g.perturbation + slots.theta[s];
    }
    const double energy_plus = energy_fn(std::span<const double>(probe));
    for (std::size_t s = 0; s < n; ++s) {
        probe[s] = slots.theta[s] - delta[s] * g.perturbation;
    }
    const double energy_minus = energy_fn(std::span<const double>(probe));

    const double gradient = (energy_plus - energy_minus) / (g.perturbation + g.perturbation);
    const double step = gradient * g.step;
    if (!std::isfinite(step)) {
        // A NaN or infinite energy would turn every parameter into NaN or infinity.
        return;
    }
    for (std::size_t s = 0; s < n; ++s) {
        probe[s] = slots.theta[s] - delta[s] * step;
    }
    detail::write_parameters(graph, slots, probe);
}

static_assert(ZarnikStrategy<NeuralZarnikBrain>);

}  // namespace zel

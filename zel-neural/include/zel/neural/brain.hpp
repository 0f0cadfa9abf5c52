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
#include <type_traits>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/output.hpp"
#include "zel/core/strategy.hpp"

namespace zel {

/// A callable from a flat parameter vector to an energy in hartree.
template <class F>
concept EnergyFunction = std::is_invocable_r_v<double, const F&, std::span<const double>>;

/// Parameter magnitudes at or below this are never pruned (they are taken as exact zeros).
inline constexpr double MIN_PRUNE_MAGNITUDE = 1e-10;

/// An energy change strictly below this counts as stagnation.
inline constexpr double STAGNATION_TOLERANCE = 1e-4;

/// Stagnation tests in a row needed before a CX is added.
inline constexpr std::uint64_t STAGNATION_LIMIT = 6;

namespace detail {

/// One fair random sign per slot from the calling thread's random source: +1.0 for a draw
/// below 2^63, -1.0 otherwise.
std::vector<double> draw_signs(std::size_t count);

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

    /// A fresh strategy. Writes the two-line community-edition notice to `output` first, on
    /// every construction (pass `null_output()` for none).
    NeuralZarnikBrain(double learning_rate, double prune_threshold, double target_energy,
                      OutputSink& output = standard_output());

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
    const std::vector<double> theta = parameters(graph);
    if (theta.empty()) {
        return;
    }
    const Gains g = gains();
    const std::vector<double> delta = detail::draw_signs(theta.size());
    const std::size_t n = theta.size();

    std::vector<double> probe(n);
    for (std::size_t s = 0; s < n; ++s) {
        probe[s] = delta[s] * g.perturbation + theta[s];
    }
    const double energy_plus = energy_fn(std::span<const double>(probe));
    for (std::size_t s = 0; s < n; ++s) {
        probe[s] = theta[s] - delta[s] * g.perturbation;
    }
    const double energy_minus = energy_fn(std::span<const double>(probe));

    const double gradient = (energy_plus - energy_minus) / (g.perturbation + g.perturbation);
    const double step = gradient * g.step;
    if (!std::isfinite(step)) {
        // A NaN or infinite energy would turn every parameter into NaN or infinity.
        return;
    }
    for (std::size_t s = 0; s < n; ++s) {
        probe[s] = theta[s] - delta[s] * step;
    }
    // One value per slot, written in the order they were read; rotations take params[0] as
    // their angle.
    set_parameters(graph, probe);
}

static_assert(ZarnikStrategy<NeuralZarnikBrain>);

}  // namespace zel

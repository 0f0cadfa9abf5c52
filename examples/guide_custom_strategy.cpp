// Guide, "Writing a strategy": a strategy of one's own that satisfies zel::ZarnikStrategy, run by
// zel::run_zarnik_loop on the built-in H2 operator.
//
// The strategy grows a fixed three-gate circuit (X on qubit 0, RY on qubit 1, CX from qubit 1 to
// qubit 0) one gate per iteration, tunes the RY angle by gradient descent with the exact
// parameter-shift gradient, and reports convergence once the energy is at or below its target.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <numbers>
#include <span>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/output.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"
#include "zel/core/strategy.hpp"

namespace {

struct ShiftRuleStrategy {
    double target_energy;     ///< Converged at or below this energy (hartree).
    double step_size = 0.5;   ///< Gradient-descent step size (rad^2 per hartree).
    std::uint64_t calls = 0;  ///< Number of decisions taken.

    /// One gradient-descent step on every parameter. For a rotation exp(-i theta P/2) the
    /// derivative of the energy is exactly (E(theta + pi/2) - E(theta - pi/2)) / 2.
    template <class EnergyFunction>
    void optimize_parameters(zel::ZarnikGraph& graph, const EnergyFunction& energy_fn) const {
        std::vector<double> theta = zel::parameters(graph);
        const double shift = std::numbers::pi / 2;
        std::vector<double> gradient(theta.size());
        std::vector<double> probe = theta;
        for (std::size_t s = 0; s < theta.size(); ++s) {
            probe[s] = theta[s] + shift;
            const double plus = energy_fn(std::span<const double>(probe));
            probe[s] = theta[s] - shift;
            const double minus = energy_fn(std::span<const double>(probe));
            probe[s] = theta[s];
            gradient[s] = 0.5 * (plus - minus);
        }
        // Write the new values back in the same flat order; set_parameters keeps each
        // rotation's angle equal to its first parameter.
        for (std::size_t s = 0; s < theta.size(); ++s) {
            theta[s] -= step_size * gradient[s];
        }
        zel::set_parameters(graph, theta);
    }

    /// Converged at the target; otherwise one more gate of the ansatz, then no change.
    zel::StrategyAction evaluate_and_evolve(const zel::ZarnikGraph& graph, double energy,
                                            double /*entropy*/) {
        ++calls;
        if (energy <= target_energy) {
            return zel::Converged{};
        }
        switch (graph.gate_count()) {
            case 0:
                return zel::AddGate{zel::GateType::of(zel::GateKind::X), {0}};
            case 1:
                // Added rotations enter with their angle as their one parameter.
                return zel::AddGate{zel::GateType::ry(0.0), {1}};
            case 2:
                return zel::AddGate{zel::GateType::of(zel::GateKind::CX), {1, 0}};
            default:
                return zel::NoChange{};
        }
    }
};

static_assert(zel::ZarnikStrategy<ShiftRuleStrategy>);

}  // namespace

int main() {
    const zel::PauliSum hamiltonian = zel::PauliSum::h2_hamiltonian();
    // The lowest eigenvalue of the built-in operator is -1.915371 Ha; stop within 1e-5 of it.
    ShiftRuleStrategy strategy{-1.91536};

    // The loop takes the reference state and the circuit by value and hands the circuit back.
    // Its lines go through std::cout here, in order with this program's own output.
    zel::StreamOutput to_cout(std::cout);
    zel::LoopResult result = zel::run_zarnik_loop(zel::ZarnikState(2), zel::ZarnikGraph(2),
                                                  hamiltonian, strategy, {.output = &to_cout});

    std::cout << (result.converged ? "converged" : "iteration limit reached") << " after "
              << strategy.calls << " decisions: energy " << result.energy << " Ha, "
              << result.circuit.gate_count() << " gates\n";
    return result.converged ? 0 : 1;
}

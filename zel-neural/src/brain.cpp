#include "zel/neural/brain.hpp"

#include <cmath>

#include "zel/core/random.hpp"

namespace zel {
namespace detail {

std::vector<double> draw_signs(std::size_t count) {
    constexpr std::uint64_t HALF = std::uint64_t{1} << 63;
    std::vector<double> signs(count);
    for (double& sign : signs) {
        sign = random::next_u64() < HALF ? 1.0 : -1.0;
    }
    return signs;
}

}  // namespace detail

namespace {

// Magnitude the pruning scan looks at: params[0] when present, a rotation's own angle
// otherwise, and 0 for everything else.
double prune_magnitude(const Operation& op) noexcept {
    if (!op.params.empty()) {
        return std::fabs(op.params[0]);
    }
    if (is_rotation(op.gate.kind)) {
        return std::fabs(op.gate.angle);
    }
    return 0.0;
}

}  // namespace

NeuralZarnikBrain::NeuralZarnikBrain(double learning_rate_, double prune_threshold_,
                                     double target_energy_, OutputSink& output)
    : learning_rate(learning_rate_),
      prune_threshold(prune_threshold_),
      target_energy(target_energy_) {
    output.write("\n[INFO] \u26A0\uFE0F  Running KVT Community Edition (Basic Strategy).\n");
    output.write(
        "[INFO] For advanced molecular convergence (e.g., H2O, LiH), upgrade to KVT Pro.\n\n");
}

StrategyAction NeuralZarnikBrain::evaluate_and_evolve(const ZarnikGraph& graph, double energy,
                                                      double /*entropy*/) {
    ++iteration;
    if (energy <= target_energy) {
        return Converged{};
    }
    for (std::size_t i = 0; i < graph.operations.size(); ++i) {
        const double magnitude = prune_magnitude(graph.operations[i]);
        if (prune_threshold > magnitude && magnitude > MIN_PRUNE_MAGNITUDE) {
            return RemoveGate{i};
        }
    }
    const double change = std::fabs(energy - last_energy);
    last_energy = energy;
    if (change < STAGNATION_TOLERANCE) {
        ++stagnation_count;
        if (stagnation_count >= STAGNATION_LIMIT && graph.num_qubits >= 2) {
            stagnation_count = 0;
            return AddGate{GateType::of(GateKind::CX), {0, 1}};
        }
        return NoChange{};
    }
    // Also reached for a NaN change, which never counts as stagnation.
    stagnation_count = 0;
    return NoChange{};
}

NeuralZarnikBrain::Gains NeuralZarnikBrain::gains() const noexcept {
    const double k = static_cast<double>(iteration + 1);
    return Gains{spsa_a / std::pow(spsa_stability + k, spsa_alpha),
                 spsa_c / std::pow(k, spsa_gamma)};
}

}  // namespace zel

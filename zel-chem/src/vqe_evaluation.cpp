// How the solvers evaluate their ansatz: the optimiser's objective over the logical parameters,
// the evaluations on one state, and the thread setting of a solve.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

#include "zel/chem/vqe.hpp"
#include "zel/core/cancel.hpp"
#include "zel/core/gradient.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/simulator.hpp"

#include "vqe_support.hpp"

namespace zel::chem {

namespace detail {

ThreadSetting::ThreadSetting(std::size_t threads)
    : previous_(parallel::thread_count()), active_(threads != 0) {
    if (active_) {
        parallel::set_thread_count(threads);
    }
}

ThreadSetting::~ThreadSetting() {
    if (active_) {
        parallel::set_thread_count(previous_);
    }
}

OptimizeResult optimize_ansatz(const TiedAnsatz& ansatz, const PauliSum& hamiltonian,
                               std::uint64_t reference_index, std::span<const double> start,
                               const VqeOptions& options, VqeEvaluator& evaluator) {
    const Objective objective = [&](std::span<const double> x, std::span<double> gradient) {
        throw_if_cancelled();
        // Debian's LBFGSpp 0.1 can divide zero by zero in the zoom of its line search when the
        // energy no longer changes in floating point, and then proposes NaN parameters: answer
        // with a NaN energy, which ends the optimisation at the best point found instead of
        // failing the solve on an operation with a NaN angle.
        if (!std::all_of(x.begin(), x.end(), [](double v) {
                return std::isfinite(v);
            })) {
            std::fill(gradient.begin(), gradient.end(), std::numeric_limits<double>::quiet_NaN());
            return std::numeric_limits<double>::quiet_NaN();
        }
        TiedAnsatz at = ansatz;
        at.set_parameters(x);
        if (gradient.empty()) {
            return evaluator.energy(at.circuit, hamiltonian, reference_index);
        }
        const EnergyGradient eg =
            evaluator.energy_and_gradient(at.circuit, hamiltonian, reference_index);
        const std::vector<double> logical = at.logical_gradient(eg.gradient);
        std::copy(logical.begin(), logical.end(), gradient.begin());
        return eg.energy;
    };
    std::unique_ptr<Optimizer> optimizer;
    switch (options.optimizer) {
        case VqeOptimizer::NelderMead:
            optimizer = std::make_unique<DerivativeFreeOptimizer>(
                DerivativeFreeOptimizer::Method::NelderMead);
            break;
        case VqeOptimizer::Cobyla:
            optimizer =
                std::make_unique<DerivativeFreeOptimizer>(DerivativeFreeOptimizer::Method::Cobyla);
            break;
        case VqeOptimizer::Lbfgs:
            optimizer = std::make_unique<LbfgsOptimizer>();
            break;
    }
    return optimizer->minimize(objective, start, options.optimize);
}

}  // namespace detail

double StateEvaluator::energy(const ZarnikGraph& circuit, const PauliSum& hamiltonian,
                              std::uint64_t reference_index) {
    ZarnikState state(circuit.num_qubits);
    state.set_computational_basis(reference_index);
    for (const Operation& op : circuit.operations) {
        state.apply(op);
    }
    return hamiltonian.expectation_value(state);
}

EnergyGradient StateEvaluator::energy_and_gradient(const ZarnikGraph& circuit,
                                                   const PauliSum& hamiltonian,
                                                   std::uint64_t reference_index) {
    ZarnikState reference(circuit.num_qubits);
    reference.set_computational_basis(reference_index);
    // The solvers pass the same Hamiltonian to every evaluation: group its terms once.
    if (!prepared_ || prepared_->num_qubits() != circuit.num_qubits ||
        *hamiltonian_ != hamiltonian) {
        prepared_.reset();
        hamiltonian_ = hamiltonian;
        prepared_.emplace(hamiltonian, circuit.num_qubits);
    }
    return zel::energy_and_gradient(circuit, *prepared_, reference);
}

std::vector<double> StateEvaluator::pool_gradients(const ZarnikGraph& circuit,
                                                   const PauliSum& hamiltonian,
                                                   std::uint64_t reference_index,
                                                   std::span<const PauliSum> generators) {
    ZarnikState state(circuit.num_qubits);
    state.set_computational_basis(reference_index);
    apply_circuit(state, circuit);
    return zel::pool_gradients(hamiltonian, state, generators);
}

}  // namespace zel::chem

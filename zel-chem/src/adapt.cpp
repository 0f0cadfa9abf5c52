// ADAPT-VQE: the convenience driver and the search-loop strategy.

#include <chrono>
#include <cmath>
#include <cstddef>
#include <utility>

#include "zel/chem/vqe.hpp"
#include "zel/core/cancel.hpp"
#include "zel/core/error.hpp"
#include "zel/core/gradient.hpp"
#include "zel/core/simulator.hpp"

#include "vqe_support.hpp"

namespace zel::chem {
namespace {

void check_adapt_options(const AdaptOptions& options) {
    check_vqe_options(options.vqe);
    if (!std::isfinite(options.gradient_tolerance) || options.gradient_tolerance < 0.0) {
        throw InvalidArgument("ADAPT-VQE: gradient_tolerance must be finite and non-negative");
    }
    if (!std::isfinite(options.energy_tolerance) || options.energy_tolerance < 0.0) {
        throw InvalidArgument("ADAPT-VQE: energy_tolerance must be finite and non-negative");
    }
    if (options.max_operators == 0) {
        throw InvalidArgument("ADAPT-VQE: max_operators must be at least 1");
    }
}

std::vector<PoolOperator> checked_pool(const VqeProblem& problem, const AdaptOptions& options) {
    check_adapt_options(options);
    std::vector<PoolOperator> pool = make_pool(problem, options.pool, options.spin_complement);
    if (pool.empty()) {
        throw InvalidArgument("ADAPT-VQE: the pool is empty");
    }
    return pool;
}

std::vector<PauliSum> generators_of(const std::vector<PoolOperator>& pool) {
    std::vector<PauliSum> generators;
    generators.reserve(pool.size());
    for (const PoolOperator& op : pool) {
        generators.push_back(op.generator);
    }
    return generators;
}

/// The Euclidean norm of `gradients` and the index of the largest magnitude (the first on a
/// tie), summed in index order so that it is the same on every run.
std::pair<double, std::size_t> norm_and_largest(const std::vector<double>& gradients) {
    double sum = 0.0;
    std::size_t best = 0;
    for (std::size_t k = 0; k < gradients.size(); ++k) {
        sum += gradients[k] * gradients[k];
        if (std::abs(gradients[k]) > std::abs(gradients[best])) {
            best = k;
        }
    }
    return {std::sqrt(sum), best};
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

AdaptResult adapt_vqe(const VqeProblem& problem, const AdaptOptions& options) {
    StateEvaluator evaluator;
    return adapt_vqe(problem, options, evaluator);
}

AdaptResult adapt_vqe(const VqeProblem& problem, const AdaptOptions& options,
                      VqeEvaluator& evaluator) {
    const auto started = std::chrono::steady_clock::now();
    const std::vector<PoolOperator> pool = checked_pool(problem, options);
    const std::vector<PauliSum> generators = generators_of(pool);
    const detail::ThreadSetting threads(options.vqe.threads);

    AdaptResult result;
    result.ansatz = TiedAnsatz{ZarnikGraph(problem.num_qubits), {}};
    // Optimised through native operations where the operators have them; `result.ansatz`
    // keeps the Pauli rotations of the same operators, which give the same state.
    TiedAnsatz fast{ZarnikGraph(problem.num_qubits), {}};
    result.reference_energy = evaluator.energy(ZarnikGraph(problem.num_qubits), problem.hamiltonian,
                                               problem.reference_index);
    result.energy = result.reference_energy;
    while (true) {
        throw_if_cancelled();
        const auto iteration_start = std::chrono::steady_clock::now();
        const std::vector<double> gradients = evaluator.pool_gradients(
            fast.circuit, problem.hamiltonian, problem.reference_index, generators);
        const auto [norm, chosen] = norm_and_largest(gradients);
        result.final_gradient_norm = norm;
        if (norm <= options.gradient_tolerance) {
            result.stop = AdaptStop::GradientNorm;
            break;
        }
        if (result.parameters.size() >= options.max_operators) {
            result.stop = AdaptStop::MaxOperators;
            break;
        }
        append_operator(result.ansatz, pool[chosen]);
        append_operator(fast, pool[chosen], problem.mapping);
        result.parameters.push_back(0.0);
        const OptimizeResult optimized =
            detail::optimize_ansatz(fast, problem.hamiltonian, problem.reference_index,
                                    result.parameters, options.vqe, evaluator);
        result.parameters = optimized.x;
        result.ansatz.set_parameters(result.parameters);
        fast.set_parameters(result.parameters);

        const double previous = result.energy;
        result.energy = optimized.value;
        AdaptIteration iteration;
        iteration.iteration = result.iterations.size() + 1;
        iteration.pool_index = chosen;
        iteration.label = pool[chosen].label;
        iteration.gradient = gradients[chosen];
        iteration.gradient_norm = norm;
        iteration.energy = optimized.value;
        iteration.evaluations = optimized.evaluations;
        iteration.seconds = seconds_since(iteration_start);
        result.iterations.push_back(iteration);
        if (options.callback) {
            options.callback(result.iterations.back());
        }
        if (options.energy_tolerance > 0.0 && previous - result.energy < options.energy_tolerance) {
            result.stop = AdaptStop::EnergyChange;
            break;
        }
    }
    result.seconds = seconds_since(started);
    return result;
}

AdaptStrategy::AdaptStrategy(VqeProblem problem, AdaptOptions options)
    : problem_(std::move(problem)), options_(std::move(options)) {
    pool_ = checked_pool(problem_, options_);
}

StrategyAction AdaptStrategy::evaluate_and_evolve(const ZarnikGraph& graph, double /*energy*/,
                                                  double /*entropy*/) {
    if (!pending_.empty()) {
        Operation next = std::move(pending_.front());
        pending_.erase(pending_.begin());
        return AddGate{next.gate, std::move(next.qubits)};
    }
    ZarnikState state(problem_.num_qubits);
    apply_circuit(state, graph);
    const std::vector<double> gradients =
        pool_gradients(problem_.hamiltonian, state, generators_of(pool_));
    const auto [norm, chosen] = norm_and_largest(gradients);
    if (norm <= options_.gradient_tolerance || chosen_.size() >= options_.max_operators) {
        return Converged{};
    }
    // The operator as the tied circuit would hold it, then each rotation in plain gates; the
    // RZ of rotation i follows the new parameter with the tie's coefficient.
    TiedAnsatz single{ZarnikGraph(problem_.num_qubits), {}};
    append_operator(single, pool_[chosen]);
    std::vector<TiedSlot> ties;
    std::size_t slot = parameter_count(graph);
    for (std::size_t i = 0; i < single.circuit.operations.size(); ++i) {
        std::size_t rz = 0;
        std::vector<Operation> gates = detail::rotation_gates(single.circuit.operations[i], rz);
        double coefficient = 0.0;
        for (const TiedSlot& tie : single.ties[0]) {
            if (tie.slot == i) {
                coefficient = tie.coefficient;
            }
        }
        for (std::size_t g = 0; g < gates.size(); ++g) {
            if (g == rz && !gates.empty()) {
                ties.push_back(TiedSlot{slot, coefficient});
            }
            slot += gates[g].params.size();
            pending_.push_back(std::move(gates[g]));
        }
    }
    ties_.push_back(std::move(ties));
    chosen_.push_back(chosen);
    theta_.push_back(0.0);
    if (pending_.empty()) {
        return NoChange{};
    }
    return evaluate_and_evolve(graph, 0.0, 0.0);
}

void AdaptStrategy::optimize(ZarnikGraph& graph) {
    if (!pending_.empty() || ties_.empty()) {
        return;  // the newest operator is not complete yet
    }
    const TiedAnsatz ansatz{graph, ties_};
    const detail::ThreadSetting threads(options_.vqe.threads);
    StateEvaluator evaluator;
    const OptimizeResult optimized =
        detail::optimize_ansatz(ansatz, problem_.hamiltonian, 0, theta_, options_.vqe, evaluator);
    theta_ = optimized.x;
    TiedAnsatz tuned = ansatz;
    tuned.set_parameters(theta_);
    zel::set_parameters(graph, zel::parameters(tuned.circuit));
}

}  // namespace zel::chem

#include "zel/chem/vqe.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <random>
#include <span>
#include <utility>

#include "zel/chem/mapping.hpp"
#include "zel/chem/reference.hpp"
#include "zel/core/error.hpp"
#include "zel/core/gradient.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/simulator.hpp"

#include "vqe_support.hpp"

namespace zel::chem {

VqeProblem make_vqe_problem(const Integrals& integrals, Sector sector, Mapping mapping,
                            SpinOrdering ordering, Reduction reduction) {
    if (reduction == Reduction::TwoQubit &&
        (mapping != Mapping::Parity || ordering != SpinOrdering::Blocked)) {
        throw InvalidArgument(
            "two-qubit reduction: needs the parity mapping with blocked spin ordering");
    }
    VqeProblem problem;
    problem.num_orbitals = integrals.num_orbitals();
    problem.sector = sector;
    problem.mapping = mapping;
    problem.ordering = ordering;
    problem.reduction = reduction;
    const std::size_t full_qubits = 2 * problem.num_orbitals;
    const std::uint64_t hf_index =
        hartree_fock_index(problem.num_orbitals, sector, ordering, mapping);
    PauliSum full = qubit_hamiltonian(integrals, mapping, ordering);
    switch (reduction) {
        case Reduction::None:
            problem.hamiltonian = std::move(full);
            problem.num_qubits = full_qubits;
            problem.reference_index = hf_index;
            return problem;
        case Reduction::TwoQubit:
            problem.reduced = two_qubit_reduction(full, full_qubits, sector);
            break;
        case Reduction::Tapering:
            problem.symmetries = find_z2_symmetries(full, full_qubits);
            problem.reduced = taper(full, full_qubits, hf_index);
            break;
    }
    problem.hamiltonian = problem.reduced.hamiltonian;
    problem.num_qubits = problem.reduced.num_qubits;
    problem.reference_index = remove_qubits(hf_index, problem.reduced.removed_qubits);
    return problem;
}

namespace {

/// `op` on the full register brought onto the problem's register; empty when it does not
/// commute with the symmetries or vanishes.
std::optional<PauliSum> reduce_operator(const VqeProblem& problem, const PauliSum& op) {
    const std::size_t full_qubits = 2 * problem.num_orbitals;
    PauliSum reduced;
    try {
        switch (problem.reduction) {
            case Reduction::None:
                reduced = op;
                break;
            case Reduction::TwoQubit:
                reduced = two_qubit_reduction(op, full_qubits, problem.sector).hamiltonian;
                break;
            case Reduction::Tapering:
                reduced = taper_operator(op, full_qubits, problem.symmetries, problem.reduced);
                break;
        }
    } catch (const InvalidArgument&) {
        // The operator moves the state out of the symmetry sector.
        return std::nullopt;
    }
    std::erase_if(reduced.terms, [](const PauliTerm& term) {
        return term.paulis.empty();
    });
    if (reduced.terms.empty()) {
        return std::nullopt;
    }
    return reduced;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

std::optional<PauliSum> problem_generator(const VqeProblem& problem, const Excitation& excitation) {
    return reduce_operator(
        problem, excitation_generator(excitation, problem.mapping, 2 * problem.num_orbitals));
}

std::size_t append_operator(TiedAnsatz& ansatz, const PauliSum& generator) {
    return excitation_circuit(ansatz, generator);
}

std::string_view vqe_optimizer_name(VqeOptimizer optimizer) noexcept {
    switch (optimizer) {
        case VqeOptimizer::NelderMead:
            return "nelder-mead";
        case VqeOptimizer::Cobyla:
            return "cobyla";
        case VqeOptimizer::Lbfgs:
            break;
    }
    return "lbfgs";
}

std::string_view adapt_pool_name(AdaptPool pool) noexcept {
    switch (pool) {
        case AdaptPool::GeneralizedFermionic:
            return "generalized";
        case AdaptPool::Qubit:
            return "qubit";
        case AdaptPool::PauliString:
            return "pauli";
        case AdaptPool::GeneralizedQubit:
            return "generalized-qubit";
        case AdaptPool::Fermionic:
            break;
    }
    return "fermionic";
}

std::string_view adapt_stop_name(AdaptStop stop) noexcept {
    switch (stop) {
        case AdaptStop::GradientNorm:
            return "gradient norm";
        case AdaptStop::EnergyChange:
            return "energy change";
        case AdaptStop::MaxOperators:
            break;
    }
    return "max operators";
}

void check_vqe_options(const VqeOptions& options) {
    const OptimizeOptions& o = options.optimize;
    if (!std::isfinite(o.gradient_tolerance) || o.gradient_tolerance < 0.0) {
        throw InvalidArgument("VQE options: gradient tolerance must be finite and non-negative");
    }
    if (!std::isfinite(o.energy_tolerance) || o.energy_tolerance < 0.0) {
        throw InvalidArgument("VQE options: energy tolerance must be finite and non-negative");
    }
    if (o.max_evaluations == 0) {
        throw InvalidArgument("VQE options: max_evaluations must be at least 1");
    }
}

namespace {

VqeResult solve_fixed(const VqeProblem& problem, const std::vector<PoolOperator>& operators,
                      std::vector<double> start, const VqeOptions& options,
                      VqeEvaluator& evaluator) {
    const auto started = std::chrono::steady_clock::now();
    const detail::ThreadSetting threads(options.threads);
    VqeResult result;
    result.ansatz = TiedAnsatz{ZarnikGraph(problem.num_qubits), {}};
    TiedAnsatz fast{ZarnikGraph(problem.num_qubits), {}};
    for (const PoolOperator& op : operators) {
        append_operator(result.ansatz, op);
        append_operator(fast, op, problem.mapping);
        result.operators.push_back(op.label);
    }
    result.reference_energy = evaluator.energy(ZarnikGraph(problem.num_qubits), problem.hamiltonian,
                                               problem.reference_index);
    result.optimization = detail::optimize_ansatz(
        fast, problem.hamiltonian, problem.reference_index, start, options, evaluator);
    result.energy = result.optimization.value;
    result.parameters = result.optimization.x;
    result.ansatz.set_parameters(result.parameters);
    result.seconds = seconds_since(started);
    return result;
}

}  // namespace

VqeResult uccsd(const VqeProblem& problem, const VqeOptions& options) {
    StateEvaluator evaluator;
    return uccsd(problem, options, evaluator);
}

VqeResult uccsd(const VqeProblem& problem, const VqeOptions& options, VqeEvaluator& evaluator) {
    check_vqe_options(options);
    std::vector<PoolOperator> operators = make_pool(problem, AdaptPool::Fermionic);
    std::vector<double> start(operators.size(), 0.0);
    return solve_fixed(problem, operators, std::move(start), options, evaluator);
}

VqeResult k_upccgsd(const VqeProblem& problem, std::size_t layers, const VqeOptions& options) {
    check_vqe_options(options);
    if (layers == 0) {
        throw InvalidArgument("k-UpCCGSD: layers must be at least 1");
    }
    const std::size_t n = problem.num_orbitals;
    const auto alpha = [&](std::size_t p) {
        return static_cast<std::uint32_t>(problem.ordering == SpinOrdering::Blocked ? p : 2 * p);
    };
    const auto beta = [&](std::size_t p) {
        return static_cast<std::uint32_t>(problem.ordering == SpinOrdering::Blocked ? n + p
                                                                                    : 2 * p + 1);
    };
    std::vector<Excitation> layer;
    for (const Excitation& e : generalized_excitations(n, problem.ordering)) {
        if (e.from.size() == 1) {
            layer.push_back(e);
        }
    }
    for (std::size_t p = 0; p < n; ++p) {
        for (std::size_t q = p + 1; q < n; ++q) {
            layer.push_back(Excitation{{alpha(p), beta(p)}, {alpha(q), beta(q)}});
        }
    }
    std::vector<PoolOperator> one_layer;
    for (const Excitation& e : layer) {
        if (std::optional<PauliSum> generator = problem_generator(problem, e)) {
            one_layer.push_back(PoolOperator{std::move(*generator),
                                             detail::native_excitation(problem, e),
                                             operator_label(e),
                                             {}});
        }
    }
    std::vector<PoolOperator> operators;
    for (std::size_t k = 0; k < layers; ++k) {
        operators.insert(operators.end(), one_layer.begin(), one_layer.end());
    }
    std::mt19937_64 rng(options.seed);
    std::vector<double> start(operators.size());
    for (double& value : start) {
        // Uniform in [-0.01, 0.01] from the raw bits, the same on every standard library.
        value = 0.02 * (static_cast<double>(rng() >> 11) * 0x1.0p-53) - 0.01;
    }
    StateEvaluator evaluator;
    return solve_fixed(problem, operators, std::move(start), options, evaluator);
}

namespace detail {

std::vector<Operation> rotation_gates(const Operation& op, std::size_t& rz_position) {
    std::vector<Operation> gates;
    std::vector<std::uint64_t> qubits;
    std::vector<char> letters;
    for (std::size_t j = 0; j < op.qubits.size() && j < op.payload.pauli.size(); ++j) {
        if (op.payload.pauli[j] != 'I') {
            qubits.push_back(op.qubits[j]);
            letters.push_back(op.payload.pauli[j]);
        }
    }
    const double theta = op.params.empty() ? 0.0 : op.params[0];
    rz_position = 0;
    if (qubits.empty()) {
        return gates;  // a global phase
    }
    const auto basis_change = [&](bool undo) {
        for (std::size_t j = 0; j < qubits.size(); ++j) {
            if (letters[j] == 'X') {
                gates.push_back(make_operation(GateKind::H, {qubits[j]}));
            } else if (letters[j] == 'Y') {
                const double angle = undo ? -std::numbers::pi / 2 : std::numbers::pi / 2;
                gates.push_back(make_operation(GateKind::RX, {qubits[j]}, {angle}));
            }
        }
    };
    basis_change(false);
    for (std::size_t j = 0; j + 1 < qubits.size(); ++j) {
        gates.push_back(make_operation(GateKind::CX, {qubits[j], qubits[j + 1]}));
    }
    rz_position = gates.size();
    gates.push_back(make_operation(GateKind::RZ, {qubits.back()}, {theta}));
    for (std::size_t j = qubits.size() - 1; j > 0; --j) {
        gates.push_back(make_operation(GateKind::CX, {qubits[j - 1], qubits[j]}));
    }
    basis_change(true);
    return gates;
}

}  // namespace detail

ZarnikGraph prepared_circuit(const TiedAnsatz& ansatz, std::uint64_t reference_index) {
    ZarnikGraph out = basis_state_circuit(reference_index, ansatz.circuit.num_qubits);
    for (const Operation& op : ansatz.circuit.operations) {
        if (op.gate.kind != GateKind::PAULI_ROTATION) {
            out.add(op);
            continue;
        }
        std::size_t rz = 0;
        for (Operation& gate : detail::rotation_gates(op, rz)) {
            out.add(std::move(gate));
        }
    }
    return out;
}

}  // namespace zel::chem

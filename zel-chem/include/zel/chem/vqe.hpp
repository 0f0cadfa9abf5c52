#pragma once

/// \file
/// Variational ground states of molecules: UCCSD and k-UpCCGSD with every parameter optimised
/// at once, and ADAPT-VQE, which grows its ansatz one operator at a time from a pool, always
/// taking the operator whose energy gradient is largest and then re-optimising every
/// parameter from the previous values.
///
/// All solvers start from the Hartree–Fock basis state of a `VqeProblem` (the qubit
/// Hamiltonian, possibly reduced, and its register). Energies are total energies in hartree:
/// the Hamiltonian's identity term carries the constant. Gradients come from the adjoint
/// method, so one energy-and-gradient evaluation costs a few passes over the state whatever
/// the number of parameters, and every ADAPT iteration computes all pool gradients from one
/// product H|psi>. Nothing is random apart from the k-UpCCGSD starting point, which is drawn
/// from the options' seed; the state's arithmetic does not depend on the thread count, so runs
/// repeat bit for bit.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zel/chem/excitation.hpp"
#include "zel/chem/integrals.hpp"
#include "zel/chem/mapping.hpp"
#include "zel/chem/tapering.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/gradient.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/state.hpp"
#include "zel/core/strategy.hpp"
#include "zel/neural/optimizer.hpp"

namespace zel::chem {

/// How qubits fixed by symmetries are removed from the register.
enum class Reduction : std::uint8_t {
    None,      ///< every spin orbital keeps its qubit
    TwoQubit,  ///< the parity mapping's two-qubit reduction (blocked spin ordering only)
    Tapering,  ///< every Z2 symmetry of the Hamiltonian, in the Hartree–Fock state's sector
};

/// A molecule as the variational solvers see it: the qubit Hamiltonian on the (possibly
/// reduced) register, the Hartree–Fock basis state there, and what is needed to bring operators
/// of the full register onto it.
struct VqeProblem {
    PauliSum hamiltonian;               ///< On `num_qubits` qubits; identity term = constant.
    std::size_t num_qubits = 0;         ///< Qubits of the register the solvers run on.
    std::uint64_t reference_index = 0;  ///< The Hartree–Fock basis state on that register.
    std::size_t num_orbitals = 0;  ///< Spatial orbitals (2n spin orbitals on the full register).
    Sector sector;
    Mapping mapping = Mapping::JordanWigner;
    SpinOrdering ordering = SpinOrdering::Blocked;
    Reduction reduction = Reduction::None;
    std::vector<Z2Symmetry> symmetries;  ///< Generators used by tapering (empty otherwise).
    ReducedHamiltonian reduced;          ///< Removed qubits and eigenvalues (reductions only).
};

/// The problem of `integrals` (after any active space) in `sector` under `mapping` and
/// `ordering`, reduced by `reduction`. Throws `InvalidArgument` when 2n exceeds MAX_MODES, a
/// count exceeds n, or the two-qubit reduction is asked for without the parity mapping in
/// blocked ordering ("two-qubit reduction: needs the parity mapping with blocked spin
/// ordering").
VqeProblem make_vqe_problem(const Integrals& integrals, Sector sector,
                            Mapping mapping = Mapping::JordanWigner,
                            SpinOrdering ordering = SpinOrdering::Blocked,
                            Reduction reduction = Reduction::None);

/// The Hermitian generator B of `excitation` (exp(theta (T - T^dagger)) = exp(i theta B)) on
/// the problem's register: `excitation_generator` under the problem's mapping, then the
/// problem's reduction. Empty when the excitation does not commute with a tapered symmetry or
/// vanishes after the reduction; such an operator cannot act within the sector.
std::optional<PauliSum> problem_generator(const VqeProblem& problem, const Excitation& excitation);

/// Appends exp(i theta B) for the generator B to `ansatz` as one new logical parameter, as
/// `excitation_circuit`'s Pauli rotations, and returns its index; throws as
/// `excitation_circuit`. With the overload for pool operators below, the only place where the
/// solvers turn an operator into circuit operations.
std::size_t append_operator(TiedAnsatz& ansatz, const PauliSum& generator);

/// The parameter optimiser of the solvers.
enum class VqeOptimizer : std::uint8_t {
    Lbfgs,       ///< L-BFGS on adjoint gradients (the default)
    NelderMead,  ///< derivative-free simplex (NLopt)
    Cobyla,      ///< derivative-free trust region (NLopt)
};

/// The optimiser's name: "lbfgs", "nelder-mead" or "cobyla".
std::string_view vqe_optimizer_name(VqeOptimizer optimizer) noexcept;

/// Settings shared by all solvers.
struct VqeOptions {
    VqeOptimizer optimizer = VqeOptimizer::Lbfgs;
    /// Stopping rules of each parameter optimisation. The gradient rule stops L-BFGS once the
    /// parameters' gradient norm falls to 1e-6 hartree, far below chemical accuracy.
    OptimizeOptions optimize{1e-6, 0.0, 10000, 0};
    /// Threads of the state passes during the solve (0: leave the library's setting). Results
    /// do not depend on it.
    std::size_t threads = 0;
    /// Seed of the k-UpCCGSD starting point.
    std::uint64_t seed = 0;
};

/// Where the solvers run their state passes. Every evaluation starts from a basis state of the
/// circuit's register; the solvers ask for nothing else, so an implementation may hold the
/// state in one process (`StateEvaluator`, the default) or spread it over several (zel-mpi's
/// `DistributedEvaluator`). Solver results depend only on the values returned, so an
/// implementation that returns the bits of `StateEvaluator` reproduces the default solve
/// exactly.
class VqeEvaluator {
  public:
    virtual ~VqeEvaluator() = default;

    /// <psi|H|psi> of `circuit` run from the basis state |reference_index> of its register.
    virtual double energy(const ZarnikGraph& circuit, const PauliSum& hamiltonian,
                          std::uint64_t reference_index) = 0;

    /// The energy of `circuit` from |reference_index> and its derivative for every parameter
    /// slot (see `zel::energy_and_gradient`).
    virtual EnergyGradient energy_and_gradient(const ZarnikGraph& circuit,
                                               const PauliSum& hamiltonian,
                                               std::uint64_t reference_index) = 0;

    /// The pool gradients (see `zel::pool_gradients`) at the state `circuit` makes from
    /// |reference_index>.
    virtual std::vector<double> pool_gradients(const ZarnikGraph& circuit,
                                               const PauliSum& hamiltonian,
                                               std::uint64_t reference_index,
                                               std::span<const PauliSum> generators) = 0;

  protected:
    VqeEvaluator() = default;
    VqeEvaluator(const VqeEvaluator&) = default;
    VqeEvaluator& operator=(const VqeEvaluator&) = default;
};

/// The evaluations on one `ZarnikState`: the circuit applied operation by operation, then
/// `PauliSum::expectation_value`, `zel::energy_and_gradient` or `zel::pool_gradients`. Throws
/// what those throw. Keeps the last Hamiltonian of `energy_and_gradient` grouped by flip mask
/// (`PreparedPauliSum`) for the next call with an equal one, as a solver makes hundreds.
class StateEvaluator final : public VqeEvaluator {
  public:
    double energy(const ZarnikGraph& circuit, const PauliSum& hamiltonian,
                  std::uint64_t reference_index) override;
    EnergyGradient energy_and_gradient(const ZarnikGraph& circuit, const PauliSum& hamiltonian,
                                       std::uint64_t reference_index) override;
    std::vector<double> pool_gradients(const ZarnikGraph& circuit, const PauliSum& hamiltonian,
                                       std::uint64_t reference_index,
                                       std::span<const PauliSum> generators) override;

  private:
    std::optional<PauliSum> hamiltonian_;
    std::optional<PreparedPauliSum> prepared_;
};

/// A fixed ansatz optimised once.
struct VqeResult {
    double energy = 0.0;                 ///< Lowest energy found (hartree, total).
    double reference_energy = 0.0;       ///< Energy of the Hartree–Fock state.
    std::vector<double> parameters;      ///< One per operator, in `operators` order.
    std::vector<std::string> operators;  ///< Labels of the ansatz's operators (`operator_label`).
    TiedAnsatz ansatz;                   ///< Circuit with `parameters` written in.
    OptimizeResult optimization;         ///< The optimiser's report.
    double seconds = 0.0;                ///< Wall time of the solve.
};

/// UCCSD from the Hartree–Fock state: every spin-preserving single and double of
/// `uccsd_excitations` that acts within the sector, one parameter each, all starting at 0.
/// Throws `InvalidArgument` for invalid options (see `check_vqe_options`).
VqeResult uccsd(const VqeProblem& problem, const VqeOptions& options = {});

/// UCCSD with every state pass run by `evaluator`; the same result as `uccsd` when the
/// evaluator returns `StateEvaluator`'s values.
VqeResult uccsd(const VqeProblem& problem, const VqeOptions& options, VqeEvaluator& evaluator);

/// k-UpCCGSD: `layers` repetitions of every generalised single and every paired generalised
/// double (both electrons of spatial orbital p to spatial orbital q), each with its own
/// parameters, starting from uniform values in [-0.01, 0.01] drawn from `options.seed`.
/// Throws `InvalidArgument` when `layers` is 0 ("k-UpCCGSD: layers must be at least 1") or the
/// options are invalid.
VqeResult k_upccgsd(const VqeProblem& problem, std::size_t layers, const VqeOptions& options = {});

/// Operator pools of ADAPT-VQE.
enum class AdaptPool : std::uint8_t {
    Fermionic,             ///< the UCCSD singles and doubles from the Hartree–Fock state
    GeneralizedFermionic,  ///< all spin-preserving singles and doubles (generalised)
    Qubit,                 ///< the UCCSD list as qubit excitations (no parity strings)
    PauliString,           ///< the distinct Pauli strings of the qubit excitations, one each
    GeneralizedQubit,      ///< the generalised list as qubit excitations (no parity strings)
};

/// The pool's name: "fermionic", "generalized", "qubit", "pauli" or "generalized-qubit".
std::string_view adapt_pool_name(AdaptPool pool) noexcept;

/// One factor of a pool operator made of several excitations: exp(coefficient theta (T - T^dagger))
/// for its excitation, whose Hermitian generator is `generator`.
struct PoolFactor {
    PauliSum generator;
    /// The excitation when it runs as one native operation (as `PoolOperator::excitation`).
    std::optional<Excitation> excitation;
    double coefficient = 1.0;
};

/// One pool operator: its Hermitian generator B on the problem's register and a label.
struct PoolOperator {
    /// B; for an operator of several factors, the sum of each factor's coefficient times its
    /// generator (the pool gradient at theta = 0 is that of the product).
    PauliSum generator;
    /// The excitation behind the operator when it can run as one native operation (no
    /// reduction; a fermionic excitation under Jordan–Wigner or a qubit excitation); empty
    /// otherwise. The solvers optimise through it and keep `generator`'s Pauli rotations, which
    /// give the same state, for the exported circuit.
    std::optional<Excitation> excitation;
    /// "f[0 1 -> 2 3]" (fermionic; modes from -> to), "q[0 -> 2]" (qubit excitation) or the
    /// Pauli string ("X0 Y2"); for a spin-complemented pair both labels joined by " + " or
    /// " - " (the second factor's coefficient).
    std::string label;
    /// A spin-complemented pair: the product of its factors, the first applied first, all driven
    /// by the one parameter. Empty for an operator of one excitation or Pauli string, which is
    /// exp(i theta B); then `excitation` applies.
    std::vector<PoolFactor> factors;
};

/// Appends `op` to `ansatz` as one new logical parameter, as the Pauli rotations of its
/// generator (of each factor in turn for an operator of several, tied to the one parameter with
/// the factor's coefficient), and returns the parameter's index; throws as `excitation_circuit`.
std::size_t append_operator(TiedAnsatz& ansatz, const PoolOperator& op);

/// Appends `op` to `ansatz` as one new logical parameter: as the native operation of its
/// excitation under `mapping` when it has one (`excitation_circuit` with
/// `ExcitationPath::Native`), else as the Pauli rotations of its generator; an operator of
/// several factors takes each factor that way in turn, tied to the one parameter. Returns the
/// parameter's index; throws as `excitation_circuit`.
std::size_t append_operator(TiedAnsatz& ansatz, const PoolOperator& op, Mapping mapping);

/// The operators of `pool` for `problem`, in a fixed order; operators that cannot act within
/// the sector are left out, and Pauli strings appear once each. With `spin_complement`, each
/// excitation whose spin complement (every mode's spin exchanged) is another excitation of the
/// list makes one operator with it, the pair driven by one parameter (as spin-adapted pools do;
/// the complement's coefficient is -1 when the list holds it with its modes in another order or
/// reversed); excitations that are their own complement stay single; not for the pauli pool.
/// Throws `InvalidArgument` ("ADAPT-VQE: the qubit, generalized-qubit and pauli pools act on
/// occupation qubits and need the Jordan-Wigner mapping") for those pools under another
/// mapping, where a qubit does not hold an orbital's occupation, and ("ADAPT-VQE: spin
/// complements pair excitations, not the Pauli strings of the pauli pool") for
/// `spin_complement` with the pauli pool.
std::vector<PoolOperator> make_pool(const VqeProblem& problem, AdaptPool pool,
                                    bool spin_complement = false);

/// Why ADAPT-VQE stopped.
enum class AdaptStop : std::uint8_t {
    GradientNorm,  ///< the pool's gradient norm fell to the tolerance
    EnergyChange,  ///< an iteration lowered the energy by less than the tolerance
    MaxOperators,  ///< the ansatz reached the operator limit
};

/// The stop reason's name: "gradient norm", "energy change", "max operators".
std::string_view adapt_stop_name(AdaptStop stop) noexcept;

/// One ADAPT iteration: an operator added and every parameter re-optimised.
struct AdaptIteration {
    std::size_t iteration = 0;    ///< 1-based.
    std::size_t pool_index = 0;   ///< Index of the chosen operator in the pool.
    std::string label;            ///< Its label.
    double gradient = 0.0;        ///< Its energy gradient when chosen.
    double gradient_norm = 0.0;   ///< Euclidean norm of all pool gradients then.
    double energy = 0.0;          ///< Energy after the re-optimisation (hartree).
    std::size_t evaluations = 0;  ///< Energy evaluations of the re-optimisation.
    double seconds = 0.0;         ///< Wall time of the iteration.
};

/// Called after every iteration; an exception thrown by it ends the solve and reaches the
/// caller.
using AdaptCallback = std::function<void(const AdaptIteration&)>;

/// Settings of ADAPT-VQE.
struct AdaptOptions {
    AdaptPool pool = AdaptPool::Fermionic;
    /// Pair each excitation with its spin complement as one operator (see `make_pool`).
    bool spin_complement = false;
    /// Stop when the norm of all pool gradients is at or below this (hartree).
    double gradient_tolerance = 1e-3;
    /// Stop when an iteration lowers the energy by less than this (hartree); 0: off.
    double energy_tolerance = 0.0;
    /// Most operators in the ansatz (at least 1).
    std::size_t max_operators = 100;
    VqeOptions vqe;
    AdaptCallback callback;
};

/// The outcome of ADAPT-VQE.
struct AdaptResult {
    double energy = 0.0;             ///< Final energy (hartree, total).
    double reference_energy = 0.0;   ///< Energy of the Hartree–Fock state.
    std::vector<double> parameters;  ///< One per chosen operator.
    std::vector<AdaptIteration> iterations;
    /// Pool gradient norm at the last check (the one that stopped the loop for GradientNorm).
    double final_gradient_norm = 0.0;
    AdaptStop stop = AdaptStop::MaxOperators;
    TiedAnsatz ansatz;  ///< Circuit with `parameters` written in (no state-preparation gates).
    double seconds = 0.0;
};

/// ADAPT-VQE from the Hartree–Fock state. Each iteration computes every pool gradient at the
/// current state, stops when their norm is at or below `gradient_tolerance`, appends the
/// operator of largest |gradient| (the first on a tie), and re-optimises all parameters,
/// the new one from 0 and the others from their previous values. Throws `InvalidArgument`
/// before any work for invalid options (see `check_vqe_options`) and
/// "ADAPT-VQE: gradient_tolerance must be finite and non-negative",
/// "ADAPT-VQE: energy_tolerance must be finite and non-negative",
/// "ADAPT-VQE: max_operators must be at least 1" or "ADAPT-VQE: the pool is empty".
AdaptResult adapt_vqe(const VqeProblem& problem, const AdaptOptions& options = {});

/// ADAPT-VQE with every state pass (pool gradients, energies, parameter gradients) run by
/// `evaluator`; the same result as `adapt_vqe` when the evaluator returns `StateEvaluator`'s
/// values. Throws as `adapt_vqe`, before any evaluation.
AdaptResult adapt_vqe(const VqeProblem& problem, const AdaptOptions& options,
                      VqeEvaluator& evaluator);

/// Throws `InvalidArgument` for settings no solver can use: "VQE options: gradient tolerance
/// must be finite and non-negative", "... energy tolerance ...", "VQE options: max_evaluations
/// must be at least 1".
void check_vqe_options(const VqeOptions& options);

/// The circuit of `ansatz` behind the Hartree–Fock preparation, with every PAULI_ROTATION
/// written in the original gate kinds (H, RX, CX, RZ), so that it exports with
/// `to_open_qasm` and runs from |0...0>: exp(-i theta/2 P) becomes a change of basis to Z on
/// each factor (H for X, RX(pi/2) for Y), a CX ladder onto the last factor's qubit, RZ(theta),
/// and the ladder and basis change undone. Equal to the tied circuit up to a global phase.
ZarnikGraph prepared_circuit(const TiedAnsatz& ansatz, std::uint64_t reference_index);

/// ADAPT-VQE as a strategy of the search loop (`run_zarnik_loop`), which grows circuits one
/// gate at a time. The loop's circuit must start as the Hartree–Fock preparation
/// (`basis_state_circuit(problem.reference_index, problem.num_qubits)`) on a register of
/// `problem.num_qubits`. When the previous operator is complete, `evaluate_and_evolve`
/// computes the pool gradients at the circuit's state and answers `Converged` at the gradient
/// tolerance or the operator limit, or else starts the chosen operator; its gates
/// (`prepared_circuit`'s decomposition, the RZ angles tied to the operator's parameter) are
/// then handed out one `AddGate` per call. `optimize_parameters` runs only on complete
/// operators: it re-optimises all logical parameters with the configured optimiser and writes
/// the tied RZ angles back. The energy tolerance and the callback are not used here.
class AdaptStrategy {
  public:
    /// Throws as `adapt_vqe` for invalid options or an empty pool.
    AdaptStrategy(VqeProblem problem, AdaptOptions options = {});

    template <class EnergyFunction>
    void optimize_parameters(ZarnikGraph& graph, const EnergyFunction& /*energy_fn*/) {
        optimize(graph);
    }

    StrategyAction evaluate_and_evolve(const ZarnikGraph& graph, double energy, double entropy);

    /// The pool operators chosen so far (pool indexes), in order.
    const std::vector<std::size_t>& chosen() const noexcept {
        return chosen_;
    }
    /// The logical parameters, one per chosen operator.
    const std::vector<double>& parameters() const noexcept {
        return theta_;
    }

  private:
    void optimize(ZarnikGraph& graph);

    VqeProblem problem_;
    AdaptOptions options_;
    std::vector<PoolOperator> pool_;
    std::vector<std::size_t> chosen_;
    std::vector<double> theta_;
    /// Per logical parameter: the RZ operations (circuit positions) and their coefficients.
    std::vector<std::vector<TiedSlot>> ties_;
    std::vector<Operation> pending_;  ///< Gates of the current operator not yet handed out.
};

static_assert(ZarnikStrategy<AdaptStrategy>);

/// Label of an excitation: "f[0 1 -> 2 3]" or "q[0 -> 2]".
std::string operator_label(const Excitation& excitation);

}  // namespace zel::chem

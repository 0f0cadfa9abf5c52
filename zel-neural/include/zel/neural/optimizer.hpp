#pragma once

/// \file
/// Minimisers of a function of a real vector behind one small interface: L-BFGS on exact
/// gradients, derivative-free Nelder–Mead and COBYLA, and the search loop's SPSA step. Each
/// reports the best point it evaluated and why it stopped.

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zel {

/// The function to minimise: returns f(x); when `gradient` is not empty (it then has x.size()
/// entries) also writes df/dx_i into it. Derivative-free methods always pass an empty span.
/// Exceptions thrown by it reach the caller of `minimize` unchanged.
using Objective = std::function<double(std::span<const double> x, std::span<double> gradient)>;

/// Why a minimisation stopped.
enum class StopReason {
    GradientNorm,    ///< ||grad f|| fell to the gradient tolerance (gradient methods)
    EnergyChange,    ///< f changed by at most the energy tolerance over the last iteration
    StepSize,        ///< the step in x fell below what the method can resolve
    MaxEvaluations,  ///< the evaluation budget ran out before any other rule held
    MaxIterations,   ///< the iteration budget ran out before any other rule held
    NonFinite,       ///< f or its gradient was NaN or infinite at a point
    Failed,          ///< the method could not make progress (a failed line search, say)
};

/// Name of a stop reason for messages: "gradient norm", "energy change", "step size",
/// "max evaluations", "max iterations", "non-finite value", "failed".
std::string_view stop_reason_name(StopReason reason) noexcept;

/// Whether `reason` is one of the convergence rules (gradient norm, energy change, step size)
/// rather than a budget or a failure.
bool converged(StopReason reason) noexcept;

/// Stopping rules of every optimiser. A rule whose tolerance is 0 is off.
struct OptimizeOptions {
    /// Stop when the Euclidean norm of the gradient is at or below this (methods with gradients).
    double gradient_tolerance = 1e-6;
    /// Stop when an iteration changes f by at most this times max(|f|, 1). 0: off.
    double energy_tolerance = 0.0;
    /// Most calls of the objective, at least 1.
    std::size_t max_evaluations = 10000;
    /// Most iterations; 0 means no limit other than `max_evaluations`.
    std::size_t max_iterations = 0;
};

/// What a minimisation found. `x` is the point of lowest f among those evaluated, `value` its
/// f as the objective returned it.
struct OptimizeResult {
    std::vector<double> x;
    double value = 0.0;
    /// ||grad f|| at `x`, as the objective computed it; NaN for derivative-free methods, which
    /// never ask for a gradient.
    double gradient_norm = 0.0;
    std::size_t iterations = 0;   ///< Iterations of the method.
    std::size_t evaluations = 0;  ///< Calls of the objective.
    StopReason reason = StopReason::Failed;
    /// The method's own words for a failure (empty otherwise).
    std::string message;
};

/// A minimiser. Implementations hold their own settings and are stateless across calls.
class Optimizer {
  public:
    virtual ~Optimizer() = default;

    /// The method's name ("lbfgs", "nelder-mead", "cobyla", "spsa").
    virtual std::string_view name() const noexcept = 0;

    /// Minimises `objective` from `x0`. An empty `x0` gives one evaluation and GradientNorm.
    /// Throws `InvalidArgument` before any evaluation when a tolerance is negative or not
    /// finite, or `max_evaluations` is 0.
    virtual OptimizeResult minimize(const Objective& objective, std::span<const double> x0,
                                    const OptimizeOptions& options = {}) const = 0;
};

/// Limited-memory BFGS on exact gradients (LBFGSpp), with a line search for the strong Wolfe
/// conditions.
class LbfgsOptimizer final : public Optimizer {
  public:
    /// `memory`: correction pairs kept (at least 1).
    explicit LbfgsOptimizer(int memory = 6) : memory_(memory) {
    }
    std::string_view name() const noexcept override {
        return "lbfgs";
    }
    /// Iterations are L-BFGS steps; every evaluation asks for the gradient.
    OptimizeResult minimize(const Objective& objective, std::span<const double> x0,
                            const OptimizeOptions& options = {}) const override;

  private:
    int memory_;
};

/// Derivative-free local minimisation through NLopt: Nelder–Mead simplex or COBYLA.
class DerivativeFreeOptimizer final : public Optimizer {
  public:
    enum class Method { NelderMead, Cobyla };

    /// `initial_step`: the first simplex's (or trust region's) size along each coordinate.
    explicit DerivativeFreeOptimizer(Method method = Method::NelderMead, double initial_step = 0.1)
        : method_(method), initial_step_(initial_step) {
    }
    std::string_view name() const noexcept override;
    /// Iterations are evaluations for these methods. The energy rule stops when a step changes
    /// f by less than the tolerance, absolutely or relative to |f|.
    OptimizeResult minimize(const Objective& objective, std::span<const double> x0,
                            const OptimizeOptions& options = {}) const override;

  private:
    Method method_;
    double initial_step_;
};

/// The search loop's SPSA step (`NeuralZarnikBrain::optimize_parameters`, with the brain's
/// gains), repeated: two evaluations per step at random +-c_k perturbations drawn from the
/// calling thread's random source, then one at the new point for its value. Only the energy,
/// iteration and evaluation rules apply; a noisy f can meet the energy rule by chance.
class SpsaOptimizer final : public Optimizer {
  public:
    std::string_view name() const noexcept override {
        return "spsa";
    }
    OptimizeResult minimize(const Objective& objective, std::span<const double> x0,
                            const OptimizeOptions& options = {}) const override;
};

}  // namespace zel

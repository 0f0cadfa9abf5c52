#include "zel/neural/optimizer.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <exception>
#include <limits>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/output.hpp"
#include "zel/neural/brain.hpp"

#include <Eigen/Core>
#include <LBFGS.h>
#include <nlopt.hpp>

namespace zel {
namespace {

constexpr double NOT_COMPUTED = std::numeric_limits<double>::quiet_NaN();

// Thrown through a library's loop to stop it; the tracker says why.
struct Abort {};

// Counts evaluations, keeps the best point, and turns the budget, non-finite values and the
// objective's own exceptions into a stop that the libraries cannot swallow or misreport.
class Tracker {
  public:
    Tracker(const Objective& objective, const OptimizeOptions& options)
        : objective_(objective), options_(options) {
    }

    // f(x), writing the gradient when `gradient` is not empty. Throws Abort when the budget is
    // spent or a coordinate of x is not finite (both before calling the objective: a line search
    // that divides by zero proposes NaN, and objectives refuse such parameters), when a value is
    // not finite, or when the objective throws (kept for `rethrow_pending`).
    double operator()(std::span<const double> x, std::span<double> gradient) {
        if (evaluations_ >= options_.max_evaluations) {
            stop_ = StopReason::MaxEvaluations;
            throw Abort{};
        }
        if (!std::all_of(x.begin(), x.end(), [](double v) {
                return std::isfinite(v);
            })) {
            stop_ = StopReason::NonFinite;
            throw Abort{};
        }
        ++evaluations_;
        double value = 0.0;
        try {
            value = objective_(x, gradient);
        } catch (...) {
            pending_ = std::current_exception();
            throw Abort{};
        }
        double squares = 0.0;
        for (const double g : gradient) {
            squares += g * g;
        }
        const double norm = gradient.empty() ? NOT_COMPUTED : std::sqrt(squares);
        if (!std::isfinite(value) || (!gradient.empty() && !std::isfinite(norm))) {
            stop_ = StopReason::NonFinite;
            throw Abort{};
        }
        last_gradient_norm_ = norm;
        last_x_.assign(x.begin(), x.end());
        if (best_.x.empty() || value < best_.value) {
            best_.x.assign(x.begin(), x.end());
            best_.value = value;
            best_.gradient_norm = norm;
        }
        return value;
    }

    void rethrow_pending() const {
        if (pending_) {
            std::rethrow_exception(pending_);
        }
    }
    StopReason stop() const noexcept {
        return stop_;
    }
    double last_gradient_norm() const noexcept {
        return last_gradient_norm_;
    }
    const std::vector<double>& last_x() const noexcept {
        return last_x_;
    }
    std::size_t evaluations() const noexcept {
        return evaluations_;
    }
    // The best point, with the count and `reason`; a run stopped before any evaluation (a budget
    // of zero is refused, so only an exception can do that) keeps x0.
    OptimizeResult result(std::span<const double> x0, std::size_t iterations, StopReason reason,
                          std::string message = {}) const {
        OptimizeResult out = best_;
        if (out.x.empty()) {
            out.x.assign(x0.begin(), x0.end());
            out.value = NOT_COMPUTED;
            out.gradient_norm = NOT_COMPUTED;
        }
        out.iterations = iterations;
        out.evaluations = evaluations_;
        out.reason = reason;
        out.message = std::move(message);
        return out;
    }

  private:
    const Objective& objective_;
    const OptimizeOptions& options_;
    std::size_t evaluations_ = 0;
    OptimizeResult best_;
    double last_gradient_norm_ = NOT_COMPUTED;
    std::vector<double> last_x_;
    StopReason stop_ = StopReason::Failed;
    std::exception_ptr pending_;
};

void check_options(const OptimizeOptions& options) {
    const auto check = [](double value, const char* name) {
        if (!std::isfinite(value) || value < 0.0) {
            throw InvalidArgument(std::string("optimizer: ") + name +
                                  " must be finite and not negative, got " + std::to_string(value));
        }
    };
    check(options.gradient_tolerance, "gradient_tolerance");
    check(options.energy_tolerance, "energy_tolerance");
    if (options.max_evaluations == 0) {
        throw InvalidArgument("optimizer: max_evaluations must be at least 1");
    }
}

// The result for an empty parameter vector: one evaluation, nothing to move.
OptimizeResult without_parameters(const Objective& objective, const OptimizeOptions& options) {
    Tracker tracker(objective, options);
    try {
        (void)tracker({}, {});
    } catch (const Abort&) {
        tracker.rethrow_pending();
        return tracker.result({}, 0, tracker.stop());
    }
    OptimizeResult out = tracker.result({}, 0, StopReason::GradientNorm);
    out.gradient_norm = 0.0;
    return out;
}

}  // namespace

std::string_view stop_reason_name(StopReason reason) noexcept {
    switch (reason) {
        case StopReason::GradientNorm:
            return "gradient norm";
        case StopReason::EnergyChange:
            return "energy change";
        case StopReason::StepSize:
            return "step size";
        case StopReason::MaxEvaluations:
            return "max evaluations";
        case StopReason::MaxIterations:
            return "max iterations";
        case StopReason::NonFinite:
            return "non-finite value";
        case StopReason::Failed:
            return "failed";
    }
    return "failed";
}

bool converged(StopReason reason) noexcept {
    return reason == StopReason::GradientNorm || reason == StopReason::EnergyChange ||
           reason == StopReason::StepSize;
}

OptimizeResult LbfgsOptimizer::minimize(const Objective& objective, std::span<const double> x0,
                                        const OptimizeOptions& options) const {
    check_options(options);
    if (memory_ < 1) {
        throw InvalidArgument("lbfgs: memory must be at least 1, got " + std::to_string(memory_));
    }
    if (x0.empty()) {
        return without_parameters(objective, options);
    }
    LBFGSpp::LBFGSParam<double> param;
    param.m = memory_;
    param.epsilon = options.gradient_tolerance;
    param.epsilon_rel = 0.0;
    param.linesearch = LBFGSpp::LBFGS_LINESEARCH_BACKTRACKING_STRONG_WOLFE;
    // LBFGSpp's delta rule: |f_{k-1} - f_k| <= delta * max(|f_k|, |f_{k-1}|, 1).
    param.past = options.energy_tolerance > 0.0 ? 1 : 0;
    param.delta = options.energy_tolerance;
    param.max_iterations = static_cast<int>(std::min<std::size_t>(
        options.max_iterations, static_cast<std::size_t>(std::numeric_limits<int>::max())));
    LBFGSpp::LBFGSSolver<double, LBFGSpp::LineSearchNocedalWright> solver(param);

    Tracker tracker(objective, options);
    const auto function = [&tracker](const Eigen::VectorXd& x, Eigen::VectorXd& gradient) {
        return tracker(
            std::span<const double>(x.data(), static_cast<std::size_t>(x.size())),
            std::span<double>(gradient.data(), static_cast<std::size_t>(gradient.size())));
    };
    Eigen::VectorXd x =
        Eigen::Map<const Eigen::VectorXd>(x0.data(), static_cast<Eigen::Index>(x0.size()));
    double value = 0.0;
    int iterations = 0;
    try {
        iterations = solver.minimize(function, x, value);
    } catch (const Abort&) {
        tracker.rethrow_pending();
        return tracker.result(x0, 0, tracker.stop());
    } catch (const std::exception& failure) {
        // The line search's own exceptions: no step decreased f enough (often at the limit of
        // floating-point resolution near a minimum).
        return tracker.result(x0, 0, StopReason::Failed, std::string("lbfgs: ") + failure.what());
    }
    const std::vector<double> final_x(x.data(), x.data() + x.size());
    if (final_x != tracker.last_x()) {
        // The line search went back to an earlier point: its gradient decides the rule below.
        Eigen::VectorXd gradient(x.size());
        try {
            (void)function(x, gradient);
        } catch (const Abort&) {
            tracker.rethrow_pending();
            return tracker.result(x0, static_cast<std::size_t>(iterations), tracker.stop());
        }
    }
    // LBFGSpp tests the gradient first, then the energy change, then the iteration count.
    StopReason reason = StopReason::EnergyChange;
    if (tracker.last_gradient_norm() <= options.gradient_tolerance) {
        reason = StopReason::GradientNorm;
    } else if (options.max_iterations != 0 &&
               static_cast<std::size_t>(iterations) >= options.max_iterations) {
        reason = StopReason::MaxIterations;
    }
    // A start that already meets the gradient rule takes no step.
    const std::size_t steps = tracker.evaluations() == 1 ? 0 : static_cast<std::size_t>(iterations);
    return tracker.result(x0, steps, reason);
}

std::string_view DerivativeFreeOptimizer::name() const noexcept {
    switch (method_) {
        case Method::NelderMead:
            return "nelder-mead";
        case Method::Cobyla:
            return "cobyla";
    }
    return "nelder-mead";
}

OptimizeResult DerivativeFreeOptimizer::minimize(const Objective& objective,
                                                 std::span<const double> x0,
                                                 const OptimizeOptions& options) const {
    check_options(options);
    if (!std::isfinite(initial_step_) || initial_step_ <= 0.0) {
        throw InvalidArgument(std::string(name()) + ": initial_step must be positive and finite");
    }
    if (x0.empty()) {
        return without_parameters(objective, options);
    }
    const auto n = static_cast<unsigned>(x0.size());
    nlopt::opt opt(method_ == Method::Cobyla ? nlopt::LN_COBYLA : nlopt::LN_NELDERMEAD, n);
    Tracker tracker(objective, options);
    struct Context {
        Tracker* tracker;
    } context{&tracker};
    opt.set_min_objective(
        [](unsigned size, const double* x, double*, void* data) {
            try {
                return (*static_cast<Context*>(data)->tracker)(std::span<const double>(x, size),
                                                               {});
            } catch (const Abort&) {
                // NLopt turns any other exception into a generic failure.
                throw nlopt::forced_stop();
            }
        },
        &context);
    // Iterations are evaluations here, so the smaller budget decides.
    const bool iterations_bind =
        options.max_iterations != 0 && options.max_iterations < options.max_evaluations;
    const std::size_t budget = iterations_bind ? options.max_iterations : options.max_evaluations;
    opt.set_maxeval(static_cast<int>(
        std::min<std::size_t>(budget, static_cast<std::size_t>(std::numeric_limits<int>::max()))));
    if (options.energy_tolerance > 0.0) {
        opt.set_ftol_abs(options.energy_tolerance);
        opt.set_ftol_rel(options.energy_tolerance);
    }
    opt.set_initial_step(initial_step_);
    std::vector<double> x(x0.begin(), x0.end());
    double value = 0.0;
    nlopt::result code = nlopt::FAILURE;
    try {
        code = opt.optimize(x, value);
    } catch (const nlopt::forced_stop&) {
        tracker.rethrow_pending();
        return tracker.result(x0, tracker.evaluations(), tracker.stop());
    } catch (const std::exception& failure) {
        return tracker.result(x0, tracker.evaluations(), StopReason::Failed,
                              std::string(name()) + ": " + failure.what());
    }
    StopReason reason = StopReason::StepSize;
    std::string message;
    switch (code) {
        case nlopt::FTOL_REACHED:
            reason = StopReason::EnergyChange;
            break;
        case nlopt::MAXEVAL_REACHED:
            reason = iterations_bind ? StopReason::MaxIterations : StopReason::MaxEvaluations;
            break;
        case nlopt::XTOL_REACHED:
            break;
        default:
            message = std::string(name()) + ": NLopt stopped with code " +
                      std::to_string(static_cast<int>(code));
            break;
    }
    return tracker.result(x0, tracker.evaluations(), reason, message);
}

OptimizeResult SpsaOptimizer::minimize(const Objective& objective, std::span<const double> x0,
                                       const OptimizeOptions& options) const {
    check_options(options);
    if (x0.empty()) {
        return without_parameters(objective, options);
    }
    // The brain's step works on a circuit's parameter slots: a circuit of I operations, one
    // parameter each, holds the vector (the kernels never read an I operation's parameters).
    ZarnikGraph slots(1);
    for (const double value : x0) {
        slots.add_gate_with_params(GateType::of(GateKind::I), {0}, {value});
    }
    NeuralZarnikBrain brain(0.0, 0.0, -std::numeric_limits<double>::infinity(), null_output());
    Tracker tracker(objective, options);
    const auto energy = [&tracker](std::span<const double> x) {
        return tracker(x, {});
    };
    std::size_t steps = 0;
    try {
        std::vector<double> x = parameters(slots);
        double previous = energy(x);
        for (;;) {
            if (options.max_iterations != 0 && steps >= options.max_iterations) {
                return tracker.result(x0, steps, StopReason::MaxIterations);
            }
            brain.iteration = steps;
            brain.optimize_parameters(slots, energy);
            ++steps;
            x = parameters(slots);
            const double value = energy(x);
            const double scale = std::max({std::abs(value), std::abs(previous), 1.0});
            if (options.energy_tolerance > 0.0 &&
                std::abs(value - previous) <= options.energy_tolerance * scale) {
                return tracker.result(x0, steps, StopReason::EnergyChange);
            }
            previous = value;
        }
    } catch (const Abort&) {
        tracker.rethrow_pending();
        return tracker.result(x0, steps, tracker.stop());
    }
}

}  // namespace zel

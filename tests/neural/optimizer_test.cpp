#include "zel/neural/optimizer.hpp"

#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/error.hpp"

#ifdef ZEL_CHEM_TEST_DATA
#include "zel/chem/exact.hpp"
#include "zel/chem/fcidump.hpp"
#include "zel/chem/fermion.hpp"
#include "zel/chem/mapping.hpp"
#include "zel/chem/reference.hpp"
#include "zel/core/gradient.hpp"
#endif

namespace zel {
namespace {

// f = (1 - x)^2 + 100 (y - x^2)^2, minimum 0 at (1, 1).
double rosenbrock(std::span<const double> x, std::span<double> g) {
    const double a = 1.0 - x[0];
    const double b = x[1] - x[0] * x[0];
    if (!g.empty()) {
        g[0] = -2.0 * a - 400.0 * x[0] * b;
        g[1] = 200.0 * b;
    }
    return a * a + 100.0 * b * b;
}

// f = sum_i (i + 1) (x_i - i)^2, minimum 0 at x_i = i.
double quadratic(std::span<const double> x, std::span<double> g) {
    double f = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double d = x[i] - static_cast<double>(i);
        f += static_cast<double>(i + 1) * d * d;
        if (!g.empty()) {
            g[i] = 2.0 * static_cast<double>(i + 1) * d;
        }
    }
    return f;
}

std::unique_ptr<Optimizer> make(const std::string& name) {
    if (name == "lbfgs") {
        return std::make_unique<LbfgsOptimizer>();
    }
    if (name == "cobyla") {
        return std::make_unique<DerivativeFreeOptimizer>(DerivativeFreeOptimizer::Method::Cobyla);
    }
    if (name == "spsa") {
        return std::make_unique<SpsaOptimizer>();
    }
    return std::make_unique<DerivativeFreeOptimizer>();
}

struct MinimumCase {
    std::string optimizer;
    std::string function;
    std::vector<double> start;
    std::vector<double> minimum;
    double tolerance;  // on every coordinate
};

TEST(Optimizer, ReachesTheMinimumOfTestFunctions) {
    const std::vector<MinimumCase> cases = {
        {"lbfgs", "rosenbrock", {-1.2, 1.0}, {1.0, 1.0}, 1e-6},
        {"lbfgs", "quadratic", {3.0, -2.0, 0.5, 7.0}, {0.0, 1.0, 2.0, 3.0}, 1e-7},
        {"nelder-mead", "rosenbrock", {-1.2, 1.0}, {1.0, 1.0}, 1e-4},
        {"nelder-mead", "quadratic", {3.0, -2.0, 0.5}, {0.0, 1.0, 2.0}, 1e-4},
        {"cobyla", "quadratic", {3.0, -2.0, 0.5}, {0.0, 1.0, 2.0}, 1e-4},
    };
    for (const MinimumCase& c : cases) {
        const Objective f =
            c.function == "rosenbrock" ? Objective(rosenbrock) : Objective(quadratic);
        OptimizeOptions options;
        options.gradient_tolerance = 1e-9;
        options.energy_tolerance = c.optimizer == "lbfgs" ? 0.0 : 1e-14;
        const OptimizeResult r = make(c.optimizer)->minimize(f, c.start, options);
        EXPECT_TRUE(converged(r.reason))
            << c.optimizer << " on " << c.function << ": " << stop_reason_name(r.reason);
        ASSERT_EQ(r.x.size(), c.minimum.size());
        for (std::size_t i = 0; i < r.x.size(); ++i) {
            EXPECT_NEAR(r.x[i], c.minimum[i], c.tolerance) << c.optimizer << " on " << c.function;
        }
        EXPECT_EQ(r.value, f(r.x, {}));
        EXPECT_GE(r.evaluations, r.iterations);
    }
}

struct StopCase {
    std::string optimizer;
    OptimizeOptions options;
    StopReason reason;
    std::size_t evaluations;  // 0: not checked
};

TEST(Optimizer, ReportsTheRuleThatStoppedIt) {
    const auto options = [](double gradient, double energy, std::size_t evaluations,
                            std::size_t iterations) {
        return OptimizeOptions{gradient, energy, evaluations, iterations};
    };
    const std::vector<StopCase> cases = {
        {"lbfgs", options(1e3, 0, 100, 0), StopReason::GradientNorm, 1},
        {"lbfgs", options(0, 0, 100, 2), StopReason::MaxIterations, 0},
        {"lbfgs", options(0, 0, 5, 0), StopReason::MaxEvaluations, 5},
        {"lbfgs", options(0, 1e-3, 1000, 0), StopReason::EnergyChange, 0},
        {"nelder-mead", options(0, 0, 7, 0), StopReason::MaxEvaluations, 7},
        {"nelder-mead", options(0, 0, 100, 9), StopReason::MaxIterations, 9},
        {"nelder-mead", options(0, 1e-3, 1000, 0), StopReason::EnergyChange, 0},
        {"cobyla", options(0, 0, 6, 0), StopReason::MaxEvaluations, 6},
        {"spsa", options(0, 0, 100, 4), StopReason::MaxIterations, 1 + 3 * 4},
        {"spsa", options(0, 0, 8, 0), StopReason::MaxEvaluations, 8},
    };
    const std::vector<double> start = {-1.2, 1.0};
    for (const StopCase& c : cases) {
        const OptimizeResult r = make(c.optimizer)->minimize(rosenbrock, start, c.options);
        EXPECT_EQ(r.reason, c.reason)
            << c.optimizer << " stopped on " << stop_reason_name(r.reason);
        if (c.evaluations != 0) {
            EXPECT_EQ(r.evaluations, c.evaluations) << c.optimizer;
        }
        EXPECT_LE(r.evaluations, c.options.max_evaluations) << c.optimizer;
        EXPECT_EQ(r.value, rosenbrock(r.x, {})) << c.optimizer;
        EXPECT_LE(r.value, rosenbrock(start, {})) << c.optimizer;
        EXPECT_EQ(std::isnan(r.gradient_norm), c.optimizer != "lbfgs") << c.optimizer;
    }
}

TEST(Optimizer, FailuresOfTheObjectiveAreReportedOrPassedOn) {
    const std::vector<double> start = {0.5, 0.5};
    const Objective nan_beyond_one = [](std::span<const double> x, std::span<double> g) {
        return std::abs(x[0]) > 0.45 ? std::numeric_limits<double>::quiet_NaN() : quadratic(x, g);
    };
    const Objective throwing = [](std::span<const double>, std::span<double>) -> double {
        throw Cancelled();
    };
    // A point with a NaN coordinate (what a line search that divides by zero proposes) ends the
    // run as a non-finite value, before an objective that refuses such parameters sees it.
    const Objective refusing = [](std::span<const double> x, std::span<double> g) {
        for (const double v : x) {
            if (!std::isfinite(v)) {
                throw InvalidArgument("parameter is not finite");
            }
        }
        return quadratic(x, g);
    };
    const std::vector<double> poisoned = {0.5, std::numeric_limits<double>::quiet_NaN()};
    for (const std::string name : {"lbfgs", "nelder-mead", "cobyla", "spsa"}) {
        const OptimizeResult r = make(name)->minimize(nan_beyond_one, start, {});
        EXPECT_EQ(r.reason, StopReason::NonFinite) << name;
        EXPECT_EQ(r.x, start) << name;  // no finite value was seen: the start is reported
        EXPECT_THROW((void)make(name)->minimize(throwing, start, {}), Cancelled) << name;
        const OptimizeResult stopped = make(name)->minimize(refusing, poisoned, {});
        EXPECT_EQ(stopped.reason, StopReason::NonFinite) << name;
        EXPECT_EQ(stopped.evaluations, 0U) << name;
        EXPECT_THROW((void)make(name)->minimize(quadratic, start, OptimizeOptions{-1.0}),
                     InvalidArgument)
            << name;
        EXPECT_THROW((void)make(name)->minimize(quadratic, start, OptimizeOptions{1e-6, 0.0, 0}),
                     InvalidArgument)
            << name;
        const OptimizeResult none = make(name)->minimize(quadratic, {}, {});
        EXPECT_EQ(none.reason, StopReason::GradientNorm) << name;
        EXPECT_EQ(none.evaluations, 1U) << name;
    }
}

#ifdef ZEL_CHEM_TEST_DATA

// VQE on H2 (STO-3G, 0.735 angstrom, Jordan-Wigner, interleaved spin orbitals): Hartree-Fock
// and one double excitation exp(theta (T - T^dagger)), T = a+_3 a+_2 a_1 a_0, written as the
// eight commuting Pauli rotations of B = -i (T - T^dagger) sharing theta.
TEST(Optimizer, VqeOnH2ReachesTheExactEnergy) {
    using namespace zel::chem;
    const Fcidump data = read_fcidump(std::string(ZEL_CHEM_TEST_DATA) + "/h2_0.735.fcidump");
    const std::size_t modes = 2 * data.integrals.num_orbitals();
    const PauliSum h =
        qubit_hamiltonian(data.integrals, Mapping::JordanWigner, SpinOrdering::Interleaved);
    const double exact = exact_ground_state(data.integrals, data.sector()).energy;

    FermionOperator t;
    t.add(1.0, {{3, true}, {2, true}, {1, false}, {0, false}});
    FermionOperator generator = t;
    FermionOperator minus_dagger = hermitian_conjugate(t);
    minus_dagger *= -1.0;
    generator += minus_dagger;
    generator *= std::complex<double>(0.0, -1.0);
    const PauliSum b = map_operator(generator, Mapping::JordanWigner, modes);
    ASSERT_EQ(b.terms.size(), 8U);

    ZarnikState reference(modes);
    reference.set_computational_basis(hartree_fock_index(data.integrals.num_orbitals(),
                                                         data.sector(), SpinOrdering::Interleaved,
                                                         Mapping::JordanWigner));
    // exp(i theta c P) = exp(-i (-2 c theta)/2 P): slot j of the circuit is -2 c_j theta.
    const auto circuit_at = [&](double theta) {
        ZarnikGraph circuit(modes);
        for (const PauliTerm& term : b.terms) {
            std::string letters;
            std::vector<std::uint64_t> qubits;
            for (const PauliFactor& f : term.paulis) {
                letters.push_back("IXYZ"[static_cast<int>(f.kind)]);
                qubits.push_back(f.qubit);
            }
            circuit.add(pauli_rotation(letters, qubits, -2.0 * term.coefficient * theta));
        }
        return circuit;
    };
    const Objective energy = [&](std::span<const double> x, std::span<double> g) {
        const EnergyGradient e = energy_and_gradient(circuit_at(x[0]), h, reference);
        if (!g.empty()) {
            g[0] = 0.0;
            for (std::size_t j = 0; j < b.terms.size(); ++j) {
                g[0] += -2.0 * b.terms[j].coefficient * e.gradient[j];
            }
        }
        return e.energy;
    };
    const std::vector<double> start = {0.0};
    for (const std::string name : {"lbfgs", "nelder-mead", "cobyla"}) {
        OptimizeOptions options;
        options.energy_tolerance = name == "lbfgs" ? 0.0 : 1e-12;
        const OptimizeResult r = make(name)->minimize(energy, start, options);
        EXPECT_TRUE(converged(r.reason)) << name << ": " << stop_reason_name(r.reason);
        EXPECT_NEAR(r.value, exact, 1e-6) << name;
        EXPECT_LT(r.value, energy(start, {}) - 1e-3) << name;  // well below Hartree-Fock
    }
}

#endif

}  // namespace
}  // namespace zel

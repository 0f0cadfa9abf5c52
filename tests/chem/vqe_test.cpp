#include "zel/chem/vqe.hpp"

#include <cmath>
#include <complex>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/chem/exact.hpp"
#include "zel/chem/fcidump.hpp"
#include "zel/chem/fermion.hpp"
#include "zel/chem/mapping.hpp"
#include "zel/chem/reference.hpp"
#include "zel/core/cancel.hpp"
#include "zel/core/error.hpp"
#include "zel/core/output.hpp"
#include "zel/core/simulator.hpp"

namespace zel::chem {
namespace {

constexpr double CHEMICAL_ACCURACY = 1.6e-3;

/// A test molecule, optionally cut to an active space (0 orbitals: all of them).
struct Molecule {
    const char* file;
    std::uint64_t active_electrons = 0;
    std::size_t active_orbitals = 0;
};

Fcidump load(const Molecule& m) {
    Fcidump data = read_fcidump(std::string(ZEL_CHEM_TEST_DATA) + "/" + m.file + ".fcidump");
    return m.active_orbitals == 0 ? data
                                  : active_space(data, m.active_electrons, m.active_orbitals);
}

double exact_energy(const Fcidump& data) {
    return exact_ground_state(data.integrals, data.sector()).energy;
}

// LiH with its 1s core frozen (10 qubits, 2 electrons; the whole molecule takes some 30 ADAPT
// iterations on 12 qubits, too long for a unit test), and also without its highest orbital.
const Molecule H2{"h2_0.735"};
const Molecule H2_STRETCHED{"h2_2.5"};
const Molecule LIH{"lih_1.595", 2, 5};
const Molecule LIH_ACTIVE{"lih_1.595", 2, 4};

TEST(AdaptVqe, ReachesChemicalAccuracy) {
    struct Case {
        Molecule molecule;
        AdaptPool pool;
        Mapping mapping;
        SpinOrdering ordering;
        Reduction reduction;
        bool spin_complement = false;
    };
    const Case cases[] = {
        {H2, AdaptPool::Fermionic, Mapping::JordanWigner, SpinOrdering::Blocked, Reduction::None},
        {H2_STRETCHED, AdaptPool::Fermionic, Mapping::JordanWigner, SpinOrdering::Blocked,
         Reduction::None},
        {LIH, AdaptPool::Fermionic, Mapping::JordanWigner, SpinOrdering::Blocked, Reduction::None},
        {H2, AdaptPool::GeneralizedFermionic, Mapping::BravyiKitaev, SpinOrdering::Interleaved,
         Reduction::None},
        {H2_STRETCHED, AdaptPool::Qubit, Mapping::JordanWigner, SpinOrdering::Interleaved,
         Reduction::None},
        {LIH_ACTIVE, AdaptPool::PauliString, Mapping::JordanWigner, SpinOrdering::Blocked,
         Reduction::None},
        {LIH, AdaptPool::Fermionic, Mapping::Parity, SpinOrdering::Blocked, Reduction::TwoQubit},
        {H2_STRETCHED, AdaptPool::Fermionic, Mapping::JordanWigner, SpinOrdering::Blocked,
         Reduction::Tapering},
        {LIH, AdaptPool::Fermionic, Mapping::JordanWigner, SpinOrdering::Blocked, Reduction::None,
         true},
        {LIH, AdaptPool::GeneralizedQubit, Mapping::JordanWigner, SpinOrdering::Interleaved,
         Reduction::None, true},
        {H2_STRETCHED, AdaptPool::GeneralizedFermionic, Mapping::Parity, SpinOrdering::Blocked,
         Reduction::TwoQubit, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(
            std::string(c.molecule.file) + " pool " + std::string(adapt_pool_name(c.pool)) + " " +
            std::string(mapping_name(c.mapping)) + (c.spin_complement ? " spin complement" : ""));
        const Fcidump data = load(c.molecule);
        const VqeProblem problem =
            make_vqe_problem(data.integrals, data.sector(), c.mapping, c.ordering, c.reduction);
        std::size_t callbacks = 0;
        AdaptOptions options;
        options.pool = c.pool;
        options.spin_complement = c.spin_complement;
        options.callback = [&](const AdaptIteration& it) {
            ++callbacks;
            EXPECT_EQ(it.iteration, callbacks);
        };
        const AdaptResult result = adapt_vqe(problem, options);
        const double exact = exact_energy(data);
        EXPECT_LT(std::abs(result.energy - exact), CHEMICAL_ACCURACY);
        EXPECT_GE(result.energy, exact - 1e-9);  // variational
        EXPECT_EQ(result.stop, AdaptStop::GradientNorm);
        EXPECT_LE(result.final_gradient_norm, options.gradient_tolerance);
        EXPECT_EQ(callbacks, result.iterations.size());
        EXPECT_EQ(result.parameters.size(), result.iterations.size());
        ASSERT_FALSE(result.iterations.empty());
        EXPECT_EQ(result.iterations.back().energy, result.energy);
        // The energy never rises: each re-optimisation starts where the previous one ended.
        double previous = result.reference_energy;
        for (const AdaptIteration& it : result.iterations) {
            EXPECT_LE(it.energy, previous + 1e-12);
            previous = it.energy;
        }
        // The exported form of the circuit prepares the same state from |0...0>.
        const ZarnikGraph circuit = prepared_circuit(result.ansatz, problem.reference_index);
        EXPECT_NEAR(
            evaluate_circuit_energy(ZarnikState(problem.num_qubits), circuit, problem.hamiltonian),
            result.energy, 1e-10);
    }
}

// Published ADAPT runs with spin-adapted pools reach chemical accuracy for LiH with 4 operators
// and for BeH2 with 8; pairing each excitation with its spin complement does the same here.
TEST(AdaptVqe, SpinComplementedPoolsNeedThePublishedOperatorCounts) {
    struct Case {
        Molecule molecule;
        AdaptPool pool;
        std::size_t operators;
    };
    const Case cases[] = {
        {{"lih_1.595"}, AdaptPool::Qubit, 4},
        {{"lih_1.595"}, AdaptPool::Fermionic, 4},
        {{"beh2_1.326"}, AdaptPool::Qubit, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.molecule.file) + " " + std::string(adapt_pool_name(c.pool)));
        const Fcidump data = load(c.molecule);
        const VqeProblem problem = make_vqe_problem(data.integrals, data.sector());
        AdaptOptions options;
        options.pool = c.pool;
        options.spin_complement = true;
        options.max_operators = c.operators;
        const AdaptResult result = adapt_vqe(problem, options);
        EXPECT_EQ(result.stop, AdaptStop::MaxOperators);
        EXPECT_LT(result.energy - exact_energy(data), CHEMICAL_ACCURACY);
    }
}

// The second factor of a fermionic spin-complemented pair is the first with every mode's spin
// exchanged, times its coefficient: compared through the mapped generators on a random state, so
// that a wrong sign for modes listed in another order, or reversed, shows. Pairs of singles
// commute, and from a closed shell they must keep the state a singlet, qubit excitations too.
TEST(AdaptPoolTest, SpinComplementsAreTheSpinExchangedExcitations) {
    const Fcidump data = load(Molecule{"h4_chain_0.9"});
    const std::size_t n = data.integrals.num_orbitals();
    for (const SpinOrdering ordering : {SpinOrdering::Blocked, SpinOrdering::Interleaved}) {
        const auto exchanged = [&](std::vector<std::uint32_t> modes) {
            for (std::uint32_t& m : modes) {
                m = ordering == SpinOrdering::Interleaved
                        ? m ^ 1U
                        : static_cast<std::uint32_t>(m < n ? m + n : m - n);
            }
            return modes;
        };
        for (const AdaptPool pool :
             {AdaptPool::Fermionic, AdaptPool::GeneralizedFermionic, AdaptPool::GeneralizedQubit}) {
            SCOPED_TRACE(std::string(adapt_pool_name(pool)) +
                         (ordering == SpinOrdering::Blocked ? " blocked" : " interleaved"));
            const VqeProblem problem =
                make_vqe_problem(data.integrals, data.sector(), Mapping::JordanWigner, ordering);
            const PauliSum spin = map_operator(total_spin_operator(n, ordering),
                                               Mapping::JordanWigner, problem.num_qubits);
            ZarnikState random(problem.num_qubits);
            std::uint64_t seed = 12345;
            for (std::complex<double>& a : random.amplitudes_mut()) {
                seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
                a = std::complex<double>(
                    static_cast<double>(seed >> 40) * 0x1.0p-24 - 0.5,
                    static_cast<double>((seed >> 16) & 0xFFFFFFU) * 0x1.0p-24 - 0.5);
            }
            const std::size_t plain = make_pool(problem, pool).size();
            std::size_t excitations = 0;
            std::size_t pairs = 0;
            for (const PoolOperator& op : make_pool(problem, pool, true)) {
                excitations += op.factors.empty() ? 1 : op.factors.size();
                if (op.factors.empty()) {
                    continue;
                }
                ++pairs;
                ASSERT_EQ(op.factors.size(), 2U);
                const Excitation& first = *op.factors[0].excitation;
                // A qubit excitation's sign follows the reference instead (the singlet below).
                if (first.kind == ExcitationKind::Fermionic) {
                    const Excitation flipped{exchanged(first.from), exchanged(first.to),
                                             first.kind};
                    const ZarnikState want = apply_pauli_sum(
                        excitation_generator(flipped, Mapping::JordanWigner, problem.num_qubits),
                        random);
                    const ZarnikState got = apply_pauli_sum(op.factors[1].generator, random);
                    for (std::size_t i = 0; i < want.amplitudes().size(); ++i) {
                        ASSERT_LT(std::abs(op.factors[1].coefficient * got.amplitudes()[i] -
                                           want.amplitudes()[i]),
                                  1e-12)
                            << op.label;
                    }
                }
                if (first.from.size() != 1) {
                    continue;
                }
                for (const bool native : {true, false}) {
                    TiedAnsatz ansatz{ZarnikGraph(problem.num_qubits), {}};
                    if (native) {
                        append_operator(ansatz, op, problem.mapping);
                    } else {
                        append_operator(ansatz, op);
                    }
                    ASSERT_EQ(ansatz.parameter_count(), 1U);
                    const double theta[] = {0.3};
                    ansatz.set_parameters(theta);
                    ZarnikState state(problem.num_qubits);
                    apply_circuit(state, prepared_circuit(ansatz, problem.reference_index));
                    EXPECT_NEAR(spin.expectation_value(state), 0.0, 1e-12) << op.label;
                }
            }
            // Every excitation of the plain pool is in exactly one operator of the paired one.
            EXPECT_EQ(excitations, plain);
            EXPECT_GT(pairs, 0U);
        }
    }
}

TEST(AdaptVqe, StopsAtTheOperatorLimitAndOnSmallEnergyChanges) {
    const Fcidump data = load(LIH_ACTIVE);
    const VqeProblem problem = make_vqe_problem(data.integrals, data.sector());
    AdaptOptions options;
    options.max_operators = 1;
    const AdaptResult one = adapt_vqe(problem, options);
    EXPECT_EQ(one.stop, AdaptStop::MaxOperators);
    EXPECT_EQ(one.iterations.size(), 1U);

    options.max_operators = 100;
    options.energy_tolerance = 1.0;  // any step is smaller than a hartree
    const AdaptResult coarse = adapt_vqe(problem, options);
    EXPECT_EQ(coarse.stop, AdaptStop::EnergyChange);
    EXPECT_EQ(coarse.iterations.size(), 1U);
}

TEST(AdaptVqe, ACancellationRequestEndsTheSolvesWithCancelled) {
    const Fcidump data = load(LIH_ACTIVE);
    const VqeProblem problem = make_vqe_problem(data.integrals, data.sector());
    // A request that arrives during the second iteration (here from the callback, as a signal
    // handler or another thread would make it) ends the solve before the third.
    std::size_t seen = 0;
    AdaptOptions options;
    options.callback = [&seen](const AdaptIteration&) {
        if (++seen == 2) {
            request_cancel();
        }
    };
    EXPECT_THROW((void)adapt_vqe(problem, options), Cancelled);
    EXPECT_EQ(seen, 2U);
    EXPECT_THROW((void)uccsd(problem, VqeOptions{}), Cancelled);
    clear_cancel();
    EXPECT_NEAR(uccsd(problem, VqeOptions{}).energy, exact_energy(data), CHEMICAL_ACCURACY);
}

TEST(AdaptVqe, RepeatsBitForBitOnOneAndTwoThreads) {
    const Fcidump data = load(LIH);
    const VqeProblem problem = make_vqe_problem(data.integrals, data.sector());
    AdaptOptions options;
    options.vqe.threads = 1;
    const AdaptResult one = adapt_vqe(problem, options);
    options.vqe.threads = 2;
    const AdaptResult two = adapt_vqe(problem, options);
    EXPECT_EQ(one.energy, two.energy);
    EXPECT_EQ(one.parameters, two.parameters);
    ASSERT_EQ(one.iterations.size(), two.iterations.size());
    for (std::size_t i = 0; i < one.iterations.size(); ++i) {
        EXPECT_EQ(one.iterations[i].pool_index, two.iterations[i].pool_index);
        EXPECT_EQ(one.iterations[i].energy, two.iterations[i].energy);
    }
}

TEST(FixedAnsatz, UccsdAndKUpccgsdReachTheExactEnergy) {
    struct Case {
        Molecule molecule;
        std::size_t layers;  // 0: UCCSD
        double tolerance;
    };
    const Case cases[] = {
        {H2, 0, 1e-3},
        {LIH, 0, 1e-3},
        {H2_STRETCHED, 1, CHEMICAL_ACCURACY},
        {LIH_ACTIVE, 2, CHEMICAL_ACCURACY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.molecule.file) + " layers " + std::to_string(c.layers));
        const Fcidump data = load(c.molecule);
        const VqeProblem problem = make_vqe_problem(data.integrals, data.sector());
        const VqeResult result =
            c.layers == 0 ? uccsd(problem) : k_upccgsd(problem, c.layers, VqeOptions{});
        const double exact = exact_energy(data);
        EXPECT_LT(std::abs(result.energy - exact), c.tolerance);
        EXPECT_GE(result.energy, exact - 1e-9);
        EXPECT_LT(result.energy, result.reference_energy);
        EXPECT_EQ(result.parameters.size(), result.operators.size());
        EXPECT_TRUE(converged(result.optimization.reason));
    }
}

TEST(FixedAnsatz, DerivativeFreeOptimisersWorkOnHydrogen) {
    const Fcidump data = load(H2);
    const VqeProblem problem = make_vqe_problem(data.integrals, data.sector());
    for (const VqeOptimizer optimizer : {VqeOptimizer::NelderMead, VqeOptimizer::Cobyla}) {
        SCOPED_TRACE(std::string(vqe_optimizer_name(optimizer)));
        VqeOptions options;
        options.optimizer = optimizer;
        options.optimize.energy_tolerance = 1e-10;
        EXPECT_LT(std::abs(uccsd(problem, options).energy - exact_energy(data)), 1e-4);
    }
}

TEST(AdaptStrategyTest, GrowsTheCircuitInTheSearchLoop) {
    const Fcidump data = load(H2);
    const VqeProblem problem = make_vqe_problem(data.integrals, data.sector());
    for (const bool spin_complement : {false, true}) {
        SCOPED_TRACE(spin_complement ? "spin complement" : "plain");
        AdaptOptions options;
        options.spin_complement = spin_complement;
        AdaptStrategy strategy(problem, options);
        LoopOptions loop;
        loop.output = &null_output();
        loop.progress_interval = 0;
        const LoopResult result =
            run_zarnik_loop(ZarnikState(problem.num_qubits),
                            basis_state_circuit(problem.reference_index, problem.num_qubits),
                            problem.hamiltonian, strategy, loop);
        EXPECT_TRUE(result.converged);
        EXPECT_LT(std::abs(result.energy - exact_energy(data)), CHEMICAL_ACCURACY);
        EXPECT_EQ(strategy.parameters().size(), strategy.chosen().size());
        EXPECT_FALSE(strategy.chosen().empty());
    }
}

TEST(VqeOptionsTest, BadSettingsAreRefusedWithTheirReason) {
    const Fcidump data = load(H2);
    const VqeProblem problem = make_vqe_problem(data.integrals, data.sector());
    struct Case {
        std::function<void(AdaptOptions&)> change;
        const char* message;
    };
    const Case cases[] = {
        {[](AdaptOptions& o) {
             o.gradient_tolerance = -1.0;
         },
         "ADAPT-VQE: gradient_tolerance must be finite and non-negative"},
        {[](AdaptOptions& o) {
             o.gradient_tolerance = NAN;
         },
         "ADAPT-VQE: gradient_tolerance must be finite and non-negative"},
        {[](AdaptOptions& o) {
             o.energy_tolerance = INFINITY;
         },
         "ADAPT-VQE: energy_tolerance must be finite and non-negative"},
        {[](AdaptOptions& o) {
             o.max_operators = 0;
         },
         "ADAPT-VQE: max_operators must be at least 1"},
        {[](AdaptOptions& o) {
             o.vqe.optimize.gradient_tolerance = -1e-3;
         },
         "VQE options: gradient tolerance must be finite and non-negative"},
        {[](AdaptOptions& o) {
             o.vqe.optimize.energy_tolerance = NAN;
         },
         "VQE options: energy tolerance must be finite and non-negative"},
        {[](AdaptOptions& o) {
             o.vqe.optimize.max_evaluations = 0;
         },
         "VQE options: max_evaluations must be at least 1"},
    };
    for (const Case& c : cases) {
        AdaptOptions options;
        c.change(options);
        try {
            adapt_vqe(problem, options);
            ADD_FAILURE() << "no exception for " << c.message;
        } catch (const InvalidArgument& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_THROW(AdaptStrategy(problem, options), InvalidArgument);
    }
    try {
        k_upccgsd(problem, 0);
        ADD_FAILURE();
    } catch (const InvalidArgument& e) {
        EXPECT_STREQ(e.what(), "k-UpCCGSD: layers must be at least 1");
    }
    try {
        make_vqe_problem(data.integrals, data.sector(), Mapping::JordanWigner,
                         SpinOrdering::Blocked, Reduction::TwoQubit);
        ADD_FAILURE();
    } catch (const InvalidArgument& e) {
        EXPECT_STREQ(e.what(),
                     "two-qubit reduction: needs the parity mapping with blocked spin ordering");
    }
    for (const AdaptPool pool :
         {AdaptPool::Qubit, AdaptPool::PauliString, AdaptPool::GeneralizedQubit}) {
        const VqeProblem parity = make_vqe_problem(data.integrals, data.sector(), Mapping::Parity);
        AdaptOptions options;
        options.pool = pool;
        try {
            adapt_vqe(parity, options);
            ADD_FAILURE();
        } catch (const InvalidArgument& e) {
            EXPECT_STREQ(e.what(),
                         "ADAPT-VQE: the qubit, generalized-qubit and pauli pools act on "
                         "occupation qubits and need the Jordan-Wigner mapping");
        }
    }
    // No electrons: every excitation is empty, so is the pool.
    const VqeProblem empty = make_vqe_problem(data.integrals, Sector{0, 0});
    try {
        adapt_vqe(empty);
        ADD_FAILURE();
    } catch (const InvalidArgument& e) {
        EXPECT_STREQ(e.what(), "ADAPT-VQE: the pool is empty");
    }
}

}  // namespace
}  // namespace zel::chem

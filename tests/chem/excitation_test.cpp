#include "zel/chem/excitation.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/chem/exact.hpp"
#include "zel/chem/fcidump.hpp"
#include "zel/chem/mapping.hpp"
#include "zel/chem/reference.hpp"
#include "zel/core/error.hpp"
#include "zel/core/gradient.hpp"
#include "zel/core/simulator.hpp"
#include "zel/neural/optimizer.hpp"

#include "support/reference.hpp"

namespace zel::chem {
namespace {

constexpr Mapping MAPPINGS[] = {Mapping::JordanWigner, Mapping::Parity, Mapping::BravyiKitaev};

std::size_t choose(std::size_t n, std::size_t k) {
    return k > n ? 0 : (k == 0 ? 1 : choose(n - 1, k - 1) * n / k);
}

TEST(Excitations, ListsHaveTheirCountsAndPreserveSpin) {
    struct Case {
        std::size_t orbitals;
        Sector sector;
    };
    for (const Case c : {Case{2, {1, 1}}, Case{4, {2, 1}}, Case{6, {2, 2}}}) {
        for (const SpinOrdering ordering : {SpinOrdering::Interleaved, SpinOrdering::Blocked}) {
            const std::size_t n = c.orbitals;
            const std::size_t oa = c.sector.num_alpha;
            const std::size_t ob = c.sector.num_beta;
            const std::size_t va = n - oa;
            const std::size_t vb = n - ob;
            const std::vector<Excitation> list = uccsd_excitations(n, c.sector, ordering);
            const std::size_t expected = oa * va + ob * vb + choose(oa, 2) * choose(va, 2) +
                                         choose(ob, 2) * choose(vb, 2) + oa * ob * va * vb;
            EXPECT_EQ(list.size(), expected);
            const std::size_t generalized = 2 * choose(n, 2);
            EXPECT_GE(generalized_excitations(n, ordering).size(), generalized);
            const std::uint64_t hf = hartree_fock_occupation(n, c.sector, ordering);
            const auto is_beta = [&](std::uint32_t mode) {
                return ordering == SpinOrdering::Interleaved ? mode % 2 == 1 : mode >= n;
            };
            for (const Excitation& e : list) {
                int spin_change = 0;
                for (std::size_t j = 0; j < e.from.size(); ++j) {
                    EXPECT_TRUE((hf >> e.from[j]) & 1U);  // emptied modes are occupied
                    EXPECT_FALSE((hf >> e.to[j]) & 1U);   // filled modes are empty
                    spin_change += (is_beta(e.to[j]) ? 1 : -1) - (is_beta(e.from[j]) ? 1 : -1);
                }
                EXPECT_EQ(spin_change, 0);
            }
        }
    }
}

// The energy of exp(theta A) on the Hartree-Fock state is the same under every mapping, and
// for a fermionic excitation between neighbouring modes (no parity string) the same as the
// qubit excitation's.
TEST(Excitations, CircuitsAgreeAcrossMappings) {
    const Fcidump data = read_fcidump(std::string(ZEL_CHEM_TEST_DATA) + "/h2_0.735.fcidump");
    const std::size_t n = data.integrals.num_orbitals();
    const std::size_t modes = 2 * n;
    const std::vector<Excitation> list =
        uccsd_excitations(n, data.sector(), SpinOrdering::Interleaved);
    const double theta = 0.37;
    for (const Excitation& e : list) {
        std::vector<double> energies;
        for (const Mapping mapping : MAPPINGS) {
            const PauliSum h =
                qubit_hamiltonian(data.integrals, mapping, SpinOrdering::Interleaved);
            ZarnikState reference(modes);
            reference.set_computational_basis(
                hartree_fock_index(n, data.sector(), SpinOrdering::Interleaved, mapping));
            TiedAnsatz ansatz{ZarnikGraph(modes), {}};
            EXPECT_EQ(excitation_circuit(ansatz, excitation_generator(e, mapping, modes)), 0U);
            const std::vector<double> at = {theta};
            energies.push_back(ansatz_energy_and_gradient(ansatz, at, h, reference).energy);
        }
        EXPECT_NEAR(energies[1], energies[0], 1e-12);
        EXPECT_NEAR(energies[2], energies[0], 1e-12);
    }
    // Modes 0 -> 2 under interleaved order have mode 1 between; 0 -> 1 has none.
    const Excitation neighbours{{0}, {1}};
    EXPECT_EQ(
        excitation_generator(neighbours, Mapping::JordanWigner, 4),
        excitation_generator(as_qubit_excitations({neighbours})[0], Mapping::JordanWigner, 4));
    EXPECT_NE(excitation_generator(Excitation{{0}, {2}}, Mapping::JordanWigner, 4),
              excitation_generator(Excitation{{0}, {2}, ExcitationKind::Qubit},
                                   Mapping::JordanWigner, 4));
}

TEST(Excitations, AnsatzGradientMatchesCentralDifferences) {
    const Fcidump data = read_fcidump(std::string(ZEL_CHEM_TEST_DATA) + "/h2_0.735.fcidump");
    const std::size_t n = data.integrals.num_orbitals();
    const PauliSum h =
        qubit_hamiltonian(data.integrals, Mapping::BravyiKitaev, SpinOrdering::Interleaved);
    ZarnikState reference(2 * n);
    reference.set_computational_basis(
        hartree_fock_index(n, data.sector(), SpinOrdering::Interleaved, Mapping::BravyiKitaev));
    TiedAnsatz ansatz{ZarnikGraph(2 * n), {}};
    for (const Excitation& e : uccsd_excitations(n, data.sector(), SpinOrdering::Interleaved)) {
        excitation_circuit(ansatz, excitation_generator(e, Mapping::BravyiKitaev, 2 * n));
    }
    for (const Excitation& e :
         as_qubit_excitations(generalized_excitations(n, SpinOrdering::Blocked))) {
        excitation_circuit(ansatz, excitation_generator(e, Mapping::BravyiKitaev, 2 * n));
    }
    std::vector<double> theta(ansatz.parameter_count());
    for (std::size_t k = 0; k < theta.size(); ++k) {
        theta[k] = 0.1 * static_cast<double>(k % 7) - 0.25;
    }
    const EnergyGradient result = ansatz_energy_and_gradient(ansatz, theta, h, reference);
    constexpr double STEP = 1e-5;
    for (std::size_t k = 0; k < theta.size(); ++k) {
        std::vector<double> plus = theta;
        std::vector<double> minus = theta;
        plus[k] += STEP;
        minus[k] -= STEP;
        const double central = (ansatz_energy_and_gradient(ansatz, plus, h, reference).energy -
                                ansatz_energy_and_gradient(ansatz, minus, h, reference).energy) /
                               (2 * STEP);
        EXPECT_NEAR(result.gradient[k], central, 1e-7) << "parameter " << k;
    }
}

// The pool gradient of each excitation at a state is the derivative at 0 of the one-excitation
// circuit appended to it, under every mapping and for fermionic and qubit excitations.
TEST(Excitations, PoolGradientsAreTheDerivativesOfAppendedExcitations) {
    const Fcidump data = read_fcidump(std::string(ZEL_CHEM_TEST_DATA) + "/h2_0.735.fcidump");
    const std::size_t n = data.integrals.num_orbitals();
    std::vector<Excitation> pool = generalized_excitations(n, SpinOrdering::Interleaved);
    for (const Excitation& e : as_qubit_excitations(pool)) {
        pool.push_back(e);
    }
    for (const Mapping mapping : MAPPINGS) {
        const PauliSum h = qubit_hamiltonian(data.integrals, mapping, SpinOrdering::Interleaved);
        // A state away from Hartree-Fock: the UCCSD circuit at small angles.
        ZarnikState psi(2 * n);
        psi.set_computational_basis(
            hartree_fock_index(n, data.sector(), SpinOrdering::Interleaved, mapping));
        TiedAnsatz prepare{ZarnikGraph(2 * n), {}};
        for (const Excitation& e : uccsd_excitations(n, data.sector(), SpinOrdering::Interleaved)) {
            excitation_circuit(prepare, excitation_generator(e, mapping, 2 * n));
        }
        prepare.set_parameters(std::vector<double>{0.05, -0.03, 0.08});
        for (const Operation& op : prepare.circuit.operations) {
            psi.apply(op);
        }
        std::vector<PauliSum> generators;
        for (const Excitation& e : pool) {
            generators.push_back(excitation_generator(e, mapping, 2 * n));
        }
        const std::vector<double> gradients = pool_gradients(h, psi, generators);
        ASSERT_EQ(gradients.size(), pool.size());
        double largest = 0.0;
        for (const double g : gradients) {
            largest = std::max(largest, std::abs(g));
        }
        EXPECT_GT(largest, 1e-3);  // the comparisons below are not all 0 = 0
        for (std::size_t k = 0; k < pool.size(); ++k) {
            TiedAnsatz one{ZarnikGraph(2 * n), {}};
            excitation_circuit(one, generators[k]);
            const std::vector<double> zero = {0.0};
            const double expected = ansatz_energy_and_gradient(one, zero, h, psi).gradient[0];
            EXPECT_NEAR(gradients[k], expected, 1e-12) << mapping_name(mapping) << " " << k;
        }
    }
}

// UCCSD with L-BFGS on adjoint gradients. H2 (STO-3G, 4 qubits) and LiH (STO-3G, lowest
// orbital frozen, the five others active: 2 electrons on 10 qubits) against their full-CI
// energies in the same orbital space.
TEST(Excitations, UccsdReachesTheExactEnergy) {
    struct Case {
        std::string file;
        std::size_t frozen;
        std::size_t active;  // 0: all orbitals
        double tolerance;
    };
    const std::vector<Case> cases = {{"h2_0.735.fcidump", 0, 0, 1e-8},
                                     {"lih_1.595.fcidump", 1, 5, 1e-6}};
    for (const Case& c : cases) {
        const Fcidump data = read_fcidump(std::string(ZEL_CHEM_TEST_DATA) + "/" + c.file);
        Integrals integrals = data.integrals;
        Sector sector = data.sector();
        if (c.active != 0) {
            integrals = freeze_orbitals(integrals, c.frozen, c.active);
            sector = Sector{sector.num_alpha - c.frozen, sector.num_beta - c.frozen};
        }
        const std::size_t n = integrals.num_orbitals();
        const double exact = exact_ground_state(integrals, sector).energy;
        const PauliSum h =
            qubit_hamiltonian(integrals, Mapping::JordanWigner, SpinOrdering::Interleaved);
        ZarnikState reference(2 * n);
        reference.set_computational_basis(
            hartree_fock_index(n, sector, SpinOrdering::Interleaved, Mapping::JordanWigner));
        TiedAnsatz ansatz{ZarnikGraph(2 * n), {}};
        for (const Excitation& e : uccsd_excitations(n, sector, SpinOrdering::Interleaved)) {
            excitation_circuit(ansatz, excitation_generator(e, Mapping::JordanWigner, 2 * n));
        }
        const Objective energy = [&](std::span<const double> x, std::span<double> g) {
            const EnergyGradient e = ansatz_energy_and_gradient(ansatz, x, h, reference);
            if (!g.empty()) {
                std::copy(e.gradient.begin(), e.gradient.end(), g.begin());
            }
            return e.energy;
        };
        OptimizeOptions options;
        options.gradient_tolerance = 1e-8;
        const std::vector<double> start(ansatz.parameter_count(), 0.0);
        const OptimizeResult r = LbfgsOptimizer().minimize(energy, start, options);
        EXPECT_TRUE(converged(r.reason)) << c.file << ": " << stop_reason_name(r.reason);
        EXPECT_NEAR(r.value, exact, c.tolerance) << c.file;
        EXPECT_GE(r.value, exact - 1e-10) << c.file;  // variational
    }
}

TEST(Excitations, MalformedInputIsRefused) {
    const std::vector<Excitation> bad = {
        {{}, {}}, {{0}, {1, 2}}, {{0, 1, 2}, {3, 4, 5}}, {{0, 0}, {1, 2}}, {{0}, {0}}};
    for (const Excitation& e : bad) {
        EXPECT_THROW((void)excitation_generator(e, Mapping::JordanWigner, 8), InvalidArgument);
    }
    EXPECT_THROW((void)excitation_generator(Excitation{{0}, {9}}, Mapping::Parity, 8),
                 InvalidArgument);
    EXPECT_THROW((void)excitation_operator(Excitation{{0}, {1}, ExcitationKind::Qubit}),
                 InvalidArgument);
    TiedAnsatz ansatz{ZarnikGraph(3), {}};
    for (const char* text : {"X0 + Z0", "X0 Y5", "0.5", "X0 + X1 Z2"}) {
        const PauliSum generator = parse_pauli_sum(text);
        if (std::string(text) == "X0 + X1 Z2") {
            EXPECT_EQ(excitation_circuit(ansatz, generator), 0U);  // commuting terms are fine
            continue;
        }
        EXPECT_THROW((void)excitation_circuit(ansatz, generator), InvalidArgument) << text;
    }
    EXPECT_EQ(ansatz.circuit.gate_count(), 2U);  // refused generators added nothing
    const std::vector<double> two = {0.1, 0.2};
    EXPECT_THROW(ansatz.set_parameters(two), InvalidArgument);
}

struct PathCase {
    std::string name;
    std::vector<Excitation> excitations;
    Mapping mapping;
};

// Every UCCSD excitation (both spin orderings) and every generalised fermionic and qubit
// excitation of 4 orbitals: the native operation gives the state of the Pauli-rotation product.
TEST(Excitations, NativeOperationsMatchThePauliRotationPath) {
    constexpr std::size_t ORBITALS = 4;
    constexpr std::size_t MODES = 2 * ORBITALS;
    const Sector sector{2, 1};
    std::vector<PathCase> cases;
    for (const SpinOrdering ordering : {SpinOrdering::Interleaved, SpinOrdering::Blocked}) {
        cases.push_back(
            {"uccsd", uccsd_excitations(ORBITALS, sector, ordering), Mapping::JordanWigner});
    }
    const std::vector<Excitation> general =
        generalized_excitations(ORBITALS, SpinOrdering::Interleaved);
    cases.push_back({"generalised", general, Mapping::JordanWigner});
    cases.push_back({"qubit, parity mapping", as_qubit_excitations(general), Mapping::Parity});
    std::mt19937_64 rng(zel::test::SEED);
    for (const PathCase& c : cases) {
        for (std::size_t k = 0; k < c.excitations.size(); ++k) {
            SCOPED_TRACE(c.name + ", excitation " + std::to_string(k));
            const double theta = 0.9 - 0.13 * static_cast<double>(k % 11);
            const std::vector<double> at = {theta};
            TiedAnsatz native{ZarnikGraph(MODES), {}};
            TiedAnsatz rotations{ZarnikGraph(MODES), {}};
            excitation_circuit(native, c.excitations[k], c.mapping, ExcitationPath::Native);
            excitation_circuit(rotations, c.excitations[k], c.mapping,
                               ExcitationPath::PauliRotations);
            ASSERT_EQ(native.circuit.gate_count(), 1U);
            EXPECT_EQ(rotations.circuit.gate_count(), c.excitations[k].from.size() == 1 ? 2U : 8U);
            native.set_parameters(at);
            rotations.set_parameters(at);
            const zel::test::Vector v = zel::test::random_state(MODES, rng);
            ZarnikState a = zel::test::make_state(v);
            ZarnikState b = zel::test::make_state(v);
            apply_circuit(a, native.circuit);
            apply_circuit(b, rotations.circuit);
            EXPECT_TRUE(zel::test::near_amplitudes(a, zel::test::amplitudes_of(b)));
        }
    }
}

// UCCSD of the H4 chain (8 qubits) through either path: the same energy and logical gradient.
TEST(Excitations, NativeAndRotationAnsatzGiveTheSameEnergyAndGradient) {
    const Fcidump data = read_fcidump(std::string(ZEL_CHEM_TEST_DATA) + "/h4_chain_0.9.fcidump");
    const std::size_t n = data.integrals.num_orbitals();
    const PauliSum h =
        qubit_hamiltonian(data.integrals, Mapping::JordanWigner, SpinOrdering::Blocked);
    ZarnikState reference(2 * n);
    reference.set_computational_basis(
        hartree_fock_index(n, data.sector(), SpinOrdering::Blocked, Mapping::JordanWigner));
    TiedAnsatz native{ZarnikGraph(2 * n), {}};
    TiedAnsatz rotations{ZarnikGraph(2 * n), {}};
    for (const Excitation& e : uccsd_excitations(n, data.sector(), SpinOrdering::Blocked)) {
        excitation_circuit(native, e, Mapping::JordanWigner);
        excitation_circuit(rotations, e, Mapping::JordanWigner, ExcitationPath::PauliRotations);
    }
    std::vector<double> theta(native.parameter_count());
    for (std::size_t k = 0; k < theta.size(); ++k) {
        theta[k] = 0.07 * static_cast<double>(k % 5) - 0.12;
    }
    const EnergyGradient a = ansatz_energy_and_gradient(native, theta, h, reference);
    const EnergyGradient b = ansatz_energy_and_gradient(rotations, theta, h, reference);
    EXPECT_NEAR(a.energy, b.energy, 1e-12);
    ASSERT_EQ(a.gradient.size(), b.gradient.size());
    for (std::size_t k = 0; k < a.gradient.size(); ++k) {
        EXPECT_NEAR(a.gradient[k], b.gradient[k], 1e-11) << "parameter " << k;
    }
}

// Fermionic excitations under the other mappings have no native operation; refused ones leave
// the ansatz as it was.
TEST(Excitations, NativePathFallsBackAndRefusesLikeTheGenerator) {
    TiedAnsatz ansatz{ZarnikGraph(6), {}};
    const Excitation fermionic_double{{0, 1}, {4, 5}};
    excitation_circuit(ansatz, fermionic_double, Mapping::BravyiKitaev);
    EXPECT_EQ(ansatz.circuit.gate_count(), 8U);
    excitation_circuit(ansatz, as_qubit_excitations({fermionic_double})[0], Mapping::Parity);
    ASSERT_EQ(ansatz.circuit.gate_count(), 9U);
    EXPECT_EQ(ansatz.circuit.operations.back().gate.kind, GateKind::QUBIT_DOUBLE);
    struct Refusal {
        Excitation excitation;
        std::string message;
    };
    const std::vector<Refusal> refusals = {
        {{{0}, {6}}, "excitation_circuit: mode 6 is not below the circuit's 6 qubits"},
        {{{0, 1}, {1, 2}}, "excitation: mode 1 appears twice"},
        {{{0}, {1, 2}}, "excitation: expected 1 or 2 modes in both 'from' and 'to', got 1 and 2"},
    };
    for (const Refusal& r : refusals) {
        try {
            excitation_circuit(ansatz, r.excitation, Mapping::JordanWigner);
            ADD_FAILURE() << "no exception for " << r.message;
        } catch (const InvalidArgument& error) {
            EXPECT_EQ(std::string(error.what()), r.message);
        }
    }
    EXPECT_EQ(ansatz.circuit.gate_count(), 9U);
    EXPECT_EQ(ansatz.parameter_count(), 2U);
}

}  // namespace
}  // namespace zel::chem

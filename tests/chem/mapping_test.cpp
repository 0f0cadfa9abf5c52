#include "zel/chem/mapping.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/chem/fcidump.hpp"
#include "zel/chem/fermion.hpp"
#include "zel/chem/reference.hpp"
#include "zel/chem/tapering.hpp"
#include "zel/core/simulator.hpp"

#include "chem_support.hpp"
#include <Eigen/Dense>

namespace zel::chem {
namespace {

constexpr Mapping ALL_MAPPINGS[] = {Mapping::JordanWigner, Mapping::Parity, Mapping::BravyiKitaev};
constexpr SpinOrdering ALL_ORDERINGS[] = {SpinOrdering::Interleaved, SpinOrdering::Blocked};
constexpr double TOLERANCE = 1e-10;

LadderOp up(std::uint32_t mode) {
    return {mode, true};
}
LadderOp down(std::uint32_t mode) {
    return {mode, false};
}

TEST(FermionOperator, NormalOrderingFollowsTheAnticommutationRelations) {
    struct Case {
        const char* name;
        std::vector<LadderOp> ops;
        FermionOperator expected;
    };
    const auto op = [](std::vector<std::pair<double, std::vector<LadderOp>>> terms) {
        FermionOperator out;
        for (auto& [c, ops] : terms) {
            out.add(c, ops);
        }
        return out;
    };
    const std::vector<Case> cases = {
        {"a0 a0^ = 1 - a0^ a0", {down(0), up(0)}, op({{1.0, {}}, {-1.0, {up(0), down(0)}}})},
        {"a0 a1^ = -a1^ a0", {down(0), up(1)}, op({{-1.0, {up(1), down(0)}}})},
        {"a0^ a1^ = -a1^ a0^", {up(0), up(1)}, op({{-1.0, {up(1), up(0)}}})},
        {"a0^ a0^ = 0", {up(0), up(0)}, op({})},
        {"a1 a0 a0^ a1^ = (1 - n0)(1 - n1)",
         {down(1), down(0), up(0), up(1)},
         op({{1.0, {}},
             {-1.0, {up(1), down(1)}},
             {-1.0, {up(0), down(0)}},
             {-1.0, {up(1), up(0), down(1), down(0)}}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FermionOperator input;
        input.add(1.0, c.ops);
        EXPECT_EQ(fermion_text(normal_ordered(input)), fermion_text(c.expected));
    }
}

TEST(FermionOperator, HermitianConjugateReversesAndConjugates) {
    FermionOperator op;
    op.add({0.5, 2.0}, {up(2), down(0), down(1)});
    const FermionOperator dagger = hermitian_conjugate(op);
    ASSERT_EQ(dagger.terms.size(), 1u);
    EXPECT_EQ(dagger.terms[0].coefficient, std::complex<double>(0.5, -2.0));
    EXPECT_EQ(dagger.terms[0].ops, (std::vector<LadderOp>{up(1), up(0), down(2)}));
    EXPECT_EQ(hermitian_conjugate(dagger), op);
}

TEST(Mapping, RefusesWhatItCannotMap) {
    FermionOperator hop;
    hop.add(1.0, {up(1), down(0)});  // not Hermitian without its conjugate
    EXPECT_THROW(map_operator(hop, Mapping::JordanWigner, 2), InvalidArgument);
    EXPECT_NO_THROW(map_operator(hop + hermitian_conjugate(hop), Mapping::JordanWigner, 2));
    EXPECT_THROW(map_operator(hop, Mapping::Parity, 1), InvalidArgument);
    EXPECT_THROW(map_operator(hop, Mapping::Parity, 65), InvalidArgument);
    EXPECT_THROW(map_operator(number_operator(2), Mapping::Parity, 2, -1.0), InvalidArgument);
}

TEST(Mapping, EncodingsRoundTripAndPutModeParitiesWhereExpected) {
    for (Mapping mapping : ALL_MAPPINGS) {
        for (std::uint64_t occupation = 0; occupation < 64; ++occupation) {
            const std::uint64_t index = encode_occupation(occupation, mapping, 6);
            EXPECT_EQ(decode_basis_index(index, mapping, 6), occupation);
        }
    }
    // Parity: qubit q holds n_0 + ... + n_q; Bravyi–Kitaev on 4 modes: qubit 1 holds n_0 + n_1,
    // qubit 3 the total parity.
    EXPECT_EQ(encode_occupation(0b0001, Mapping::Parity, 4), 0b1111u);
    EXPECT_EQ(encode_occupation(0b0001, Mapping::BravyiKitaev, 4), 0b1011u);
    EXPECT_EQ(encode_occupation(0b0100, Mapping::BravyiKitaev, 4), 0b1100u);
}

TEST(Mapping, DirectHamiltonianEqualsTheMappedFermionOperator) {
    const Integrals integrals = test::random_integrals(3, 2);
    for (Mapping mapping : ALL_MAPPINGS) {
        for (SpinOrdering ordering : ALL_ORDERINGS) {
            const PauliSum direct = qubit_hamiltonian(integrals, mapping, ordering);
            const PauliSum mapped =
                map_operator(molecular_hamiltonian(integrals, ordering), mapping, 6);
            ASSERT_EQ(direct.terms.size(), mapped.terms.size());
            for (std::size_t t = 0; t < direct.terms.size(); ++t) {
                EXPECT_EQ(direct.terms[t].paulis, mapped.terms[t].paulis);
                EXPECT_NEAR(direct.terms[t].coefficient, mapped.terms[t].coefficient, 1e-14);
            }
        }
    }
}

TEST(Mapping, AllMappingsAndOrderingsGiveTheSameSpectrum) {
    for (std::size_t n : {2, 3}) {
        const Integrals integrals = test::random_integrals(n, 40 + static_cast<std::uint32_t>(n));
        const std::vector<double> reference = test::spectrum(
            qubit_hamiltonian(integrals, Mapping::JordanWigner, SpinOrdering::Interleaved), 2 * n);
        for (Mapping mapping : ALL_MAPPINGS) {
            for (SpinOrdering ordering : ALL_ORDERINGS) {
                SCOPED_TRACE(std::string(mapping_name(mapping)) + ", n = " + std::to_string(n));
                const std::vector<double> values =
                    test::spectrum(qubit_hamiltonian(integrals, mapping, ordering), 2 * n);
                ASSERT_EQ(values.size(), reference.size());
                for (std::size_t k = 0; k < values.size(); ++k) {
                    ASSERT_NEAR(values[k], reference[k], TOLERANCE) << "eigenvalue " << k;
                }
            }
        }
    }
}

TEST(Mapping, NumberSpinAndTotalSpinCommuteWithTheHamiltonian) {
    const std::size_t n = 3;
    const Integrals integrals = test::random_integrals(n, 9);
    for (Mapping mapping : ALL_MAPPINGS) {
        for (SpinOrdering ordering : ALL_ORDERINGS) {
            SCOPED_TRACE(mapping_name(mapping));
            const Eigen::MatrixXcd h =
                test::matrix_of(qubit_hamiltonian(integrals, mapping, ordering), 2 * n);
            const std::vector<FermionOperator> operators = {number_operator(2 * n),
                                                            spin_z_operator(n, ordering),
                                                            total_spin_operator(n, ordering)};
            for (const FermionOperator& op : operators) {
                const Eigen::MatrixXcd m = test::matrix_of(map_operator(op, mapping, 2 * n), 2 * n);
                EXPECT_LT((h * m - m * h).norm(), 1e-10);
            }
        }
    }
}

TEST(Mapping, SpinOperatorsOnHartreeFockAndOpenShellStates) {
    // Closed shell: N = 4, S_z = 0, S^2 = 0; two unpaired alpha electrons: S_z = 1, S^2 = 2.
    struct Case {
        Sector sector;
        double n, sz, s2;
    };
    for (const Case& c :
         std::vector<Case>{{{2, 2}, 4, 0, 0}, {{3, 1}, 4, 1, 2}, {{1, 0}, 1, 0.5, 0.75}}) {
        for (Mapping mapping : ALL_MAPPINGS) {
            for (SpinOrdering ordering : ALL_ORDERINGS) {
                ZarnikState state(8);
                state.set_computational_basis(hartree_fock_index(4, c.sector, ordering, mapping));
                const auto value = [&](const FermionOperator& op) {
                    return map_operator(op, mapping, 8).expectation_value(state);
                };
                EXPECT_NEAR(value(number_operator(8)), c.n, TOLERANCE);
                EXPECT_NEAR(value(spin_z_operator(4, ordering)), c.sz, TOLERANCE);
                EXPECT_NEAR(value(total_spin_operator(4, ordering)), c.s2, TOLERANCE);
            }
        }
    }
}

TEST(Mapping, HartreeFockCircuitPreparesTheSelfConsistentFieldEnergy) {
    const Fcidump lih = read_fcidump(test::data_dir() + "/lih_1.595.fcidump");
    const std::size_t n = lih.integrals.num_orbitals();
    for (Mapping mapping : ALL_MAPPINGS) {
        const SpinOrdering ordering = SpinOrdering::Blocked;
        const std::uint64_t index = hartree_fock_index(n, lih.sector(), ordering, mapping);
        const ZarnikState state = run_circuit(basis_state_circuit(index, 2 * n), 2 * n);
        EXPECT_NEAR(qubit_hamiltonian(lih.integrals, mapping, ordering).expectation_value(state),
                    test::reference_value("lih_1.595", "scf_energy"), 1e-8);
    }
}

TEST(Mapping, H2ParityReducedGivesTheBuiltInHamiltonian) {
    const Fcidump h2 = read_fcidump(test::data_dir() + "/h2_0.735.fcidump");
    const PauliSum parity = qubit_hamiltonian(h2.integrals, Mapping::Parity, SpinOrdering::Blocked);
    const ReducedHamiltonian reduced = two_qubit_reduction(parity, 4, h2.sector());
    ASSERT_EQ(reduced.num_qubits, 2u);
    // The built-in operator's identity term leaves out the nuclear repulsion, and it has a
    // Y0 Y1 term that the reduction does not produce; the other four match.
    const PauliSum builtin = PauliSum::h2_hamiltonian();
    ASSERT_EQ(reduced.hamiltonian.terms.size(), 5u);
    for (std::size_t t = 0; t < 5; ++t) {
        SCOPED_TRACE(t);
        const auto found =
            std::find_if(reduced.hamiltonian.terms.begin(), reduced.hamiltonian.terms.end(),
                         [&](const PauliTerm& term) {
                             return term.paulis == builtin.terms[t].paulis;
                         });
        ASSERT_NE(found, reduced.hamiltonian.terms.end());
        const double constant = t == 0 ? h2.integrals.constant() : 0.0;
        EXPECT_NEAR(found->coefficient - constant, builtin.terms[t].coefficient, 1e-6);
    }
    EXPECT_NEAR(zel::ground_energy(reduced.hamiltonian, 2), -1.137306, 1e-6);
}

}  // namespace
}  // namespace zel::chem

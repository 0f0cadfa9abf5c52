#include "zel/chem/exact.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/chem/fcidump.hpp"
#include "zel/chem/mapping.hpp"

#include "chem_support.hpp"

namespace zel::chem {
namespace {

constexpr Mapping ALL_MAPPINGS[] = {Mapping::JordanWigner, Mapping::Parity, Mapping::BravyiKitaev};

TEST(ExactGroundState, MatchesPsi4FullCiForEveryTestMolecule) {
    for (const char* molecule :
         {"h2_0.5", "h2_0.735", "h2_1.0", "h2_1.5", "h2_2.5", "h2_631g_0.735", "lih_1.595",
          "beh2_1.326", "h2o", "h4_chain_0.9", "h6_chain_1.0", "n2_1.098"}) {
        SCOPED_TRACE(molecule);
        const Fcidump data = read_fcidump(test::data_dir() + "/" + molecule + ".fcidump");
        const SectorGroundState ground = exact_ground_state(data.integrals, data.sector());
        EXPECT_NEAR(ground.energy, test::reference_value(molecule, "fci_energy"), 1e-8);
        EXPECT_EQ(ground.basis.size(),
                  sector_dimension(data.integrals.num_orbitals(), data.sector()));
    }
}

TEST(SectorGroundState, EveryMappingAndOrderingGivesTheFullCiEnergy) {
    const Fcidump lih = read_fcidump(test::data_dir() + "/lih_1.595.fcidump");
    const double fci = test::reference_value("lih_1.595", "fci_energy");
    const std::size_t n = lih.integrals.num_orbitals();
    for (Mapping mapping : ALL_MAPPINGS) {
        for (SpinOrdering ordering : {SpinOrdering::Interleaved, SpinOrdering::Blocked}) {
            SCOPED_TRACE(mapping_name(mapping));
            const PauliSum h = qubit_hamiltonian(lih.integrals, mapping, ordering);
            EXPECT_NEAR(sector_ground_state(h, n, lih.sector(), ordering, mapping).energy, fci,
                        1e-8);
        }
    }
}

TEST(SectorGroundState, IterativeAndDenseSolversAgree) {
    const Integrals integrals = test::random_integrals(5, 8);
    const PauliSum h =
        qubit_hamiltonian(integrals, Mapping::BravyiKitaev, SpinOrdering::Interleaved);
    for (Sector sector : {Sector{2, 2}, Sector{3, 1}, Sector{1, 0}}) {
        ExactOptions dense;
        dense.dense_limit = 1000;
        ExactOptions iterative;
        iterative.dense_limit = 0;
        iterative.lanczos_vectors = 8;
        const double reference = sector_ground_state(h, 5, sector, SpinOrdering::Interleaved,
                                                     Mapping::BravyiKitaev, dense)
                                     .energy;
        EXPECT_NEAR(sector_ground_state(h, 5, sector, SpinOrdering::Interleaved,
                                        Mapping::BravyiKitaev, iterative)
                        .energy,
                    reference, 1e-10);
        EXPECT_NEAR(exact_ground_state(integrals, sector, iterative).energy, reference, 1e-10);
        EXPECT_NEAR(exact_ground_state(integrals, sector, dense).energy, reference, 1e-10);
    }
}

TEST(SectorGroundState, EigenvectorIsNormalisedAndGivesItsEnergy) {
    const Integrals integrals = test::random_integrals(3, 3);
    const PauliSum h = qubit_hamiltonian(integrals, Mapping::Parity, SpinOrdering::Blocked);
    const SectorGroundState ground =
        sector_ground_state(h, 3, {2, 1}, SpinOrdering::Blocked, Mapping::Parity);
    ZarnikState state(6);
    auto amplitudes = state.amplitudes_mut();
    amplitudes[0] = 0.0;
    for (std::size_t k = 0; k < ground.basis.size(); ++k) {
        amplitudes[ground.basis[k]] = ground.amplitudes[k];
    }
    EXPECT_NEAR(h.expectation_value(state), ground.energy, 1e-10);
}

TEST(SectorGroundState, RefusesSectorsAndOptionsOutOfRange) {
    const PauliSum h = qubit_hamiltonian(test::random_integrals(2, 3), Mapping::JordanWigner,
                                         SpinOrdering::Interleaved);
    EXPECT_THROW(
        sector_ground_state(h, 2, {3, 0}, SpinOrdering::Interleaved, Mapping::JordanWigner),
        InvalidArgument);
    EXPECT_THROW(
        sector_ground_state(h, 1, {1, 0}, SpinOrdering::Interleaved, Mapping::JordanWigner),
        InvalidArgument);  // the sum acts on qubits beyond 2 * 1
    ExactOptions bad;
    bad.lanczos_vectors = 1;
    EXPECT_THROW(exact_ground_state(test::random_integrals(2, 3), {1, 1}, bad), InvalidArgument);
    EXPECT_THROW(sector_dimension(2, {1, 3}), InvalidArgument);
    // 32 orbitals half filled: C(32, 16)^2 determinants, refused before any allocation.
    EXPECT_THROW(exact_ground_state(Integrals(32), {16, 16}), InvalidArgument);
}

}  // namespace
}  // namespace zel::chem

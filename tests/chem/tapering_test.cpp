#include "zel/chem/tapering.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/chem/exact.hpp"
#include "zel/chem/fcidump.hpp"
#include "zel/chem/mapping.hpp"
#include "zel/chem/reference.hpp"

#include "chem_support.hpp"

namespace zel::chem {
namespace {

constexpr Mapping ALL_MAPPINGS[] = {Mapping::JordanWigner, Mapping::Parity, Mapping::BravyiKitaev};

double basis_energy(const PauliSum& sum, std::size_t num_qubits, std::uint64_t index) {
    ZarnikState state(num_qubits);
    state.set_computational_basis(index);
    return sum.expectation_value(state);
}

TEST(Tapering, KeepsTheGroundEnergyAndTheReferenceInTheHartreeFockSector) {
    for (const char* molecule : {"h2_0.735", "h4_chain_0.9"}) {
        const Fcidump data = read_fcidump(test::data_dir() + "/" + molecule + ".fcidump");
        const std::size_t n = data.integrals.num_orbitals();
        const double exact = test::reference_value(molecule, "fci_energy");
        const double scf = test::reference_value(molecule, "scf_energy");
        for (Mapping mapping : ALL_MAPPINGS) {
            for (SpinOrdering ordering : {SpinOrdering::Interleaved, SpinOrdering::Blocked}) {
                SCOPED_TRACE(std::string(molecule) + ", " + std::string(mapping_name(mapping)));
                const PauliSum h = qubit_hamiltonian(data.integrals, mapping, ordering);
                const std::uint64_t hf = hartree_fock_index(n, data.sector(), ordering, mapping);
                const ReducedHamiltonian tapered = taper(h, 2 * n, hf);
                // At least the two electron-number parities.
                EXPECT_GE(tapered.removed_qubits.size(), 2u);
                EXPECT_EQ(tapered.num_qubits, 2 * n - tapered.removed_qubits.size());
                EXPECT_NEAR(zel::ground_energy(tapered.hamiltonian, tapered.num_qubits), exact,
                            1e-8);
                EXPECT_NEAR(basis_energy(tapered.hamiltonian, tapered.num_qubits,
                                         remove_qubits(hf, tapered.removed_qubits)),
                            scf, 1e-8);
                // The number operator tapers along and still counts the reference's electrons.
                const PauliSum number =
                    taper_operator(map_operator(number_operator(2 * n), mapping, 2 * n), 2 * n,
                                   find_z2_symmetries(h, 2 * n), tapered);
                EXPECT_NEAR(basis_energy(number, tapered.num_qubits,
                                         remove_qubits(hf, tapered.removed_qubits)),
                            static_cast<double>(data.num_electrons), 1e-10);
            }
        }
    }
}

TEST(Tapering, H2TapersToOneQubit) {
    const Fcidump h2 = read_fcidump(test::data_dir() + "/h2_0.735.fcidump");
    const PauliSum h =
        qubit_hamiltonian(h2.integrals, Mapping::JordanWigner, SpinOrdering::Interleaved);
    const ReducedHamiltonian tapered = taper(
        h, 4, hartree_fock_index(2, h2.sector(), SpinOrdering::Interleaved, Mapping::JordanWigner));
    EXPECT_EQ(tapered.num_qubits, 1u);
    EXPECT_NEAR(zel::ground_energy(tapered.hamiltonian, 1),
                test::reference_value("h2_0.735", "fci_energy"), 1e-10);
}

TEST(Tapering, SymmetryGeneratorsCommuteWithEveryTerm) {
    const PauliSum h = qubit_hamiltonian(test::random_integrals(3, 4), Mapping::BravyiKitaev,
                                         SpinOrdering::Interleaved);
    const std::vector<Z2Symmetry> symmetries = find_z2_symmetries(h, 6);
    ASSERT_EQ(symmetries.size(), 2u);  // random integrals keep only the two parities
    for (const Z2Symmetry& tau : symmetries) {
        for (const PauliTerm& term : h.terms) {
            std::uint64_t x = 0;
            for (const PauliFactor& f : term.paulis) {
                if (f.kind == Pauli::X || f.kind == Pauli::Y) {
                    x |= std::uint64_t{1} << f.qubit;
                }
            }
            EXPECT_EQ(std::popcount(x & tau.z_mask) % 2, 0);
        }
        for (const Z2Symmetry& other : symmetries) {
            EXPECT_EQ((other.z_mask >> tau.pivot) & 1, &other == &tau ? 1u : 0u);
        }
    }
}

TEST(TwoQubitReduction, KeepsTheSectorEnergyAndRefusesOtherOperators) {
    for (const char* molecule : {"h4_chain_0.9", "lih_1.595"}) {
        SCOPED_TRACE(molecule);
        const Fcidump data = read_fcidump(test::data_dir() + "/" + molecule + ".fcidump");
        const std::size_t n = data.integrals.num_orbitals();
        const PauliSum h =
            qubit_hamiltonian(data.integrals, Mapping::Parity, SpinOrdering::Blocked);
        const ReducedHamiltonian reduced = two_qubit_reduction(h, 2 * n, data.sector());
        EXPECT_EQ(reduced.num_qubits, 2 * n - 2);
        const std::uint64_t hf =
            hartree_fock_index(n, data.sector(), SpinOrdering::Blocked, Mapping::Parity);
        EXPECT_NEAR(basis_energy(reduced.hamiltonian, reduced.num_qubits,
                                 remove_qubits(hf, reduced.removed_qubits)),
                    test::reference_value(molecule, "scf_energy"), 1e-8);
        if (n <= 4) {
            EXPECT_NEAR(zel::ground_energy(reduced.hamiltonian, reduced.num_qubits),
                        test::reference_value(molecule, "fci_energy"), 1e-8);
        }
    }
    const PauliSum jw = qubit_hamiltonian(test::random_integrals(2, 1), Mapping::JordanWigner,
                                          SpinOrdering::Blocked);
    EXPECT_THROW(two_qubit_reduction(jw, 4, {1, 1}), InvalidArgument);
    EXPECT_THROW(two_qubit_reduction(jw, 5, {1, 1}), InvalidArgument);
}

}  // namespace
}  // namespace zel::chem

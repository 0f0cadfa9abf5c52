// Guide, "Molecules: integrals to qubit Hamiltonians": an FCIDUMP file read and checked,
// integrals from arrays, the qubit Hamiltonian under each mapping, the two-qubit reduction and
// tapering, the Hartree–Fock circuit, exact sector energies, active spaces and fermion operators.
// The molecule is H2 at 0.735 angstrom in STO-3G, with integrals from psi4
// (tests/chem/data/h2_0.735.fcidump).

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <vector>

#include "zel/chem/exact.hpp"
#include "zel/chem/fcidump.hpp"
#include "zel/chem/fermion.hpp"
#include "zel/chem/integrals.hpp"
#include "zel/chem/mapping.hpp"
#include "zel/chem/reference.hpp"
#include "zel/chem/tapering.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/spectrum.hpp"

#include "shared/chemistry_example.hpp"

using example::expect_near;
using example::failures;
using example::H2_FCIDUMP;

int main() {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / "zel_guide_h2.fcidump";
    zel::chem::write_fcidump(zel::chem::parse_fcidump(H2_FCIDUMP), path);

    // An FCIDUMP file in: integrals (hartree, chemists' notation), electrons and spin.
    const zel::chem::Fcidump h2 = zel::chem::read_fcidump(path);
    const zel::chem::Integrals& integrals = h2.integrals;  // 2 spatial orbitals
    const zel::chem::Sector sector = h2.sector();          // 1 alpha and 1 beta electron
    std::cout << "nuclear repulsion " << integrals.constant()
              << " Ha, (11|22) = " << integrals.two_body(0, 0, 1, 1) << '\n';
    std::filesystem::remove(path);

    // A bad file is an error that names the file, the line and the reason.
    try {
        zel::chem::parse_fcidump("&FCI NORB=2,NELEC=2 /\n0.5 1 1 3 1\n", "bad.fcidump");
    } catch (const zel::chem::FcidumpError& error) {
        std::cout << error.what() << '\n';  // bad.fcidump:2: index 3 beyond NORB=2
    }

    // Integrals from arrays (e.g. NumPy arrays from psi4 or PySCF): n x n and n^4, row-major.
    const std::vector<double> h = integrals.one_body_matrix();
    const std::vector<double> eri = integrals.two_body_tensor();
    const zel::chem::Integrals same =
        zel::chem::integrals_from_arrays(integrals.constant(), h, eri, 2);

    // The qubit Hamiltonian: a mapping and a spin-orbital order; the constant is in the
    // identity term.
    const zel::PauliSum jw = zel::chem::qubit_hamiltonian(same, zel::chem::Mapping::JordanWigner,
                                                          zel::chem::SpinOrdering::Interleaved);
    std::cout << jw.terms.size() << " terms: " << zel::pauli_text(jw) << '\n';

    // The exact energy in the sector, from the integrals and from the qubit operator.
    const zel::chem::SectorGroundState exact = zel::chem::exact_ground_state(integrals, sector);
    const zel::chem::SectorGroundState from_qubits = zel::chem::sector_ground_state(
        jw, 2, sector, zel::chem::SpinOrdering::Interleaved, zel::chem::Mapping::JordanWigner);
    std::cout << "full CI " << exact.energy << " Ha over " << exact.basis.size()
              << " determinants\n";
    expect_near(exact.energy, -1.137306, 1e-6, "exact energy");
    expect_near(from_qubits.energy, exact.energy, 1e-10, "sector energy");

    // Parity in blocked order, reduced to two qubits: the built-in H2 operator's terms.
    const zel::PauliSum parity = zel::chem::qubit_hamiltonian(integrals, zel::chem::Mapping::Parity,
                                                              zel::chem::SpinOrdering::Blocked);
    const zel::chem::ReducedHamiltonian reduced = zel::chem::two_qubit_reduction(parity, 4, sector);
    std::cout << reduced.num_qubits << " qubits: " << zel::pauli_text(reduced.hamiltonian) << '\n';
    expect_near(zel::ground_energy(reduced.hamiltonian, reduced.num_qubits), -1.137306, 1e-6,
                "reduced energy");

    // Tapering by every Z2 symmetry, in the sector of the Hartree–Fock state.
    const std::uint64_t hf = zel::chem::hartree_fock_index(
        2, sector, zel::chem::SpinOrdering::Interleaved, zel::chem::Mapping::JordanWigner);
    const zel::chem::ReducedHamiltonian tapered = zel::chem::taper(jw, 4, hf);
    std::cout << "tapered to " << tapered.num_qubits << " qubit(s), ground energy "
              << zel::ground_energy(tapered.hamiltonian, tapered.num_qubits) << " Ha\n";

    // The Hartree–Fock state as an X-gate circuit; its energy is the SCF energy.
    const zel::ZarnikGraph prepare = zel::chem::basis_state_circuit(hf, 4);
    const double scf = jw.expectation_value(zel::run_circuit(prepare, 4));
    std::cout << "Hartree-Fock " << scf << " Ha, correlation " << 1000.0 * (exact.energy - scf)
              << " mHa\n";
    expect_near(scf, -1.1169989967, 1e-8, "Hartree-Fock energy");

    // An active space: frozen core orbitals fold into the constant and h (here: none frozen,
    // both orbitals active, so the integrals stay as they are).
    const zel::chem::Fcidump active = zel::chem::active_space(h2, 2, 2);
    expect_near(active.integrals.constant(), integrals.constant(), 0.0, "active constant");

    // Fermion operators: the electron number, mapped, counts the Hartree–Fock electrons.
    const zel::chem::FermionOperator number = zel::chem::number_operator(4);
    const zel::PauliSum n_qubit =
        zel::chem::map_operator(number, zel::chem::Mapping::JordanWigner, 4);
    std::cout << "N = " << n_qubit.expectation_value(zel::run_circuit(prepare, 4)) << '\n';

    return failures == 0 ? 0 : 1;
}

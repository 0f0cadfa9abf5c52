// Guide, "Gradients and optimisers": excitation lists from the Hartree–Fock determinant, their
// generators under a mapping, a UCCSD circuit of Pauli rotations with one parameter per
// excitation, and its energy gradient. H2 at 0.735 angstrom in STO-3G (integrals from psi4,
// tests/chem/data/h2_0.735.fcidump).

#include <cmath>
#include <iostream>
#include <vector>

#include "zel/chem/exact.hpp"
#include "zel/chem/excitation.hpp"
#include "zel/chem/fcidump.hpp"
#include "zel/chem/mapping.hpp"
#include "zel/chem/reference.hpp"
#include "zel/core/gradient.hpp"

#include "shared/chemistry_example.hpp"

using example::H2_FCIDUMP;

int main() {
    const zel::chem::Fcidump h2 = zel::chem::parse_fcidump(H2_FCIDUMP, "h2.fcidump");
    const auto ordering = zel::chem::SpinOrdering::Interleaved;
    const auto mapping = zel::chem::Mapping::JordanWigner;
    const zel::PauliSum hamiltonian = zel::chem::qubit_hamiltonian(h2.integrals, mapping, ordering);
    zel::ZarnikState reference(4);
    reference.set_computational_basis(
        zel::chem::hartree_fock_index(2, h2.sector(), ordering, mapping));

    // Singles and doubles from Hartree-Fock; each becomes exp(theta (T - T^dagger)), a product
    // of commuting Pauli rotations driven by one logical parameter.
    const std::vector<zel::chem::Excitation> singles_doubles =
        zel::chem::uccsd_excitations(2, h2.sector(), ordering);
    zel::chem::TiedAnsatz uccsd{zel::ZarnikGraph(4), {}};
    for (const zel::chem::Excitation& excitation : singles_doubles) {
        const zel::PauliSum b = zel::chem::excitation_generator(excitation, mapping, 4);
        zel::chem::excitation_circuit(uccsd, b);
    }

    // Energy and gradient with respect to the logical parameters (chain rule over the ties).
    const std::vector<double> theta = {0.0, 0.0, -0.1};
    const zel::EnergyGradient eg =
        zel::chem::ansatz_energy_and_gradient(uccsd, theta, hamiltonian, reference);
    std::cout << uccsd.parameter_count() << " excitations, E = " << eg.energy
              << ", dE/dtheta(double) = " << eg.gradient[2] << '\n';

    // The same through the ansatz's parameter map: write the tied slots, then run the adjoint
    // gradient on the circuit and sum each excitation's slots by the chain rule.
    zel::chem::TiedAnsatz at = uccsd;
    at.set_parameters(theta);
    const zel::EnergyGradient slots = zel::energy_and_gradient(at.circuit, hamiltonian, reference);
    const std::vector<double> logical = at.logical_gradient(slots.gradient);

    // T - T^dagger of the double excitation as a fermion operator.
    const zel::chem::FermionOperator generator = zel::chem::excitation_operator(singles_doubles[2]);
    std::cout << zel::chem::fermion_text(generator) << '\n';

    // Qubit excitations: the same index lists without parity strings.
    const std::vector<zel::chem::Excitation> qubit =
        zel::chem::as_qubit_excitations(zel::chem::generalized_excitations(2, ordering));
    const zel::PauliSum b0 = zel::chem::excitation_generator(qubit[0], mapping, 4);
    std::cout << zel::pauli_text(b0) << '\n';

    // The same ansatz with one native operation per excitation (Jordan-Wigner): a single
    // FERMIONIC_SINGLE or FERMIONIC_DOUBLE pass each, with the excitation's parameter as is.
    zel::chem::TiedAnsatz native{zel::ZarnikGraph(4), {}};
    for (const zel::chem::Excitation& excitation : singles_doubles) {
        zel::chem::excitation_circuit(native, excitation, mapping);
    }
    const zel::EnergyGradient native_eg =
        zel::chem::ansatz_energy_and_gradient(native, theta, hamiltonian, reference);
    std::cout << native.circuit.gate_count() << " native operations, E = " << native_eg.energy
              << '\n';

    const double exact = zel::chem::exact_ground_state(h2.integrals, h2.sector()).energy;
    const double hf = hamiltonian.expectation_value(reference);
    // A small double excitation already lowers the energy below Hartree-Fock, towards exact.
    const bool agree = std::abs(logical[2] - eg.gradient[2]) < 1e-12 &&
                       std::abs(native_eg.energy - eg.energy) < 1e-12 &&
                       std::abs(native_eg.gradient[2] - eg.gradient[2]) < 1e-12;
    return (eg.energy < hf && eg.energy > exact && singles_doubles.size() == 3 && agree) ? 0 : 1;
}

#include "zel/chem/reference.hpp"

#include <string>

#include "zel/core/error.hpp"

#include "sector_space.hpp"

namespace zel::chem {

std::uint64_t hartree_fock_occupation(std::size_t num_orbitals, Sector sector,
                                      SpinOrdering ordering) {
    detail::check_sector_fits(num_orbitals, sector);
    std::uint64_t occupation = 0;
    for (std::size_t p = 0; p < sector.num_alpha; ++p) {
        occupation |= std::uint64_t{1} << spin_orbital(p, Spin::Alpha, num_orbitals, ordering);
    }
    for (std::size_t p = 0; p < sector.num_beta; ++p) {
        occupation |= std::uint64_t{1} << spin_orbital(p, Spin::Beta, num_orbitals, ordering);
    }
    return occupation;
}

std::uint64_t hartree_fock_index(std::size_t num_orbitals, Sector sector, SpinOrdering ordering,
                                 Mapping mapping) {
    return encode_occupation(hartree_fock_occupation(num_orbitals, sector, ordering), mapping,
                             2 * num_orbitals);
}

ZarnikGraph basis_state_circuit(std::uint64_t index, std::size_t num_qubits) {
    if (num_qubits > 64 || (num_qubits < 64 && (index >> num_qubits) != 0)) {
        throw InvalidArgument("basis index " + std::to_string(index) + " does not fit in " +
                              std::to_string(num_qubits) + " qubits");
    }
    ZarnikGraph circuit(num_qubits);
    for (std::size_t q = 0; q < num_qubits; ++q) {
        if ((index >> q) & 1) {
            circuit.add_gate(GateType::of(GateKind::X), {q});
        }
    }
    return circuit;
}

}  // namespace zel::chem

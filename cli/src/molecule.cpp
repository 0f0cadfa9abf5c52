// The molecule every command of `zel` starts from: the FCIDUMP file read with its active space,
// the qubit Hamiltonian under the chosen mapping and reduction, its Hartree-Fock state and
// exact sector energy, and the JSON members that describe it.

#include "molecule.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "zel/chem/exact.hpp"
#include "zel/chem/fcidump.hpp"
#include "zel/chem/mapping.hpp"
#include "zel/chem/reference.hpp"
#include "zel/chem/tapering.hpp"
#include "zel/core/error.hpp"
#include "zel/core/observable.hpp"

#include "commands.hpp"
#include "json.hpp"
#include "reduced_sector.hpp"

namespace zel::cli {
namespace {

/// Largest sector `zel exact` diagonalises. The iterative solver keeps some 40 vectors of the
/// sector's size: at this size about 5 GiB, a large workstation's share; beyond it a run would
/// be refused by the allocator or, with overcommitted memory, killed.
constexpr std::uint64_t MAX_EXACT_DETERMINANTS = std::uint64_t{1} << 24;

}  // namespace

chem::Mapping mapping_of(const std::string& name) {
    if (name == "parity") {
        return chem::Mapping::Parity;
    }
    if (name == "bravyi-kitaev") {
        return chem::Mapping::BravyiKitaev;
    }
    return chem::Mapping::JordanWigner;
}

Problem build_problem(const MoleculeOptions& options) {
    Problem problem;
    try {
        problem.data = chem::read_fcidump(options.file);
    } catch (const chem::FcidumpError& e) {
        throw Failure{EXIT_INPUT, e.what()};
    }
    if (options.active_electrons.has_value() != options.active_orbitals.has_value()) {
        throw Failure{EXIT_USAGE,
                      "--active-electrons and --active-orbitals: give both counts or neither"};
    }
    if (options.active_electrons) {
        const std::uint64_t electrons = *options.active_electrons;
        const std::uint64_t orbitals = *options.active_orbitals;
        try {
            const std::uint64_t total = problem.data.num_electrons;
            problem.data = chem::active_space(problem.data, electrons, orbitals);
            problem.frozen_orbitals = (total - electrons) / 2;
        } catch (const InvalidArgument& e) {
            throw Failure{EXIT_USAGE, "--active-electrons " + std::to_string(electrons) +
                                          " --active-orbitals " + std::to_string(orbitals) + ": " +
                                          e.what()};
        }
    }
    problem.mapping = mapping_of(options.mapping);
    problem.ordering = options.spin_order == "interleaved" ? chem::SpinOrdering::Interleaved
                                                           : chem::SpinOrdering::Blocked;
    problem.num_orbitals = problem.data.integrals.num_orbitals();
    problem.sector = problem.data.sector();
    const std::size_t full_qubits = 2 * problem.num_orbitals;
    if (full_qubits > chem::MAX_MODES) {
        throw Failure{EXIT_COMPUTATION, options.file + ": " + std::to_string(problem.num_orbitals) +
                                            " orbitals need " + std::to_string(full_qubits) +
                                            " qubits, more than the " +
                                            std::to_string(chem::MAX_MODES) +
                                            " a Hamiltonian can have; choose an active space"};
    }
    if (options.reduce && problem.mapping == chem::Mapping::Parity &&
        problem.ordering != chem::SpinOrdering::Blocked) {
        throw Failure{EXIT_USAGE,
                      "--reduce: the parity mapping's two-qubit reduction needs --spin-order "
                      "blocked"};
    }

    problem.hartree_fock_index = chem::hartree_fock_index(problem.num_orbitals, problem.sector,
                                                          problem.ordering, problem.mapping);
    PauliSum full =
        chem::qubit_hamiltonian(problem.data.integrals, problem.mapping, problem.ordering);
    if (!options.reduce) {
        problem.hamiltonian = std::move(full);
        problem.num_qubits = full_qubits;
        return problem;
    }
    chem::ReducedHamiltonian reduced;
    if (problem.mapping == chem::Mapping::Parity) {
        reduced = chem::two_qubit_reduction(full, full_qubits, problem.sector);
        problem.reduction = "two-qubit";
        for (const std::size_t qubit : reduced.removed_qubits) {
            problem.symmetries.push_back(std::uint64_t{1} << qubit);
        }
    } else {
        for (const chem::Z2Symmetry& symmetry : chem::find_z2_symmetries(full, full_qubits)) {
            problem.symmetries.push_back(symmetry.z_mask);
        }
        reduced = chem::taper(full, full_qubits, problem.hartree_fock_index);
        problem.reduction = "tapering";
    }
    problem.hamiltonian = std::move(reduced.hamiltonian);
    problem.num_qubits = reduced.num_qubits;
    problem.removed_qubits = std::move(reduced.removed_qubits);
    return problem;
}

/// The Hartree-Fock basis state on the register the Hamiltonian acts on.
std::uint64_t reference_index(const Problem& problem) {
    return problem.reduction == "none"
               ? problem.hartree_fock_index
               : chem::remove_qubits(problem.hartree_fock_index, problem.removed_qubits);
}

/// <b|H|b> for basis state b: only terms without X or Y factors contribute, each with the sign
/// of its Z factors on b.
double basis_state_energy(const PauliSum& hamiltonian, std::uint64_t index) {
    double energy = 0.0;
    for (const PauliTerm& term : hamiltonian.terms) {
        bool diagonal = true;
        std::uint64_t z_mask = 0;
        for (const PauliFactor& factor : term.paulis) {
            if (factor.kind == Pauli::X || factor.kind == Pauli::Y) {
                diagonal = false;
            } else if (factor.kind == Pauli::Z && factor.qubit < 64) {
                z_mask |= std::uint64_t{1} << factor.qubit;
            }
        }
        if (diagonal) {
            energy += std::popcount(index & z_mask) % 2 == 0 ? term.coefficient : -term.coefficient;
        }
    }
    return energy;
}

double exact_energy(const Problem& problem) {
    const std::uint64_t determinants = chem::sector_dimension(problem.num_orbitals, problem.sector);
    if (determinants > MAX_EXACT_DETERMINANTS) {
        throw Failure{EXIT_COMPUTATION,
                      "exact: the sector has " + std::to_string(determinants) +
                          " determinants, more than the " + std::to_string(MAX_EXACT_DETERMINANTS) +
                          " that are solved exactly; choose a smaller active space "
                          "(--active-electrons, --active-orbitals)"};
    }
    if (problem.reduction == "none") {
        return chem::sector_ground_state(problem.hamiltonian, problem.num_orbitals, problem.sector,
                                         problem.ordering, problem.mapping)
            .energy;
    }
    const std::vector<std::uint64_t> full_basis =
        chem::sector_basis(problem.num_orbitals, problem.sector, problem.ordering, problem.mapping);
    std::vector<int> eigenvalues;
    for (const std::uint64_t mask : problem.symmetries) {
        eigenvalues.push_back(std::popcount(problem.hartree_fock_index & mask) % 2 == 0 ? 1 : -1);
    }
    const std::vector<std::uint64_t> basis =
        reduced_sector_basis(full_basis, problem.symmetries, eigenvalues, problem.removed_qubits);
    return restricted_ground_energy(problem.hamiltonian, basis);
}

namespace {

std::string sector_json(const chem::Sector& sector) {
    return JsonObject()
        .add_integer("electrons", static_cast<std::int64_t>(sector.num_alpha + sector.num_beta))
        .add_integer("alpha", static_cast<std::int64_t>(sector.num_alpha))
        .add_integer("beta", static_cast<std::int64_t>(sector.num_beta))
        .add_integer("ms2", static_cast<std::int64_t>(sector.num_alpha) -
                                static_cast<std::int64_t>(sector.num_beta))
        .text();
}

}  // namespace

JsonObject problem_json(const std::string& command, const MoleculeOptions& options,
                        const Problem& problem) {
    JsonObject json;
    json.add_string("command", command)
        .add_string("file", options.file)
        .add_string("mapping", options.mapping)
        .add_string("spin_order", options.spin_order)
        .add_string("reduction", problem.reduction)
        .add_raw("sector", sector_json(problem.sector));
    if (options.active_electrons) {
        json.add_raw(
            "active_space",
            JsonObject()
                .add_integer("electrons", static_cast<std::int64_t>(*options.active_electrons))
                .add_integer("orbitals", static_cast<std::int64_t>(*options.active_orbitals))
                .add_integer("frozen_orbitals", static_cast<std::int64_t>(problem.frozen_orbitals))
                .text());
    } else {
        json.add_null("active_space");
    }
    std::string removed = "[";
    for (std::size_t i = 0; i < problem.removed_qubits.size(); ++i) {
        removed += (i == 0 ? "" : ", ") + std::to_string(problem.removed_qubits[i]);
    }
    json.add_integer("num_qubits", static_cast<std::int64_t>(problem.num_qubits))
        .add_integer("num_terms", static_cast<std::int64_t>(problem.hamiltonian.terms.size()))
        .add_raw("removed_qubits", removed + "]")
        .add_number("constant", problem.data.integrals.constant())
        .add_number("hartree_fock_energy",
                    basis_state_energy(problem.hamiltonian, reference_index(problem)));
    return json;
}

std::string describe_register(const MoleculeOptions& options, const Problem& problem) {
    std::string text = std::to_string(problem.num_qubits) + " (" + options.mapping + ", " +
                       options.spin_order + " spin orbitals";
    if (problem.reduction != "none") {
        text += ", " + std::to_string(problem.removed_qubits.size()) + " removed by " +
                (problem.reduction == "two-qubit" ? "the two-qubit reduction" : "tapering");
    }
    const std::size_t terms = problem.hamiltonian.terms.size();
    return text + "), " + std::to_string(terms) + (terms == 1 ? " Pauli term" : " Pauli terms");
}

}  // namespace zel::cli

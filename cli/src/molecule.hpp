#pragma once

// What the commands of `zel` share: the molecule options (file, mapping, spin order,
// reduction, active space), the qubit Hamiltonian they lead to, its exact sector energy, and the
// JSON members every command prints about it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zel/chem/fcidump.hpp"
#include "zel/chem/fermion.hpp"
#include "zel/chem/integrals.hpp"
#include "zel/chem/mapping.hpp"
#include "zel/core/observable.hpp"

#include "failure.hpp"
#include "json.hpp"
#include <CLI/CLI.hpp>

namespace zel::cli {

/// The options that choose a molecule's qubit Hamiltonian.
struct MoleculeOptions {
    std::string file;
    std::string mapping = "jordan-wigner";
    std::string spin_order = "blocked";
    bool reduce = false;
    std::optional<std::uint64_t> active_electrons;
    std::optional<std::uint64_t> active_orbitals;
    bool json = false;
};

/// A molecule's qubit Hamiltonian and what the outputs report about it.
struct Problem {
    chem::Fcidump data;  // after the active space
    chem::Mapping mapping = chem::Mapping::JordanWigner;
    chem::SpinOrdering ordering = chem::SpinOrdering::Blocked;
    std::size_t num_orbitals = 0;
    chem::Sector sector;
    std::uint64_t hartree_fock_index = 0;  // on the full register
    std::string reduction = "none";        // "none", "two-qubit" or "tapering"
    PauliSum hamiltonian;                  // reduced when `reduction` says so
    std::size_t num_qubits = 0;
    std::vector<std::size_t> removed_qubits;
    std::vector<std::uint64_t> symmetries;  // Z masks fixing the removed qubits
    std::uint64_t frozen_orbitals = 0;
};

/// Width of the name column of the help, and of the description text beside it: together
/// they fit a 100-column terminal.
inline constexpr std::size_t HELP_NAME_WIDTH = 24;
inline constexpr std::size_t HELP_TEXT_WIDTH = 74;

/// The "Exit status:" footer of every help page.
const char* exit_status_footer() noexcept;

/// The mapping named on the command line ("jordan-wigner", "parity", "bravyi-kitaev").
chem::Mapping mapping_of(const std::string& name);

/// Reads the file and builds the Hamiltonian; throws `Failure` (input, usage or computation).
Problem build_problem(const MoleculeOptions& options);

/// The Hartree-Fock basis state on the register the Hamiltonian acts on.
std::uint64_t reference_index(const Problem& problem);

/// <b|H|b> for basis state b.
double basis_state_energy(const PauliSum& hamiltonian, std::uint64_t index);

/// The exact energy of the problem's sector (hartree, total); throws `Failure` for a sector
/// too large to solve.
double exact_energy(const Problem& problem);

/// The members every command's JSON starts with.
JsonObject problem_json(const std::string& command, const MoleculeOptions& options,
                        const Problem& problem);

/// "12 (jordan-wigner, blocked spin orbitals), 631 Pauli terms".
std::string describe_register(const MoleculeOptions& options, const Problem& problem);

/// `text` broken at spaces into lines of at most HELP_TEXT_WIDTH characters.
std::string wrapped(std::string_view text);

/// FILE, --mapping, --spin-order, --reduce, --active-electrons, --active-orbitals, --json.
void add_molecule_options(CLI::App& command, MoleculeOptions& options);

}  // namespace zel::cli

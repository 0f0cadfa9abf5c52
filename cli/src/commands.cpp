#include "commands.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zel/chem/exact.hpp"
#include "zel/chem/fcidump.hpp"
#include "zel/chem/mapping.hpp"
#include "zel/chem/reference.hpp"
#include "zel/chem/tapering.hpp"
#include "zel/core/error.hpp"
#include "zel/core/float_text.hpp"
#include "zel/core/observable.hpp"

#include "json.hpp"
#include "molecule.hpp"
#include "reduced_sector.hpp"
#include "solve.hpp"
#include <CLI/CLI.hpp>

namespace zel::cli {
namespace {

constexpr const char* DESCRIPTION =
    R"(zel: qubit Hamiltonians, exact energies and variational ground states (ADAPT-VQE,
UCCSD) of molecules.

Input is an FCIDUMP file, the plain-text file of one- and two-electron integrals over
molecular orbitals that psi4, PySCF, Molpro, ORCA and NWChem write (integrals in hartree,
chemists' notation (ij|kl), 1-based orbital indexes, the constant - nuclear repulsion - on the
line ending "0 0 0 0"; NELEC and MS2 in its header give the electron count and spin).

Each spin orbital becomes one qubit. Spin orbitals are numbered blocked by default (alpha
orbitals 0..n-1 on qubits 0..n-1, beta orbitals on qubits n..2n-1) or interleaved (alpha p on
qubit 2p, beta p on qubit 2p+1). The fermion-to-qubit mapping says what a qubit stores:
  jordan-wigner   the occupation of its spin orbital (the default)
  parity          the parity of the occupations of spin orbitals 0..q
  bravyi-kitaev   partial parities on a binary tree; operators act on O(log n) qubits
--reduce removes qubits that symmetries fix: with parity, the two qubits that hold the alpha
and total electron-number parities; with the other mappings, every Z2 symmetry of the
Hamiltonian (tapering), in the symmetry sector of the Hartree-Fock state.

Energies are in hartree and always total energies: the constant of the file (nuclear
repulsion) and, with an active space, the frozen-core energy are included.
)";

constexpr const char* FOOTER = R"(Exit status:
  0  success
  2  usage error: unknown command or option, missing or malformed value, impossible active space
  3  the input file cannot be read or is not a valid FCIDUMP file (the message names file:line)
  4  the computation failed: too many qubits or determinants, memory exhausted, output not
     written
Every error is one line on standard error, starting "zel: ".)";

/// Largest sector `zel exact` diagonalises. The iterative solver keeps some 40 vectors of the
/// sector's size: at this size about 5 GiB, a large workstation's share; beyond it a run would
/// be refused by the allocator or, with overcommitted memory, killed.
constexpr std::uint64_t MAX_EXACT_DETERMINANTS = std::uint64_t{1} << 24;

}  // namespace

const char* exit_status_footer() noexcept {
    return FOOTER;
}

chem::Mapping mapping_of(const std::string& name) {
    if (name == "parity") {
        return chem::Mapping::Parity;
    }
    if (name == "bravyi-kitaev") {
        return chem::Mapping::BravyiKitaev;
    }
    return chem::Mapping::JordanWigner;
}

std::string one_line(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return text;
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

namespace {

void run_hamiltonian(const MoleculeOptions& options, std::ostream& out) {
    const Problem problem = build_problem(options);
    if (options.json) {
        out << problem_json("hamiltonian", options, problem)
                   .add_string("hamiltonian", pauli_text(problem.hamiltonian))
                   .text()
            << '\n';
    } else {
        out << pauli_text(problem.hamiltonian) << '\n';
    }
}

void run_exact(const MoleculeOptions& options, std::ostream& out) {
    const Problem problem = build_problem(options);
    const double energy = exact_energy(problem);
    const double reference = basis_state_energy(problem.hamiltonian, reference_index(problem));
    if (options.json) {
        out << problem_json("exact", options, problem).add_number("energy", energy).text() << '\n';
        return;
    }
    const chem::Sector& sector = problem.sector;
    out << "exact energy:         " << format_fixed(energy, 10) << " Ha\n"
        << "Hartree-Fock energy:  " << format_fixed(reference, 10) << " Ha\n"
        << "correlation energy:   " << format_fixed((energy - reference) * 1e3, 6) << " mHa\n"
        << "sector:               " << sector.num_alpha + sector.num_beta << " electrons ("
        << sector.num_alpha << " alpha, " << sector.num_beta << " beta)\n"
        << "qubits:               " << describe_register(options, problem) << '\n';
}

}  // namespace

/// `text` broken at spaces into lines of at most HELP_TEXT_WIDTH characters (CLI11 indents
/// the lines after the first under the description column).
std::string wrapped(std::string_view text) {
    std::string lines;
    std::size_t line_length = 0;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find(' '), text.size());
        const std::string_view word = text.substr(0, end);
        if (line_length > 0 && line_length + 1 + word.size() > HELP_TEXT_WIDTH) {
            lines += '\n';
            line_length = 0;
        } else if (line_length > 0) {
            lines += ' ';
            ++line_length;
        }
        lines += word;
        line_length += word.size();
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return lines;
}

void add_molecule_options(CLI::App& command, MoleculeOptions& options) {
    command.add_option("FILE", options.file, wrapped("FCIDUMP file of the molecule's integrals"))
        ->required();
    command
        .add_option("--mapping", options.mapping,
                    wrapped("fermion-to-qubit mapping: jordan-wigner (default), parity or "
                            "bravyi-kitaev"))
        ->check(CLI::IsMember({"jordan-wigner", "parity", "bravyi-kitaev"}));
    command
        .add_option("--spin-order", options.spin_order,
                    wrapped("spin-orbital numbering: blocked (alpha orbitals first, default) or "
                            "interleaved (alpha and beta of each orbital side by side)"))
        ->check(CLI::IsMember({"blocked", "interleaved"}));
    command.add_flag("--reduce", options.reduce,
                     wrapped("remove the qubits that symmetries fix (two-qubit reduction with "
                             "parity, tapering otherwise), in the Hartree-Fock state's symmetry "
                             "sector"));
    CLI::Option* electrons = command.add_option(
        "--active-electrons", options.active_electrons,
        wrapped("electrons in the active space; the others fill the lowest orbitals, which are "
                "frozen and folded into the constant"));
    CLI::Option* orbitals = command.add_option(
        "--active-orbitals", options.active_orbitals,
        wrapped("orbitals in the active space, right above the frozen ones; higher orbitals are "
                "dropped"));
    // CLI11 converts "-1" to an unsigned count by wrapping it; refuse a sign as text first.
    const CLI::Validator count(
        [](std::string& text) {
            return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos
                       ? std::string()
                       : "expected a count (0, 1, 2, ...), not '" + text + "'";
        },
        "COUNT");
    electrons->check(count);
    orbitals->check(count);
    electrons->needs(orbitals);
    orbitals->needs(electrons);
    command.add_flag("--json", options.json, "print one JSON object instead of text");
}

int run(std::span<const std::string> args, std::ostream& out, std::ostream& err) noexcept {
    try {
        CLI::App app(DESCRIPTION, "zel");
        app.footer(FOOTER);
        app.require_subcommand(1);
        app.get_formatter()->column_width(HELP_NAME_WIDTH);

        MoleculeOptions hamiltonian_options;
        CLI::App* hamiltonian = app.add_subcommand(
            "hamiltonian",
            wrapped("print the qubit Hamiltonian (hartree, constant included as the identity "
                    "term) as a Pauli sum: terms like \"0.17 * Z0 Z1\" joined by + and -"));
        add_molecule_options(*hamiltonian, hamiltonian_options);
        hamiltonian->footer(FOOTER);

        MoleculeOptions exact_options;
        CLI::App* exact = app.add_subcommand(
            "exact",
            wrapped("print the exact (full-CI) energy in hartree in the file's electron number "
                    "and spin sector, computed from the qubit Hamiltonian, next to the "
                    "Hartree-Fock energy"));
        add_molecule_options(*exact, exact_options);
        exact->footer(FOOTER);

        SolveOptions adapt_options;
        CLI::App* adapt = add_solve_command(app, adapt_options, true);
        SolveOptions uccsd_options;
        add_solve_command(app, uccsd_options, false);
        // Listed here for --help; main() hands `zel run ...` to its own parser.
        app.add_subcommand("run", wrapped("count the shots of an OpenQASM 2.0 or 3 program, or "
                                          "list its most likely basis states (zel run --help)"));

        // CLI11 reports an unknown word in place of the command as a missing subcommand.
        if (!args.empty() && !args.front().empty() && args.front().front() != '-' &&
            args.front() != "hamiltonian" && args.front() != "exact" && args.front() != "adapt" &&
            args.front() != "uccsd") {
            err << "zel: '" << one_line(args.front())
                << "' is not a command; the commands are hamiltonian, exact, adapt, uccsd and run "
                   "(see zel --help)\n";
            return EXIT_USAGE;
        }
        try {
            std::vector<std::string> reversed(args.rbegin(), args.rend());
            app.parse(reversed);
        } catch (const CLI::ParseError& e) {
            if (e.get_exit_code() == 0) {
                app.exit(e, out, err);
                out.flush();
                return EXIT_OK;
            }
            err << "zel: " << one_line(e.what()) << " (see zel --help)\n";
            return EXIT_USAGE;
        }

        const char* command = hamiltonian->parsed() ? "hamiltonian"
                              : exact->parsed()     ? "exact"
                              : adapt->parsed()     ? "adapt"
                                                    : "uccsd";
        try {
            if (hamiltonian->parsed()) {
                run_hamiltonian(hamiltonian_options, out);
            } else if (exact->parsed()) {
                run_exact(exact_options, out);
            } else if (adapt->parsed()) {
                run_solve(adapt_options, true, out);
            } else {
                run_solve(uccsd_options, false, out);
            }
        } catch (const Error& e) {
            throw Failure{EXIT_COMPUTATION, std::string(command) + ": " + e.what()};
        } catch (const std::bad_alloc&) {
            throw Failure{EXIT_COMPUTATION, std::string(command) + ": out of memory"};
        }
        out.flush();
        if (!out) {
            throw Failure{EXIT_COMPUTATION, "cannot write the output"};
        }
        return EXIT_OK;
    } catch (const Failure& failure) {
        err << "zel: " << one_line(failure.message) << '\n';
        return failure.status;
    } catch (const std::exception& e) {
        err << "zel: " << one_line(e.what()) << '\n';
        return EXIT_COMPUTATION;
    } catch (...) {
        err << "zel: unknown failure\n";
        return EXIT_COMPUTATION;
    }
}

}  // namespace zel::cli

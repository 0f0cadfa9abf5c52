// The `zel` command line: the help texts, the molecule options, the commands hamiltonian and
// exact, and the parsing that hands each command its options.

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

#include "failure.hpp"
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

}  // namespace

const char* exit_status_footer() noexcept {
    return FOOTER;
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
        run_as_computation(command, [&] {
            if (hamiltonian->parsed()) {
                run_hamiltonian(hamiltonian_options, out);
            } else if (exact->parsed()) {
                run_exact(exact_options, out);
            } else if (adapt->parsed()) {
                run_solve(adapt_options, true, out);
            } else {
                run_solve(uccsd_options, false, out);
            }
        });
        finish_output(out, "");
        return EXIT_OK;
    } catch (...) {
        return report_failure(err, "");
    }
}

}  // namespace zel::cli

#pragma once

// `zel adapt` and `zel uccsd`: variational ground states (ADAPT-VQE, UCCSD, k-UpCCGSD) of a
// molecule, with a progress line per iteration measured against the exact sector energy.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "molecule.hpp"
#include <CLI/CLI.hpp>

namespace zel::cli {

/// Options of the solver commands.
struct SolveOptions {
    MoleculeOptions molecule;
    std::string pool = "fermionic";  // adapt: fermionic, generalized, qubit, pauli, ...
    bool spin_complement = false;    // adapt: excitations paired with their spin complements
    std::string ansatz = "uccsd";    // uccsd: uccsd or k-upccgsd
    std::size_t layers = 1;          // k of k-UpCCGSD
    std::string optimizer = "lbfgs";
    double gradient_tolerance = 1e-3;   // adapt: pool gradient norm
    double energy_tolerance = 0.0;      // adapt: energy change per iteration
    std::size_t max_operators = 100;    // adapt
    double optimizer_tolerance = 1e-6;  // gradient norm of each parameter optimisation
    std::size_t max_evaluations = 10000;
    std::size_t threads = 0;
    std::uint64_t seed = 0;
    std::string qasm;  // file for the final circuit, empty: none
};

/// Adds `adapt` (when `adapt` is true) or `uccsd` to `app` with its options.
CLI::App* add_solve_command(CLI::App& app, SolveOptions& options, bool adapt);

/// Runs `zel adapt` or `zel uccsd`; throws `Failure` or the library's errors.
void run_solve(const SolveOptions& options, bool adapt, std::ostream& out);

}  // namespace zel::cli

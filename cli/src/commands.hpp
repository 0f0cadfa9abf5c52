#pragma once

// The `zel` command line: argument parsing (CLI11), the subcommands and the rules for how a
// failure ends a run. Every failure becomes one line on the error stream and an exit status;
// nothing here exits the process or lets an exception out.

#include <iosfwd>
#include <span>
#include <string>

namespace zel::cli {

/// Exit statuses of `zel`, listed in `zel --help`.
enum ExitStatus : int {
    EXIT_OK = 0,
    /// The command line is wrong: an unknown command or option, a missing or malformed value,
    /// an active space the molecule cannot have.
    EXIT_USAGE = 2,
    /// The input file cannot be read or is not a valid FCIDUMP file.
    EXIT_INPUT = 3,
    /// The computation failed: too many qubits, memory exhausted, a solver that did not
    /// converge, output that could not be written.
    EXIT_COMPUTATION = 4,
};

/// Runs `zel` with `args` (the arguments after the program name), writing results to `out`
/// and diagnostics (one line each, starting "zel: ") to `err`. Returns the exit status.
int run(std::span<const std::string> args, std::ostream& out, std::ostream& err) noexcept;

}  // namespace zel::cli

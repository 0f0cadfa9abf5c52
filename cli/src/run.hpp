#pragma once

// `zel run`: an OpenQASM program run on the simulator, its measurement counts (or, without
// measurements, its most likely basis states) printed as text or JSON.

#include <iosfwd>
#include <span>
#include <string>

namespace zel::cli {

/// Runs `zel run` with `args` (the arguments after "run"), writing results to `out` and one
/// diagnostic line starting "zel: " to `err`. Returns the exit status (commands.hpp): EXIT_USAGE
/// for a usage error, EXIT_INPUT for a file that cannot be read or does not parse (the message
/// names file:line:column), EXIT_COMPUTATION when the simulation fails. Never throws.
int run_program(std::span<const std::string> args, std::ostream& out, std::ostream& err) noexcept;

}  // namespace zel::cli

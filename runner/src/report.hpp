#pragma once

// Text of the values in the final report.

#include <chrono>
#include <string>

#include "zel/core/simulator.hpp"

namespace kvt {

/// Elapsed time as "2s", "2.5s", "12.345678ms", "1.5µs" or "999ns": the largest unit of s, ms,
/// µs and ns that the duration reaches (ns below 1 µs), then the remaining nanoseconds as a
/// fraction with trailing zeros removed (and no point when they are zero). Negative durations
/// print as "0ns".
std::string format_duration(std::chrono::nanoseconds elapsed);

/// Prints the final report of a search: whether it converged (or stopped at its iteration
/// bound), the final energy, the gate count, the elapsed time and the fixed gate-reduction line,
/// between two rules.
void print_report(const zel::LoopResult& result, std::chrono::nanoseconds elapsed);

}  // namespace kvt

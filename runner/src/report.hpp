#pragma once

// Text of the values in the final report.

#include <chrono>
#include <string>

namespace kvt {

/// Elapsed time as "2s", "2.5s", "12.345678ms", "1.5µs" or "999ns": the largest unit of s, ms,
/// µs and ns that the duration reaches (ns below 1 µs), then the remaining nanoseconds as a
/// fraction with trailing zeros removed (and no point when they are zero). Negative durations
/// print as "0ns".
std::string format_duration(std::chrono::nanoseconds elapsed);

}  // namespace kvt

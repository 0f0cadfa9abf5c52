#pragma once

/// \file
/// The one way the library ends the process on a broken precondition or exhausted memory.
///
/// Every stop writes its fixed message and a line feed to standard error in one write, then
/// exits with status 101 (`EXIT_STATUS`). Allocation failure aborts instead. All functions are
/// safe to call from any thread, pool workers included, and never return.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zel {

/// Exit status of every fatal stop other than allocation failure.
inline constexpr int FATAL_EXIT_STATUS = 101;

/// Writes `message` and a line feed to standard error, then exits with status 101.
[[noreturn]] void fatal(std::string_view message) noexcept;

/// "index out of bounds: the len is {len} but the index is {index}", then exit 101.
[[noreturn]] void fatal_index_out_of_bounds(std::uint64_t len, std::uint64_t index) noexcept;

/// "Invalid layout: LayoutError": an amplitude buffer too large to request, then exit 101.
[[noreturn]] void fatal_invalid_layout() noexcept;

/// "Index out of bounds for state vector": a basis index at or beyond the dimension, then exit 101.
[[noreturn]] void fatal_state_index() noexcept;

/// "failed printing to {stream}: {error text of errno_value}", then exit 101.
[[noreturn]] void fatal_print(std::string_view stream, int errno_value) noexcept;

/// "memory allocation of {bytes} bytes failed", then abort (SIGABRT).
[[noreturn]] void fatal_allocation(std::size_t bytes) noexcept;

}  // namespace zel

#pragma once

// The process-wide rules of kvt_run: how it prints, how it prepares its standard streams, and how
// a failure anywhere in the run ends the process. The libraries throw; only this executable
// turns an exception into a diagnostic and an exit status.

#include <cstddef>
#include <string_view>

#include "zel/core/detail/function_ref.hpp"

namespace kvt {

/// Exit status of every fatal stop other than allocation failure.
inline constexpr int FATAL_EXIT_STATUS = 101;

/// Writes one message of the transcript to standard output in one write (`zel::standard_output`);
/// a failed write throws `zel::OutputError`.
void print(std::string_view message);

/// Ignores SIGPIPE, so that a write to a pipe whose reader has gone fails with an error instead
/// of killing the process, and opens /dev/null in place of any of standard input, output or
/// error that is not open. Called once at start.
void prepare_process() noexcept;

/// Writes `message` and a line feed to standard error in one write, then exits with status 101.
/// Allocates nothing; safe on any thread.
[[noreturn]] void stop(std::string_view message) noexcept;

/// Writes "memory allocation of {bytes} bytes failed" and a line feed to standard error, then
/// aborts (SIGABRT). Allocates nothing.
[[noreturn]] void abort_allocation(std::size_t bytes) noexcept;

/// Runs `body` and returns its exit status. An exception that leaves it ends the process:
/// `zel::AllocationError` by `abort_allocation` with its size, any other `std::bad_alloc` by the
/// abort signal after its text, and every other exception (the libraries' `zel::Error`s above
/// all) by `stop` with its `what()`.
int run_guarded(zel::detail::FunctionRef<int()> body) noexcept;

}  // namespace kvt

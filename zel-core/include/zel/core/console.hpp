#pragma once

/// \file
/// Console output of the transcript. Each message goes to standard output in one unbuffered
/// write, so output appears message by message and a failed write is noticed at once.

#include <string_view>

namespace zel::console {

/// Writes `message` to standard output, retrying interrupted and partial writes. A failed write
/// (a closed pipe, a full device, ...) stops the process with "failed printing to stdout: {error
/// text}" and exit status 101.
void print(std::string_view message);

/// Prepares the process for printing: ignores SIGPIPE, so that a write to a pipe whose reader
/// has gone fails with an error instead of killing the process, and opens /dev/null in place of
/// any of standard input, output or error that is not open. Programs call it once at start.
void prepare_process() noexcept;

}  // namespace zel::console

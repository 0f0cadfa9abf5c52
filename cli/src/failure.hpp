#pragma once

// How a command of `zel` fails: a failure carries its exit status and a one-line message; the
// library's errors and exhausted memory become computation failures; whatever a command throws
// ends as one line on the error stream and an exit status.

#include <iosfwd>
#include <new>
#include <string>
#include <string_view>

#include "zel/core/error.hpp"

#include "commands.hpp"

namespace zel::cli {

/// A failure with its exit status (`ExitStatus`) and one-line message.
struct Failure {
    int status;
    std::string message;
};

/// `text` with line breaks turned into spaces.
std::string one_line(std::string text);

/// Runs `work`, turning the library's errors into the computation failure "<command>: <what>"
/// and exhausted memory into "<command>: out of memory".
template <class Work>
void run_as_computation(std::string_view command, Work&& work) {
    try {
        work();
    } catch (const Error& e) {
        throw Failure{EXIT_COMPUTATION, std::string(command) + ": " + e.what()};
    } catch (const std::bad_alloc&) {
        throw Failure{EXIT_COMPUTATION, std::string(command) + ": out of memory"};
    }
}

/// Flushes `out`; a stream that has failed is the computation failure "<prefix>cannot write
/// the output".
void finish_output(std::ostream& out, std::string_view prefix);

/// For a catch-all handler: writes the exception in flight to `err` as one line, "zel: " and a
/// Failure's message (other exceptions: `prefix` and their what(), or "unknown failure"), and
/// returns its exit status (EXIT_COMPUTATION for all but a Failure).
int report_failure(std::ostream& err, std::string_view prefix) noexcept;

}  // namespace zel::cli

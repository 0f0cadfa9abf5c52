#pragma once

/// \file
/// The exceptions of the zel libraries. A broken precondition throws one of these on the calling
/// thread before any amplitude changes and before any parallel work starts; `what()` is the
/// library's fixed message. Exhausted memory is `std::bad_alloc` (`AllocationError` where the
/// library knows the size it asked for). No function of the libraries ends the process.
///
///     std::exception
///     +-- std::runtime_error
///     |   +-- Error                      every precondition failure of the libraries
///     |       +-- IndexOutOfBounds       "index out of bounds: the len is {} but the index is {}"
///     |       +-- StateIndexOutOfBounds  "Index out of bounds for state vector"
///     |       +-- InvalidLayout          "Invalid layout: LayoutError"
///     |       +-- InvalidArgument        an argument outside what a function accepts
///     |       |   +-- ParseError         text that does not parse, with its position
///     |       +-- OutputError            "failed printing to {}: {}"
///     |       +-- Cancelled              "the call was cancelled" (see cancel.hpp)
///     +-- std::bad_alloc
///         +-- AllocationError            "memory allocation of {} bytes failed"

#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zel {

/// Base of every precondition failure the libraries report.
class Error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// An index into an array of `len` elements that is not below `len`: a missing qubit entry of an
/// operation, the partner amplitude of a gate or of a Pauli factor outside the state, an
/// operation position beyond the gate count. Indexes without a 64-bit form are reported as
/// 2^64 - 1.
class IndexOutOfBounds : public Error {
  public:
    IndexOutOfBounds(std::uint64_t len, std::uint64_t index);

    /// Length of the array that was indexed.
    std::uint64_t len() const noexcept {
        return len_;
    }
    /// The index that was asked for.
    std::uint64_t index() const noexcept {
        return index_;
    }

  private:
    std::uint64_t len_;
    std::uint64_t index_;
};

/// A basis index at or beyond the state's dimension ("Index out of bounds for state vector").
class StateIndexOutOfBounds : public Error {
  public:
    StateIndexOutOfBounds(std::uint64_t index, std::uint64_t dimension);

    /// The basis index that was asked for.
    std::uint64_t index() const noexcept {
        return index_;
    }
    /// The state's dimension 2^n.
    std::uint64_t dimension() const noexcept {
        return dimension_;
    }

  private:
    std::uint64_t index_;
    std::uint64_t dimension_;
};

/// A qubit count whose amplitude buffer (16 * 2^n bytes) cannot be requested at all
/// ("Invalid layout: LayoutError"): n above `ZarnikState::MAX_QUBITS`.
class InvalidLayout : public Error {
  public:
    explicit InvalidLayout(std::uint64_t num_qubits);

    /// The qubit count that was asked for.
    std::uint64_t num_qubits() const noexcept {
        return num_qubits_;
    }

  private:
    std::uint64_t num_qubits_;
};

/// An argument outside what a function accepts, for the functions beyond the fixed core
/// (sampling, inner products, ground states, options). The message says which and why.
class InvalidArgument : public Error {
  public:
    using Error::Error;
};

/// Text that does not parse: a Pauli string, an OpenQASM program. `what()` is
/// "line {line}, column {column}: {reason}" for multi-line inputs and
/// "position {offset}: {reason}" for one-line ones; the fields give the place (1-based line and
/// column, 0-based byte offset) and the reason alone.
class ParseError : public InvalidArgument {
  public:
    /// A failure at byte `offset` of a one-line text.
    ParseError(std::size_t offset, std::string reason);
    /// A failure at `line`:`column` (both from 1) of a program, byte `offset` from its start.
    ParseError(std::size_t line, std::size_t column, std::size_t offset, std::string reason);

    /// 1-based line of the first bad character (1 for one-line texts).
    std::size_t line() const noexcept {
        return line_;
    }
    /// 1-based column (in bytes) of the first bad character.
    std::size_t column() const noexcept {
        return column_;
    }
    /// 0-based byte offset of the first bad character.
    std::size_t offset() const noexcept {
        return offset_;
    }
    /// The reason without the position ("unknown gate 'u2'").
    const std::string& reason() const noexcept {
        return reason_;
    }

  private:
    std::size_t line_;
    std::size_t column_;
    std::size_t offset_;
    std::string reason_;
};

/// A write of library output that failed ("failed printing to {stream}: {error text}"), raised
/// by the standard-output sink and by stream sinks.
class OutputError : public Error {
  public:
    /// `error_number` is the errno value of the failure.
    OutputError(std::string_view stream, int error_number);

    /// The errno value of the failed write.
    int error_number() const noexcept {
        return error_number_;
    }

  private:
    int error_number_;
};

/// A long call stopped at a poll point because `request_cancel()` was called ("the call was
/// cancelled"); see zel/core/cancel.hpp.
class Cancelled : public Error {
  public:
    Cancelled();
};

/// Memory for an amplitude buffer could not be obtained ("memory allocation of {} bytes
/// failed"). A `std::bad_alloc`, so code that handles allocation failure generally catches it.
/// Carries its message in place: building it allocates nothing.
class AllocationError : public std::bad_alloc {
  public:
    explicit AllocationError(std::size_t bytes) noexcept;

    const char* what() const noexcept override {
        return message_;
    }
    /// The size of the request in bytes.
    std::size_t bytes() const noexcept {
        return bytes_;
    }

  private:
    std::size_t bytes_;
    char message_[64];
};

}  // namespace zel

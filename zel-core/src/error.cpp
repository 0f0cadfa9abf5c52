#include "zel/core/error.hpp"

#include <charconv>
#include <cstring>
#include <utility>

namespace zel {
namespace {

std::string bounds_message(std::uint64_t len, std::uint64_t index) {
    return "index out of bounds: the len is " + std::to_string(len) + " but the index is " +
           std::to_string(index);
}

std::string print_message(std::string_view stream, int error_number) {
    char text[256];
    // The GNU strerror_r returns a pointer that may or may not be `text`.
    const char* error = strerror_r(error_number, text, sizeof text);
    std::string message = "failed printing to ";
    message += stream;
    message += ": ";
    message += error;
    return message;
}

}  // namespace

IndexOutOfBounds::IndexOutOfBounds(std::uint64_t len, std::uint64_t index)
    : Error(bounds_message(len, index)), len_(len), index_(index) {
}

StateIndexOutOfBounds::StateIndexOutOfBounds(std::uint64_t index, std::uint64_t dimension)
    : Error("Index out of bounds for state vector"), index_(index), dimension_(dimension) {
}

InvalidLayout::InvalidLayout(std::uint64_t num_qubits)
    : Error("Invalid layout: LayoutError"), num_qubits_(num_qubits) {
}

ParseError::ParseError(std::size_t offset, std::string reason)
    : InvalidArgument("position " + std::to_string(offset) + ": " + reason),
      line_(1),
      column_(offset + 1),
      offset_(offset),
      reason_(std::move(reason)) {
}

ParseError::ParseError(std::size_t line, std::size_t column, std::size_t offset, std::string reason)
    : InvalidArgument("line " + std::to_string(line) + ", column " + std::to_string(column) + ": " +
                      reason),
      line_(line),
      column_(column),
      offset_(offset),
      reason_(std::move(reason)) {
}

OutputError::OutputError(std::string_view stream, int error_number)
    : Error(print_message(stream, error_number)), error_number_(error_number) {
}

Cancelled::Cancelled() : Error("the call was cancelled") {
}

AllocationError::AllocationError(std::size_t bytes) noexcept : bytes_(bytes) {
    // Built in place without allocating: this reports that memory ran out.
    constexpr std::string_view HEAD = "memory allocation of ";
    constexpr std::string_view TAIL = " bytes failed";
    char* out = message_;
    std::memcpy(out, HEAD.data(), HEAD.size());
    out += HEAD.size();
    out = std::to_chars(out, message_ + sizeof message_, static_cast<std::uint64_t>(bytes)).ptr;
    std::memcpy(out, TAIL.data(), TAIL.size());
    out[TAIL.size()] = '\0';
}

}  // namespace zel

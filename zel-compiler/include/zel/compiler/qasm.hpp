#pragma once

/// \file
/// Export of a circuit to OpenQASM 3.0 source text.

#include <concepts>
#include <string>

#include "zel/core/circuit.hpp"

namespace zel {

/// OpenQASM 3.0 text of `circuit`: the header (version, the standard-gate include, a qubit and
/// a bit register of `num_qubits`, an empty line), then one line per operation in order, using
/// the standard gates of the same names ("id" for I). Rotation angles are the gates' own
/// angles, written with the shortest digits that read back exactly, never with an exponent.
/// Qubit indexes are written as they are. Every line ends with "\n".
///
/// Throws `IndexOutOfBounds` ("index out of bounds: the len is {} but the index is {}", the length of the
/// operation's `qubits`, then 0 or 1) for an operation with fewer qubit indexes than its kind
/// needs.
std::string to_open_qasm(const ZarnikGraph& circuit);

/// Types that export themselves as OpenQASM 3.0 text through `to_open_qasm`.
template <class T>
concept ToOpenQASM = requires(const T& value) {
    { to_open_qasm(value) } -> std::convertible_to<std::string>;
};

static_assert(ToOpenQASM<ZarnikGraph>);

}  // namespace zel

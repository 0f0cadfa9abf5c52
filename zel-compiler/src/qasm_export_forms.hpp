#pragma once

// The OpenQASM lines of the kinds from U on: their stdgates.inc name where it means exactly the
// kind, otherwise an exact decomposition into such gates.

#include <complex>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zel/core/circuit.hpp"

namespace zel::qasm {

/// The angle as an OpenQASM float literal (see to_open_qasm).
std::string angle_literal(double angle);

/// `name(angle, ...)` with the angles as angle_literal writes them; `name` alone without angles.
std::string gate_call(std::string_view name, std::span<const double> angles);

/// Appends the lines of `op`, a kind from U on that `check_operation` accepts.
void append_checked(std::string& text, const Operation& op);

/// Appends an exact decomposition of the unitary `matrix` (row-major, local bit j on
/// `qubits[j]`, 2 to MAX_UNITARY_QUBITS qubits) into `gphase`, and `U` and `p` under `ctrl` and
/// `negctrl` modifiers: at most d(d-1)/2 + d lines for d = 2^k.
void unitary_lines(std::string& text, const std::vector<std::complex<double>>& matrix,
                   const std::vector<std::uint64_t>& qubits);

}  // namespace zel::qasm

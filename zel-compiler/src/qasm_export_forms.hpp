#pragma once

// The OpenQASM lines of the kinds from U on: their stdgates.inc name where it means exactly the
// kind, otherwise an exact decomposition into such gates.

#include <string>

#include "zel/core/circuit.hpp"

namespace zel::qasm {

/// The angle as an OpenQASM float literal (see to_open_qasm).
std::string angle_literal(double angle);

/// Appends the lines of `op`, a kind from U on that `check_operation` accepts on the register
/// of `num_qubits` qubits. Throws `InvalidArgument` naming operation `index` for a UNITARY on
/// more than one qubit, which has no form here.
void append_checked(std::string& text, const Operation& op, std::size_t index);

}  // namespace zel::qasm

#include "zel/compiler/qasm.hpp"

#include <cmath>
#include <cstdint>
#include <string>

#include "zel/core/error.hpp"
#include "zel/core/float_text.hpp"
#include "zel/core/state.hpp"

#include "qasm_export_forms.hpp"

namespace zel {
namespace {

// Element `index` of an operation's qubit list, checked against its length.
std::uint64_t qubit_at(const Operation& op, std::size_t index) {
    if (index >= op.qubits.size()) {
        throw IndexOutOfBounds(op.qubits.size(), index);
    }
    return op.qubits[index];
}

void append_qubit(std::string& text, std::uint64_t qubit) {
    text += "q[";
    text += std::to_string(qubit);
    text += ']';
}

}  // namespace

namespace qasm {

// The shortest round-trip digits of a whole number have no point ("1", "-0",
// "100000000000000000000000"), and OpenQASM 3 types such a literal as an integer, which does not
// convert to an angle: those get ".0". NaN and the infinities have no spelling in the language
// and are written as the plain form gives them.
std::string angle_literal(double angle) {
    std::string text = format_float_plain(angle);
    if (std::isfinite(angle) && text.find('.') == std::string::npos) {
        text += ".0";
    }
    return text;
}

}  // namespace qasm

std::string to_open_qasm(const ZarnikGraph& circuit) {
    const std::string size = std::to_string(circuit.num_qubits);
    std::string text;
    text += "OPENQASM 3.0;\n";
    text += "include \"stdgates.inc\";\n";
    text += "qubit[" + size + "] q;\n";
    text += "bit[" + size + "] c;\n";
    text += "\n";
    for (std::size_t index = 0; index < circuit.operations.size(); ++index) {
        const Operation& op = circuit.operations[index];
        check_kind(op.gate.kind);
        const GateInfo& info = gate_info(op.gate.kind);
        if (info.shape == GateShape::Checked) {
            // Parameters are written as they are, NaN and infinities included, like angles.
            Operation finite = op;
            for (double& value : finite.params) {
                value = std::isfinite(value) ? value : 0.0;
            }
            check_operation(circuit.num_qubits, finite);
            qasm::append_checked(text, op);
            continue;
        }
        text += info.qasm;
        if (info.has_angle) {
            text += '(';
            text += qasm::angle_literal(op.gate.angle);
            text += ')';
        }
        text += ' ';
        append_qubit(text, qubit_at(op, 0));
        if (info.arity == 2) {
            text += ", ";
            append_qubit(text, qubit_at(op, 1));
        }
        text += ";\n";
    }
    return text;
}

}  // namespace zel

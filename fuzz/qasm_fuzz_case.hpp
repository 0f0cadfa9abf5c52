#pragma once

// The promises of the OpenQASM reader, checked on any bytes. Shared by the libFuzzer target
// (fuzz/qasm_fuzz.cpp) and the replay of its corpus in the test suite
// (tests/compiler/qasm_corpus_replay_test.cpp), so that an input means the same to both.
//
// For any text, `read_open_qasm` either returns or throws `ParseError`, nothing else. A parse
// error names a place inside the text, its line and column agree with its offset, and its
// message is short, valid UTF-8 and spelled "line L, column C: reason". A circuit it returns has
// exactly the qubits each kind needs, distinct and inside the register, the parameters
// `add_gate` gives, and nothing `validate` finds beyond non-finite angles; it exports to a text
// that reads back to the same circuit, bit for bit, and exports to the same text again. The whole
// program (measurements, resets, conditions) exports to a text that reads back to the same
// instructions.

#include <bit>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <new>
#include <numbers>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/state.hpp"

namespace zel::qasm_fuzz {

/// Longest reason a parse error may give: quoted tokens are cut short, so no input makes a long
/// message.
inline constexpr std::size_t MAX_REASON_BYTES = 300;

/// Most operations any statement makes (cy becomes five), so a circuit has at most this many
/// per byte of text plus what whole-register operands add.
inline constexpr std::size_t MAX_OPERATIONS_PER_BYTE = 5;

inline bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

/// Whether `text` is valid UTF-8 without NUL bytes.
inline bool valid_utf8(std::string_view text) {
    std::size_t k = 0;
    while (k < text.size()) {
        const auto lead = static_cast<unsigned char>(text[k]);
        std::size_t length = 1;
        std::uint32_t code_point = lead;
        if (lead == 0) {
            return false;
        }
        if (lead >= 0x80) {
            length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 0;
            if (length == 0 || k + length > text.size()) {
                return false;
            }
            code_point = lead & (0x7fu >> length);
            for (std::size_t j = 1; j < length; ++j) {
                const auto next = static_cast<unsigned char>(text[k + j]);
                if ((next & 0xc0) != 0x80) {
                    return false;
                }
                code_point = (code_point << 6) | (next & 0x3fu);
            }
            const std::uint32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
            if (code_point < smallest || code_point > 0x10ffff ||
                (code_point >= 0xd800 && code_point <= 0xdfff)) {
                return false;
            }
        }
        k += length;
    }
    return true;
}

/// Line and column of `offset`, counted independently of the reader: a line ends at "\n", at
/// "\r\n" or at a lone "\r"; columns count bytes from 1.
inline void line_and_column(std::string_view text, std::size_t offset, std::size_t& line,
                            std::size_t& column) {
    line = 1;
    std::size_t start = 0;
    for (std::size_t k = 0; k < offset; ++k) {
        const bool crlf = text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n';
        if (text[k] == '\n' || (text[k] == '\r' && !crlf)) {
            ++line;
            start = k + 1;
        }
    }
    column = offset - start + 1;
}

inline std::string check_error(std::string_view text, const ParseError& error) {
    if (error.offset() > text.size()) {
        return "error offset " + std::to_string(error.offset()) + " beyond the text";
    }
    std::size_t line = 0;
    std::size_t column = 0;
    line_and_column(text, error.offset(), line, column);
    if (error.line() != line || error.column() != column) {
        return "error at " + std::to_string(error.line()) + ":" + std::to_string(error.column()) +
               " but its offset is at " + std::to_string(line) + ":" + std::to_string(column);
    }
    const std::string& reason = error.reason();
    if (reason.empty() || reason.size() > MAX_REASON_BYTES || !valid_utf8(reason)) {
        return "unreadable reason \"" + reason.substr(0, MAX_REASON_BYTES) + "\"";
    }
    const std::string expected =
        "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + reason;
    if (error.what() != expected) {
        return "what() is \"" + std::string(error.what()) + "\"";
    }
    return "";
}

/// Compares two circuits bit for bit: "" when equal, else the first difference.
inline std::string compare(const ZarnikGraph& a, const ZarnikGraph& b) {
    if (a.num_qubits != b.num_qubits) {
        return "qubit count " + std::to_string(a.num_qubits) + " became " +
               std::to_string(b.num_qubits);
    }
    if (a.gate_count() != b.gate_count()) {
        return "gate count " + std::to_string(a.gate_count()) + " became " +
               std::to_string(b.gate_count());
    }
    for (std::size_t k = 0; k < a.operations.size(); ++k) {
        const Operation& x = a.operations[k];
        const Operation& y = b.operations[k];
        bool same = x.gate.kind == y.gate.kind && same_bits(x.gate.angle, y.gate.angle) &&
                    x.qubits == y.qubits && x.params.size() == y.params.size();
        for (std::size_t p = 0; same && p < x.params.size(); ++p) {
            same = same_bits(x.params[p], y.params[p]);
        }
        if (!same) {
            return "operation " + std::to_string(k) + " " + debug_text(x.gate) + " became " +
                   debug_text(y.gate);
        }
    }
    return "";
}

/// Whether the text may ask for expansions (gate definitions, `pow`), which the reader bounds by
/// QASM_MAX_EXPANDED_OPERATIONS for the whole program rather than per byte.
inline bool may_expand(std::string_view text) {
    return text.find("gate") != std::string_view::npos ||
           text.find("pow") != std::string_view::npos ||
           text.find("qelib1.inc") != std::string_view::npos;
}

/// Circuits larger than this are checked for their shape only: exporting and re-reading
/// millions of operations under the sanitizers would take the fuzzer's whole time budget.
inline constexpr std::size_t MAX_ROUND_TRIP_OPERATIONS = std::size_t{1} << 16;

/// The shape of a circuit the reader returns.
inline std::string check_circuit(std::string_view text, const ZarnikGraph& circuit) {
    const std::size_t expansions = may_expand(text) ? QASM_MAX_EXPANDED_OPERATIONS : 0;
    if (circuit.gate_count() >
        text.size() * MAX_OPERATIONS_PER_BYTE + QASM_MAX_BROADCAST_OPERATIONS + expansions) {
        return std::to_string(circuit.gate_count()) + " operations from " +
               std::to_string(text.size()) + " bytes";
    }
    for (std::size_t k = 0; k < circuit.operations.size(); ++k) {
        const Operation& op = circuit.operations[k];
        const GateInfo& info = gate_info(op.gate.kind);
        // Formed only for a report: a short text may expand to millions of operations.
        const auto at = [&] {
            return "operation " + std::to_string(k) + " (" + debug_text(op.gate) + ")";
        };
        if (static_cast<std::size_t>(op.gate.kind) >= GATE_KIND_COUNT) {
            return at() + " has no kind of the table";
        }
        if (info.variable_qubits ? op.qubits.empty() || op.qubits.size() > MAX_UNITARY_QUBITS
                                 : op.qubits.size() != info.arity) {
            return at() + " has " + std::to_string(op.qubits.size()) + " qubits";
        }
        if (info.shape == GateShape::Checked) {
            // The kinds from U on carry all their parameters and no angle.
            if (op.params.size() != info.param_count || !same_bits(op.gate.angle, 0.0)) {
                return at() + " has " + std::to_string(op.params.size()) + " parameters";
            }
        } else if (info.has_angle ? op.params.size() != 1 || !same_bits(op.params[0], op.gate.angle)
                                  : !op.params.empty() || !same_bits(op.gate.angle, 0.0)) {
            return at() + " has other parameters than add_gate gives";
        }
        if (std::isnan(op.gate.angle) &&
            !same_bits(op.gate.angle, std::numeric_limits<double>::quiet_NaN())) {
            return at() + " has a NaN other than the quiet NaN";
        }
    }
    for (const ValidationIssue& issue : validate(circuit, circuit.num_qubits)) {
        if (issue.finding != Finding::NonFiniteAngle) {
            return "validate finds: " + issue.message;
        }
    }
    return "";
}

/// Whether the circuit holds a UNITARY: its export is a decomposition that reads back to the
/// same state, not to the same operations.
inline bool has_unitary(const ZarnikGraph& circuit) {
    for (const Operation& op : circuit.operations) {
        if (op.gate.kind == GateKind::UNITARY) {
            return true;
        }
    }
    return false;
}

/// Registers up to this size are simulated to compare a circuit with its re-read export.
inline constexpr std::uint64_t MAX_COMPARED_QUBITS = 10;

/// "" when `b` prepares the state `a` does from H on every qubit, within 1e-12 per UNITARY of
/// `a` (each is read back as its decomposition), else the first difference. States with a
/// non-finite amplitude and registers beyond MAX_COMPARED_QUBITS are not compared.
inline std::string compare_states(const ZarnikGraph& a, const ZarnikGraph& b) {
    if (a.num_qubits != b.num_qubits) {
        return "the registers differ";
    }
    if (a.num_qubits > MAX_COMPARED_QUBITS) {
        return "";
    }
    std::size_t unitaries = 0;
    for (const Operation& op : a.operations) {
        unitaries += op.gate.kind == GateKind::UNITARY ? 1 : 0;
    }
    const auto run = [&](const ZarnikGraph& circuit) {
        ZarnikState state(circuit.num_qubits);
        for (std::uint64_t q = 0; q < circuit.num_qubits; ++q) {
            state.apply(make_operation(GateKind::U, {q}, {std::numbers::pi / 2, 0.0, 0.0}));
        }
        for (const Operation& op : circuit.operations) {
            state.apply(op);
        }
        return state;
    };
    try {
        const ZarnikState x = run(a);
        const ZarnikState y = run(b);
        const double tolerance = 1e-12 * static_cast<double>(unitaries);
        for (std::size_t k = 0; k < x.amplitudes().size(); ++k) {
            const std::complex<double> u = x.amplitudes()[k];
            const std::complex<double> v = y.amplitudes()[k];
            if (!std::isfinite(u.real()) || !std::isfinite(u.imag())) {
                return "";
            }
            if (std::abs(u.real() - v.real()) > tolerance ||
                std::abs(u.imag() - v.imag()) > tolerance) {
                return "amplitude " + std::to_string(k) + " differs";
            }
        }
    } catch (const std::exception& error) {
        return std::string("simulating threw: ") + error.what();
    }
    return "";
}

/// Compares the instructions of two programs: gates bit for bit as `compare` does, the rest
/// exactly. "" when equal, else the first difference.
inline std::string compare_instructions(const QasmProgram& a, const QasmProgram& b) {
    if (a.instructions.size() != b.instructions.size() || a.num_clbits != b.num_clbits) {
        return "instruction or bit counts differ";
    }
    ZarnikGraph gates_a;
    ZarnikGraph gates_b;
    gates_a.num_qubits = a.circuit.num_qubits;
    gates_b.num_qubits = b.circuit.num_qubits;
    for (std::size_t k = 0; k < a.instructions.size(); ++k) {
        const QasmInstruction& x = a.instructions[k];
        const QasmInstruction& y = b.instructions[k];
        if (x.kind != y.kind || x.qubit != y.qubit || x.bit != y.bit ||
            x.condition != y.condition) {
            return "instruction " + std::to_string(k) + " differs";
        }
        if (x.kind == QasmInstructionKind::Gate) {
            gates_a.operations.push_back(x.operation);
            gates_b.operations.push_back(y.operation);
        }
    }
    return compare(gates_a, gates_b);
}

/// The program-level promises: a program that is not terminal has no circuit operations and no
/// measurements, names the statement where it stops being one unitary and refuses to give its
/// circuit for evaluation; a terminal one gives it; and the program exports to a text that reads
/// back to the same instructions.
inline std::string check_instructions(const QasmProgram& program) {
    if (!program.terminal &&
        (!program.circuit.operations.empty() || !program.measurements.empty())) {
        return "a program with mid-circuit instructions also has a circuit";
    }
    if (program.terminal != program.non_unitary.empty()) {
        return "non_unitary is \"" + program.non_unitary + "\" for a program whose terminal is " +
               (program.terminal ? "true" : "false");
    }
    try {
        if (&program.unitary_circuit() != &program.circuit) {
            return "unitary_circuit is not the program's circuit";
        }
        if (!program.terminal) {
            return "unitary_circuit gave the empty circuit of a program that is not one unitary";
        }
    } catch (const InvalidArgument& error) {
        if (program.terminal) {
            return std::string("unitary_circuit refused a terminal program: ") + error.what();
        }
    }
    if (program.instructions.size() > MAX_ROUND_TRIP_OPERATIONS) {
        return "";
    }
    try {
        const QasmProgram again = read_open_qasm(to_open_qasm(program));
        bool unitary = false;
        for (const QasmInstruction& instruction : program.instructions) {
            unitary = unitary || (instruction.kind == QasmInstructionKind::Gate &&
                                  instruction.operation.gate.kind == GateKind::UNITARY);
        }
        if (unitary) {
            // Compared by state when terminal; a dynamic program has no circuit to simulate.
            if (std::string problem = compare_states(program.circuit, again.circuit);
                !problem.empty()) {
                return "export and import changed the program's state: " + problem;
            }
            return "";
        }
        if (std::string problem = compare_instructions(program, again); !problem.empty()) {
            return "export and import changed the program: " + problem;
        }
    } catch (const std::exception& error) {
        return std::string("the program's export does not read back: ") + error.what();
    }
    return "";
}

/// Runs every promise on `text`: "" when all hold, else a description of the first broken one.
inline std::string check_program(std::string_view text) {
    QasmProgram program;
    try {
        program = read_open_qasm(text);
    } catch (const ParseError& error) {
        return check_error(text, error);
    } catch (const std::exception& error) {
        return std::string("threw ") + typeid(error).name() + ": " + error.what();
    }
    // Not copied: a short text may expand to millions of operations.
    const ZarnikGraph& circuit = program.circuit;
    if (std::string problem = check_circuit(text, circuit); !problem.empty()) {
        return problem;
    }
    if (circuit.gate_count() > MAX_ROUND_TRIP_OPERATIONS) {
        return "";
    }
    const std::string exported = to_open_qasm(circuit);
    ZarnikGraph again;
    try {
        again = from_open_qasm(exported);
    } catch (const std::exception& error) {
        return std::string("the export does not read back: ") + error.what();
    }
    if (has_unitary(circuit)) {
        if (std::string problem = compare_states(circuit, again); !problem.empty()) {
            return "export and import changed the state: " + problem;
        }
        return check_instructions(program);
    }
    if (std::string problem = compare(circuit, again); !problem.empty()) {
        return "export and import changed the circuit: " + problem;
    }
    if (to_open_qasm(again) != exported) {
        return "the export of the re-read circuit differs";
    }
    return check_instructions(program);
}

}  // namespace zel::qasm_fuzz

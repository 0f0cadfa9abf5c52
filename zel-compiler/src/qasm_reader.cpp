// OpenQASM 3 import: a recursive-descent reader over the tokens of qasm_lexer, building the
// circuit statement by statement. Every statement is either read exactly or rejected with a
// `ParseError` at its first offending token; nothing is skipped.

#include "qasm_reader.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <numbers>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"

namespace zel::qasm {

Reader::Reader(std::string_view text, bool with_measurements)
    : text_(text), lexer_(text), with_measurements_(with_measurements), program_(text) {
    current_ = lexer_.next();
}

Reader::Reader(std::string_view text, const std::map<std::string, double, std::less<>>* inputs)
    : Reader(text, true) {
    input_values_ = inputs;
}

QasmProgram Reader::read() {
    bool first = true;
    while (current_.kind != TokenKind::End) {
        statement(first);
        first = false;
    }
    circuit_.num_qubits = total_qubits_;
    if (global_phase_ != 0.0) {
        Operation phase = make_operation(GateKind::GPHASE, {}, {global_phase_});
        QasmInstruction instruction;
        instruction.operation = phase;
        instructions_.push_back(std::move(instruction));
        circuit_.add(std::move(phase));
    }
    QasmProgram program;
    program.circuit.num_qubits = total_qubits_;
    if (!dynamic_) {
        program.circuit = std::move(circuit_);
        program.measurements = std::move(measurements_);
    }
    program.num_clbits = total_bits_;
    program.instructions = std::move(instructions_);
    program.terminal = !dynamic_;
    program.non_unitary = std::move(non_unitary_);
    program.inputs = std::move(input_names_);
    if (!program.inputs.empty()) {
        program.source = std::make_shared<const std::string>(text_);
    }
    return program;
}

void Reader::mark_dynamic(std::string_view what) {
    if (dynamic_) {
        return;
    }
    dynamic_ = true;
    const Position at = position_of(program_, statement_start_);
    non_unitary_ = "line " + std::to_string(at.line) + ", column " + std::to_string(at.column) +
                   ": " + std::string(what);
}

Token Reader::advance() {
    const Token token = current_;
    current_ = lexer_.next();
    return token;
}

void Reader::fail(std::size_t offset, std::string reason) const {
    qasm::fail_at(program_, offset + source_base_, std::move(reason));
}

void Reader::fail(const Token& token, std::string reason) const {
    fail(token.offset, std::move(reason));
}

std::string Reader::describe(const Token& token) {
    return token.kind == TokenKind::End ? std::string("the end of the text") : quoted(token.text);
}

// Consumes the punctuation `punct` or fails with "expected 'punct' <context>, found ...".
void Reader::expect(std::string_view punct, std::string_view context, std::string_view hint) {
    if (!current_.is(punct)) {
        std::string reason = "expected '" + std::string(punct) + "' " + std::string(context) +
                             ", found " + describe(current_);
        if (!hint.empty()) {
            reason += " (" + std::string(hint) + ")";
        }
        fail(current_, std::move(reason));
    }
    advance();
}

void Reader::statement(bool first) {
    const Token start = current_;
    statement_start_ = start.offset + source_base_;
    if (start.kind != TokenKind::Identifier) {
        if (start.is("#")) {
            fail(start, "unexpected '#' (pragmas are not supported)");
        }
        if (start.is("@")) {
            fail(start, "annotations ('@') are not supported");
        }
        if (start.is("{")) {
            fail(start, "blocks ('{ ... }') are not supported");
        }
        if (start.is("$")) {
            fail(start, "physical qubits ('$0') are not supported");
        }
        fail(start, "expected a statement, found " + describe(start));
    }
    const std::string_view word = start.text;
    if (word == "OPENQASM") {
        version(first);
    } else if (word == "include") {
        include();
    } else if (word == "qubit" || word == "bit") {
        declaration(word == "qubit");
    } else if (word == "qreg" || word == "creg") {
        old_declaration(word == "qreg");
    } else if (word == "barrier") {
        barrier();
    } else if (word == "gate") {
        definition();
    } else if (word == "measure") {
        measure_arrow();
    } else if (word == "input" && version_ == 3) {
        input_declaration();
    } else if (word == "reset") {
        reset_statement();
    } else if (word == "if") {
        conditional();
    } else if (is_modifier(word)) {
        modified_call();
    } else if (const auto reason = unsupported_statement(word)) {
        fail(start, *reason);
    } else if (const auto found = registers_.find(word); found != registers_.end()) {
        if (found->second.quantum) {
            fail(start, "a statement cannot start with the qubit register " + quoted(word));
        }
        measure_assignment();
    } else {
        gate_call();
    }
}

std::optional<GateForm> Reader::standard_form(const Token& name) const {
    if (version_ == 2) {
        // OpenQASM 2 builds in U and CX only; every other name comes from a definition.
        if (name.text == "U" || name.text == "CX") {
            return gate_form(name.text);
        }
        return std::nullopt;
    }
    std::optional<GateForm> form = gate_form(name.text);
    if (form && !included_ && !form->built_in) {
        fail(name, "gate " + quoted(name.text) +
                       " comes from \"stdgates.inc\", which is not included before it");
    }
    return form;
}

void Reader::gate_call() {
    const Token name = advance();
    call_site_ = name.offset;
    const auto defined = definitions_.find(name.text);
    const GateDefinition* def = defined == definitions_.end() ? nullptr : &defined->second;
    std::optional<GateForm> form;
    if (def != nullptr) {
        form = GateForm{};
        form->arity = static_cast<std::uint8_t>(def->qubits.size());
        form->param_count = static_cast<std::uint8_t>(def->parameters.size());
        form->step_count = 1;
    } else {
        form = standard_form(name);
    }
    if (!form) {
        fail(name, "unknown gate " + quoted(name.text));
    }
    std::vector<double> angles;
    if (current_.is("(")) {
        angles = angle_list(name.text, *form);
    } else if (form->param_count > 0) {
        fail(current_,
             quoted(name.text) + takes_angles(form->param_count) + ", found " + describe(current_));
    }
    if (current_.is("[")) {
        fail(current_, "durations on gate calls are not supported");
    }
    std::size_t end = 0;
    std::vector<Operand> operands;
    if (form->arity == 0) {
        if (!current_.is(";")) {
            fail(current_, quoted(name.text) + " acts on no qubits, found " + describe(current_));
        }
        advance();
    } else {
        operands = operand_list(end);
    }
    if (operands.size() != form->arity) {
        const std::string reason = quoted(name.text) + " acts on " + std::to_string(form->arity) +
                                   (form->arity == 1 ? " qubit" : " qubits") + ", found " +
                                   std::to_string(operands.size());
        fail(operands.size() > form->arity ? operands[form->arity].offset : end, reason);
    }
    emit(name, *form, def, angles, operands);
}

void Reader::emit(const Token& name, const GateForm& form, const GateDefinition* def,
                  const std::vector<double>& angles, const std::vector<Operand>& operands) {
    // A whole register applies the gate once per qubit; registers of one statement must be
    // of one size, and single qubits repeat.
    std::uint64_t width = 0;
    const Operand* first_whole = nullptr;
    for (const Operand& op : operands) {
        if (!op.whole) {
            continue;
        }
        if (op.reg->size == 0) {
            fail(op.offset, "register " + quoted(op.name) + " has no qubits");
        }
        if (first_whole != nullptr && op.reg->size != width) {
            fail(op.offset, "registers " + quoted(first_whole->name) + " (" +
                                std::to_string(width) + " qubits) and " + quoted(op.name) + " (" +
                                std::to_string(op.reg->size) +
                                " qubits) of one statement differ in size");
        }
        first_whole = first_whole == nullptr ? &op : first_whole;
        width = op.reg->size;
    }
    const std::uint64_t count = first_whole == nullptr ? 1 : width;
    if (first_whole != nullptr) {
        const std::uint64_t left = QASM_MAX_BROADCAST_OPERATIONS - broadcast_operations_;
        if (count > left / form.step_count) {
            fail(name, "whole-register gates would make more than " +
                           std::to_string(QASM_MAX_BROADCAST_OPERATIONS) +
                           " operations in one program");
        }
        broadcast_operations_ += count * form.step_count;
    }
    for (std::uint64_t k = 0; k < count; ++k) {
        for (std::size_t b = 1; b < operands.size(); ++b) {
            for (std::size_t a = 0; a < b; ++a) {
                if (operands[a].qubit(k) == operands[b].qubit(k)) {
                    fail(operands[b].offset,
                         quoted(name.text) + " uses qubit " + operands[a].qubit_name(k) + " twice");
                }
            }
        }
    }
    for (std::uint64_t k = 0; k < count; ++k) {
        std::vector<std::uint64_t> qubits;
        qubits.reserve(operands.size());
        for (const Operand& operand : operands) {
            qubits.push_back(operand.qubit(k));
        }
        if (modifiers_ != nullptr) {
            emit_modified(name, form, def, angles, qubits);
        } else if (def != nullptr) {
            if (def->size > QASM_MAX_EXPANDED_OPERATIONS - expanded_operations_) {
                fail(name, "gate definitions would expand to more than " +
                               std::to_string(QASM_MAX_EXPANDED_OPERATIONS) +
                               " operations in one program");
            }
            expand(*def, name, angles, qubits, 0);
        } else {
            emit_form(name, form, angles, qubits);
        }
    }
}

void Reader::emit_form(const Token& name, const GateForm& form, const std::vector<double>& angles,
                       const std::vector<std::uint64_t>& qubits) {
    if (form.checked) {
        if (form.steps[0].kind == GateKind::U2) {
            // Read as U(pi/2, phi, lambda), the form the export writes for U2.
            apply(name, make_operation(GateKind::U, qubits,
                                       {std::numbers::pi / 2, angles[0], angles[1]}));
        } else {
            apply(name, make_operation(form.steps[0].kind, qubits, angles));
        }
        if (form.phase_after) {
            // U's phi and lambda are the last two angles of u2 and u3.
            const double sum = angles[angles.size() - 2] + angles[angles.size() - 1];
            apply(name, make_operation(GateKind::GPHASE, {}, {-sum / 2}));
        }
        if (version_ == 2 && form.steps[0].kind == GateKind::U) {
            // OpenQASM 2's U is Rz(phi) Ry(theta) Rz(lambda): OpenQASM 3's U times this phase.
            add_phase(-(angles[1] + angles[2]) / 2);
        }
        return;
    }
    const double angle = angles.empty() ? 0.0 : angles.front();
    for (std::size_t s = 0; s < form.step_count; ++s) {
        const Step& step = form.steps[s];
        const GateInfo& info = gate_info(step.kind);
        std::vector<std::uint64_t> operation_qubits = {qubits[step.first]};
        if (info.arity == 2) {
            operation_qubits.push_back(qubits[step.second]);
        }
        // As ZarnikGraph::add_gate makes it: the angle in the gate and as the one parameter.
        const double gate_angle = info.has_angle ? angle : 0.0;
        apply(name, Operation{GateType{step.kind, gate_angle}, std::move(operation_qubits),
                              info.has_angle ? std::vector<double>{angle} : std::vector<double>{}});
    }
}

}  // namespace zel::qasm

namespace zel {

ZarnikGraph from_open_qasm(std::string_view text) {
    return qasm::Reader(text, false).read().circuit;
}

QasmProgram read_open_qasm(std::string_view text) {
    return qasm::Reader(text, true).read();
}

QasmProgram read_open_qasm(std::string_view text,
                           const std::map<std::string, double, std::less<>>& inputs) {
    QasmProgram program = qasm::Reader(text, &inputs).read();
    for (const auto& [name, value] : inputs) {
        if (std::find(program.inputs.begin(), program.inputs.end(), name) == program.inputs.end()) {
            throw InvalidArgument("read_open_qasm: the program declares no input " +
                                  qasm::quoted(name));
        }
    }
    return program;
}

}  // namespace zel

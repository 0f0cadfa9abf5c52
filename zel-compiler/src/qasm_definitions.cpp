// Gate definitions and measurements of the reader: `gate name(params) qargs { body }`, checked
// once where it stands and expanded at every call, the gates of OpenQASM 2's "qelib1.inc" (which
// are such definitions over the built-in U and CX), and terminal measurements.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"

#include "qasm_reader.hpp"

namespace zel::qasm {

std::string_view qelib1_source() {
    return R"(
gate u3(theta,phi,lambda) q { U(theta,phi,lambda) q; }
gate u2(phi,lambda) q { U(pi/2,phi,lambda) q; }
gate u1(lambda) q { U(0,0,lambda) q; }
gate cx c,t { CX c,t; }
gate id a { U(0,0,0) a; }
gate u0(gamma) q { U(0,0,0) q; }
gate u(theta,phi,lambda) q { U(theta,phi,lambda) q; }
gate p(lambda) q { U(0,0,lambda) q; }
gate x a { u3(pi,0,pi) a; }
gate y a { u3(pi,pi/2,pi/2) a; }
gate z a { u1(pi) a; }
gate h a { u2(0,pi) a; }
gate s a { u1(pi/2) a; }
gate sdg a { u1(-pi/2) a; }
gate t a { u1(pi/4) a; }
gate tdg a { u1(-pi/4) a; }
gate rx(theta) a { u3(theta,-pi/2,pi/2) a; }
gate ry(theta) a { u3(theta,0,0) a; }
gate rz(phi) a { u1(phi) a; }
gate sx a { sdg a; h a; sdg a; }
gate sxdg a { s a; h a; s a; }
gate cz a,b { h b; cx a,b; h b; }
gate cy a,b { sdg b; cx a,b; s b; }
gate swap a,b { cx a,b; cx b,a; cx a,b; }
gate ch a,b { h b; sdg b; cx a,b; h b; t b; cx a,b; t b; h b; s b; x b; s a; }
gate ccx a,b,c { h c; cx b,c; tdg c; cx a,c; t c; cx b,c; tdg c; cx a,c; t b; t c; h c;
                 cx a,b; t a; tdg b; cx a,b; }
gate cswap a,b,c { cx c,b; ccx a,b,c; cx c,b; }
gate crx(lambda) a,b { u1(pi/2) b; cx a,b; u3(-lambda/2,0,0) b; cx a,b; u3(lambda/2,-pi/2,0) b; }
gate cry(lambda) a,b { ry(lambda/2) b; cx a,b; ry(-lambda/2) b; cx a,b; }
gate crz(lambda) a,b { rz(lambda/2) b; cx a,b; rz(-lambda/2) b; cx a,b; }
gate cu1(lambda) a,b { u1(lambda/2) a; cx a,b; u1(-lambda/2) b; cx a,b; u1(lambda/2) b; }
gate cp(lambda) a,b { p(lambda/2) a; cx a,b; p(-lambda/2) b; cx a,b; p(lambda/2) b; }
gate cu3(theta,phi,lambda) c,t { u1((lambda+phi)/2) c; u1((lambda-phi)/2) t; cx c,t;
                                 u3(-theta/2,0,-(phi+lambda)/2) t; cx c,t; u3(theta/2,phi,0) t; }
gate csx a,b { h b; cu1(pi/2) a,b; h b; }
gate cu(theta,phi,lambda,gamma) c,t { p(gamma) c; p((lambda+phi)/2) c; p((lambda-phi)/2) t;
    cx c,t; u(-theta/2,0,-(phi+lambda)/2) t; cx c,t; u(theta/2,phi,0) t; }
gate rxx(theta) a,b { u3(pi/2,theta,0) a; h b; cx a,b; u1(-theta) b; cx a,b; h b;
                      u2(-pi,pi-theta) a; }
gate rzz(theta) a,b { cx a,b; u1(theta) b; cx a,b; }
gate rccx a,b,c { u2(0,pi) c; u1(pi/4) c; cx b,c; u1(-pi/4) c; cx a,c; u1(pi/4) c; cx b,c;
                  u1(-pi/4) c; u2(0,pi) c; }
)";
}

void Reader::define_library(std::string_view source) {
    const Lexer saved_lexer = lexer_;
    const Token saved_current = current_;
    const std::size_t saved_base = source_base_;
    lexer_ = Lexer(source);
    current_ = lexer_.next();
    library_ = true;
    while (current_.kind != TokenKind::End) {
        definition();
    }
    library_ = false;
    lexer_ = saved_lexer;
    current_ = saved_current;
    source_base_ = saved_base;
}

// gate name(p0, p1) a, b { body }: the body is read once here with the operations checked but
// not applied, so that every error in it is reported where it stands.
void Reader::definition() {
    const Token keyword = advance();
    if (parameters_ != nullptr) {
        fail(keyword, "gate definitions cannot nest");
    }
    const Token name = current_;
    if (name.kind != TokenKind::Identifier) {
        fail(name, "expected the gate's name after 'gate', found " + describe(name));
    }
    if (definitions_.contains(name.text) || (version_ == 3 && gate_form(name.text)) ||
        name.text == "U" || name.text == "CX" || name.text == "gphase") {
        fail(name, "gate " + quoted(name.text) + " is already defined");
    }
    if (const auto reason = unsupported_statement(name.text);
        reason || is_constant_name(name.text)) {
        fail(name, quoted(name.text) + " cannot name a gate: it is a keyword");
    }
    advance();
    GateDefinition def;
    def.library = library_;
    std::unordered_map<std::string_view, double> parameters;
    std::unordered_map<std::string_view, std::uint64_t> arguments;
    if (current_.is("(")) {
        advance();
        while (!current_.is(")")) {
            const Token parameter = current_;
            if (parameter.kind != TokenKind::Identifier) {
                fail(parameter, "expected a parameter name, found " + describe(parameter));
            }
            if (!parameters.emplace(parameter.text, 0.5).second) {
                fail(parameter, "parameter " + quoted(parameter.text) + " is named twice");
            }
            def.parameters.push_back(parameter.text);
            advance();
            if (current_.is(",")) {
                advance();
            } else if (!current_.is(")")) {
                fail(current_,
                     "expected ',' or ')' after the parameter, found " + describe(current_));
            }
        }
        advance();
    }
    while (!current_.is("{")) {
        const Token argument = current_;
        if (argument.kind != TokenKind::Identifier) {
            fail(argument, "expected a qubit argument or '{', found " + describe(argument));
        }
        if (parameters.contains(argument.text) ||
            !arguments.emplace(argument.text, def.qubits.size()).second) {
            fail(argument, "name " + quoted(argument.text) + " is used twice in the definition");
        }
        def.qubits.push_back(argument.text);
        advance();
        if (current_.is(",")) {
            advance();
        } else if (!current_.is("{")) {
            fail(current_,
                 "expected ',' or '{' after the qubit argument, found " + describe(current_));
        }
    }
    if (def.qubits.empty()) {
        fail(current_, "gate " + quoted(name.text) + " needs at least one qubit argument");
    }
    const Token open = advance();
    def.body_offset = open.offset + 1;
    parameters_ = &parameters;
    arguments_ = &arguments;
    dry_run_ = true;
    dry_size_ = 0;
    while (!current_.is("}")) {
        if (current_.kind == TokenKind::End) {
            parameters_ = nullptr;
            fail(open, "the body of gate " + quoted(name.text) + " is not closed with '}'");
        }
        body_call(0);
    }
    dry_run_ = false;
    parameters_ = nullptr;
    arguments_ = nullptr;
    const Token close = advance();
    def.size = dry_size_;
    def.body = lexer_.text().substr(def.body_offset, close.offset - def.body_offset);
    definitions_.emplace(name.text, std::move(def));
}

// One statement of a definition's body: a gate call on the definition's qubit arguments, or a
// barrier, which adds nothing.
void Reader::body_call(std::size_t depth) {
    const Token name = current_;
    if (name.kind != TokenKind::Identifier) {
        fail(name, "expected a gate call in the gate body, found " + describe(name));
    }
    advance();
    const bool barrier = name.text == "barrier";
    const auto defined = definitions_.find(name.text);
    const GateDefinition* def = defined == definitions_.end() ? nullptr : &defined->second;
    std::optional<GateForm> form;
    if (def != nullptr) {
        form = GateForm{};
        form->arity = static_cast<std::uint8_t>(def->qubits.size());
        form->param_count = static_cast<std::uint8_t>(def->parameters.size());
    } else if (!barrier) {
        if (is_modifier(name.text)) {
            fail(name, "gate modifiers ('" + std::string(name.text) +
                           " @') are not supported in gate bodies yet");
        }
        if (const auto reason = unsupported_statement(name.text)) {
            fail(name, *reason + " in a gate body");
        }
        form = standard_form(name);
        if (!form) {
            fail(name, "unknown gate " + quoted(name.text));
        }
    }
    std::vector<double> angles;
    if (!barrier && current_.is("(")) {
        angles = angle_list(name.text, *form);
    } else if (!barrier && form->param_count > 0) {
        fail(current_,
             quoted(name.text) + takes_angles(form->param_count) + ", found " + describe(current_));
    }
    std::vector<std::uint64_t> qubits;
    std::vector<std::size_t> offsets;
    while (!current_.is(";")) {
        const Token argument = current_;
        if (argument.kind != TokenKind::Identifier) {
            fail(argument, "expected a qubit argument, found " + describe(argument));
        }
        const auto found = arguments_->find(argument.text);
        if (found == arguments_->end()) {
            fail(argument, quoted(argument.text) + " is not a qubit argument of the gate");
        }
        advance();
        if (current_.is("[")) {
            fail(current_, "qubit arguments of a gate take no index");
        }
        for (const std::uint64_t qubit : qubits) {
            if (qubit == found->second && !barrier) {
                fail(argument,
                     quoted(name.text) + " uses qubit " + quoted(argument.text) + " twice");
            }
        }
        qubits.push_back(found->second);
        offsets.push_back(argument.offset);
        if (current_.is(",")) {
            advance();
        } else if (!current_.is(";")) {
            fail(current_, "expected ',' or ';' after the qubit, found " + describe(current_));
        }
    }
    const Token end = advance();
    if (barrier) {
        return;
    }
    if (qubits.size() != form->arity) {
        fail(qubits.size() > form->arity ? offsets[form->arity] : end.offset,
             quoted(name.text) + " acts on " + std::to_string(form->arity) +
                 (form->arity == 1 ? " qubit" : " qubits") + ", found " +
                 std::to_string(qubits.size()));
    }
    if (dry_run_) {
        // What a call costs is known before any call: a definition that doubles at every level
        // is refused at its first call, without expanding it.
        const std::uint64_t cost =
            def != nullptr ? def->size : form->step_count + (form->phase_after ? 1U : 0U);
        dry_size_ = std::min(QASM_MAX_EXPANDED_OPERATIONS + 1, dry_size_ + cost);
        return;
    }
    if (def != nullptr) {
        expand(*def, name, angles, qubits, depth + 1);
    } else {
        emit_form(name, *form, angles, qubits);
    }
}

// A call of `def`: its body read again with the parameters bound to `angles` and the qubit
// arguments to `qubits`.
void Reader::expand(const GateDefinition& def, const Token& at, const std::vector<double>& angles,
                    const std::vector<std::uint64_t>& qubits, std::size_t depth) {
    if (depth >= QASM_MAX_NESTING) {
        qasm::fail_at(program_, call_site_,
                      "gate definitions call each other deeper than " +
                          std::to_string(QASM_MAX_NESTING) + " levels");
    }
    static_cast<void>(at);
    std::unordered_map<std::string_view, double> parameters;
    for (std::size_t k = 0; k < def.parameters.size(); ++k) {
        parameters.emplace(def.parameters[k], angles[k]);
    }
    std::unordered_map<std::string_view, std::uint64_t> arguments;
    for (std::size_t k = 0; k < def.qubits.size(); ++k) {
        arguments.emplace(def.qubits[k], qubits[k]);
    }
    const Lexer saved_lexer = lexer_;
    const Token saved_current = current_;
    const auto* saved_parameters = parameters_;
    const auto* saved_arguments = arguments_;
    lexer_ = Lexer(def.body);
    current_ = lexer_.next();
    parameters_ = &parameters;
    arguments_ = &arguments;
    while (current_.kind != TokenKind::End) {
        body_call(depth);
    }
    lexer_ = saved_lexer;
    current_ = saved_current;
    parameters_ = saved_parameters;
    arguments_ = saved_arguments;
}

void Reader::apply(const Token& at, Operation op) {
    static_cast<void>(at);
    if (dry_run_) {
        return;
    }
    if (capture_ != nullptr) {
        capture_->push_back(std::move(op));
        return;
    }
    for (const std::uint64_t qubit : op.qubits) {
        if (measured_.contains(qubit)) {
            mark_dynamic("a gate on qubit " + std::to_string(qubit) + " after its measurement");
        }
    }
    if (parameters_ != nullptr) {
        if (expanded_operations_ >= QASM_MAX_EXPANDED_OPERATIONS) {
            qasm::fail_at(program_, call_site_,
                          "gate definitions would expand to more than " +
                              std::to_string(QASM_MAX_EXPANDED_OPERATIONS) +
                              " operations in one program");
        }
        ++expanded_operations_;
    }
    if (!dynamic_) {
        circuit_.add(op);
    }
    QasmInstruction instruction;
    instruction.operation = std::move(op);
    record(std::move(instruction));
}

void Reader::record(QasmInstruction instruction) {
    instruction.condition = condition_;
    instructions_.push_back(std::move(instruction));
}

void Reader::add_phase(double phase) {
    if (!dry_run_) {
        global_phase_ += phase;
    }
}

// A bit or a bit register, as `operand` reads qubits.
Operand Reader::bit_operand() {
    const Token name = current_;
    if (name.kind != TokenKind::Identifier) {
        fail(name, "expected a bit, found " + describe(name));
    }
    const auto found = registers_.find(name.text);
    if (found == registers_.end()) {
        fail(name, quoted(name.text) + " is not a declared register");
    }
    if (found->second.quantum) {
        fail(name, quoted(name.text) + " is a qubit register, not bits");
    }
    advance();
    Operand result;
    result.name = name.text;
    result.reg = &found->second;
    result.offset = name.offset;
    if (!current_.is("[")) {
        result.whole = !result.reg->single;
        return result;
    }
    advance();
    result.index = index_literal(*result.reg, name.text);
    expect("]", "after the bit index");
    return result;
}

// measure q -> c;  measure q[i] -> c[j];
void Reader::measure_arrow() {
    const Token keyword = advance();
    const Operand qubits = operand();
    // '->' comes as two tokens.
    expect("-", "after the measured qubit", "measure q -> c;");
    expect(">", "after '-' in '->'");
    const Operand bits = bit_operand();
    expect(";", "after the measurement");
    record_measurements(keyword, qubits, bits);
}

// c = measure q;  c[j] = measure q[i];
void Reader::measure_assignment() {
    const Token start = current_;
    const Operand bits = bit_operand();
    if (!current_.is("=")) {
        fail(start,
             quoted(start.text) + " is a bit register: only measurements are assigned to bits");
    }
    advance();
    if (!(current_.kind == TokenKind::Identifier && current_.text == "measure")) {
        fail(current_, "only measurements are assigned to bits, found " + describe(current_));
    }
    const Token keyword = advance();
    const Operand qubits = operand();
    expect(";", "after the measurement");
    record_measurements(keyword, qubits, bits);
}

void Reader::record_measurements(const Token& at, const Operand& qubits, const Operand& bits) {
    if (!with_measurements_) {
        fail(at, "'measure' records into bits: read the program with read_open_qasm");
    }
    if (qubits.whole != bits.whole || (qubits.whole && qubits.reg->size != bits.reg->size)) {
        fail(bits.offset, "measurement of " + std::to_string(qubits.whole ? qubits.reg->size : 1) +
                              " qubits into " + std::to_string(bits.whole ? bits.reg->size : 1) +
                              " bits");
    }
    const std::uint64_t count = qubits.whole ? qubits.reg->size : 1;
    if (count > QASM_MAX_BROADCAST_OPERATIONS - broadcast_operations_) {
        fail(at, "whole-register measurements would make more than " +
                     std::to_string(QASM_MAX_BROADCAST_OPERATIONS) + " operations in one program");
    }
    broadcast_operations_ += count;
    for (std::uint64_t k = 0; k < count; ++k) {
        const std::uint64_t qubit = qubits.qubit(k);
        const std::uint64_t bit = bits.qubit(k);
        // A condition is read once for its whole statement or block, while the instructions
        // under it are tested one by one: a bit it tests must not change under it.
        if (condition_ && bit >= condition_->first_bit &&
            bit - condition_->first_bit < condition_->num_bits) {
            fail(at,
                 "a measurement under a condition cannot write a bit that the condition "
                 "tests (" +
                     bits.qubit_name(k) + ")");
        }
        if (!measured_.insert(qubit).second) {
            mark_dynamic("a second measurement of " + qubits.qubit_name(k));
        }
        measurements_.push_back(Measurement{qubit, bits.qubit(k)});
        QasmInstruction instruction;
        instruction.kind = QasmInstructionKind::Measure;
        instruction.qubit = qubit;
        instruction.bit = bit;
        record(std::move(instruction));
    }
}

}  // namespace zel::qasm

// Reset and classical control of the reader: `reset q;`, OpenQASM 2's `if (c == n) statement;`
// and OpenQASM 3's `if (condition) statement-or-block [else statement-or-block]`. Each gate,
// measurement and reset read under a condition is recorded with it.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zel/compiler/qasm.hpp"

#include "qasm_reader.hpp"

namespace zel::qasm {

// reset q;  reset q[i];
void Reader::reset_statement() {
    const Token keyword = advance();
    if (!with_measurements_) {
        fail(keyword, "'reset' is not unitary: read the program with read_open_qasm");
    }
    std::size_t end = 0;
    const std::vector<Operand> operands = operand_list(end);
    if (operands.size() != 1) {
        fail(operands[1].offset,
             "'reset' acts on one qubit or register, found " + std::to_string(operands.size()));
    }
    const Operand& target = operands.front();
    const std::uint64_t count = target.whole ? target.reg->size : 1;
    if (count > QASM_MAX_BROADCAST_OPERATIONS - broadcast_operations_) {
        fail(keyword, "whole-register resets would make more than " +
                          std::to_string(QASM_MAX_BROADCAST_OPERATIONS) +
                          " operations in one program");
    }
    broadcast_operations_ += count;
    mark_dynamic("'reset'");
    for (std::uint64_t k = 0; k < count; ++k) {
        QasmInstruction instruction;
        instruction.kind = QasmInstructionKind::Reset;
        instruction.qubit = target.qubit(k);
        record(std::move(instruction));
    }
}

void Reader::conditional() {
    const Token keyword = advance();
    if (!with_measurements_) {
        fail(keyword, "classical control ('if') reads bits: read the program with read_open_qasm");
    }
    expect("(", "after 'if'");
    const ClassicalCondition tested = condition();
    expect(")", "after the condition",
           version_ == 2 ? "OpenQASM 2.0 tests one register: if (c == 1)" : "");
    mark_dynamic("classical control ('if')");
    condition_ = tested;
    conditioned_body(keyword);
    if (version_ == 3 && current_.kind == TokenKind::Identifier && current_.text == "else") {
        const Token word = advance();
        if (current_.kind == TokenKind::Identifier && current_.text == "if") {
            fail(current_, "'else if' is not supported: write a second 'if' with its condition");
        }
        ClassicalCondition opposite = tested;
        opposite.equal = !opposite.equal;
        condition_ = opposite;
        conditioned_body(word);
    }
    condition_.reset();
}

// c == n, c != n, c[i] == n, c[i] != n, c[i], !c[i], and c, !c for a one-bit register.
ClassicalCondition Reader::condition() {
    bool negated = false;
    if (current_.is("!")) {
        if (version_ == 2) {
            fail(current_, "OpenQASM 2.0 conditions compare a register: if (c == n)");
        }
        negated = true;
        advance();
    }
    const Operand bits = bit_operand();
    if (version_ == 2 && !bits.whole) {
        fail(bits.offset, "OpenQASM 2.0 conditions compare a whole register: if (" +
                              std::string(bits.name) + " == n)");
    }
    if (bits.whole && bits.reg->size == 0) {
        fail(bits.offset, "register " + quoted(bits.name) + " has no bits to test");
    }
    ClassicalCondition result;
    result.first_bit = bits.qubit(0);
    result.num_bits = bits.whole ? bits.reg->size : 1;
    const bool single_bit = !bits.whole;
    if (negated || current_.is(")")) {
        if (!single_bit) {
            fail(bits.offset, "register " + quoted(bits.name) + " holds " +
                                  std::to_string(bits.reg->size) +
                                  " bits: compare it with an integer, as in (" +
                                  std::string(bits.name) + " == 1)");
        }
        result.value = 1;
        result.equal = !negated;
        return result;
    }
    const Token op = current_;
    const bool equal_sign = op.is("=");
    if (!equal_sign && !op.is("!")) {
        if (op.is("&") || op.is("|")) {
            fail(op, "combined conditions ('" + std::string(op.text) + "') are not supported");
        }
        if (op.is("<") || op.is(">")) {
            fail(op, "comparisons other than '==' and '!=' are not supported");
        }
        fail(op, "expected '==' or '!=' after the bits, found " + describe(op));
    }
    advance();
    if (!current_.is("=") || current_.offset != op.offset + 1) {
        fail(op, equal_sign ? std::string("assignments cannot be conditions: compare with '=='")
                            : std::string("expected '!=' after the bits"));
    }
    advance();
    result.equal = equal_sign;
    result.value = compared_value();
    return result;
}

std::uint64_t Reader::compared_value() {
    const Token token = current_;
    std::uint64_t value = 0;
    if (token.kind == TokenKind::Identifier && version_ == 3 &&
        (token.text == "true" || token.text == "false")) {
        value = token.text == "true" ? 1 : 0;
    } else if (token.kind == TokenKind::Integer) {
        if (!parse_unsigned(token.text, value)) {
            fail(token, "value " + quoted(token.text) + " does not fit in 64 bits");
        }
    } else {
        fail(token, "expected a non-negative integer to compare with, found " + describe(token));
    }
    advance();
    return value;
}

// One statement, or in OpenQASM 3 a block of them, under the condition in `condition_`.
void Reader::conditioned_body(const Token& keyword) {
    if (!current_.is("{")) {
        conditioned_statement();
        return;
    }
    if (version_ == 2) {
        fail(current_, "OpenQASM 2.0 conditions one statement, not a block");
    }
    const Token open = advance();
    while (!current_.is("}")) {
        if (current_.kind == TokenKind::End) {
            fail(open, "the block of " + quoted(keyword.text) + " is not closed with '}'");
        }
        conditioned_statement();
    }
    advance();
}

void Reader::conditioned_statement() {
    const Token start = current_;
    if (start.kind == TokenKind::Identifier) {
        const std::string_view word = start.text;
        if (word == "if") {
            fail(start, "a nested 'if' is not supported: combine the conditions");
        }
        if (word == "OPENQASM" || word == "include" || word == "qubit" || word == "bit" ||
            word == "qreg" || word == "creg" || word == "gate") {
            fail(start, quoted(word) + " cannot stand under a condition");
        }
    } else if (start.is("{")) {
        fail(start, "blocks ('{ ... }') inside a conditioned block are not supported");
    }
    statement(false);
}

// input float name;  input angle name;  input angle[n] name;  input float[n] name;
void Reader::input_declaration() {
    const Token keyword = advance();
    const Token type = current_;
    if (type.kind != TokenKind::Identifier || (type.text != "float" && type.text != "angle")) {
        fail(type, "inputs of type " + describe(type) +
                       " are not supported (an input is 'input float name;' or 'input angle "
                       "name;')");
    }
    advance();
    if (current_.is("[")) {
        advance();
        static_cast<void>(size_literal());
        expect("]", "after the size of the input's type");
    }
    const Token name = current_;
    if (name.kind != TokenKind::Identifier) {
        fail(name, "expected the input's name, found " + describe(name));
    }
    if (const auto reason = reserved_reason(name.text)) {
        fail(name, quoted(name.text) + " cannot name an input: " + *reason);
    }
    if (registers_.contains(name.text) || inputs_.contains(name.text)) {
        fail(name, quoted(name.text) + " is already declared");
    }
    advance();
    expect(";", "after the input " + quoted(name.text));
    if (input_values_ == nullptr) {
        fail(keyword, "input " + quoted(name.text) +
                          " has no value: pass the inputs' values to read_open_qasm");
    }
    const auto value = input_values_->find(name.text);
    if (value == input_values_->end()) {
        fail(name, "input " + quoted(name.text) + " has no value among those given");
    }
    inputs_.emplace(name.text, value->second);
    input_names_.emplace_back(name.text);
}

}  // namespace zel::qasm

// Statements of the reader other than gate calls: the version, the include, register
// declarations, qubit operands and barrier.

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "zel/core/error.hpp"

#include "qasm_reader.hpp"

namespace zel::qasm {

void Reader::version(bool first) {
    const Token keyword = advance();
    if (!first) {
        fail(keyword, "'OPENQASM' must be the first statement");
    }
    const Token number = current_;
    if (number.kind != TokenKind::Integer && number.kind != TokenKind::Float) {
        fail(number, "expected a version number after 'OPENQASM', found " + describe(number));
    }
    if (number.text == "2.0" || number.text == "2") {
        version_ = 2;
    } else if (number.text != "3" && number.text != "3.0" && number.text != "3.1") {
        fail(number, "unsupported OpenQASM version " + quoted(number.text) +
                         " (this reader reads 2.0, 3, 3.0 and 3.1)");
    }
    advance();
    expect(";", "after the version");
}

void Reader::include() {
    advance();
    const Token file = current_;
    if (file.kind != TokenKind::String) {
        fail(file, "expected a file name in quotes after 'include', found " + describe(file));
    }
    const std::string_view name = file.text.substr(1, file.text.size() - 2);
    const std::string_view library = version_ == 2 ? "qelib1.inc" : "stdgates.inc";
    if (name != library) {
        fail(file, "cannot include " + quoted(name) + ": only \"" + std::string(library) +
                       "\" is available in OpenQASM " + (version_ == 2 ? "2.0" : "3"));
    }
    if (included_) {
        fail(file, "\"" + std::string(library) + "\" is included twice");
    }
    included_ = true;
    advance();
    if (version_ == 2) {
        define_library(qelib1_source());
    }
    expect(";", "after the include");
}

// A register size: a decimal integer literal.
std::uint64_t Reader::size_literal() {
    const Token token = current_;
    if (token.is("-")) {
        fail(token, "a register size cannot be negative");
    }
    if (token.kind == TokenKind::Float) {
        fail(token, "a register size must be a whole number, found " + describe(token));
    }
    if (token.kind != TokenKind::Integer) {
        fail(token, "expected the register size, found " + describe(token));
    }
    advance();
    std::uint64_t size = 0;
    if (!parse_unsigned(token.text, size)) {
        fail(token, "register size " + quoted(token.text) + " does not fit in 64 bits");
    }
    return size;
}

bool Reader::parse_unsigned(std::string_view literal, std::uint64_t& value) {
    const std::string digits = without_underscores(literal);
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return result.ec == std::errc{} && result.ptr == digits.data() + digits.size();
}

Token Reader::register_name() {
    const Token name = current_;
    if (name.kind != TokenKind::Identifier) {
        fail(name, "expected a register name, found " + describe(name));
    }
    if (const auto reason = reserved_reason(name.text)) {
        fail(name, quoted(name.text) + " cannot name a register: " + *reason);
    }
    if (const auto found = registers_.find(name.text); found != registers_.end()) {
        fail(name, quoted(name.text) + " is already declared on line " +
                       std::to_string(qasm::position_of(text_, found->second.offset).line));
    }
    advance();
    return name;
}

void Reader::add_register(const Token& name, bool quantum, bool single, std::uint64_t size) {
    Register reg;
    reg.quantum = quantum;
    reg.single = single;
    reg.size = size;
    reg.offset = name.offset;
    if (quantum) {
        if (size > std::numeric_limits<std::uint64_t>::max() - total_qubits_) {
            fail(name, "the qubit registers hold more than 2^64 - 1 qubits together");
        }
        reg.base = total_qubits_;
        total_qubits_ += size;
    } else {
        if (size > std::numeric_limits<std::uint64_t>::max() - total_bits_) {
            fail(name, "the bit registers hold more than 2^64 - 1 bits together");
        }
        reg.base = total_bits_;
        total_bits_ += size;
    }
    registers_.emplace(name.text, reg);
}

// qubit[n] name;  qubit name;  bit[n] name;  bit name;
void Reader::declaration(bool quantum) {
    advance();
    bool single = true;
    std::uint64_t size = 1;
    if (current_.is("[")) {
        advance();
        single = false;
        size = size_literal();
        expect("]", "after the register size", "a size is a decimal integer literal");
    }
    const Token name = register_name();
    if (current_.is("=")) {
        fail(current_, "declarations with an initial value are not supported");
    }
    expect(";", "after the declaration of " + quoted(name.text),
           single && current_.is("[") ? "the size comes after the type: qubit[2] q;" : "");
    add_register(name, quantum, single, size);
}

// qreg name[n];  qreg name;  creg name[n];  creg name;
void Reader::old_declaration(bool quantum) {
    advance();
    const Token name = register_name();
    bool single = true;
    std::uint64_t size = 1;
    if (current_.is("[")) {
        advance();
        single = false;
        size = size_literal();
        expect("]", "after the register size", "a size is a decimal integer literal");
    }
    expect(";", "after the declaration of " + quoted(name.text));
    add_register(name, quantum, single, size);
}

Operand Reader::operand() {
    const Token name = current_;
    if (name.is("$")) {
        fail(name, "physical qubits ('$0') are not supported: declare a qubit register");
    }
    if (name.kind != TokenKind::Identifier) {
        fail(name, "expected a qubit, found " + describe(name));
    }
    const auto found = registers_.find(name.text);
    if (found == registers_.end()) {
        fail(name, quoted(name.text) + " is not a declared register");
    }
    if (!found->second.quantum) {
        fail(name, quoted(name.text) + " is a bit register, not qubits");
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
    if (result.reg->single) {
        fail(current_, quoted(name.text) +
                           " is a single qubit, not a register: write it "
                           "without an index");
    }
    advance();
    result.index = index_literal(*result.reg, name.text);
    expect("]", "after the qubit index", "an index is a decimal integer literal");
    return result;
}

// An index into `reg`: a decimal integer literal, negative ones counting from the end.
std::uint64_t Reader::index_literal(const Register& reg, std::string_view name) {
    const Token start = current_;
    const bool negative = start.is("-");
    if (negative) {
        advance();
    }
    const Token number = current_;
    if (number.is("{")) {
        fail(number, "index sets ('q[{0, 1}]') are not supported");
    }
    if (number.kind == TokenKind::Float) {
        fail(number, "a qubit index must be a whole number, found " + describe(number));
    }
    if (number.kind != TokenKind::Integer) {
        fail(number, "expected a qubit index, found " + describe(number) +
                         " (an index is a decimal integer literal)");
    }
    advance();
    if (current_.is(":")) {
        fail(current_, "ranges ('q[0:2]') are not supported");
    }
    std::uint64_t value = 0;
    const bool fits = parse_unsigned(number.text, value);
    const std::string range = " is out of range for " + quoted(name) + " of " +
                              std::to_string(reg.size) + (reg.size == 1 ? " qubit" : " qubits");
    if (negative) {
        if (!fits || value > reg.size) {
            fail(start, "index -" + qasm::shortened(number.text) + range);
        }
        return value == 0 ? 0 : reg.size - value;
    }
    if (!fits || value >= reg.size) {
        fail(number, "index " + qasm::shortened(number.text) + range);
    }
    return value;
}

// Operands up to and including the ';', with an optional trailing comma. `end` receives the
// offset of the ';'.
std::vector<Operand> Reader::operand_list(std::size_t& end) {
    std::vector<Operand> operands;
    while (true) {
        operands.push_back(operand());
        if (current_.is(",")) {
            advance();
            if (current_.is(";")) {
                break;
            }
            continue;
        }
        if (current_.is(";")) {
            break;
        }
        fail(current_, "expected ',' or ';' after the qubit, found " + describe(current_));
    }
    end = advance().offset;
    return operands;
}

void Reader::barrier() {
    advance();
    if (current_.is(";")) {
        advance();
        return;
    }
    std::size_t end = 0;
    static_cast<void>(operand_list(end));
}

}  // namespace zel::qasm

// OpenQASM 3 import: a recursive-descent reader over the tokens of qasm_lexer, building the
// circuit statement by statement. Every statement is either read exactly or rejected with a
// `ParseError` at its first offending token; nothing is skipped.

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <numbers>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"

#include "qasm_lexer.hpp"

namespace zel {
namespace {

using qasm::Lexer;
using qasm::quoted;
using qasm::Token;
using qasm::TokenKind;

// Integers below 2^53 in magnitude are doubles exactly, and so are sums, differences and products
// of them that stay below it. An integer literal from 2^53 on may have been rounded (2^53 + 1
// reads as 2^53), and a result from 2^53 on may have been too.
constexpr double EXACT_INTEGERS_BELOW = 0x1p53;

// One operation of a gate's form: its kind and which operands (0 or 1) it acts on.
struct Step {
    GateKind kind;
    std::uint8_t first;
    std::uint8_t second;
};

constexpr std::size_t MAX_STEPS = 5;

// What a gate name reads as: its qubit and angle count and the operations it becomes, in order.
struct GateForm {
    std::uint8_t arity = 0;
    bool has_angle = false;
    std::uint8_t param_count = 0;
    // A kind from U on, read as one operation with all its parameters (and for u2 and u3 the
    // global phase after it); built-in names need no include.
    bool checked = false;
    bool phase_after = false;
    bool built_in = false;
    std::array<Step, MAX_STEPS> steps{};
    std::size_t step_count = 0;
};

// Names that read as something other than the kind of the same OpenQASM name. sdg = S^3 and
// tdg = S^3 T are the same diagonal matrices, and cy = (I x S) CX (I x S^3) with S on the target;
// the kernels of S are exact, so these cost no rounding beyond what the gates themselves do.
struct MappedGate {
    std::string_view name;
    std::uint8_t arity;
    std::array<Step, MAX_STEPS> steps;
    std::size_t step_count;
};

constexpr std::array<MappedGate, 5> MAPPED_GATES = {{
    {"CX", 2, {{{GateKind::CX, 0, 1}}}, 1},
    {"cnot", 2, {{{GateKind::CX, 0, 1}}}, 1},
    {"sdg", 1, {{{GateKind::S, 0, 0}, {GateKind::S, 0, 0}, {GateKind::S, 0, 0}}}, 3},
    {"tdg",
     1,
     {{{GateKind::S, 0, 0}, {GateKind::S, 0, 0}, {GateKind::S, 0, 0}, {GateKind::T, 0, 0}}},
     4},
    {"cy",
     2,
     {{{GateKind::S, 1, 1},
       {GateKind::S, 1, 1},
       {GateKind::S, 1, 1},
       {GateKind::CX, 0, 1},
       {GateKind::S, 1, 1}}},
     5},
}};

// Names that read as a kind from U on, with its parameters. stdgates.inc defines u2 and u3 as
// U times the global phase e^(-i(phi + lambda)/2), which follows as a GPHASE; u1, phase and p
// are all diag(1, e^(i lambda)). U and gphase are built into the language. u2 reads as
// U(pi/2, phi, lambda), which the export writes for U2, so that a read circuit exports and reads
// back unchanged.
struct CheckedName {
    std::string_view name;
    GateKind kind;
    bool phase_after;
    bool built_in;
};

constexpr std::array<CheckedName, 18> CHECKED_NAMES = {{
    {"U", GateKind::U, false, true},
    {"u", GateKind::U, false, false},
    {"u3", GateKind::U, true, false},
    {"u2", GateKind::U2, true, false},
    {"p", GateKind::P, false, false},
    {"phase", GateKind::P, false, false},
    {"u1", GateKind::P, false, false},
    {"cp", GateKind::CP, false, false},
    {"cphase", GateKind::CP, false, false},
    {"cu1", GateKind::CP, false, false},
    {"ch", GateKind::CH, false, false},
    {"crx", GateKind::CRX, false, false},
    {"cry", GateKind::CRY, false, false},
    {"crz", GateKind::CRZ, false, false},
    {"cu", GateKind::CU, false, false},
    {"ccx", GateKind::CCX, false, false},
    {"cswap", GateKind::CSWAP, false, false},
    {"gphase", GateKind::GPHASE, false, true},
}};

std::optional<GateForm> gate_form(std::string_view name) {
    GateForm form;
    for (const GateInfo& info : ORIGINAL_GATES) {
        if (info.qasm == name) {
            form.arity = info.arity;
            form.has_angle = info.has_angle;
            form.param_count = info.has_angle ? 1 : 0;
            form.steps[0] = Step{info.kind, 0, 1};
            form.step_count = 1;
            return form;
        }
    }
    for (const MappedGate& mapped : MAPPED_GATES) {
        if (mapped.name == name) {
            form.arity = mapped.arity;
            form.steps = mapped.steps;
            form.step_count = mapped.step_count;
            return form;
        }
    }
    for (const CheckedName& checked : CHECKED_NAMES) {
        if (checked.name == name) {
            const GateInfo& info = gate_info(checked.kind);
            form.arity = info.arity;
            form.param_count = info.param_count;
            form.checked = true;
            form.phase_after = checked.phase_after;
            form.built_in = checked.built_in;
            form.steps[0] = Step{checked.kind, 0, 1};
            form.step_count = checked.phase_after ? 2 : 1;
            return form;
        }
    }
    return std::nullopt;
}

// Statements of the language outside what the reader reads, with the reason it gives.
std::optional<std::string> unsupported_statement(std::string_view word) {
    const std::string name(word);
    const auto one_of = [word](std::initializer_list<std::string_view> words) {
        return std::find(words.begin(), words.end(), word) != words.end();
    };
    if (word == "measure" || word == "reset") {
        return "'" + name + "' is not supported: a circuit holds unitary gates only";
    }
    if (word == "delay" || word == "box") {
        return "'" + name + "' is not supported: a circuit has no timing";
    }
    if (word == "gate" || word == "opaque") {
        return "gate definitions ('" + name + "') are not supported";
    }
    if (one_of({"def", "extern", "defcal", "cal", "defcalgrammar"})) {
        return "subroutines and calibrations ('" + name + "') are not supported";
    }
    if (one_of({"if", "else", "for", "while", "switch", "case", "default", "break", "continue",
                "end", "return"})) {
        return "control flow ('" + name + "') is not supported";
    }
    if (word == "let") {
        return "aliases ('let') are not supported";
    }
    if (one_of({"ctrl", "negctrl", "inv", "pow"})) {
        return "gate modifiers ('" + name + " @') are not supported";
    }
    if (one_of({"bool", "int", "uint", "float", "angle", "complex", "array", "duration", "stretch",
                "const", "input", "output", "readonly", "mutable", "void"})) {
        return "classical variables ('" + name + "') are not supported";
    }
    if (word == "pragma") {
        return "pragmas are not supported";
    }
    return std::nullopt;
}

bool is_constant_name(std::string_view word) {
    return word == "pi" || word == "π" || word == "tau" || word == "τ" || word == "euler" ||
           word == "ℇ";
}

// Why `word` cannot name a register, or nothing when it can.
std::optional<std::string> reserved_reason(std::string_view word) {
    if (is_constant_name(word)) {
        return "it is a built-in constant";
    }
    if (gate_form(word)) {
        return "it is the name of a gate";
    }
    static constexpr std::array<std::string_view, 7> STATEMENT_WORDS = {
        "OPENQASM", "include", "qubit", "bit", "qreg", "creg", "barrier"};
    if (unsupported_statement(word) ||
        std::find(STATEMENT_WORDS.begin(), STATEMENT_WORDS.end(), word) != STATEMENT_WORDS.end()) {
        return "it is a keyword";
    }
    return std::nullopt;
}

// Digits of a number token without its underscores.
std::string without_underscores(std::string_view digits) {
    std::string text;
    text.reserve(digits.size());
    for (const char c : digits) {
        if (c != '_') {
            text += c;
        }
    }
    return text;
}

// Whether a decimal literal that from_chars found out of range lies above the doubles rather than
// below them. Its value is d.ddd x 10^E, where E counts from the first non-zero digit to the point
// plus the exponent; out of range means E > 308 or E < -323, so the sign of E decides.
bool above_range(std::string_view literal) {
    constexpr long long SATURATION = 1'000'000'000'000LL;
    const std::size_t e = literal.find_first_of("eE");
    const std::string_view mantissa = literal.substr(0, e);
    long long exponent = 0;
    if (e != std::string_view::npos) {
        std::size_t k = e + 1;
        const bool negative = k < literal.size() && literal[k] == '-';
        if (k < literal.size() && (literal[k] == '-' || literal[k] == '+')) {
            ++k;
        }
        for (; k < literal.size(); ++k) {
            exponent = std::min(SATURATION, exponent * 10 + (literal[k] - '0'));
        }
        exponent = negative ? -exponent : exponent;
    }
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t first = mantissa.find_first_not_of("0.");
    if (first == std::string_view::npos) {
        return false;
    }
    const long long lead = first < point ? static_cast<long long>(point - first - 1)
                                         : -static_cast<long long>(first - point);
    return lead + exponent > 0;
}

// An angle-expression value: the double, and whether OpenQASM types it as an integer (literals
// without point or exponent, and +, -, * of such values).
struct Value {
    double number;
    bool integer;
};

// A qubit operand as written: one qubit of a register or the whole register.
struct Register {
    bool quantum = true;
    bool single = false;  // declared without a size ("qubit a;"): used without an index
    std::uint64_t base = 0;
    std::uint64_t size = 0;
    std::size_t offset = 0;
};

struct Operand {
    std::string_view name;
    const Register* reg = nullptr;
    bool whole = false;
    std::uint64_t index = 0;
    std::size_t offset = 0;

    std::uint64_t qubit(std::uint64_t k) const noexcept {
        return reg->base + (whole ? k : index);
    }
    std::string qubit_name(std::uint64_t k) const {
        std::string text(name);
        if (!reg->single) {
            text += "[" + std::to_string(whole ? k : index) + "]";
        }
        return text;
    }
};

class Reader {
  public:
    explicit Reader(std::string_view text) : text_(text), lexer_(text) {
        current_ = lexer_.next();
    }

    ZarnikGraph read() {
        bool first = true;
        while (current_.kind != TokenKind::End) {
            statement(first);
            first = false;
        }
        circuit_.num_qubits = total_qubits_;
        return std::move(circuit_);
    }

  private:
    Token advance() {
        const Token token = current_;
        current_ = lexer_.next();
        return token;
    }

    [[noreturn]] void fail(std::size_t offset, std::string reason) const {
        qasm::fail_at(text_, offset, std::move(reason));
    }
    [[noreturn]] void fail(const Token& token, std::string reason) const {
        fail(token.offset, std::move(reason));
    }

    static std::string describe(const Token& token) {
        return token.kind == TokenKind::End ? std::string("the end of the text")
                                            : quoted(token.text);
    }

    // Consumes the punctuation `punct` or fails with "expected 'punct' <context>, found ...".
    void expect(std::string_view punct, std::string_view context, std::string_view hint = {}) {
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

    void statement(bool first) {
        const Token start = current_;
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
        } else if (const auto reason = unsupported_statement(word)) {
            fail(start, *reason);
        } else if (const auto found = registers_.find(word); found != registers_.end()) {
            fail(start, found->second.quantum
                            ? "a statement cannot start with the qubit register " + quoted(word)
                            : quoted(word) +
                                  " is a bit register: measurement and classical assignment are "
                                  "not supported");
        } else {
            gate_call();
        }
    }

    void version(bool first) {
        const Token keyword = advance();
        if (!first) {
            fail(keyword, "'OPENQASM' must be the first statement");
        }
        const Token number = current_;
        if (number.kind != TokenKind::Integer && number.kind != TokenKind::Float) {
            fail(number, "expected a version number after 'OPENQASM', found " + describe(number));
        }
        if (number.text != "3" && number.text != "3.0" && number.text != "3.1") {
            fail(number, "unsupported OpenQASM version " + quoted(number.text) +
                             " (this reader reads 3, 3.0 and 3.1)");
        }
        advance();
        expect(";", "after the version");
    }

    void include() {
        advance();
        const Token file = current_;
        if (file.kind != TokenKind::String) {
            fail(file, "expected a file name in quotes after 'include', found " + describe(file));
        }
        const std::string_view name = file.text.substr(1, file.text.size() - 2);
        if (name != "stdgates.inc") {
            fail(file, "cannot include " + quoted(name) + ": only \"stdgates.inc\" is available");
        }
        if (included_) {
            fail(file, "\"stdgates.inc\" is included twice");
        }
        included_ = true;
        advance();
        expect(";", "after the include");
    }

    // A register size: a decimal integer literal.
    std::uint64_t size_literal() {
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

    static bool parse_unsigned(std::string_view literal, std::uint64_t& value) {
        const std::string digits = without_underscores(literal);
        const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        return result.ec == std::errc{} && result.ptr == digits.data() + digits.size();
    }

    Token register_name() {
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

    void add_register(const Token& name, bool quantum, bool single, std::uint64_t size) {
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
        }
        registers_.emplace(name.text, reg);
    }

    // qubit[n] name;  qubit name;  bit[n] name;  bit name;
    void declaration(bool quantum) {
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
    void old_declaration(bool quantum) {
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

    Operand operand() {
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
    std::uint64_t index_literal(const Register& reg, std::string_view name) {
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
    std::vector<Operand> operand_list(std::size_t& end) {
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

    void barrier() {
        advance();
        if (current_.is(";")) {
            advance();
            return;
        }
        std::size_t end = 0;
        static_cast<void>(operand_list(end));
    }

    void gate_call() {
        const Token name = advance();
        const std::optional<GateForm> form = gate_form(name.text);
        if (!form) {
            fail(name, "unknown gate " + quoted(name.text));
        }
        if (!included_ && !form->built_in) {
            fail(name, "gate " + quoted(name.text) +
                           " comes from \"stdgates.inc\", which is not included before it");
        }
        std::vector<double> angles;
        if (current_.is("(")) {
            angles = angle_list(name.text, *form);
        } else if (form->param_count > 0) {
            fail(current_, quoted(name.text) + takes_angles(form->param_count) + ", found " +
                               describe(current_));
        }
        if (current_.is("[")) {
            fail(current_, "durations on gate calls are not supported");
        }
        std::size_t end = 0;
        std::vector<Operand> operands;
        if (form->arity == 0) {
            if (!current_.is(";")) {
                fail(current_,
                     quoted(name.text) + " acts on no qubits, found " + describe(current_));
            }
            advance();
        } else {
            operands = operand_list(end);
        }
        if (operands.size() != form->arity) {
            const std::string reason = quoted(name.text) + " acts on " +
                                       std::to_string(form->arity) +
                                       (form->arity == 1 ? " qubit" : " qubits") + ", found " +
                                       std::to_string(operands.size());
            fail(operands.size() > form->arity ? operands[form->arity].offset : end, reason);
        }
        emit(name, *form, angles, operands);
    }

    static std::string takes_angles(std::size_t count) {
        if (count <= 1) {
            return count == 0 ? " takes no angle" : " takes one angle";
        }
        return " takes " + std::to_string(count) + " angles";
    }

    // The parenthesised angles of a gate call, as many as the form takes.
    std::vector<double> angle_list(std::string_view name, const GateForm& form) {
        advance();
        std::vector<double> angles;
        while (!current_.is(")")) {
            if (angles.size() == form.param_count) {
                fail(current_, quoted(name) + takes_angles(form.param_count));
            }
            const double angle = expression(0).number;
            // NaN results carry whatever sign and payload the arithmetic left (0.0 / 0 is
            // negative on x86); every NaN angle reads as the one quiet NaN, so that the bits are
            // the same on every machine and survive the export, which writes every NaN as "NaN".
            angles.push_back(std::isnan(angle) ? std::numeric_limits<double>::quiet_NaN() : angle);
            if (current_.is(",")) {
                advance();
            } else if (!current_.is(")")) {
                fail(current_, "expected ',' or ')' after the angle, found " + describe(current_));
            }
        }
        if (angles.size() < form.param_count) {
            fail(current_,
                 quoted(name) + takes_angles(form.param_count) + ", found " +
                     (angles.empty() ? std::string("none") : std::to_string(angles.size())));
        }
        advance();
        return angles;
    }

    void emit(const Token& name, const GateForm& form, const std::vector<double>& angles,
              const std::vector<Operand>& operands) {
        const double angle = angles.empty() ? 0.0 : angles.front();
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
                                    std::to_string(width) + " qubits) and " + quoted(op.name) +
                                    " (" + std::to_string(op.reg->size) +
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
                        fail(operands[b].offset, quoted(name.text) + " uses qubit " +
                                                     operands[a].qubit_name(k) + " twice");
                    }
                }
            }
        }
        if (form.checked) {
            for (std::uint64_t k = 0; k < count; ++k) {
                std::vector<std::uint64_t> qubits;
                for (const Operand& operand : operands) {
                    qubits.push_back(operand.qubit(k));
                }
                if (form.steps[0].kind == GateKind::U2) {
                    // Read as U(pi/2, phi, lambda), the form the export writes for U2.
                    circuit_.add(make_operation(GateKind::U, std::move(qubits),
                                                {std::numbers::pi / 2, angles[0], angles[1]}));
                } else {
                    circuit_.add(make_operation(form.steps[0].kind, std::move(qubits), angles));
                }
                if (form.phase_after) {
                    // U's phi and lambda are the last two angles of u2 and u3.
                    const double sum = angles[angles.size() - 2] + angles[angles.size() - 1];
                    circuit_.add(make_operation(GateKind::GPHASE, {}, {-sum / 2}));
                }
            }
            return;
        }
        for (std::uint64_t k = 0; k < count; ++k) {
            for (std::size_t s = 0; s < form.step_count; ++s) {
                const Step& step = form.steps[s];
                const GateInfo& info = gate_info(step.kind);
                std::vector<std::uint64_t> qubits = {operands[step.first].qubit(k)};
                if (info.arity == 2) {
                    qubits.push_back(operands[step.second].qubit(k));
                }
                circuit_.add_gate(GateType{step.kind, info.has_angle ? angle : 0.0},
                                  std::move(qubits));
            }
        }
    }

    // Angle expressions: '+' and '-' below '*' and '/', below unary '-'; operators of one level
    // apply left to right. `depth` counts the open parentheses.
    Value expression(std::size_t depth) {
        Value value = term(depth);
        while (current_.is("+") || current_.is("-")) {
            const Token op = advance();
            value = combine(op, value, term(depth));
        }
        return value;
    }

    Value term(std::size_t depth) {
        Value value = unary(depth);
        while (current_.is("*") || current_.is("/") || current_.is("%")) {
            if (current_.is("%")) {
                fail(current_, "the operator '%' is not supported in angles");
            }
            const Token op = advance();
            value = combine(op, value, unary(depth));
        }
        return value;
    }

    Value unary(std::size_t depth) {
        bool negate = false;
        while (current_.is("-")) {
            negate = !negate;
            advance();
        }
        Value value = primary(depth);
        if (current_.is("**")) {
            fail(current_, "the power operator '**' is not supported in angles");
        }
        if (negate) {
            value.number = -value.number;
        }
        return value;
    }

    Value primary(std::size_t depth) {
        const Token token = current_;
        switch (token.kind) {
            case TokenKind::Integer:
                advance();
                return Value{literal_value(token), true};
            case TokenKind::Float:
                advance();
                return Value{literal_value(token), false};
            case TokenKind::Identifier:
                advance();
                return named_value(token);
            case TokenKind::Punct:
                if (token.is("(")) {
                    if (depth >= QASM_MAX_NESTING) {
                        fail(token, "parentheses nest deeper than " +
                                        std::to_string(QASM_MAX_NESTING) + " levels");
                    }
                    advance();
                    const Value value = expression(depth + 1);
                    expect(")", "to close the parenthesis");
                    return value;
                }
                break;
            case TokenKind::String:
            case TokenKind::End:
                break;
        }
        fail(token, "expected a number, found " + describe(token));
    }

    Value named_value(const Token& token) {
        const std::string_view name = token.text;
        if (name == "pi" || name == "π") {
            return Value{std::numbers::pi, false};
        }
        if (name == "tau" || name == "τ") {
            return Value{2.0 * std::numbers::pi, false};
        }
        if (name == "euler" || name == "ℇ") {
            return Value{std::numbers::e, false};
        }
        // The exporter's spellings of non-finite angles, which OpenQASM has no literal for.
        if (name == "NaN") {
            return Value{std::numeric_limits<double>::quiet_NaN(), false};
        }
        if (name == "inf") {
            return Value{std::numeric_limits<double>::infinity(), false};
        }
        if (current_.is("(")) {
            fail(token, "function " + quoted(name) + " is not supported in angles");
        }
        if (registers_.contains(name)) {
            fail(token, quoted(name) + " is a register, not a number");
        }
        fail(token, "unknown name " + quoted(name) +
                        " in an angle (numbers, pi, tau, euler, NaN and inf are read)");
    }

    // The double nearest to a literal (from_chars rounds correctly).
    double literal_value(const Token& token) const {
        const std::string digits = without_underscores(token.text);
        double value = 0.0;
        const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value,
                                            std::chars_format::general);
        if (result.ec == std::errc::result_out_of_range) {
            if (above_range(digits)) {
                fail(token, "number " + quoted(token.text) + " is beyond the range of a double");
            }
            // Below half the smallest subnormal: the nearest double is zero.
            return 0.0;
        }
        if (result.ec != std::errc{} || result.ptr != digits.data() + digits.size()) {
            fail(token, "malformed number " + quoted(token.text));
        }
        return value;
    }

    Value combine(const Token& op, Value a, Value b) const {
        const char symbol = op.text[0];
        if (a.integer && b.integer) {
            if (symbol == '/') {
                fail(op,
                     "'/' between two integers is integer division in OpenQASM 3: write one "
                     "of them with a point (1.0 / 2)");
            }
            // Integers have no negative zero: adding +0.0 turns -0.0 into +0.0 and leaves every
            // other value as it is.
            const double result = (symbol == '+'   ? a.number + b.number
                                   : symbol == '-' ? a.number - b.number
                                                   : a.number * b.number) +
                                  0.0;
            if (!(std::fabs(a.number) < EXACT_INTEGERS_BELOW &&
                  std::fabs(b.number) < EXACT_INTEGERS_BELOW &&
                  std::fabs(result) < EXACT_INTEGERS_BELOW)) {
                fail(op,
                     "integer arithmetic from 2^53 on is not exact in double precision: "
                     "write the numbers with a point");
            }
            return Value{result, true};
        }
        const double x = a.integer ? a.number + 0.0 : a.number;
        const double y = b.integer ? b.number + 0.0 : b.number;
        switch (symbol) {
            case '+':
                return Value{x + y, false};
            case '-':
                return Value{x - y, false};
            case '*':
                return Value{x * y, false};
            default:
                return Value{x / y, false};
        }
    }

    std::string_view text_;
    Lexer lexer_;
    Token current_;
    ZarnikGraph circuit_;
    std::unordered_map<std::string_view, Register> registers_;
    std::uint64_t total_qubits_ = 0;
    std::uint64_t broadcast_operations_ = 0;
    bool included_ = false;
};

}  // namespace

ZarnikGraph from_open_qasm(std::string_view text) {
    return Reader(text).read();
}

}  // namespace zel

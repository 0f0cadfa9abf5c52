#pragma once

// The reader's shared parts (qasm_reader.cpp, qasm_statements.cpp, qasm_expressions.cpp,
// qasm_gate_names.cpp): what a gate name reads as, operands and angle values, and the
// recursive-descent reader over the tokens of qasm_lexer.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"

#include "qasm_lexer.hpp"

namespace zel::qasm {

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

/// What `name` reads as, or nothing for a name that is no gate.
std::optional<GateForm> gate_form(std::string_view name);

/// Statements of the language outside what the reader reads, with the reason it gives.
std::optional<std::string> unsupported_statement(std::string_view word);

/// Whether `word` is one of the built-in constants (pi, tau, euler and their symbols).
bool is_constant_name(std::string_view word);

/// Whether `word` is a gate modifier (ctrl, negctrl, inv, pow).
bool is_modifier(std::string_view word);

/// Why `word` cannot name a register, or nothing when it can.
std::optional<std::string> reserved_reason(std::string_view word);

/// Digits of a number token without its underscores.
std::string without_underscores(std::string_view digits);

/// Whether a decimal literal that from_chars found out of range lies above the doubles.
bool above_range(std::string_view literal);

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
            text += '[';
            text += std::to_string(whole ? k : index);
            text += ']';
        }
        return text;
    }
};

// A user gate: `gate name(params) qargs { body }`. The body is kept as its text and read again
// for each call with the parameters and qubits bound, so that a call costs what its expansion
// costs and nothing is stored per call.
struct GateDefinition {
    std::vector<std::string_view> parameters;
    std::vector<std::string_view> qubits;
    std::string_view body;        // the text between the braces
    std::size_t body_offset = 0;  // its offset in the text it comes from (program or library)
    bool library = false;         // from an include: calls are reported, not its insides
    std::uint64_t size = 0;       // operations one call adds (capped just above the budget)
};

/// The text of OpenQASM 2's "qelib1.inc": its gates as definitions over U and CX.
std::string_view qelib1_source();

// The reader: one pass over the tokens, statement by statement, into the circuit.
class Reader {
  public:
    /// `with_measurements`: whether measurements are read (into `QasmProgram::measurements`)
    /// or refused, for readers whose result is a circuit alone.
    Reader(std::string_view text, bool with_measurements);
    /// A reader whose `input float` / `input angle` declarations take their values from
    /// `inputs` (by name); `inputs` must outlive the reader.
    Reader(std::string_view text, const std::map<std::string, double, std::less<>>* inputs);
    QasmProgram read();

  private:
    Token advance();
    [[noreturn]] void fail(std::size_t offset, std::string reason) const;
    [[noreturn]] void fail(const Token& token, std::string reason) const;
    static std::string describe(const Token& token);
    // Consumes the punctuation `punct` or fails with "expected 'punct' <context>, found ...".
    void expect(std::string_view punct, std::string_view context, std::string_view hint = {});
    void statement(bool first);
    // input float name;  input angle name;  input angle[n] name;  input float[n] name;
    void input_declaration();
    void version(bool first);
    void include();
    // A register size: a decimal integer literal.
    std::uint64_t size_literal();
    static bool parse_unsigned(std::string_view literal, std::uint64_t& value);
    Token register_name();
    void add_register(const Token& name, bool quantum, bool single, std::uint64_t size);
    // qubit[n] name;  qubit name;  bit[n] name;  bit name;
    void declaration(bool quantum);
    // qreg name[n];  qreg name;  creg name[n];  creg name;
    void old_declaration(bool quantum);
    Operand operand();
    // An index into `reg`: a decimal integer literal, negative ones counting from the end.
    std::uint64_t index_literal(const Register& reg, std::string_view name);
    // Operands up to and including the ';', with an optional trailing comma. `end` receives the
    // offset of the ';'.
    std::vector<Operand> operand_list(std::size_t& end);
    void barrier();
    void gate_call();
    static std::string takes_angles(std::size_t count);
    // The parenthesised angles of a gate call, as many as the form takes.
    std::vector<double> angle_list(std::string_view name, const GateForm& form);
    std::optional<GateForm> standard_form(const Token& name) const;
    void emit(const Token& name, const GateForm& form, const GateDefinition* def,
              const std::vector<double>& angles, const std::vector<Operand>& operands);
    void emit_form(const Token& name, const GateForm& form, const std::vector<double>& angles,
                   const std::vector<std::uint64_t>& qubits);
    // Angle expressions: '+' and '-' below '*' and '/', below unary '-'; operators of one level
    // apply left to right. `depth` counts the open parentheses.
    Value expression(std::size_t depth);
    Value term(std::size_t depth);
    Value unary(std::size_t depth);
    Value primary(std::size_t depth);
    Value named_value(const Token& token, std::size_t depth);
    // The double nearest to a literal (from_chars rounds correctly).
    double literal_value(const Token& token) const;
    Value combine(const Token& op, Value a, Value b) const;
    Value power(std::size_t depth);
    Value function_call(const Token& name, std::size_t depth);

    // Gate definitions (qasm_definitions.cpp).
    void definition();
    void define_library(std::string_view source);
    // One operation onto the circuit, after the checks that apply to every operation: no qubit
    // measured before, and the expansion budget.
    void apply(const Token& at, Operation op);
    void expand(const GateDefinition& def, const Token& at, const std::vector<double>& angles,
                const std::vector<std::uint64_t>& qubits, std::size_t depth);
    void body_call(std::size_t depth);
    void add_phase(double phase);

    // Gate modifiers (qasm_modifiers.cpp).
    struct Modifier {
        Token word;
        std::int64_t count;
    };
    std::int64_t modifier_integer(const Token& modifier);
    std::vector<Operation> inverted_at(const Token& modifier, const std::vector<Operation>& ops);
    void modified_call();
    Operation controlled(const Token& name, const Operation& op, std::uint64_t control,
                         bool negated);
    // The operations of a standard gate, or of the definition `def` when it is one, with the
    // modifiers of the statement applied.
    void emit_modified(const Token& name, const GateForm& form, const GateDefinition* def,
                       const std::vector<double>& angles, const std::vector<std::uint64_t>& qubits);

    // Measurements (qasm_definitions.cpp).
    void measure_arrow();
    void measure_assignment();
    void record_measurements(const Token& at, const Operand& qubits, const Operand& bits);
    Operand bit_operand();
    // Adds an instruction under the condition being read, if any.
    void record(QasmInstruction instruction);
    // The program stops being one unitary at the statement being read; the first such statement
    // is kept, with its position, for `QasmProgram::non_unitary`.
    void mark_dynamic(std::string_view what);

    // Reset and classical control (qasm_control.cpp).
    void reset_statement();
    void conditional();
    ClassicalCondition condition();
    // One statement under a condition, or a block of them; `keyword` is the 'if' or 'else'.
    void conditioned_body(const Token& keyword);
    void conditioned_statement();
    // The integer a bit or register is compared with: a decimal literal, `true` or `false`.
    std::uint64_t compared_value();

    std::string_view text_;
    Lexer lexer_;
    Token current_;
    ZarnikGraph circuit_;
    std::unordered_map<std::string_view, Register> registers_;
    std::uint64_t total_qubits_ = 0;
    std::uint64_t broadcast_operations_ = 0;
    bool included_ = false;
    int version_ = 3;
    bool with_measurements_;
    std::uint64_t total_bits_ = 0;
    std::vector<Measurement> measurements_;
    std::unordered_set<std::uint64_t> measured_;  // qubits measured so far
    std::vector<QasmInstruction> instructions_;
    std::optional<ClassicalCondition> condition_;  // of the statement being read
    // Whether the program has a reset, a condition or a measurement that is not terminal.
    bool dynamic_ = false;
    std::string non_unitary_;          // where it stopped being one unitary, and why
    std::size_t statement_start_ = 0;  // offset of the top-level statement being read
    const std::map<std::string, double, std::less<>>* input_values_ = nullptr;
    std::unordered_map<std::string_view, double> inputs_;  // declared inputs and their values
    std::vector<std::string> input_names_;
    std::unordered_map<std::string_view, GateDefinition> definitions_;
    std::uint64_t expanded_operations_ = 0;
    // Inside an expansion: the parameters and qubit arguments by name, and whether operations
    // are only checked (a definition's body at its definition) rather than applied.
    const std::unordered_map<std::string_view, double>* parameters_ = nullptr;
    const std::unordered_map<std::string_view, std::uint64_t>* arguments_ = nullptr;
    bool dry_run_ = false;
    bool library_ = false;
    const std::vector<Modifier>* modifiers_ = nullptr;  // of the statement being read
    std::vector<Operation>* capture_ = nullptr;  // where operations go instead of the circuit
    std::uint64_t dry_size_ = 0;  // operations of the body being defined, so far         // reading
                                  // the definitions of an include
    std::size_t source_base_ = 0;  // offset of the current source within `text_`
    std::string_view program_;     // the program's text, for messages
    double global_phase_ = 0.0;
    std::size_t call_site_ = 0;  // offset of the gate call being expanded, for its errors    //
                                 // phase of OpenQASM 2's U, added once at the end
};

}  // namespace zel::qasm

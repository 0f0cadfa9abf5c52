// Gate names and statement words of the reader: what each standard-gate name reads as, and
// which words of the language it refuses and why.

#include <algorithm>
#include <array>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "zel/core/circuit.hpp"

#include "qasm_reader.hpp"

namespace zel::qasm {

// Names that read as a kind of another name: CX and cnot are cx.
struct MappedGate {
    std::string_view name;
    std::uint8_t arity;
    std::array<Step, MAX_STEPS> steps;
    std::size_t step_count;
};

constexpr std::array<MappedGate, 2> MAPPED_GATES = {{
    {"CX", 2, {{{GateKind::CX, 0, 1}}}, 1},
    {"cnot", 2, {{{GateKind::CX, 0, 1}}}, 1},
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

constexpr std::array<CheckedName, 21> CHECKED_NAMES = {{
    {"U", GateKind::U, false, true},           {"u", GateKind::U, false, false},
    {"u3", GateKind::U, true, false},          {"u2", GateKind::U2, true, false},
    {"p", GateKind::P, false, false},          {"phase", GateKind::P, false, false},
    {"u1", GateKind::P, false, false},         {"sdg", GateKind::SDG, false, false},
    {"tdg", GateKind::TDG, false, false},      {"cy", GateKind::CY, false, false},
    {"cp", GateKind::CP, false, false},        {"cphase", GateKind::CP, false, false},
    {"cu1", GateKind::CP, false, false},       {"ch", GateKind::CH, false, false},
    {"crx", GateKind::CRX, false, false},      {"cry", GateKind::CRY, false, false},
    {"crz", GateKind::CRZ, false, false},      {"cu", GateKind::CU, false, false},
    {"ccx", GateKind::CCX, false, false},      {"cswap", GateKind::CSWAP, false, false},
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

std::optional<std::string> unsupported_statement(std::string_view word) {
    const std::string name(word);
    const auto one_of = [word](std::initializer_list<std::string_view> words) {
        return std::find(words.begin(), words.end(), word) != words.end();
    };
    if (word == "reset") {
        return "'reset' is not unitary";
    }
    if (word == "delay" || word == "box") {
        return "'" + name + "' is not supported: a circuit has no timing";
    }
    if (word == "opaque") {
        return "opaque gates ('opaque') are not supported: their matrix is unknown";
    }
    if (one_of({"def", "extern", "defcal", "cal", "defcalgrammar"})) {
        return "subroutines and calibrations ('" + name + "') are not supported";
    }
    if (word == "if") {
        return "classical control ('if') is not unitary";
    }
    if (word == "else") {
        return "'else' must follow the statement or block of an 'if'";
    }
    if (one_of(
            {"for", "while", "switch", "case", "default", "break", "continue", "end", "return"})) {
        return "control flow ('" + name + "') is not supported";
    }
    if (word == "let") {
        return "aliases ('let') are not supported";
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

std::optional<std::string> reserved_reason(std::string_view word) {
    if (is_constant_name(word)) {
        return "it is a built-in constant";
    }
    if (gate_form(word)) {
        return "it is the name of a gate";
    }
    static constexpr std::array<std::string_view, 9> STATEMENT_WORDS = {
        "OPENQASM", "include", "qubit", "bit", "qreg", "creg", "barrier", "gate", "measure"};
    if (unsupported_statement(word) || is_modifier(word) ||
        std::find(STATEMENT_WORDS.begin(), STATEMENT_WORDS.end(), word) != STATEMENT_WORDS.end()) {
        return "it is a keyword";
    }
    return std::nullopt;
}

}  // namespace zel::qasm

// Gate modifiers of OpenQASM 3 on standard gates: `ctrl @`, `ctrl(n) @`, `negctrl @`, `inv @`
// and `pow(k) @` for integer k. The gate's operations are formed first; the modifiers then apply
// from the innermost (nearest the gate) outwards, each mapping operations onto kinds of the
// gate table: a control turns every operation into its controlled kind (GPHASE into P on the
// control), or, for a kind without one, into a UNITARY holding the controlled matrix (up to
// MAX_UNITARY_QUBITS qubits in all), a negated control adds X on the control before and after
// (or, on one operation without a controlled kind, goes into the UNITARY's matrix), inv
// reverses the list and inverts each operation, pow repeats it (or, for a rotation, multiplies its
// angle).

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numbers>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"

#include "qasm_reader.hpp"

namespace zel::qasm {

bool is_modifier(std::string_view word) {
    return word == "ctrl" || word == "negctrl" || word == "inv" || word == "pow";
}

namespace {

std::vector<Operation> inverted(const std::vector<Operation>& ops) {
    std::vector<Operation> result;
    result.reserve(ops.size());
    for (std::size_t k = ops.size(); k-- > 0;) {
        Operation op = inverse(ops[k]);
        // Negating a NaN flips its sign bit; every NaN angle reads as the one quiet NaN.
        for (double& param : op.params) {
            param = std::isnan(param) ? std::numeric_limits<double>::quiet_NaN() : param;
        }
        if (!gate_info(op.gate.kind).has_angle) {
            op.gate.angle = 0.0;  // negated, the unused angle would be -0.0
        } else if (std::isnan(op.gate.angle)) {
            op.gate.angle = std::numeric_limits<double>::quiet_NaN();
        }
        result.push_back(std::move(op));
    }
    return result;
}

// Whether the operation is exp(-i theta G) for its one parameter theta and a fixed generator G,
// so that its k-th power is the same kind at k theta.
bool is_one_parameter_group(const Operation& op) {
    const GateInfo& info = gate_info(op.gate.kind);
    return info.param_count == 1 && info.generator != GeneratorForm::None && op.params.size() == 1;
}

Operation scaled(Operation op, double times) {
    op.params[0] *= times;
    if (gate_info(op.gate.kind).has_angle) {
        op.gate.angle = op.params[0];
    }
    return op;
}

}  // namespace

// The integer in `pow(k)` or `ctrl(n)`.
std::int64_t Reader::modifier_integer(const Token& modifier) {
    expect("(", "after " + quoted(modifier.text));
    const Token start = current_;
    const Value value = expression(0);
    if (!value.integer) {
        fail(start, quoted(modifier.text) + " takes an integer, found " + describe(start));
    }
    // Integers are held as doubles: beyond 2^62 in size they are refused before conversion.
    constexpr double LIMIT = 4611686018427387904.0;  // 2^62
    if (!(std::fabs(value.number) < LIMIT)) {
        fail(start, "the argument of " + quoted(modifier.text) + " is too large");
    }
    expect(")", "after the argument of " + quoted(modifier.text));
    return static_cast<std::int64_t>(value.number);
}

// ctrl @ negctrl(2) @ inv @ pow(3) @ gate(angles) controls..., targets...;
void Reader::modified_call() {
    std::vector<Modifier> modifiers;
    std::uint64_t controls = 0;
    call_site_ = current_.offset;
    if (version_ == 2) {
        fail(current_, "gate modifiers ('" + std::string(current_.text) +
                           " @') are OpenQASM 3: OpenQASM 2.0 has none");
    }
    while (current_.kind == TokenKind::Identifier && is_modifier(current_.text)) {
        const Token word = advance();
        Modifier modifier{word, 1};
        if (word.text == "pow") {
            modifier.count = modifier_integer(word);
        } else if (word.text != "inv" && current_.is("(")) {
            modifier.count = modifier_integer(word);
            if (modifier.count < 1 ||
                modifier.count > static_cast<std::int64_t>(MAX_UNITARY_QUBITS)) {
                fail(word, quoted(word.text) + " takes 1 to " + std::to_string(MAX_UNITARY_QUBITS) +
                               " controls, found " + std::to_string(modifier.count));
            }
        }
        if (word.text == "ctrl" || word.text == "negctrl") {
            controls += static_cast<std::uint64_t>(modifier.count);
        }
        expect("@", "after the modifier " + quoted(word.text));
        modifiers.push_back(modifier);
    }
    const Token name = current_;
    if (name.kind != TokenKind::Identifier) {
        fail(name, "expected a gate after the modifiers, found " + describe(name));
    }
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
    advance();
    std::vector<double> angles;
    if (current_.is("(")) {
        angles = angle_list(name.text, *form);
    } else if (form->param_count > 0) {
        fail(current_,
             quoted(name.text) + takes_angles(form->param_count) + ", found " + describe(current_));
    }
    std::size_t end = 0;
    const std::uint64_t arity = form->arity + controls;
    std::vector<Operand> operands;
    if (arity == 0 && current_.is(";")) {
        end = advance().offset;  // inv @ gphase(a);
    } else {
        operands = operand_list(end);
    }
    if (operands.size() != arity) {
        fail(operands.size() > arity ? operands[arity].offset : end,
             "the modified " + quoted(name.text) + " acts on " + std::to_string(arity) +
                 " qubits, found " + std::to_string(operands.size()));
    }
    modifiers_ = &modifiers;
    emit(name, *form, def, angles, operands);
    modifiers_ = nullptr;
}

namespace {

// The operation under one more control as a kind of the gate table, when the kind has one.
std::optional<Operation> controlled_kind(const Operation& op, std::uint64_t control) {
    const std::vector<std::uint64_t>& q = op.qubits;
    const auto one = [&](GateKind kind, std::vector<double> params) {
        return make_operation(kind, {control, q[0]}, std::move(params));
    };
    switch (op.gate.kind) {
        case GateKind::I:
            return op;
        case GateKind::X:
            return one(GateKind::CX, {});
        case GateKind::Y:
            return one(GateKind::CY, {});
        case GateKind::Z:
            return one(GateKind::CZ, {});
        case GateKind::H:
            return one(GateKind::CH, {});
        case GateKind::S:
            return one(GateKind::CP, {std::numbers::pi / 2});
        case GateKind::SDG:
            return one(GateKind::CP, {-std::numbers::pi / 2});
        case GateKind::T:
            return one(GateKind::CP, {std::numbers::pi / 4});
        case GateKind::TDG:
            return one(GateKind::CP, {-std::numbers::pi / 4});
        case GateKind::P:
            return one(GateKind::CP, op.params);
        case GateKind::RX:
            return one(GateKind::CRX, op.params);
        case GateKind::RY:
            return one(GateKind::CRY, op.params);
        case GateKind::RZ:
            return one(GateKind::CRZ, op.params);
        case GateKind::U:
            return one(GateKind::CU, {op.params[0], op.params[1], op.params[2], 0.0});
        case GateKind::GPHASE:
            return make_operation(GateKind::P, {control}, op.params);
        case GateKind::CX:
            return make_operation(GateKind::CCX, {control, q[0], q[1]});
        case GateKind::SWAP:
            return make_operation(GateKind::CSWAP, {control, q[0], q[1]});
        default:
            break;
    }
    return std::nullopt;
}

}  // namespace

// `op` under `control`, active when the control is set (clear when `negated`): its controlled
// kind when it has one and the control is not negated.
Operation Reader::controlled(const Token& name, const Operation& op, std::uint64_t control,
                             bool negated) {
    if (!negated) {
        if (std::optional<Operation> kind = controlled_kind(op, control)) {
            return *std::move(kind);
        }
    }
    const std::vector<std::uint64_t>& q = op.qubits;
    // One UNITARY on the control and the operation's qubits, whose matrix is the operation's on
    // the block where the control (local bit 0) is active.
    const std::string refused = std::string(negated ? "'negctrl @'" : "'ctrl @'") +
                                " cannot be applied to " + quoted(name.text) + ": ";
    std::vector<std::complex<double>> inner;
    try {
        inner = operation_matrix(op);  // refuses non-finite parameters
    } catch (const InvalidArgument& error) {
        qasm::fail_at(program_, call_site_, refused + error.what());
    }
    std::size_t k = 0;
    while ((std::size_t{1} << (2 * k)) < inner.size()) {
        ++k;
    }
    if (k + 1 > MAX_UNITARY_QUBITS) {
        qasm::fail_at(program_, call_site_,
                      refused + "the controlled gate acts on " + std::to_string(k + 1) +
                          " qubits, more than the " + std::to_string(MAX_UNITARY_QUBITS) +
                          " a unitary may have");
    }
    const std::size_t d = std::size_t{1} << k;
    const std::size_t active = negated ? 0 : 1;
    std::vector<std::complex<double>> matrix(4 * d * d);
    for (std::size_t r = 0; r < 2 * d; ++r) {
        for (std::size_t c = 0; c < 2 * d; ++c) {
            if ((r & 1U) == active && (c & 1U) == active) {
                matrix[r * 2 * d + c] = inner[(r >> 1) * d + (c >> 1)];
            } else if (r == c) {
                matrix[r * 2 * d + c] = 1.0;
            }
        }
    }
    std::vector<std::uint64_t> qubits{control};
    qubits.insert(qubits.end(), q.begin(), q.begin() + static_cast<std::ptrdiff_t>(k));
    return unitary(std::move(qubits), std::move(matrix));
}

// The inverse of a gate's operations; an operation that has none (a non-finite angle of a kind
// that refuses one) is an error at the modifier that asked for it.
std::vector<Operation> Reader::inverted_at(const Token& modifier,
                                           const std::vector<Operation>& ops) {
    try {
        return inverted(ops);
    } catch (const InvalidArgument& error) {
        fail(modifier, quoted(modifier.text) + " cannot invert this gate: " + error.what());
    }
}

void Reader::emit_modified(const Token& name, const GateForm& form, const GateDefinition* def,
                           const std::vector<double>& angles,
                           const std::vector<std::uint64_t>& qubits) {
    std::uint64_t controls = 0;
    for (const Modifier& modifier : *modifiers_) {
        const bool control = modifier.word.text == "ctrl" || modifier.word.text == "negctrl";
        controls += control ? static_cast<std::uint64_t>(modifier.count) : 0;
    }
    std::vector<Operation> ops;
    const std::vector<std::uint64_t> targets(qubits.begin() + static_cast<std::ptrdiff_t>(controls),
                                             qubits.end());
    capture_ = &ops;
    if (def != nullptr) {
        // A definition's operations, formed by expanding it, take the modifiers like a
        // standard gate's.
        if (def->size > QASM_MAX_EXPANDED_OPERATIONS - expanded_operations_) {
            fail(name, "gate definitions would expand to more than " +
                           std::to_string(QASM_MAX_EXPANDED_OPERATIONS) +
                           " operations in one program");
        }
        expanded_operations_ += def->size;
        expand(*def, name, angles, targets, 0);
    } else {
        emit_form(name, form, angles, targets);
    }
    capture_ = nullptr;
    std::uint64_t next_control = controls;
    for (std::size_t m = modifiers_->size(); m-- > 0;) {
        const Modifier& modifier = (*modifiers_)[m];
        const std::string_view word = modifier.word.text;
        if (word == "inv") {
            ops = inverted_at(modifier.word, ops);
        } else if (word == "pow") {
            const std::vector<Operation> once =
                modifier.count < 0 ? inverted_at(modifier.word, ops) : ops;
            const std::uint64_t times = modifier.count < 0
                                            ? 0 - static_cast<std::uint64_t>(modifier.count)
                                            : modifier.count;
            if (once.size() == 1 && times > 0 && is_one_parameter_group(once[0])) {
                // exp(-i theta G)^k = exp(-i k theta G): one operation, whatever k.
                ops = {scaled(once[0], static_cast<double>(times))};
                continue;
            }
            if (!once.empty() && times > QASM_MAX_EXPANDED_OPERATIONS / once.size()) {
                fail(modifier.word, "'pow' would make more than " +
                                        std::to_string(QASM_MAX_EXPANDED_OPERATIONS) +
                                        " operations");
            }
            ops.clear();
            for (std::uint64_t k = 0; k < times; ++k) {
                ops.insert(ops.end(), once.begin(), once.end());
            }
        } else {
            for (std::int64_t k = 0; k < modifier.count; ++k) {
                const std::uint64_t control = qubits[--next_control];
                std::vector<Operation> result;
                if (word == "negctrl" && ops.size() == 1 && !controlled_kind(ops[0], control)) {
                    // Without a controlled kind the negation goes into the matrix: X around it
                    // would itself be controlled by any further control.
                    ops = {controlled(name, ops[0], control, true)};
                    continue;
                }
                if (word == "negctrl") {
                    result.push_back(make_operation(GateKind::X, {control}));
                }
                for (const Operation& op : ops) {
                    result.push_back(controlled(name, op, control, false));
                }
                if (word == "negctrl") {
                    result.push_back(make_operation(GateKind::X, {control}));
                }
                ops = std::move(result);
            }
        }
    }
    const std::size_t saved = call_site_;
    for (Operation& op : ops) {
        // Counted like an expansion: pow can multiply a statement.
        apply(name, std::move(op));
    }
    call_site_ = saved;
}

}  // namespace zel::qasm

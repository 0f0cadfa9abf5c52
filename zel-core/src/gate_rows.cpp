// What the gate table's rows say about one operation: its matrix, inverse and generator, and
// the functions that build operations of the general kinds.

#include "gate_rows.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <utility>

#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/state.hpp"

namespace zel {
namespace {

using detail::plural;
using detail::refuse;

// A matrix on k qubits holds 4^k entries: refused beyond MAX_MATRIX_QUBITS, before anything is
// allocated (a Pauli string or an excitation's parity qubits can span the whole register).
void check_matrix_width(const GateInfo& info, std::size_t k) {
    if (k > MAX_MATRIX_QUBITS) {
        refuse(info, "a matrix on " + std::to_string(k) + " qubits has 4^" + std::to_string(k) +
                         " entries; matrices are formed for at most " +
                         std::to_string(MAX_MATRIX_QUBITS) + " qubits");
    }
}
using Entry = std::complex<double>;

// The Pauli letters of the targets: the row's fixed string, or the payload's.
std::string_view pauli_letters(const Operation& op) {
    const GateInfo& info = gate_info(op.gate.kind);
    return info.payload == PayloadKind::PauliString ? std::string_view(op.payload.pauli)
                                                    : info.pauli;
}

// The rotation angle: params[0], or for RX, RY and RZ without parameters the gate's angle.
double rotation_angle(const Operation& op) {
    return op.params.empty() ? op.gate.angle : op.params[0];
}

// cos(theta/2) I - i sin(theta/2) P on the letters' qubits, row-major.
void pauli_rotation_matrix(std::string_view letters, double theta, Entry* out) {
    const std::size_t d = std::size_t{1} << letters.size();
    const detail::PauliMasks masks = detail::pauli_masks(letters);
    const double c = std::cos(theta / 2);
    const double s = std::sin(theta / 2);
    std::fill(out, out + d * d, Entry(0.0, 0.0));
    for (std::size_t col = 0; col < d; ++col) {
        out[col * d + col] += c;
        out[(col ^ masks.x) * d + col] += Entry(0.0, -s) * detail::pauli_phase(masks, col);
    }
}

// The targets' matrix (2^t x 2^t) of an operation whose shape has been checked.
std::vector<Entry> target_matrix(const Operation& op, std::size_t targets) {
    const GateInfo& info = gate_info(op.gate.kind);
    const std::size_t d = std::size_t{1} << targets;
    std::vector<Entry> m(d * d);
    if (info.payload == PayloadKind::Matrix) {
        m = op.payload.matrix;
    } else if (info.primitive == Primitive::Excitation) {
        m = detail::excitation_matrix(op, true);
    } else if (info.target_matrix != nullptr) {
        info.target_matrix(op.params, m.data());
    } else {
        pauli_rotation_matrix(pauli_letters(op), rotation_angle(op), m.data());
    }
    return m;
}

// `target` (2^t x 2^t) under `controls` leading controls: the identity except on the indexes
// whose control bits are all set.
std::vector<Entry> under_controls(const std::vector<Entry>& target, std::size_t controls,
                                  std::size_t targets) {
    const std::size_t k = controls + targets;
    const std::size_t d = std::size_t{1} << k;
    const std::size_t dt = std::size_t{1} << targets;
    const std::size_t all_set = (std::size_t{1} << controls) - 1;
    std::vector<Entry> m(d * d, Entry(0.0, 0.0));
    for (std::size_t r = 0; r < d; ++r) {
        if ((r & all_set) != all_set) {
            m[r * d + r] = 1.0;
            continue;
        }
        for (std::size_t tc = 0; tc < dt; ++tc) {
            m[r * d + ((tc << controls) | all_set)] = target[(r >> controls) * dt + tc];
        }
    }
    return m;
}

}  // namespace

namespace detail {

PauliMasks pauli_masks(std::string_view letters) noexcept {
    PauliMasks masks;
    for (std::size_t j = 0; j < letters.size(); ++j) {
        const std::uint64_t bit = std::uint64_t{1} << j;
        const char p = letters[j];
        if (p == 'X' || p == 'Y') {
            masks.x |= bit;
        }
        if (p == 'Y' || p == 'Z') {
            masks.z |= bit;
        }
        if (p == 'Y') {
            ++masks.y_count;
        }
    }
    return masks;
}

std::complex<double> pauli_phase(const PauliMasks& masks, std::uint64_t index) noexcept {
    // P = i^(number of Y) X^x Z^z, since Y = i X Z on each qubit: P|k> = phase(k) |k ^ x>.
    static constexpr std::complex<double> POWERS[4] = {
        {1.0, 0.0}, {0.0, 1.0}, {-1.0, 0.0}, {0.0, -1.0}};
    const bool odd = (std::popcount(index & masks.z) & 1) != 0;
    const std::complex<double> phase = POWERS[masks.y_count % 4];
    return odd ? -phase : phase;
}

std::size_t operation_qubit_count(const Operation& op) noexcept {
    const GateInfo& info = gate_info(op.gate.kind);
    return info.variable_qubits ? op.qubits.size() : info.arity;
}

}  // namespace detail

Operation make_operation(GateKind kind, std::vector<std::uint64_t> qubits,
                         std::vector<double> params) {
    Operation op{GateType::of(kind), std::move(qubits), std::move(params), {}};
    sync_rotation_angle(op);
    return op;
}

Operation pauli_rotation(std::string pauli, std::vector<std::uint64_t> qubits, double theta) {
    Operation op = make_operation(GateKind::PAULI_ROTATION, std::move(qubits), {theta});
    op.payload.pauli = std::move(pauli);
    return op;
}

Operation unitary(std::vector<std::uint64_t> qubits, std::vector<std::complex<double>> matrix) {
    Operation op = make_operation(GateKind::UNITARY, std::move(qubits));
    op.payload.matrix = std::move(matrix);
    return op;
}

std::vector<std::complex<double>> operation_matrix(const Operation& op) {
    detail::check_operation_form(op);
    const GateInfo& info = gate_info(op.gate.kind);
    const std::size_t k = detail::operation_qubit_count(op);
    check_matrix_width(info, k);
    const std::size_t targets = k - info.controls;
    return under_controls(target_matrix(op, targets), info.controls, targets);
}

Operation inverse(const Operation& op) {
    detail::check_operation_form(op);
    const GateInfo& info = gate_info(op.gate.kind);
    Operation inv = op;
    inv.gate = GateType::of(info.inverse_kind);
    if (inv.gate.kind != op.gate.kind && !info.variable_qubits && op.qubits.size() > info.arity) {
        inv.qubits.resize(info.arity);
    }
    std::vector<double>& p = inv.params;
    switch (info.inverse_rule) {
        case InverseRule::Same:
            break;
        case InverseRule::Negated:
            inv.gate.angle = -op.gate.angle;
            for (double& value : p) {
                value = -value;
            }
            break;
        case InverseRule::Reversed:
            for (double& value : p) {
                value = -value;
            }
            std::swap(p[1], p[2]);
            break;
        case InverseRule::FromU2:
            p = {-std::numbers::pi / 2, -op.params[1], -op.params[0]};
            break;
        case InverseRule::Adjoint: {
            const std::size_t d = std::size_t{1} << op.qubits.size();
            for (std::size_t r = 0; r < d; ++r) {
                for (std::size_t c = 0; c < d; ++c) {
                    inv.payload.matrix[r * d + c] = std::conj(op.payload.matrix[c * d + r]);
                }
            }
            break;
        }
    }
    sync_rotation_angle(inv);
    return inv;
}

std::vector<std::complex<double>> generator_matrix(const Operation& op) {
    detail::check_operation_form(op);
    const GateInfo& info = gate_info(op.gate.kind);
    const std::size_t k = detail::operation_qubit_count(op);
    check_matrix_width(info, k);
    const std::size_t d = std::size_t{1} << k;
    switch (info.generator) {
        case GeneratorForm::None:
            break;
        case GeneratorForm::HalfPauli: {
            const std::size_t targets = k - info.controls;
            const std::size_t dt = std::size_t{1} << targets;
            const detail::PauliMasks masks = detail::pauli_masks(pauli_letters(op));
            std::vector<Entry> half(dt * dt, Entry(0.0, 0.0));
            for (std::size_t col = 0; col < dt; ++col) {
                half[(col ^ masks.x) * dt + col] = 0.5 * detail::pauli_phase(masks, col);
            }
            std::vector<Entry> g = under_controls(half, info.controls, targets);
            // under_controls puts ones on the diagonal outside the controlled block.
            const std::size_t all_set = (std::size_t{1} << info.controls) - 1;
            for (std::size_t r = 0; r < d; ++r) {
                if ((r & all_set) != all_set) {
                    g[r * d + r] = 0.0;
                }
            }
            return g;
        }
        case GeneratorForm::MinusSetBits: {
            std::vector<Entry> g(d * d, Entry(0.0, 0.0));
            g[d * d - 1] = -1.0;
            return g;
        }
        case GeneratorForm::Excitation:
            return detail::excitation_matrix(op, false);
    }
    refuse(info, "has no generator: it takes " + plural(info.param_count, "parameter") +
                     (info.param_count == 1 ? " that is not a rotation angle" : ""));
}

}  // namespace zel

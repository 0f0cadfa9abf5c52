// What the gate table's rows say about one operation: its matrix, inverse and generator, and
// the strict checks of the kinds from U on.

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
#include "zel/core/float_text.hpp"
#include "zel/core/state.hpp"

namespace zel {
namespace {

using Entry = std::complex<double>;

// How far M^dagger M may stray from the identity, entry by entry, for a UNITARY's matrix.
constexpr double UNITARITY_TOLERANCE = 1e-12;

[[noreturn]] void refuse(const GateInfo& info, const std::string& reason) {
    throw InvalidArgument(std::string(info.name) + ": " + reason);
}

std::string plural(std::size_t count, const char* word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

std::vector<Entry> excitation_matrix(const Operation& op, bool rotation);

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
        m = excitation_matrix(op, true);
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

void check_unitary(const GateInfo& info, const std::vector<Entry>& m, std::size_t d) {
    for (std::size_t r = 0; r < d; ++r) {
        for (std::size_t c = 0; c < d; ++c) {
            Entry sum = 0.0;
            for (std::size_t j = 0; j < d; ++j) {
                sum += std::conj(m[j * d + r]) * m[j * d + c];
            }
            const double off = std::abs(sum - Entry(r == c ? 1.0 : 0.0, 0.0));
            if (!(off <= UNITARITY_TOLERANCE)) {
                refuse(info, "the matrix is not unitary: entry (" + std::to_string(r) + ", " +
                                 std::to_string(c) + ") of M^dagger M is off by " +
                                 format_float_debug(off) + ", more than 1e-12");
            }
        }
    }
}

// Whether T = a^dagger_to[0] (a^dagger_to[1] a_from[1]) a_from[0] of `orbitals` (from, then to;
// `half` of each) takes the state with only its emptied orbitals occupied to the state with only
// its filled ones occupied with the sign -1. Each ladder operator on mode m, applied right to
// left, contributes the parity of the occupied orbitals below m; parity qubits are not orbitals
// and contribute through `ExcitationMasks::parity`.
bool excitation_sign_negative(std::span<const std::uint64_t> orbitals, std::size_t half) {
    std::vector<std::uint64_t> occupied(orbitals.begin(),
                                        orbitals.begin() + static_cast<std::ptrdiff_t>(half));
    bool negative = false;
    const auto pass = [&](std::uint64_t m) {
        for (const std::uint64_t q : occupied) {
            negative = q < m ? !negative : negative;
        }
    };
    for (std::size_t j = 0; j < half; ++j) {
        occupied.erase(std::find(occupied.begin(), occupied.end(), orbitals[j]));
        pass(orbitals[j]);
    }
    for (std::size_t j = half; j-- > 0;) {
        pass(orbitals[half + j]);
        occupied.push_back(orbitals[half + j]);
    }
    return negative;
}

// The Jordan–Wigner parity qubits of distinct orbitals below 64: those with an odd number of
// orbitals above them, ascending (between the first and second lowest, and between the third
// and fourth).
std::vector<std::uint64_t> parity_qubits_of(std::span<const std::uint64_t> orbitals) {
    std::vector<std::uint64_t> sorted(orbitals.begin(), orbitals.end());
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::uint64_t> out;
    for (std::size_t j = 0; j + 1 < sorted.size(); j += 2) {
        for (std::uint64_t q = sorted[j] + 1; q < sorted[j + 1]; ++q) {
            out.push_back(q);
        }
    }
    return out;
}

std::string list_text(std::span<const std::uint64_t> values) {
    std::string text;
    for (std::size_t j = 0; j < values.size(); ++j) {
        text += j == 0 ? "" : ", ";
        text += std::to_string(values[j]);
    }
    return text.empty() ? "none" : text;
}

// The form of an excitation kind: its orbitals distinct and below 64, then (fermionic kinds)
// exactly their parity qubits in ascending order, nothing more.
void check_excitation_form(const GateInfo& info, const Operation& op) {
    const std::size_t orbitals = info.orbitals;
    if (!info.parity_qubits && op.qubits.size() != orbitals) {
        refuse(info,
               "takes " + plural(orbitals, "qubit") + ", got " + std::to_string(op.qubits.size()));
    }
    if (op.qubits.size() < orbitals) {
        refuse(info, "takes " + plural(orbitals, "orbital") + " and their parity qubits, got " +
                         plural(op.qubits.size(), "qubit"));
    }
    const std::span<const std::uint64_t> orbital_list(op.qubits.data(), orbitals);
    for (std::size_t j = 0; j < orbitals; ++j) {
        if (orbital_list[j] >= 64) {
            refuse(info, "orbital " + std::to_string(orbital_list[j]) + " is not below 64");
        }
        for (std::size_t e = 0; e < j; ++e) {
            if (orbital_list[e] == orbital_list[j]) {
                refuse(info, "orbital " + std::to_string(orbital_list[j]) + " appears twice");
            }
        }
    }
    if (!info.parity_qubits) {
        return;
    }
    const std::vector<std::uint64_t> expected = parity_qubits_of(orbital_list);
    const std::span<const std::uint64_t> given(op.qubits.data() + orbitals,
                                               op.qubits.size() - orbitals);
    if (!std::equal(given.begin(), given.end(), expected.begin(), expected.end())) {
        refuse(info, "the qubits after orbitals " + list_text(orbital_list) +
                         " must be their parity qubits " + list_text(expected) + ", got " +
                         list_text(given));
    }
}

// cos(theta) on the diagonal of the amplitudes the excitation changes, +-sin(theta) between each
// pair (`rotation`), or the generator i (T - T^dagger) (`!rotation`); on the operation's qubits.
std::vector<Entry> excitation_matrix(const Operation& op, bool rotation) {
    const detail::ExcitationMasks masks = detail::excitation_masks(op, true);
    const std::size_t d = std::size_t{1} << op.qubits.size();
    std::vector<Entry> m(d * d, Entry(0.0, 0.0));
    if (rotation) {
        for (std::size_t j = 0; j < d; ++j) {
            m[j * d + j] = 1.0;
        }
    }
    const double c = std::cos(op.params[0]);
    const double s = std::sin(op.params[0]);
    const std::uint64_t both = masks.from | masks.to;
    for (std::uint64_t a = 0; a < d; ++a) {
        if ((a & both) != masks.from) {
            continue;
        }
        const std::uint64_t b = a ^ both;
        const double sign =
            masks.negative != ((std::popcount(a & masks.parity) & 1) != 0) ? -1.0 : 1.0;
        if (rotation) {
            m[a * d + a] = c;
            m[b * d + b] = c;
            m[b * d + a] = sign * s;
            m[a * d + b] = -sign * s;
        } else {
            m[b * d + a] = Entry(0.0, sign);
            m[a * d + b] = Entry(0.0, -sign);
        }
    }
    return m;
}

}  // namespace

namespace detail {

ExcitationMasks excitation_masks(const Operation& op, bool local) noexcept {
    const GateInfo& info = gate_info(op.gate.kind);
    const std::size_t half = info.orbitals / 2;
    ExcitationMasks masks;
    for (std::size_t j = 0; j < op.qubits.size(); ++j) {
        const std::uint64_t bit = std::uint64_t{1} << (local ? j : op.qubits[j]);
        if (j < half) {
            masks.from |= bit;
        } else if (j < info.orbitals) {
            masks.to |= bit;
        } else {
            masks.parity |= bit;
        }
    }
    masks.negative =
        info.parity_qubits && excitation_sign_negative({op.qubits.data(), info.orbitals}, half);
    return masks;
}

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

void check_operation_form(const Operation& op) {
    check_kind(op.gate.kind);
    const GateInfo& info = gate_info(op.gate.kind);
    if (info.shape != GateShape::Checked) {
        return;
    }
    const std::size_t k = operation_qubit_count(op);
    if (info.orbitals != 0) {
        check_excitation_form(info, op);
    } else if (info.variable_qubits) {
        const std::size_t most = info.payload == PayloadKind::Matrix ? MAX_UNITARY_QUBITS : 64;
        if (k == 0 || k > most) {
            refuse(info,
                   "acts on 1 to " + std::to_string(most) + " qubits, got " + std::to_string(k));
        }
    } else if (op.qubits.size() != k) {
        refuse(info, "takes " + plural(k, "qubit") + ", got " + std::to_string(op.qubits.size()));
    }
    if (op.params.size() != info.param_count) {
        refuse(info, "takes " + plural(info.param_count, "parameter") + ", got " +
                         std::to_string(op.params.size()));
    }
    for (std::size_t j = 0; j < op.params.size(); ++j) {
        if (!std::isfinite(op.params[j])) {
            refuse(info,
                   "parameter " + std::to_string(j) + " is " + format_float_debug(op.params[j]));
        }
    }
    if (info.payload == PayloadKind::PauliString) {
        if (op.payload.pauli.size() != k) {
            refuse(info, "the Pauli string has " + plural(op.payload.pauli.size(), "letter") +
                             " for " + plural(k, "qubit"));
        }
        for (std::size_t j = 0; j < k; ++j) {
            const char p = op.payload.pauli[j];
            if (p != 'I' && p != 'X' && p != 'Y' && p != 'Z') {
                refuse(info, "letter " + std::to_string(j) +
                                 " of the Pauli string is not one of I, X, Y, Z");
            }
        }
    }
    if (info.payload == PayloadKind::Matrix) {
        const std::size_t d = std::size_t{1} << k;
        if (op.payload.matrix.size() != d * d) {
            refuse(info, "a matrix on " + plural(k, "qubit") + " has " + std::to_string(d * d) +
                             " entries, got " + std::to_string(op.payload.matrix.size()));
        }
        check_unitary(info, op.payload.matrix, d);
    }
}

void check_qubit_list(std::uint64_t num_qubits, GateKind kind,
                      std::span<const std::uint64_t> qubits) {
    const GateInfo& info = gate_info(kind);
    if (info.variable_qubits) {
        if (qubits.empty()) {
            refuse(info, "acts on at least one qubit, got 0");
        }
    } else if (qubits.size() != info.arity) {
        refuse(info,
               "takes " + plural(info.arity, "qubit") + ", got " + std::to_string(qubits.size()));
    }
    for (std::size_t j = 0; j < qubits.size(); ++j) {
        if (qubits[j] >= num_qubits) {
            refuse(info, "qubit " + std::to_string(qubits[j]) + " is not below the register's " +
                             plural(num_qubits, "qubit"));
        }
        for (std::size_t e = 0; e < j; ++e) {
            if (qubits[e] == qubits[j]) {
                refuse(info, "qubit " + std::to_string(qubits[j]) + " appears twice");
            }
        }
    }
}

}  // namespace detail

void check_operation(std::uint64_t num_qubits, const Operation& op) {
    check_kind(op.gate.kind);
    if (gate_info(op.gate.kind).shape != GateShape::Checked) {
        check_gate(num_qubits, op.gate, op.qubits);
        return;
    }
    detail::check_qubit_list(num_qubits, op.gate.kind, op.qubits);
    detail::check_operation_form(op);
}

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

std::vector<std::uint64_t> excitation_parity_qubits(std::span<const std::uint64_t> orbitals) {
    for (std::size_t j = 0; j < orbitals.size(); ++j) {
        if (orbitals[j] >= 64) {
            throw InvalidArgument("excitation: orbital " + std::to_string(orbitals[j]) +
                                  " is not below 64");
        }
        if (std::find(orbitals.begin(), orbitals.begin() + static_cast<std::ptrdiff_t>(j),
                      orbitals[j]) != orbitals.begin() + static_cast<std::ptrdiff_t>(j)) {
            throw InvalidArgument("excitation: orbital " + std::to_string(orbitals[j]) +
                                  " appears twice");
        }
    }
    return parity_qubits_of(orbitals);
}

namespace {

void check_orbital_counts(std::span<const std::uint64_t> from, std::span<const std::uint64_t> to) {
    if (from.empty() || from.size() > 2 || to.size() != from.size()) {
        throw InvalidArgument("excitation: expected 1 or 2 orbitals in both 'from' and 'to', got " +
                              std::to_string(from.size()) + " and " + std::to_string(to.size()));
    }
}

Operation excitation(bool fermionic, std::span<const std::uint64_t> from,
                     std::span<const std::uint64_t> to, double theta) {
    check_orbital_counts(from, to);
    const bool single = from.size() == 1;
    std::vector<std::uint64_t> qubits(from.begin(), from.end());
    qubits.insert(qubits.end(), to.begin(), to.end());
    const std::vector<std::uint64_t> parity = excitation_parity_qubits(qubits);
    if (fermionic) {
        qubits.insert(qubits.end(), parity.begin(), parity.end());
    }
    const GateKind kind = fermionic
                              ? (single ? GateKind::FERMIONIC_SINGLE : GateKind::FERMIONIC_DOUBLE)
                              : (single ? GateKind::QUBIT_SINGLE : GateKind::QUBIT_DOUBLE);
    return make_operation(kind, std::move(qubits), {theta});
}

}  // namespace

int excitation_sign(std::span<const std::uint64_t> from, std::span<const std::uint64_t> to) {
    check_orbital_counts(from, to);
    std::vector<std::uint64_t> orbitals(from.begin(), from.end());
    orbitals.insert(orbitals.end(), to.begin(), to.end());
    (void)excitation_parity_qubits(orbitals);
    return excitation_sign_negative(orbitals, from.size()) ? -1 : 1;
}

Operation fermionic_excitation(std::span<const std::uint64_t> from,
                               std::span<const std::uint64_t> to, double theta) {
    return excitation(true, from, to, theta);
}

Operation qubit_excitation(std::span<const std::uint64_t> from, std::span<const std::uint64_t> to,
                           double theta) {
    return excitation(false, from, to, theta);
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
            return excitation_matrix(op, false);
    }
    refuse(info, "has no generator: it takes " + plural(info.param_count, "parameter") +
                     (info.param_count == 1 ? " that is not a rotation angle" : ""));
}

}  // namespace zel

#pragma once

/// \file
/// The gate kinds and the gate table: one row per kind holding everything that varies by kind
/// (name and OpenQASM spelling, qubits, parameters, the matrix as a function of the parameters,
/// the inverse, the generator, the primitive it runs on and its out-of-range rules). A row's
/// matrices act on the operation's own qubits: local bit j of an index is the operation's j-th
/// qubit, so `qubits[0]` is the least significant. Controls come first, then targets.

#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <span>
#include <string_view>

namespace zel {

/// The gate kinds. The first fourteen (I to SWAP, 0 to 13) keep their numbers and their lenient
/// out-of-range rules; the kinds from U on validate strictly.
enum class GateKind : std::uint64_t {
    I = 0,
    X = 1,
    Y = 2,
    Z = 3,
    H = 4,
    S = 5,
    SX = 6,
    T = 7,
    RX = 8,
    RY = 9,
    RZ = 10,
    CX = 11,
    CZ = 12,
    SWAP = 13,
    U = 14,      ///< U(theta, phi, lambda), the general one-qubit gate
    U2 = 15,     ///< u2(phi, lambda) = U(pi/2, phi, lambda)
    P = 16,      ///< phase: diag(1, e^(i lambda))
    SDG = 17,    ///< S^dagger
    TDG = 18,    ///< T^dagger
    SXDG = 19,   ///< SX^dagger
    CY = 20,     ///< controlled Y (control, target)
    CH = 21,     ///< controlled H
    CP = 22,     ///< controlled phase, diag(1, 1, 1, e^(i lambda))
    CRX = 23,    ///< controlled RX
    CRY = 24,    ///< controlled RY
    CRZ = 25,    ///< controlled RZ
    CU = 26,     ///< controlled e^(i gamma) U(theta, phi, lambda); params theta, phi, lambda, gamma
    CCX = 27,    ///< Toffoli (control, control, target)
    CSWAP = 28,  ///< Fredkin (control, a, b)
    RXX = 29,    ///< exp(-i theta/2 X X)
    RYY = 30,    ///< exp(-i theta/2 Y Y)
    RZZ = 31,    ///< exp(-i theta/2 Z Z)
    GPHASE = 32,          ///< e^(i gamma) on the whole register, on no qubit
    PAULI_ROTATION = 33,  ///< exp(-i theta/2 P) for the Pauli string of the payload
    UNITARY = 34,         ///< the k-qubit matrix of the payload
    /// exp(theta (T - T^dagger)) for T = a^dagger_q a_p under Jordan–Wigner; qubits p, q, then
    /// the qubits strictly between them in ascending order (their parity gives the sign)
    FERMIONIC_SINGLE = 35,
    /// exp(theta (T - T^dagger)) for T = a^dagger_r a^dagger_s a_q a_p under Jordan–Wigner;
    /// qubits p, q, r, s, then the parity qubits of the four in ascending order
    FERMIONIC_DOUBLE = 36,
    QUBIT_SINGLE = 37,  ///< the same rotation as FERMIONIC_SINGLE without parity: qubits p, q
    QUBIT_DOUBLE = 38,  ///< the same rotation as FERMIONIC_DOUBLE without parity: p, q, r, s
};

/// Number of gate kinds.
inline constexpr std::size_t GATE_KIND_COUNT = 39;

/// Number of the kinds numbered 0 to 13, whose out-of-range rules are lenient and whose
/// arithmetic is fixed to the bit where the row says so.
inline constexpr std::size_t ORIGINAL_KIND_COUNT = 14;

/// Most qubits of a UNITARY operation: its matrix holds 4^k entries.
inline constexpr std::size_t MAX_UNITARY_QUBITS = 6;

/// How a kind's kernel walks the state, which decides its out-of-range rules.
enum class GateShape : std::uint8_t {
    /// Changes nothing and reads neither qubits nor parameters (I).
    None,
    /// A 2x2 update of every pair (i, i | 2^t) of the target t; a target at or beyond the
    /// register leaves the state through the partner of index 0 and throws (X, Y, H, SX, RX, RY).
    Pair,
    /// A phase per basis index, with no partner: a qubit beyond the register reads as a 0 bit
    /// everywhere, so nothing throws (Z, S, T, RZ, CZ).
    Diagonal,
    /// Exchanges amplitudes selected by two qubits; with the first qubit inside the register and
    /// the second outside, the first partner leaves the state and throws (CX, SWAP).
    Swap,
    /// The kinds from U on: every qubit inside the register and distinct, the exact number of
    /// qubits and parameters, a valid payload; anything else is `InvalidArgument`.
    Checked,
};

/// Which amplitudes a kind changes on a register (its qubits inside it and distinct); what a
/// pass must read and write, and what a benchmark counts as bytes.
enum class ChangedAmplitudes : std::uint8_t {
    Nothing,       ///< I
    All,           ///< every amplitude (the pair kinds, RZ, the Pauli rotations, U, UNITARY)
    TargetSet,     ///< those with the target bit set (Z, S, T, P, SDG, TDG)
    ControlSet,    ///< those with the control bits set (CX and the other controlled kinds)
    QubitsDiffer,  ///< those whose two bits differ (SWAP)
    BothSet,       ///< those with both bits set (CZ, CP)
    /// those whose orbitals read all emptied-set and filled-clear, or the reverse (the
    /// excitation kinds: half the amplitudes for a single, an eighth for a double)
    Excited,
};

/// The kernel a kind runs on. Kernels know matrices and shapes, never kinds.
enum class Primitive : std::uint8_t {
    None,           ///< changes nothing (I)
    Pair,           ///< a 2x2 matrix on one target, under the kind's controls
    Diagonal,       ///< a phase on the amplitudes whose target bit is set, under the controls
    Permutation,    ///< X on one target or an exchange of two, under the controls
    PauliRotation,  ///< exp(-i theta/2 P) in one pass, under the controls
    Dense,          ///< a dense 2^k x 2^k matrix (UNITARY)
    GlobalPhase,    ///< one factor on every amplitude (GPHASE)
    /// a rotation by theta between each basis state whose emptied orbitals are set and filled
    /// ones clear and its partner with the orbitals flipped, signed by the parity qubits
    Excitation,
};

/// How the inverse of an operation is formed from its kind and parameters.
enum class InverseRule : std::uint8_t {
    Same,      ///< the inverse kind with the same parameters (self-inverse kinds, S -> SDG)
    Negated,   ///< the same kind with every parameter negated
    Reversed,  ///< U and CU: (theta, phi, lambda[, gamma]) -> (-theta, -lambda, -phi[, -gamma])
    FromU2,    ///< u2(phi, lambda) -> U(-pi/2, -lambda, -phi)
    Adjoint,   ///< UNITARY: the conjugate transpose of the payload
};

/// The generator G of a one-parameter kind, whose matrix is exp(-i theta G) (times a constant
/// the parameter does not change): what a gradient differentiates.
enum class GeneratorForm : std::uint8_t {
    None,          ///< no parameter, or several (U, U2, CU), or none fixed (UNITARY)
    HalfPauli,     ///< G = P/2 on the targets, times the projector onto set controls
    MinusSetBits,  ///< G = -|1...1><1...1| on every qubit of the kind (P, CP; -1 for GPHASE)
    /// G = i (T - T^dagger) for the excitation T of the kind (the signs of its parity qubits
    /// included): exp(-i theta G) = exp(theta (T - T^dagger))
    Excitation,
};

/// What an operation carries besides qubits and parameters.
enum class PayloadKind : std::uint8_t {
    None,
    PauliString,  ///< `OperationPayload::pauli`, one letter per qubit
    Matrix,       ///< `OperationPayload::matrix`, row-major 4^k entries
};

using GateEntry = std::complex<double>;

/// Writes the row-major matrix of a kind's targets (2^t x 2^t for t targets, controls left out)
/// for the parameters `params` (as many as the row's `param_count`) into `out`.
using TargetMatrixFn = void (*)(std::span<const double> params, GateEntry* out);

/// What varies by gate kind, in one place. The dispatch to the kernels and the out-of-range
/// rules, the debug text, the exporter and reader, fusion, the fuzzer, the benchmarks and the
/// tests all read this table.
struct GateInfo {
    GateKind kind;
    std::string_view name;      ///< Debug text of the kind ("RX", "SWAP", ...).
    std::string_view qasm;      ///< OpenQASM 3 name ("rx", "swap", "U", ...).
    std::uint8_t arity;         ///< Qubits the kind acts on (0 for variable kinds and GPHASE).
    bool has_angle;             ///< Whether the kind carries a rotation angle (RX, RY, RZ).
    GateShape shape;            ///< How the kernel walks the state; the out-of-range rules.
    ChangedAmplitudes changes;  ///< Which amplitudes it changes.
    /// Whether the kernel's arithmetic is fixed to the bit: a plain ascending loop with the
    /// kind's documented per-part formulas gives the same bits. Not so for SX and T, whose
    /// products may be grouped differently from one implementation to the next.
    bool bitwise;
    /// Whether the operation names its own qubits (PAULI_ROTATION, UNITARY: one or more; the
    /// excitation kinds: their orbitals, then any parity qubits).
    bool variable_qubits = false;
    /// Parameters the kind takes (RX, RY, RZ: one, the angle, which may also be absent).
    std::uint8_t param_count = 0;
    /// Leading qubits that are controls: the targets' matrix applies where all of them are set.
    std::uint8_t controls = 0;
    /// The kernel the kind runs on.
    Primitive primitive = Primitive::None;
    /// For Pauli rotations with a fixed string: one letter per target ("X" for RX and CRX,
    /// "ZZ" for RZZ). The matrix is then cos(theta/2) - i sin(theta/2) P.
    std::string_view pauli = {};
    /// The targets' matrix; null where `pauli` or the payload gives it.
    TargetMatrixFn target_matrix = nullptr;
    GateKind inverse_kind = GateKind::I;  ///< The kind of the inverse.
    InverseRule inverse_rule = InverseRule::Same;
    GeneratorForm generator = GeneratorForm::None;
    PayloadKind payload = PayloadKind::None;
    /// For the excitation kinds: the leading qubits that T empties and fills (2 for a single,
    /// 4 for a double), the first half emptied; 0 for other kinds.
    std::uint8_t orbitals = 0;
    /// For the fermionic excitations: the qubits after the orbitals are the Jordan–Wigner
    /// parity qubits, exactly those with an odd number of orbitals above them, ascending.
    bool parity_qubits = false;
};

namespace detail {

inline constexpr double INV_SQRT2 = 0.70710678118654752440;  // 1/sqrt(2), the double nearest

/// Writes a 2x2 matrix, row-major.
inline void write2(GateEntry* m, GateEntry a, GateEntry b, GateEntry c, GateEntry d) {
    m[0] = a;
    m[1] = b;
    m[2] = c;
    m[3] = d;
}

/// The exchange of two qubits, 4x4 row-major.
inline void write_swap(GateEntry* m) {
    for (int k = 0; k < 16; ++k) {
        m[k] = 0.0;
    }
    m[0] = m[6] = m[9] = m[15] = 1.0;
}

/// U(theta, phi, lambda) times e^(i gamma): [[c, -e^(il) s], [e^(ip) s, e^(i(p+l)) c]].
inline void write_u(GateEntry* m, double theta, double phi, double lambda, double gamma) {
    const double c = std::cos(theta / 2);
    const double s = std::sin(theta / 2);
    write2(m, std::polar(c, gamma), -std::polar(s, gamma + lambda), std::polar(s, gamma + phi),
           std::polar(c, gamma + phi + lambda));
}

}  // namespace detail

/// The gate table, indexed by the kind's number.
// One row per kind, a few fields to a line.
// clang-format off
inline constexpr std::array<GateInfo, GATE_KIND_COUNT> GATE_TABLE = {{
    {.kind = GateKind::I, .name = "I", .qasm = "id", .arity = 1, .has_angle = false,
     .shape = GateShape::None, .changes = ChangedAmplitudes::Nothing, .bitwise = true,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 1.0, 0.0, 0.0, 1.0);
     }, .inverse_kind = GateKind::I},
    {.kind = GateKind::X, .name = "X", .qasm = "x", .arity = 1, .has_angle = false,
     .shape = GateShape::Pair, .changes = ChangedAmplitudes::All, .bitwise = true,
     .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 0.0, 1.0, 1.0, 0.0);
     }, .inverse_kind = GateKind::X},
    {.kind = GateKind::Y, .name = "Y", .qasm = "y", .arity = 1, .has_angle = false,
     .shape = GateShape::Pair, .changes = ChangedAmplitudes::All, .bitwise = true,
     .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 0.0, GateEntry(0.0, -1.0), GateEntry(0.0, 1.0), 0.0);
     }, .inverse_kind = GateKind::Y},
    {.kind = GateKind::Z, .name = "Z", .qasm = "z", .arity = 1, .has_angle = false,
     .shape = GateShape::Diagonal, .changes = ChangedAmplitudes::TargetSet, .bitwise = true,
     .primitive = Primitive::Diagonal,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 1.0, 0.0, 0.0, -1.0);
     }, .inverse_kind = GateKind::Z},
    {.kind = GateKind::H, .name = "H", .qasm = "h", .arity = 1, .has_angle = false,
     .shape = GateShape::Pair, .changes = ChangedAmplitudes::All, .bitwise = true,
     .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         const double r = detail::INV_SQRT2;
         detail::write2(m, r, r, r, -r);
     }, .inverse_kind = GateKind::H},
    {.kind = GateKind::S, .name = "S", .qasm = "s", .arity = 1, .has_angle = false,
     .shape = GateShape::Diagonal, .changes = ChangedAmplitudes::TargetSet, .bitwise = true,
     .primitive = Primitive::Diagonal,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 1.0, 0.0, 0.0, GateEntry(0.0, 1.0));
     }, .inverse_kind = GateKind::SDG},
    {.kind = GateKind::SX, .name = "SX", .qasm = "sx", .arity = 1, .has_angle = false,
     .shape = GateShape::Pair, .changes = ChangedAmplitudes::All, .bitwise = false,
     .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, GateEntry(0.5, 0.5), GateEntry(0.5, -0.5), GateEntry(0.5, -0.5),
                        GateEntry(0.5, 0.5));
     }, .inverse_kind = GateKind::SXDG},
    {.kind = GateKind::T, .name = "T", .qasm = "t", .arity = 1, .has_angle = false,
     .shape = GateShape::Diagonal, .changes = ChangedAmplitudes::TargetSet, .bitwise = false,
     .primitive = Primitive::Diagonal,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         const double r = detail::INV_SQRT2;
         detail::write2(m, 1.0, 0.0, 0.0, GateEntry(r, r));
     }, .inverse_kind = GateKind::TDG},
    {.kind = GateKind::RX, .name = "RX", .qasm = "rx", .arity = 1, .has_angle = true,
     .shape = GateShape::Pair, .changes = ChangedAmplitudes::All, .bitwise = true,
     .param_count = 1, .primitive = Primitive::Pair, .pauli = "X", .inverse_kind = GateKind::RX,
     .inverse_rule = InverseRule::Negated, .generator = GeneratorForm::HalfPauli},
    {.kind = GateKind::RY, .name = "RY", .qasm = "ry", .arity = 1, .has_angle = true,
     .shape = GateShape::Pair, .changes = ChangedAmplitudes::All, .bitwise = true,
     .param_count = 1, .primitive = Primitive::Pair, .pauli = "Y", .inverse_kind = GateKind::RY,
     .inverse_rule = InverseRule::Negated, .generator = GeneratorForm::HalfPauli},
    {.kind = GateKind::RZ, .name = "RZ", .qasm = "rz", .arity = 1, .has_angle = true,
     .shape = GateShape::Diagonal, .changes = ChangedAmplitudes::All, .bitwise = true,
     .param_count = 1, .primitive = Primitive::Diagonal, .pauli = "Z",
     .inverse_kind = GateKind::RZ, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::HalfPauli},
    {.kind = GateKind::CX, .name = "CX", .qasm = "cx", .arity = 2, .has_angle = false,
     .shape = GateShape::Swap, .changes = ChangedAmplitudes::ControlSet, .bitwise = true,
     .controls = 1, .primitive = Primitive::Permutation,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 0.0, 1.0, 1.0, 0.0);
     }, .inverse_kind = GateKind::CX},
    {.kind = GateKind::CZ, .name = "CZ", .qasm = "cz", .arity = 2, .has_angle = false,
     .shape = GateShape::Diagonal, .changes = ChangedAmplitudes::BothSet, .bitwise = true,
     .controls = 1, .primitive = Primitive::Diagonal,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 1.0, 0.0, 0.0, -1.0);
     }, .inverse_kind = GateKind::CZ},
    {.kind = GateKind::SWAP, .name = "SWAP", .qasm = "swap", .arity = 2, .has_angle = false,
     .shape = GateShape::Swap, .changes = ChangedAmplitudes::QubitsDiffer, .bitwise = true,
     .primitive = Primitive::Permutation,
     .target_matrix = [](std::span<const double>, GateEntry* m) { detail::write_swap(m); },
     .inverse_kind = GateKind::SWAP},
    {.kind = GateKind::U, .name = "U", .qasm = "U", .arity = 1, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::All, .bitwise = false,
     .param_count = 3, .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double> p, GateEntry* m) {
         detail::write_u(m, p[0], p[1], p[2], 0.0);
     },
     .inverse_kind = GateKind::U, .inverse_rule = InverseRule::Reversed},
    {.kind = GateKind::U2, .name = "U2", .qasm = "u2", .arity = 1, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::All, .bitwise = false,
     .param_count = 2, .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double> p, GateEntry* m) {
         detail::write_u(m, std::numbers::pi / 2, p[0], p[1], 0.0);
     },
     .inverse_kind = GateKind::U, .inverse_rule = InverseRule::FromU2},
    {.kind = GateKind::P, .name = "P", .qasm = "p", .arity = 1, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::TargetSet, .bitwise = false,
     .param_count = 1, .primitive = Primitive::Diagonal,
     .target_matrix = [](std::span<const double> p, GateEntry* m) {
         detail::write2(m, 1.0, 0.0, 0.0, std::polar(1.0, p[0]));
     },
     .inverse_kind = GateKind::P, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::MinusSetBits},
    {.kind = GateKind::SDG, .name = "SDG", .qasm = "sdg", .arity = 1, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::TargetSet, .bitwise = false,
     .primitive = Primitive::Diagonal,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 1.0, 0.0, 0.0, GateEntry(0.0, -1.0));
     }, .inverse_kind = GateKind::S},
    {.kind = GateKind::TDG, .name = "TDG", .qasm = "tdg", .arity = 1, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::TargetSet, .bitwise = false,
     .primitive = Primitive::Diagonal,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         const double r = detail::INV_SQRT2;
         detail::write2(m, 1.0, 0.0, 0.0, GateEntry(r, -r));
     }, .inverse_kind = GateKind::T},
    {.kind = GateKind::SXDG, .name = "SXDG", .qasm = "sxdg", .arity = 1, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::All, .bitwise = false,
     .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, GateEntry(0.5, -0.5), GateEntry(0.5, 0.5), GateEntry(0.5, 0.5),
                        GateEntry(0.5, -0.5));
     }, .inverse_kind = GateKind::SX},
    {.kind = GateKind::CY, .name = "CY", .qasm = "cy", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::ControlSet, .bitwise = false,
     .controls = 1, .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 0.0, GateEntry(0.0, -1.0), GateEntry(0.0, 1.0), 0.0);
     }, .inverse_kind = GateKind::CY},
    {.kind = GateKind::CH, .name = "CH", .qasm = "ch", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::ControlSet, .bitwise = false,
     .controls = 1, .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         const double r = detail::INV_SQRT2;
         detail::write2(m, r, r, r, -r);
     }, .inverse_kind = GateKind::CH},
    {.kind = GateKind::CP, .name = "CP", .qasm = "cp", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::BothSet, .bitwise = false,
     .param_count = 1, .controls = 1, .primitive = Primitive::Diagonal,
     .target_matrix = [](std::span<const double> p, GateEntry* m) {
         detail::write2(m, 1.0, 0.0, 0.0, std::polar(1.0, p[0]));
     },
     .inverse_kind = GateKind::CP, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::MinusSetBits},
    {.kind = GateKind::CRX, .name = "CRX", .qasm = "crx", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::ControlSet, .bitwise = false,
     .param_count = 1, .controls = 1, .primitive = Primitive::PauliRotation, .pauli = "X",
     .inverse_kind = GateKind::CRX, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::HalfPauli},
    {.kind = GateKind::CRY, .name = "CRY", .qasm = "cry", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::ControlSet, .bitwise = false,
     .param_count = 1, .controls = 1, .primitive = Primitive::PauliRotation, .pauli = "Y",
     .inverse_kind = GateKind::CRY, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::HalfPauli},
    {.kind = GateKind::CRZ, .name = "CRZ", .qasm = "crz", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::ControlSet, .bitwise = false,
     .param_count = 1, .controls = 1, .primitive = Primitive::PauliRotation, .pauli = "Z",
     .inverse_kind = GateKind::CRZ, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::HalfPauli},
    {.kind = GateKind::CU, .name = "CU", .qasm = "cu", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::ControlSet, .bitwise = false,
     .param_count = 4, .controls = 1, .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double> p, GateEntry* m) {
         detail::write_u(m, p[0], p[1], p[2], p[3]);
     },
     .inverse_kind = GateKind::CU, .inverse_rule = InverseRule::Reversed},
    {.kind = GateKind::CCX, .name = "CCX", .qasm = "ccx", .arity = 3, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::ControlSet, .bitwise = true,
     .controls = 2, .primitive = Primitive::Permutation,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 0.0, 1.0, 1.0, 0.0);
     }, .inverse_kind = GateKind::CCX},
    {.kind = GateKind::CSWAP, .name = "CSWAP", .qasm = "cswap", .arity = 3, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::ControlSet, .bitwise = true,
     .controls = 1, .primitive = Primitive::Permutation,
     .target_matrix = [](std::span<const double>, GateEntry* m) { detail::write_swap(m); },
     .inverse_kind = GateKind::CSWAP},
    {.kind = GateKind::RXX, .name = "RXX", .qasm = "rxx", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::All, .bitwise = false,
     .param_count = 1, .primitive = Primitive::PauliRotation, .pauli = "XX",
     .inverse_kind = GateKind::RXX, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::HalfPauli},
    {.kind = GateKind::RYY, .name = "RYY", .qasm = "ryy", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::All, .bitwise = false,
     .param_count = 1, .primitive = Primitive::PauliRotation, .pauli = "YY",
     .inverse_kind = GateKind::RYY, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::HalfPauli},
    {.kind = GateKind::RZZ, .name = "RZZ", .qasm = "rzz", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::All, .bitwise = false,
     .param_count = 1, .primitive = Primitive::PauliRotation, .pauli = "ZZ",
     .inverse_kind = GateKind::RZZ, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::HalfPauli},
    {.kind = GateKind::GPHASE, .name = "GPHASE", .qasm = "gphase", .arity = 0,
     .has_angle = false, .shape = GateShape::Checked, .changes = ChangedAmplitudes::All,
     .bitwise = false, .param_count = 1, .primitive = Primitive::GlobalPhase,
     .target_matrix = [](std::span<const double> p, GateEntry* m) {
         m[0] = std::polar(1.0, p[0]);
     },
     .inverse_kind = GateKind::GPHASE, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::MinusSetBits},
    {.kind = GateKind::PAULI_ROTATION, .name = "PAULI_ROTATION", .qasm = "pauli_rotation",
     .arity = 0, .has_angle = false, .shape = GateShape::Checked,
     .changes = ChangedAmplitudes::All, .bitwise = false, .variable_qubits = true,
     .param_count = 1, .primitive = Primitive::PauliRotation,
     .inverse_kind = GateKind::PAULI_ROTATION, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::HalfPauli, .payload = PayloadKind::PauliString},
    {.kind = GateKind::UNITARY, .name = "UNITARY", .qasm = "unitary", .arity = 0,
     .has_angle = false, .shape = GateShape::Checked, .changes = ChangedAmplitudes::All,
     .bitwise = false, .variable_qubits = true, .primitive = Primitive::Dense,
     .inverse_kind = GateKind::UNITARY, .inverse_rule = InverseRule::Adjoint,
     .payload = PayloadKind::Matrix},
    {.kind = GateKind::FERMIONIC_SINGLE, .name = "FERMIONIC_SINGLE", .qasm = "fermionic_single",
     .arity = 0, .has_angle = false, .shape = GateShape::Checked,
     .changes = ChangedAmplitudes::Excited, .bitwise = false, .variable_qubits = true,
     .param_count = 1, .primitive = Primitive::Excitation,
     .inverse_kind = GateKind::FERMIONIC_SINGLE, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::Excitation, .orbitals = 2, .parity_qubits = true},
    {.kind = GateKind::FERMIONIC_DOUBLE, .name = "FERMIONIC_DOUBLE", .qasm = "fermionic_double",
     .arity = 0, .has_angle = false, .shape = GateShape::Checked,
     .changes = ChangedAmplitudes::Excited, .bitwise = false, .variable_qubits = true,
     .param_count = 1, .primitive = Primitive::Excitation,
     .inverse_kind = GateKind::FERMIONIC_DOUBLE, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::Excitation, .orbitals = 4, .parity_qubits = true},
    {.kind = GateKind::QUBIT_SINGLE, .name = "QUBIT_SINGLE", .qasm = "qubit_single",
     .arity = 0, .has_angle = false, .shape = GateShape::Checked,
     .changes = ChangedAmplitudes::Excited, .bitwise = false, .variable_qubits = true,
     .param_count = 1, .primitive = Primitive::Excitation,
     .inverse_kind = GateKind::QUBIT_SINGLE, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::Excitation, .orbitals = 2},
    {.kind = GateKind::QUBIT_DOUBLE, .name = "QUBIT_DOUBLE", .qasm = "qubit_double",
     .arity = 0, .has_angle = false, .shape = GateShape::Checked,
     .changes = ChangedAmplitudes::Excited, .bitwise = false, .variable_qubits = true,
     .param_count = 1, .primitive = Primitive::Excitation,
     .inverse_kind = GateKind::QUBIT_DOUBLE, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::Excitation, .orbitals = 4},
}};
// clang-format on

// Row k of the table holds kind k, so that indexing by the kind's number finds its row.
static_assert(
    [] {
        for (std::size_t k = 0; k < GATE_KIND_COUNT; ++k) {
            if (static_cast<std::size_t>(GATE_TABLE[k].kind) != k) {
                return false;
            }
        }
        return true;
    }(),
    "GATE_TABLE row k must hold kind k");

/// The rows of the fourteen kinds numbered 0 to 13.
inline constexpr std::span<const GateInfo> ORIGINAL_GATES{GATE_TABLE.data(), ORIGINAL_KIND_COUNT};

/// The table row of `kind`.
constexpr const GateInfo& gate_info(GateKind kind) noexcept {
    return GATE_TABLE[static_cast<std::size_t>(kind)];
}

}  // namespace zel

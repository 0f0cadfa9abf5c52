#pragma once

/// \file
/// The gate kinds and the vocabulary of a gate-table row (`GateInfo`): shapes, primitives,
/// inverse rules, generators and payloads. The rows themselves are in gate_table.hpp.

#include <complex>
#include <cstddef>
#include <cstdint>
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

/// Most qubits of an operation whose matrix `operation_matrix` or `generator_matrix` forms
/// (4^10 entries, 16 MiB); wider operations still run, only their matrix is refused.
inline constexpr std::size_t MAX_MATRIX_QUBITS = 10;

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

}  // namespace zel

#pragma once

/// \file
/// The circuit model: gate kinds, one gate application (`Operation`) and a circuit
/// (`ZarnikGraph`). Plain data: nothing here validates qubit indexes or simulates anything.
///
/// Qubit q is bit q of a basis index (mask 2^q), bit 0 the least significant.

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zel/core/gate_table.hpp"

namespace zel {

/// Throws `InvalidArgument` when `kind` holds no number of the table's kinds (a value made by a
/// cast or read from elsewhere). Every function that looks a caller's kind up in the table checks
/// it first: applying, checking, fusing, exporting and describing gates, and validate.
void check_kind(GateKind kind);

/// Whether `kind` is one of the rotations RX, RY, RZ.
constexpr bool is_rotation(GateKind kind) noexcept {
    return gate_info(kind).has_angle;
}

/// A gate: its kind and, for RX, RY and RZ, the rotation angle in radians. The angle of any
/// other kind carries no information and is never read.
struct GateType {
    GateKind kind = GateKind::I;
    double angle = 0.0;

    /// A gate of a kind without angle.
    static constexpr GateType of(GateKind kind) noexcept {
        return GateType{kind, 0.0};
    }
    static constexpr GateType rx(double angle) noexcept {
        return GateType{GateKind::RX, angle};
    }
    static constexpr GateType ry(double angle) noexcept {
        return GateType{GateKind::RY, angle};
    }
    static constexpr GateType rz(double angle) noexcept {
        return GateType{GateKind::RZ, angle};
    }

    friend bool operator==(const GateType&, const GateType&) = default;
};

/// Debug text of a gate: the kind's name, and for RX, RY, RZ the angle in parentheses in the
/// general float debug form ("RX(0.5)", "RZ(1.0)", "RY(1e-5)", "CX"). Other kinds give their
/// name alone ("CRX", "PAULI_ROTATION").
std::string debug_text(const GateType& gate);

/// What an operation needs besides qubits and parameters: the Pauli string of a PAULI_ROTATION,
/// the matrix of a UNITARY. Held by value, so it is copied with the operation and the circuit.
struct OperationPayload {
    /// One letter of "IXYZ" per qubit of the operation: letter j acts on `qubits[j]`.
    std::string pauli;
    /// Row-major 2^k x 2^k matrix for k qubits; local index bit j is `qubits[j]`.
    std::vector<std::complex<double>> matrix;

    friend bool operator==(const OperationPayload&, const OperationPayload&) = default;
};

/// One gate application. One-qubit kinds act on `qubits[0]`; CX takes `qubits[0]` as control
/// and `qubits[1]` as target; CZ and SWAP use `qubits[0]` and `qubits[1]`; the controlled kinds
/// from U on name their controls first, then their targets (CCX: c0, c1, t; CSWAP: c, a, b).
/// For the fourteen original kinds further entries are ignored; the kinds from U on take exactly
/// their qubits. `params` holds the tunable values; for a rotation, `params[0]` (when present)
/// is the angle the kernels use, and whoever writes it keeps `gate.angle` equal to it (see
/// `sync_rotation_angle`). The kinds from U on keep their parameters in `params` only.
struct Operation {
    GateType gate;
    std::vector<std::uint64_t> qubits;
    std::vector<double> params;
    OperationPayload payload{};

    friend bool operator==(const Operation&, const Operation&) = default;
};

/// An operation of `kind` on `qubits` with `params` (the kinds from U on; RX, RY and RZ get
/// their angle from params[0]). Nothing is checked until the operation is applied.
Operation make_operation(GateKind kind, std::vector<std::uint64_t> qubits,
                         std::vector<double> params = {});

/// exp(-i theta/2 P) for the Pauli string `pauli` (one letter of "IXYZ" per qubit, letter j on
/// `qubits[j]`): a PAULI_ROTATION operation.
Operation pauli_rotation(std::string pauli, std::vector<std::uint64_t> qubits, double theta);

/// The k-qubit unitary `matrix` (row-major 2^k x 2^k, local bit j on `qubits[j]`, k at most
/// MAX_UNITARY_QUBITS): a UNITARY operation. Applying it checks that the matrix is unitary.
Operation unitary(std::vector<std::uint64_t> qubits, std::vector<std::complex<double>> matrix);

/// The Jordan–Wigner parity qubits of an excitation's `orbitals` (its emptied and filled modes,
/// qubit q = mode q): the qubits with an odd number of orbitals above them, ascending (for a
/// single those between its two orbitals). Throws `InvalidArgument` for an orbital at or beyond
/// 64 or named twice.
std::vector<std::uint64_t> excitation_parity_qubits(std::span<const std::uint64_t> orbitals);

/// The sign (+1 or -1) with which T = a^dagger_to[0] (a^dagger_to[1] a_from[1]) a_from[0] takes
/// the state with only the `from` orbitals occupied to the state with only the `to` orbitals
/// occupied, under Jordan–Wigner (a_m counts the occupied orbitals below m). On any other basis
/// state T's sign is this times -1 to the power of the occupied parity qubits. Throws as
/// `excitation_parity_qubits` for the orbitals, and `InvalidArgument` unless `from` and `to` both
/// hold 1 or 2 orbitals.
int excitation_sign(std::span<const std::uint64_t> from, std::span<const std::uint64_t> to);

/// exp(theta (T - T^dagger)) under Jordan–Wigner, for T = a^dagger_to[0] a_from[0] (a single:
/// FERMIONIC_SINGLE) or T = a^dagger_to[0] a^dagger_to[1] a_from[1] a_from[0] (a double:
/// FERMIONIC_DOUBLE), a_m acting on qubit m with the parity of the qubits below m. The
/// operation's qubits are the orbitals (from, then to), then their parity qubits
/// (`excitation_parity_qubits`). It rotates each basis state whose `from` qubits are set and
/// `to` qubits clear towards its partner with all of them flipped, by theta, with the sign of
/// T: one pass over those amplitudes (half of them for a single, an eighth for a double).
/// Throws `InvalidArgument` unless `from` and `to` both hold 1 or 2 orbitals, distinct and
/// below 64; qubits beyond the register are refused when the operation is applied.
Operation fermionic_excitation(std::span<const std::uint64_t> from,
                               std::span<const std::uint64_t> to, double theta);

/// The same rotation without parity signs (T a product of the qubits' raising |1><0| on `to`
/// and lowering |0><1| on `from`): QUBIT_SINGLE or QUBIT_DOUBLE on the orbitals alone. Throws
/// as `fermionic_excitation`.
Operation qubit_excitation(std::span<const std::uint64_t> from, std::span<const std::uint64_t> to,
                           double theta);

/// The row-major matrix of `op` on its own qubits (2^k x 2^k for k = the qubits the kind uses;
/// local bit j is `qubits[j]`), from its row: the targets' matrix under the controls. Throws
/// `InvalidArgument` (naming the kind) for a wrong parameter count or payload, or for an
/// operation on more than MAX_MATRIX_QUBITS qubits.
std::vector<std::complex<double>> operation_matrix(const Operation& op);

/// The inverse of `op`, from its row: same qubits, the inverse kind, the parameters as the row's
/// rule makes them (a UNITARY's payload becomes its conjugate transpose).
Operation inverse(const Operation& op);

/// The generator G of a one-parameter operation on its own qubits (row-major, like
/// `operation_matrix`): the matrix is exp(-i theta G) times a factor theta does not change, so
/// d/dtheta of the matrix is -i G times the matrix. Throws `InvalidArgument` for kinds without a
/// generator (no parameter or several, UNITARY) and, like `operation_matrix`, beyond
/// MAX_MATRIX_QUBITS qubits.
std::vector<std::complex<double>> generator_matrix(const Operation& op);

/// A circuit: operations applied in order, first element first, to a register of `num_qubits`
/// qubits. Copies are deep.
struct ZarnikGraph {
    /// The register the circuit is meant for, as the export declares it. Simulation takes the
    /// register size from the state it runs on (or the `num_qubits` argument of `run_circuit`),
    /// which is authoritative there; `validate` reports when the two differ.
    std::uint64_t num_qubits = 0;
    std::vector<Operation> operations;

    /// An empty circuit for `num_qubits` qubits.
    explicit ZarnikGraph(std::uint64_t qubits = 0) noexcept : num_qubits(qubits) {
    }

    /// Appends the operation {gate, qubits, params}, taking both arrays over as they are.
    void add_gate_with_params(GateType gate, std::vector<std::uint64_t> qubits,
                              std::vector<double> params);

    /// Appends `gate` on `qubits` the way the search loop adds a gate: a rotation (RX, RY, RZ)
    /// with its angle as its one tunable parameter, any other kind with no parameters.
    void add_gate(GateType gate, std::vector<std::uint64_t> qubits);

    /// Appends `op` as it is (any kind, with its parameters and payload).
    void add(Operation op);

    /// Removes the operation at `index`; later operations move one place towards the front.
    /// Throws `IndexOutOfBounds` (len = gate count, index = `index`) when `index` is not below
    /// the gate count; the circuit is then unchanged.
    void remove_operation(std::uint64_t index);

    /// Number of operations.
    std::uint64_t gate_count() const noexcept {
        return operations.size();
    }

    /// Whether any operation has a non-empty `params` array, whatever its kind.
    bool has_parameters() const noexcept;

    friend bool operator==(const ZarnikGraph&, const ZarnikGraph&) = default;
};

/// Makes a rotation's angle agree with its first parameter: for RX, RY and RZ with a non-empty
/// `params`, sets `gate.angle` to `params[0]` (the value the kernels rotate by). Other
/// operations are left as they are. Every writer of parameters goes through this rule.
void sync_rotation_angle(Operation& op) noexcept;

/// The parameter values of `circuit` in flat order: operations in circuit order, each one's
/// `params` in order. The inverse of `set_parameters` and `with_parameters`.
std::vector<double> parameters(const ZarnikGraph& circuit);

/// Number of parameter slots of `circuit`, the length of `parameters(circuit)`.
std::size_t parameter_count(const ZarnikGraph& circuit) noexcept;

/// Writes `values` into the parameter slots of `circuit` in flat order: slot r takes values[r]
/// while r < values.size(), later slots keep their value, surplus values are ignored. Then every
/// operation gets `sync_rotation_angle`.
void set_parameters(ZarnikGraph& circuit, std::span<const double> values) noexcept;

/// What `validate` can find: things the circuit model accepts, and the kernels and the export
/// handle by fixed rules, that are most likely mistakes.
enum class Finding {
    QubitOutOfRange,            ///< an entry the kind uses is not below the register's n
    MissingQubits,              ///< fewer entries than the kind uses (the kernels throw)
    RepeatedQubits,             ///< a two-qubit kind on one qubit twice (changes nothing)
    ParameterDiffersFromAngle,  ///< a rotation's params[0] is not its angle (bit for bit)
    NonFiniteAngle,             ///< a rotation's angle or parameter is NaN or infinite
    QubitCountMismatch,         ///< the circuit's num_qubits is not the register's
    UnknownKind,                ///< the kind is none of the table's (nothing else is read)
    InvalidOperation,           ///< a kind from U on with a wrong parameter count or payload
};

/// One finding of `validate`.
struct ValidationIssue {
    /// Stands in `operation` for findings about the whole circuit.
    static constexpr std::size_t WHOLE_CIRCUIT = std::numeric_limits<std::size_t>::max();

    Finding finding;
    std::size_t operation;  ///< Position of the operation, or WHOLE_CIRCUIT.
    std::string message;    ///< A sentence naming the operation and the values.

    friend bool operator==(const ValidationIssue&, const ValidationIssue&) = default;
};

/// Lists what `circuit`, run on a register of `num_qubits` qubits, holds that the fixed rules
/// would accept silently (or reject only when it runs): qubit entries at or beyond
/// `num_qubits`, missing or repeated entries, rotations whose `params[0]` differs from the
/// angle (the kernels use `params[0]`, the export the angle), non-finite angles or parameters,
/// and a `circuit.num_qubits` other than `num_qubits` (the export writes the former, the
/// simulation uses the latter). Findings come in operation order, the whole-circuit one first.
/// Changes nothing; an empty list means none of these.
std::vector<ValidationIssue> validate(const ZarnikGraph& circuit, std::uint64_t num_qubits);

}  // namespace zel

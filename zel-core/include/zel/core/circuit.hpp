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

namespace zel {

/// The fourteen gate kinds, numbered 0 to 13 in declaration order.
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
};

/// Number of gate kinds.
inline constexpr std::size_t GATE_KIND_COUNT = 14;

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
};

/// Which amplitudes a kind changes on a register (its qubits inside it and distinct); what a
/// pass must read and write, and what a benchmark counts as bytes.
enum class ChangedAmplitudes : std::uint8_t {
    Nothing,       ///< I
    All,           ///< every amplitude (the pair kinds, RZ)
    TargetSet,     ///< those with the target bit set (Z, S, T)
    ControlSet,    ///< those with the control bit set (CX)
    QubitsDiffer,  ///< those whose two bits differ (SWAP)
    BothSet,       ///< those with both bits set (CZ)
};

/// What varies by gate kind, in one place. The kernels' dispatch and out-of-range rules, the
/// debug text, the exporter, the fuzzer, the benchmarks and the tests all read this table.
struct GateInfo {
    GateKind kind;
    std::string_view name;      ///< Debug text of the kind ("RX", "SWAP", ...).
    std::string_view qasm;      ///< OpenQASM 3.0 standard-gate name ("rx", "swap", "id", ...).
    std::uint8_t arity;         ///< Qubits the kind acts on: 1 or 2.
    bool has_angle;             ///< Whether the kind carries a rotation angle (RX, RY, RZ).
    GateShape shape;            ///< How the kernel walks the state.
    ChangedAmplitudes changes;  ///< Which amplitudes it changes.
    /// Whether the kernel's arithmetic is fixed to the bit: a plain ascending loop with the
    /// kind's documented per-part formulas gives the same bits. Not so for SX and T, whose
    /// products may be grouped differently from one implementation to the next.
    bool bitwise;
};

/// The gate table, indexed by the kind's number.
inline constexpr std::array<GateInfo, GATE_KIND_COUNT> GATE_TABLE = {{
    {.kind = GateKind::I,
     .name = "I",
     .qasm = "id",
     .arity = 1,
     .has_angle = false,
     .shape = GateShape::None,
     .changes = ChangedAmplitudes::Nothing,
     .bitwise = true},
    {.kind = GateKind::X,
     .name = "X",
     .qasm = "x",
     .arity = 1,
     .has_angle = false,
     .shape = GateShape::Pair,
     .changes = ChangedAmplitudes::All,
     .bitwise = true},
    {.kind = GateKind::Y,
     .name = "Y",
     .qasm = "y",
     .arity = 1,
     .has_angle = false,
     .shape = GateShape::Pair,
     .changes = ChangedAmplitudes::All,
     .bitwise = true},
    {.kind = GateKind::Z,
     .name = "Z",
     .qasm = "z",
     .arity = 1,
     .has_angle = false,
     .shape = GateShape::Diagonal,
     .changes = ChangedAmplitudes::TargetSet,
     .bitwise = true},
    {.kind = GateKind::H,
     .name = "H",
     .qasm = "h",
     .arity = 1,
     .has_angle = false,
     .shape = GateShape::Pair,
     .changes = ChangedAmplitudes::All,
     .bitwise = true},
    {.kind = GateKind::S,
     .name = "S",
     .qasm = "s",
     .arity = 1,
     .has_angle = false,
     .shape = GateShape::Diagonal,
     .changes = ChangedAmplitudes::TargetSet,
     .bitwise = true},
    {.kind = GateKind::SX,
     .name = "SX",
     .qasm = "sx",
     .arity = 1,
     .has_angle = false,
     .shape = GateShape::Pair,
     .changes = ChangedAmplitudes::All,
     .bitwise = false},
    {.kind = GateKind::T,
     .name = "T",
     .qasm = "t",
     .arity = 1,
     .has_angle = false,
     .shape = GateShape::Diagonal,
     .changes = ChangedAmplitudes::TargetSet,
     .bitwise = false},
    {.kind = GateKind::RX,
     .name = "RX",
     .qasm = "rx",
     .arity = 1,
     .has_angle = true,
     .shape = GateShape::Pair,
     .changes = ChangedAmplitudes::All,
     .bitwise = true},
    {.kind = GateKind::RY,
     .name = "RY",
     .qasm = "ry",
     .arity = 1,
     .has_angle = true,
     .shape = GateShape::Pair,
     .changes = ChangedAmplitudes::All,
     .bitwise = true},
    {.kind = GateKind::RZ,
     .name = "RZ",
     .qasm = "rz",
     .arity = 1,
     .has_angle = true,
     .shape = GateShape::Diagonal,
     .changes = ChangedAmplitudes::All,
     .bitwise = true},
    {.kind = GateKind::CX,
     .name = "CX",
     .qasm = "cx",
     .arity = 2,
     .has_angle = false,
     .shape = GateShape::Swap,
     .changes = ChangedAmplitudes::ControlSet,
     .bitwise = true},
    {.kind = GateKind::CZ,
     .name = "CZ",
     .qasm = "cz",
     .arity = 2,
     .has_angle = false,
     .shape = GateShape::Diagonal,
     .changes = ChangedAmplitudes::BothSet,
     .bitwise = true},
    {.kind = GateKind::SWAP,
     .name = "SWAP",
     .qasm = "swap",
     .arity = 2,
     .has_angle = false,
     .shape = GateShape::Swap,
     .changes = ChangedAmplitudes::QubitsDiffer,
     .bitwise = true},
}};

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

/// The table row of `kind`.
constexpr const GateInfo& gate_info(GateKind kind) noexcept {
    return GATE_TABLE[static_cast<std::size_t>(kind)];
}

/// Throws `InvalidArgument` when `kind` holds no number of the fourteen kinds (a value made by a
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
/// general float debug form ("RX(0.5)", "RZ(1.0)", "RY(1e-5)", "CX").
std::string debug_text(const GateType& gate);

/// One gate application. One-qubit kinds act on `qubits[0]`; CX takes `qubits[0]` as control
/// and `qubits[1]` as target; CZ and SWAP use `qubits[0]` and `qubits[1]`. Further entries are
/// ignored. `params` holds the tunable values; for a rotation, `params[0]` (when present) is
/// the angle the kernels use, and whoever writes it keeps `gate.angle` equal to it.
struct Operation {
    GateType gate;
    std::vector<std::uint64_t> qubits;
    std::vector<double> params;

    friend bool operator==(const Operation&, const Operation&) = default;
};

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
    UnknownKind,                ///< the kind is none of the fourteen (nothing else is read)
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

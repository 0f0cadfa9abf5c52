#pragma once

/// \file
/// OpenQASM 3.0 in both directions: export of a circuit as source text, and import of a program
/// into a circuit.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/simulator.hpp"

namespace zel {

/// OpenQASM 3.0 text of `circuit`: the header (version, the standard-gate include, a qubit and
/// a bit register of `num_qubits`, an empty line), then one line per operation in order, using
/// the standard gates of the same names ("id" for I). Rotation angles are the gates' own
/// angles, written with the shortest digits that read back exactly, positional, never with an
/// exponent; whole numbers end in ".0" ("1.0", "-0.0", "100000000000000000000000.0") so that
/// every finite angle is a float literal. NaN and infinite angles, which OpenQASM cannot spell,
/// are written "NaN", "inf" and "-inf" (`validate` reports them). Qubit indexes are written as
/// they are. Every line ends with "\n". `from_open_qasm` reads the text back.
///
/// The kinds from U on are written under their stdgates.inc names, or as exact sequences of
/// standard gates (Pauli rotations, excitations, a one-qubit UNITARY as U and gphase) that read
/// back to the same state within 1e-12. A UNITARY on k = 2 to MAX_UNITARY_QUBITS qubits is
/// written as a two-level decomposition that reads back within 1e-12 of its matrix: a `gphase`,
/// then `negctrl(m) @ ctrl(k-1-m) @ p(angle)` for each basis state whose phase differs from
/// |0..0>'s, then `negctrl(m) @ ctrl(k-1-m) @ U(theta, phi, lambda)` for each two-level step
/// (2^k (2^k - 1) / 2 of them at most; entries already zero take none), every line on all k
/// qubits: at most 2080 lines for a dense unitary on 6 qubits, a few for a permutation.
///
/// Throws `IndexOutOfBounds` ("index out of bounds: the len is {} but the index is {}", the
/// length of the operation's `qubits`, then 0 or 1) for an original operation with fewer qubit
/// indexes than its kind needs, what `check_operation` throws for an operation of a kind from U
/// on that does not meet its row (non-finite parameters aside, which are written as they are).
std::string to_open_qasm(const ZarnikGraph& circuit);

/// Deepest nesting of parentheses that `from_open_qasm` reads in an angle; deeper is a parse
/// error, so that no input can exhaust the stack.
inline constexpr std::size_t QASM_MAX_NESTING = 64;

/// Most operations that the whole-register operands of one program (`h q;` for a register `q`)
/// may expand to together in `from_open_qasm`; a program asking for more is a parse error.
inline constexpr std::uint64_t QASM_MAX_BROADCAST_OPERATIONS = 65536;

/// The circuit of an OpenQASM 3 program (the subset listed in the guide, docs/guide.md section
/// 8, statement by statement). `num_qubits` is the total size of the qubit declarations
/// (`qubit[n] q;`, `qubit a;` for one qubit, `qreg q[n];`), each register taking the next
/// consecutive qubit indexes in declaration order; bit declarations add none. The 14 original
/// gate kinds are read under their standard-gate names (`id x y z h s sx t rx ry rz cx cz swap`),
/// `CX` and `cnot` as CX, and the kinds from U on under theirs (`sdg tdg cy ch cp crx cry crz cu
/// ccx cswap p u u2 u3 gphase ...`, the guide's table); `barrier` is checked and adds nothing.
/// Every original operation is appended with `ZarnikGraph::add_gate`, so a rotation has its angle
/// as its one parameter.
///
/// Angles are expressions of decimal literals, `pi` / `π`, `tau` / `τ`, `euler` / `ℇ`, unary
/// minus, `+ - * /` and parentheses, evaluated in double precision: unary minus first, then
/// `*` and `/`, then `+` and `-`, operators of one level from left to right. A literal reads as
/// the double nearest to it, and unary minus negates exactly (`-0` is -0.0). Literals without
/// a point or exponent are integers as in OpenQASM: `/` between two integers, and integer
/// `+ - *` beyond 2^53 in magnitude, are rejected rather than evaluated differently from the
/// language. `NaN` and `inf` read as NaN and +infinity, so that everything `to_open_qasm` writes
/// for a circuit with distinct in-range qubits reads back; every NaN angle, however computed,
/// is `std::numeric_limits<double>::quiet_NaN()` (sign and payload of a NaN are not kept).
///
/// Throws `ParseError` for everything else: text outside the subset, an undeclared register, an
/// index outside its register, a repeated qubit in a two-qubit gate, invalid UTF-8 or a NUL
/// byte, a nesting beyond `QASM_MAX_NESTING`, broadcasts beyond `QASM_MAX_BROADCAST_OPERATIONS`.
/// Its `what()` is "line {line}, column {column}: {reason}", 1-based, the column counted in
/// bytes, at the first byte of the first offending token. Nothing else is thrown apart from
/// `std::bad_alloc`.
///
/// Gate definitions (`gate name(params) qargs { body }`, expanded at every call within
/// `QASM_MAX_NESTING` levels and `QASM_MAX_EXPANDED_OPERATIONS` operations), the functions
/// `sin cos tan exp ln sqrt arccos arcsin arctan` in angles, the modifiers `ctrl @`,
/// `ctrl(n) @`, `negctrl @`, `inv @` and `pow(k) @` on standard and defined gates (mapped onto the
/// kinds of the gate table; under a control, an operation without a controlled kind becomes one
/// UNITARY of up to MAX_UNITARY_QUBITS qubits, more being refused) and OpenQASM 2.0 are read as
/// `read_open_qasm` documents.
///
/// Measurements, resets and conditions are refused here ("'measure' records into bits: read
/// the program with read_open_qasm", "'reset' is not unitary: ...", "classical control ('if')
/// reads bits: ..."); everything else reads as `read_open_qasm` reads it.
ZarnikGraph from_open_qasm(std::string_view text);

/// Most operations that calls of gate definitions (`gate name(params) qargs { body }`, and the
/// gates of "qelib1.inc", which are such definitions) may expand to together in one program; a
/// program asking for more is a parse error, so that a definition that doubles at every level
/// is refused instead of filling the memory.
inline constexpr std::uint64_t QASM_MAX_EXPANDED_OPERATIONS = 1U << 22;

/// One terminal measurement: `qubit` is read into classical bit `bit`.
struct Measurement {
    std::uint64_t qubit = 0;
    std::uint64_t bit = 0;

    friend bool operator==(const Measurement&, const Measurement&) = default;
};

/// What one instruction of a program does.
enum class QasmInstructionKind {
    /// Applies `operation`.
    Gate,
    /// Measures `qubit` in the computational basis into classical bit `bit`.
    Measure,
    /// Measures `qubit` and flips it to |0> when it read 1, recording nothing.
    Reset,
};

/// A test of classical bits: bits `first_bit` .. `first_bit + num_bits - 1` read as an unsigned
/// integer (bit `first_bit` least significant) equal `value` (`equal`) or differ from it
/// (`!equal`). Bits from 64 on compare against 0.
struct ClassicalCondition {
    std::uint64_t first_bit = 0;
    std::uint64_t num_bits = 1;
    std::uint64_t value = 1;
    bool equal = true;

    friend bool operator==(const ClassicalCondition&, const ClassicalCondition&) = default;
};

/// One statement of a program: a gate, a measurement or a reset, each applied only when its
/// condition (if any) holds for the bits recorded so far.
struct QasmInstruction {
    QasmInstructionKind kind = QasmInstructionKind::Gate;
    /// The gate, for `Gate`.
    Operation operation;
    /// The measured or reset qubit, for `Measure` and `Reset`.
    std::uint64_t qubit = 0;
    /// The bit written, for `Measure`.
    std::uint64_t bit = 0;
    std::optional<ClassicalCondition> condition;

    friend bool operator==(const QasmInstruction&, const QasmInstruction&) = default;
};

/// A program read by `read_open_qasm`.
///
/// `instructions` hold the whole program in order. When every measurement is terminal (no gate
/// acts on a measured qubit, no qubit is measured twice) and there is no `reset` and no `if`,
/// `terminal` is true and the same program is also `circuit` (its unitary part) followed by
/// `measurements`, for callers that need a circuit. Otherwise `terminal` is false, `circuit`
/// has no operations and `measurements` is empty: such a program is not one unitary, and only
/// `run_shots` and `to_open_qasm` take it. Whatever evaluates a program's energy or gradients
/// takes its circuit through `unitary_circuit`, which refuses such a program, never through
/// `circuit` directly.
struct QasmProgram {
    ZarnikGraph circuit;
    std::vector<Measurement> measurements;
    /// The total size of the bit declarations (`bit[n] c;`, `creg c[n];`), each register taking
    /// the next consecutive bit indexes in declaration order, as qubits do.
    std::uint64_t num_clbits = 0;
    /// Every gate, measurement and reset in program order; empty in a program assembled from
    /// `circuit` and `measurements` alone, which `run_shots` then reads instead.
    std::vector<QasmInstruction> instructions;
    bool terminal = true;
    /// Where a program that is not `terminal` stops being one unitary: the first reset, `if`,
    /// gate on a measured qubit or second measurement of a qubit, as "line {l}, column {c}:
    /// {what}" (the start of its statement). Empty for a terminal program.
    std::string non_unitary;
    /// The names of the program's `input float` / `input angle` declarations, in order.
    std::vector<std::string> inputs;
    /// The text the program was read from, kept (shared between copies) when it declares
    /// inputs, so that `bind` can read it again with other values; null otherwise.
    std::shared_ptr<const std::string> source;

    /// `circuit`, the unitary that the program applies before its terminal measurements: what
    /// energies, gradients and states of the program are computed from. Throws
    /// `InvalidArgument` ("the program is not one unitary ({non_unitary}): energies, gradients
    /// and states need a program without mid-circuit measurement, reset or 'if'; run it with
    /// run_shots") when `terminal` is false.
    const ZarnikGraph& unitary_circuit() const;

    /// The program read again from `source` with `values` for its `inputs` (values[i] for
    /// inputs[i]): exactly the program `read_open_qasm(text, inputs)` gives for those values,
    /// bit for bit. Reading is one pass over the text, linear in its length. A program without
    /// inputs gives a copy of itself for an empty `values`. Throws `InvalidArgument` when
    /// `values` has not one value per input or the program keeps no `source`.
    QasmProgram bind(std::span<const double> values) const;

    /// `bind(values).unitary_circuit()`: the circuit for those input values, refused for a
    /// program that is not one unitary.
    ZarnikGraph bound_circuit(std::span<const double> values) const;
};

/// The energy of a program as a function of its inputs, for the optimisers: calling it with one
/// value per input (in the order of `QasmProgram::inputs`) returns
/// `hamiltonian.expectation_value` of the state that `program.bound_circuit(values)` prepares
/// from |0...0> on the program's qubits, run as `mode` says; the same value as
/// `evaluate_circuit_energy` of that circuit. The program and the Hamiltonian are copied (the
/// text is shared). Calls are independent and change nothing.
class QasmEnergyFn {
  public:
    /// Throws what `unitary_circuit` throws for a program that is not one unitary, and
    /// `InvalidArgument` for a program with inputs but no `source`.
    QasmEnergyFn(QasmProgram program, PauliSum hamiltonian, Evaluation mode = Evaluation::Exact);

    /// Throws what `QasmProgram::bind`, the gates and `expectation_value` throw.
    double operator()(std::span<const double> values) const;

    /// How many values a call takes: the program's input count.
    std::size_t num_inputs() const noexcept {
        return program_.inputs.size();
    }

  private:
    QasmProgram program_;
    PauliSum hamiltonian_;
    Evaluation mode_;
};

/// An OpenQASM 2.0 or 3 program with its measurements. Version 3 reads as `from_open_qasm`
/// does. Version 2.0 (`OPENQASM 2.0;`) reads `include "qelib1.inc";`, `qreg`/`creg`, the
/// built-in `U` and `CX`, the gates of qelib1.inc and user gate definitions, each with the
/// matrix its definition gives in that version: OpenQASM 2's U(theta, phi, lambda) is
/// e^(-i(phi + lambda)/2) times OpenQASM 3's, so that every gate built from it carries the
/// global phase its definition gives (x is -i X, u1(lambda) is e^(-i lambda/2) p(lambda)); the
/// phases of a program are added up and appended as one GPHASE at the end of the circuit.
///
/// Measurements (`measure q -> c;`, `measure q[i] -> c[j];`, and in version 3 also
/// `c = measure q;`, `c[j] = measure q[i];`) may stand anywhere, and so may `reset q;` /
/// `reset q[i];`. Classical control reads, in version 2.0, `if (c == n) statement;` with `c` a
/// bit register and `n` a decimal integer, and in version 3 `if (condition) statement` or
/// `if (condition) { statements }`, optionally followed by `else` and a statement or block,
/// where the condition is `c == n`, `c != n`, `c[i] == n`, `c[i] != n` (n an integer, `true`
/// or `false`), `c[i]`, `!c[i]`, or `c` / `!c` for a single bit. The statements under a
/// condition are gate calls, measurements, resets and barriers; a nested `if`, other
/// conditions (`&&`, comparisons other than `==` and `!=`, integers and loops) and declarations
/// under a condition are parse errors naming them, as is `opaque`. Throws what
/// `from_open_qasm` throws.
QasmProgram read_open_qasm(std::string_view text);

/// `read_open_qasm` for a program with inputs: each `input float name;` or `input angle name;`
/// (also `angle[n]`, `float[n]`; version 3) takes its value from `inputs`, and angle
/// expressions outside gate definitions use it by name, evaluated in double precision like a
/// literal. The program's `inputs` lists the declared names and its `source` keeps the text, so
/// that `QasmProgram::bind` gives the program for other values without the text at hand. An input
/// without a value, other input types and an input named twice are parse errors; a value for a name
/// the program does not declare throws `InvalidArgument`. `read_open_qasm(text)` refuses every
/// input.
QasmProgram read_open_qasm(std::string_view text,
                           const std::map<std::string, double, std::less<>>& inputs);

/// Most classical bits `run_shots` writes per outcome.
inline constexpr std::uint64_t QASM_MAX_SHOT_BITS = 1U << 16;

/// Counts of `shots` runs of `program` per classical bitstring. A program whose measurements
/// are all terminal (`terminal`, or one without `instructions`) is sampled once for all shots:
/// the state its circuit prepares from |0...0> (on `circuit.num_qubits` qubits) is drawn from
/// `shots` times with a generator seeded by `seed`. Any other program runs shot by shot: each
/// shot starts from |0...0> and applies the instructions in order, a measurement drawing its
/// outcome with the seeded generator (outcome 1 when a uniform draw u in [0, 1) satisfies
/// u * (p0 + p1) >= p0; an outcome of probability 0 never occurs), collapsing and renormalising
/// the state, and a condition reading the bits of that shot. The gates before the first
/// measurement, reset or condition run once for all shots. Either way the counts are a fixed
/// function of the program, `shots` and `seed`, the same for any thread count.
///
/// Each outcome writes its measured qubits into their bits; the key has `num_clbits`
/// characters, bit c[0] last (as OpenQASM prints a register), unmeasured bits '0'. A program
/// without bits counts every shot under "". Throws `InvalidArgument` for more than
/// `QASM_MAX_SHOT_BITS` bits, a measurement, reset or condition outside the program's qubits or
/// bits, or a state whose measured qubit has zero or non-finite probability in total, and what
/// `run_circuit` and `sample` throw, before any shot is counted.
std::map<std::string, std::uint64_t> run_shots(const QasmProgram& program, std::uint64_t shots,
                                               std::uint64_t seed);

/// OpenQASM 3.0 text of `program`: the header of `to_open_qasm` for a circuit, with the bits
/// declared as `bit[n] c;` (`num_clbits` of them; several registers `c0`, `c1`, ... when
/// conditions test runs of bits, one register per run, in bit order), then one statement per
/// instruction in order: gates as the circuit export writes them, `c[j] = measure q[i];`,
/// `reset q[i];`, and a conditioned instruction inside `if (c[j] == 1) { ... }`,
/// `if (c == n) { ... }` or the same with `!=`. A program without `instructions` is written from
/// `circuit` and `measurements`. `read_open_qasm` reads the text back into the same
/// instructions. Throws what `to_open_qasm` throws for a gate, and `InvalidArgument` for a
/// measurement, reset or condition outside the program's qubits or bits, or two conditions on
/// runs of bits that overlap without being equal.
std::string to_open_qasm(const QasmProgram& program);

/// Types that export themselves as OpenQASM 3.0 text through `to_open_qasm`. Kept as the named
/// form of the export interface: generic code that prints circuits (a report, a tool) constrains
/// its parameter with it, and the assertion below keeps ZarnikGraph a model of it. Reading is not
/// part of it: `from_open_qasm` makes a ZarnikGraph, the one circuit type.
template <class T>
concept ToOpenQASM = requires(const T& value) {
    { to_open_qasm(value) } -> std::convertible_to<std::string>;
};

static_assert(ToOpenQASM<ZarnikGraph>);

}  // namespace zel

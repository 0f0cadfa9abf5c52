#pragma once

/// \file
/// OpenQASM 3.0 in both directions: export of a circuit as source text, and import of a program
/// into a circuit.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "zel/core/circuit.hpp"

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
/// Throws `IndexOutOfBounds` ("index out of bounds: the len is {} but the index is {}", the
/// length of the operation's `qubits`, then 0 or 1) for an operation with fewer qubit indexes
/// than its kind needs, and `InvalidArgument` ("operation {i} ({name}): the export writes the
/// fourteen original kinds only") for the kinds from U on.
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
/// consecutive qubit indexes in declaration order; bit declarations add none. The 14 gate kinds
/// are read under their standard-gate names (`id x y z h s sx t rx ry rz cx cz swap`), `CX` and
/// `cnot` as CX, and `sdg`, `tdg`, `cy` as the exact sequences S S S, S S S T and S S S CX S
/// (S on the target); `barrier` is checked and adds nothing. Every operation is appended with
/// `ZarnikGraph::add_gate`, so a rotation has its angle as its one parameter.
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
/// `ctrl(n) @`, `negctrl @`, `inv @` and `pow(k) @` on standard gates (mapped onto the kinds of
/// the gate table; a gate without a controlled kind is refused) and OpenQASM 2.0 are read as
/// `read_open_qasm` documents.
///
/// Measurements are refused here ("'measure' records into bits: read the program with
/// read_open_qasm"); everything else reads as `read_open_qasm` reads it.
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

/// A program read by `read_open_qasm`: its unitary part, then its measurements in program order.
struct QasmProgram {
    ZarnikGraph circuit;
    std::vector<Measurement> measurements;
    /// The total size of the bit declarations (`bit[n] c;`, `creg c[n];`), each register taking
    /// the next consecutive bit indexes in declaration order, as qubits do.
    std::uint64_t num_clbits = 0;
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
/// `c = measure q;`, `c[j] = measure q[i];`) must be terminal: a gate on a measured qubit,
/// `reset` and `if` are parse errors naming the construct ("mid-circuit measurement is not
/// supported yet"), as is `opaque`. Throws what `from_open_qasm` throws.
QasmProgram read_open_qasm(std::string_view text);

/// Most classical bits `run_shots` writes per outcome.
inline constexpr std::uint64_t QASM_MAX_SHOT_BITS = 1U << 16;

/// Counts of `shots` runs of `program` per classical bitstring: the state its circuit prepares
/// from |0...0> (on `circuit.num_qubits` qubits) is sampled once for all shots with a generator
/// seeded by `seed`, so the counts are a fixed function of the program, `shots` and `seed`.
/// Each outcome writes its measured qubits into their bits; the key has `num_clbits`
/// characters, bit c[0] last (as OpenQASM prints a register), unmeasured bits '0'. A program
/// without bits counts every shot under "". Throws `InvalidArgument` for more than
/// `QASM_MAX_SHOT_BITS` bits or a measurement outside the program's qubits or bits, and what
/// `run_circuit` and `sample` throw.
std::map<std::string, std::uint64_t> run_shots(const QasmProgram& program, std::uint64_t shots,
                                               std::uint64_t seed);

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

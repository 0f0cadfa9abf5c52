// OpenQASM 3 import: what each accepted statement reads as, the register-to-index mapping,
// broadcasting, the angle expressions bit for bit, and the rejections with their positions.

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"

namespace zel {
namespace {

const std::string PRELUDE = "OPENQASM 3.0;\ninclude \"stdgates.inc\";\n";

constexpr double PI = std::numbers::pi;
constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

std::uint64_t bits(double value) {
    return std::bit_cast<std::uint64_t>(value);
}

// The operation add_gate makes: rotations carry their angle as their one parameter.
Operation op(GateType gate, std::vector<std::uint64_t> qubits) {
    ZarnikGraph graph;
    graph.add_gate(gate, std::move(qubits));
    return graph.operations[0];
}

Operation op(GateKind kind, std::vector<std::uint64_t> qubits) {
    return op(GateType::of(kind), std::move(qubits));
}

// Equal operation for operation, angles and parameters compared by bit pattern.
::testing::AssertionResult same_operations(const std::vector<Operation>& got,
                                           const std::vector<Operation>& want) {
    if (got.size() != want.size()) {
        return ::testing::AssertionFailure()
               << got.size() << " operations, expected " << want.size();
    }
    for (std::size_t k = 0; k < got.size(); ++k) {
        const Operation& a = got[k];
        const Operation& b = want[k];
        bool same = a.gate.kind == b.gate.kind && bits(a.gate.angle) == bits(b.gate.angle) &&
                    a.qubits == b.qubits && a.params.size() == b.params.size();
        for (std::size_t p = 0; same && p < a.params.size(); ++p) {
            same = bits(a.params[p]) == bits(b.params[p]);
        }
        if (!same) {
            return ::testing::AssertionFailure()
                   << "operation " << k << " is " << debug_text(a.gate) << ", expected "
                   << debug_text(b.gate) << " (or qubits/parameters differ)";
        }
    }
    return ::testing::AssertionSuccess();
}

// The standard-gate name of every kind reads as that kind, on the qubits in order; the aliases
// and the mapped gates read as their exact sequences.
TEST(QasmImport, EveryGateNameReadsAsItsOperations) {
    struct Case {
        std::string statement;
        std::vector<Operation> operations;
    };
    std::vector<Case> cases;
    for (const GateInfo& info : ORIGINAL_GATES) {
        std::string statement(info.qasm);
        statement += info.has_angle ? "(0.5) q[3]" : " q[3]";
        statement += info.arity == 2 ? ", q[1];" : ";";
        const std::vector<std::uint64_t> qubits =
            info.arity == 2 ? std::vector<std::uint64_t>{3, 1} : std::vector<std::uint64_t>{3};
        cases.push_back({statement, {op(GateType{info.kind, info.has_angle ? 0.5 : 0.0}, qubits)}});
    }
    cases.push_back({"CX q[3], q[1];", {op(GateKind::CX, {3, 1})}});
    cases.push_back({"cnot q[3], q[1];", {op(GateKind::CX, {3, 1})}});
    cases.push_back({"sdg q[2];", {op(GateKind::SDG, {2})}});
    cases.push_back({"tdg q[2];", {op(GateKind::TDG, {2})}});
    cases.push_back({"cy q[0], q[2];", {op(GateKind::CY, {0, 2})}});
    // u3 is U and the global phase e^(-i(phi + lambda)/2).
    cases.push_back({"u3(0, 0, 0) q[2];",
                     {make_operation(GateKind::U, {2}, {0.0, 0.0, 0.0}),
                      make_operation(GateKind::GPHASE, {}, {-0.0})}});
    cases.push_back({"barrier q[0], q[1];", {}});
    cases.push_back({"barrier q;", {}});
    cases.push_back({"barrier;", {}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.statement);
        const ZarnikGraph graph = from_open_qasm(PRELUDE + "qubit[4] q;\n" + c.statement + "\n");
        EXPECT_EQ(graph.num_qubits, 4u);
        EXPECT_TRUE(same_operations(graph.operations, c.operations));
    }
}

// Qubit registers take consecutive indexes in declaration order, whatever the spelling; bit
// registers take none. Negative indexes count from the end of their register.
TEST(QasmImport, RegistersTakeConsecutiveIndexesInDeclarationOrder) {
    const ZarnikGraph graph = from_open_qasm(PRELUDE +
                                             "qubit[2] a;\n"
                                             "bit[3] c;\n"
                                             "qubit b;\n"
                                             "creg d[4];\n"
                                             "qreg r[3];\n"
                                             "bit e;\n"
                                             "qreg w;\n"
                                             "x a[0]; x a[1]; x b; x r[0]; x r[2]; x w;\n"
                                             "x r[-1]; x r[-3]; x a[-0];\n");
    EXPECT_EQ(graph.num_qubits, 7u);
    std::vector<Operation> want;
    for (const std::uint64_t q : {0, 1, 2, 3, 5, 6, 5, 3, 0}) {
        want.push_back(op(GateKind::X, {q}));
    }
    EXPECT_TRUE(same_operations(graph.operations, want));

    EXPECT_EQ(from_open_qasm("").num_qubits, 0u);
    EXPECT_EQ(from_open_qasm(PRELUDE + "bit[5] c;\n").num_qubits, 0u);
    // Sizes up to 2^64 - 1 in total are only numbers: nothing is allocated for them.
    const ZarnikGraph huge = from_open_qasm(PRELUDE +
                                            "qubit[18446744073709551614] q;\nqubit last;\n"
                                            "x q[18446744073709551613]; x last;\n");
    EXPECT_EQ(huge.num_qubits, 18446744073709551615u);
    EXPECT_TRUE(same_operations(huge.operations, {op(GateKind::X, {18446744073709551613u}),
                                                  op(GateKind::X, {18446744073709551614u})}));
}

// A whole register as operand applies the gate once per qubit in index order; single qubits
// repeat alongside; a mapped gate expands per qubit.
TEST(QasmImport, WholeRegistersApplyOncePerQubit) {
    struct Case {
        std::string statement;
        std::vector<Operation> operations;
    };
    const std::vector<Case> cases = {
        {"h q;", {op(GateKind::H, {0}), op(GateKind::H, {1}), op(GateKind::H, {2})}},
        {"rz(0.25) q;",
         {op(GateType::rz(0.25), {0}), op(GateType::rz(0.25), {1}), op(GateType::rz(0.25), {2})}},
        {"cx q, r;",
         {op(GateKind::CX, {0, 3}), op(GateKind::CX, {1, 4}), op(GateKind::CX, {2, 5})}},
        {"cz a, q;",
         {op(GateKind::CZ, {6, 0}), op(GateKind::CZ, {6, 1}), op(GateKind::CZ, {6, 2})}},
        {"swap q, r[0];",
         {op(GateKind::SWAP, {0, 3}), op(GateKind::SWAP, {1, 3}), op(GateKind::SWAP, {2, 3})}},
        {"h one;", {op(GateKind::H, {7})}},
        {"h a;", {op(GateKind::H, {6})}},
        {"sdg one; tdg a;", {op(GateKind::SDG, {7}), op(GateKind::TDG, {6})}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.statement);
        const ZarnikGraph graph = from_open_qasm(
            PRELUDE + "qubit[3] q;\nqubit[3] r;\nqubit a;\nqubit[1] one;\n" + c.statement + "\n");
        EXPECT_TRUE(same_operations(graph.operations, c.operations));
    }
}

// Header, comments, whitespace, line endings and optional punctuation change nothing.
TEST(QasmImport, LayoutAndCommentsDoNotChangeTheCircuit) {
    const ZarnikGraph reference = from_open_qasm(
        "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[2] q;\nh q[0];\ncx q[0], q[1];\n"
        "rz(0.5) q[1];\n");
    const std::vector<std::string> variants = {
        "OPENQASM 3;\ninclude \"stdgates.inc\";\nqubit[2] q;\nh q[0];\ncx q[0], q[1];\nrz(0.5) "
        "q[1];",
        "OPENQASM 3.1;\r\ninclude \"stdgates.inc\";\r\nqubit[2] q;\r\nh q[0];\r\ncx q[0], q[1];\r\n"
        "rz(0.5) q[1];\r\n",
        "OPENQASM 3.0;\rinclude \"stdgates.inc\";\rqubit[2] q;\rh q[0];\rcx q[0], q[1];\r"
        "rz(0.5) q[1];\r",
        "include 'stdgates.inc'; qubit[2] q; h q[0]; cx q[0], q[1]; rz(0.5) q[1];",
        "\xef\xbb\xbfOPENQASM 3.0; include \"stdgates.inc\"; qubit[2] q;\n"
        "h q[0]; cx q[0],q[1]; rz(.5) q[1];",
        "// leading comment, π in UTF-8\nOPENQASM/* inside */3.0;\n\tinclude \"stdgates.inc\" ;\n"
        "qubit [ 2 ] q ;\n/* a block\n   over lines */ h ( ) q [ 0 ] ;\n"
        "cx q[0], q[1], ; // a trailing comma\nrz(5e-1,) q[1];",
        "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqreg q[2];\nh q[0];\nCX q[0], q[1];\n"
        "rz(1.0 / 2) q[1];\n",
        "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[2] q;\nh q[-2];\ncnot q[0], q[-1];\n"
        "rz(0_0.5_0) q[1];\n",
    };
    for (const std::string& text : variants) {
        SCOPED_TRACE(text);
        const ZarnikGraph graph = from_open_qasm(text);
        EXPECT_EQ(graph.num_qubits, reference.num_qubits);
        EXPECT_TRUE(same_operations(graph.operations, reference.operations));
    }
}

// Angle expressions, bit for bit: literals are the nearest double, unary minus negates exactly,
// operators of one level apply left to right, '*' and '/' before '+' and '-'.
TEST(QasmImport, AngleExpressionsEvaluateInDoubleLeftToRight) {
    struct Case {
        std::string expression;
        double value;
    };
    // Evaluation order shows in the last bit: these pairs differ.
    ASSERT_NE(bits((0.1 + 0.2) + 0.3), bits(0.1 + (0.2 + 0.3)));
    ASSERT_NE(bits((0.1 * 3.0) / 7.0), bits(0.1 * (3.0 / 7.0)));
    const std::vector<Case> cases = {
        // Literals in every form; integers are exact up to 2^53, then rounded to nearest even.
        {"0.5", 0.5},
        {"1", 1.0},
        {"0", 0.0},
        {"007", 7.0},
        {"1.", 1.0},
        {".25", 0.25},
        {"1e3", 1000.0},
        {"1E-3", 0.001},
        {"2.5e+2", 250.0},
        {"1_000.000_1", 1000.0001},
        {"1_0e1_0", 1e11},
        {"0.1000000000000000055511151231257827021181583404541015625", 0.1},
        {"9007199254740993", 0x1p53},
        {"100000000000000000000000", 1e23},
        {"100000000000000000000000.0", 1e23},
        {"1.7976931348623157e308", std::numeric_limits<double>::max()},
        {"2.4703282292062328e-324", std::numeric_limits<double>::denorm_min()},
        {"1e-400", 0.0},
        {"1e-99999999999999999999999", 0.0},
        {"0e99999999999999999999999", 0.0},
        // Signs: unary minus negates the double, so both zeros come through.
        {"-0", -0.0},
        {"-0.0", -0.0},
        {"- -0", 0.0},
        {"-(-(0.0))", 0.0},
        {"---1.5", -1.5},
        {"-7", -7.0},
        // Constants.
        {"pi", PI},
        {"π", PI},
        {"tau", 2.0 * PI},
        {"τ", 2.0 * PI},
        {"euler", std::numbers::e},
        {"ℇ", std::numbers::e},
        {"inf", INF},
        {"-inf", -INF},
        // Precedence and order.
        {"-pi/2", -PI / 2.0},
        {"pi/4*3", PI / 4.0 * 3.0},
        {"0.1 + 0.2 + 0.3", (0.1 + 0.2) + 0.3},
        {"0.1 + (0.2 + 0.3)", 0.1 + (0.2 + 0.3)},
        {"0.1 * 3 / 7", (0.1 * 3.0) / 7.0},
        {"0.1 * (3.0 / 7)", 0.1 * (3.0 / 7.0)},
        {"2.0 - 1 - 1", 0.0},
        {"8.0 / 4 / 2", 1.0},
        {"1.0 + 2 * 3", 7.0},
        {"(1.0 + 2) * 3", 9.0},
        {"2.0 * -3", -6.0},
        {"1.0 - -1", 2.0},
        {"-pi + 2 * pi", -PI + 2.0 * PI},
        // '**' binds tighter than unary minus and to the right.
        {"2 ** 3", 8.0},
        {"-2 ** 2", -4.0},
        {"2 ** -1", 0.5},
        {"2 ** 3 ** 2", 512.0},
        {"pi ** 0.5 * 2", std::pow(PI, 0.5) * 2.0},
        // Integer operands follow integer rules where they differ from double: no negative zero.
        {"2 * 3", 6.0},
        {"7 - 7", 0.0},
        {"-0 * 5", 0.0},
        {"-0 + -0", 0.0},
        {"pi * -0", 0.0},
        {"-0.0 * 5", -0.0},
        {"9007199254740991 - 1", 9007199254740990.0},  // 2^53 - 1 is the last exact one
        // IEEE arithmetic on floats.
        {"1.0 / 0", INF},
        {"-1.0 / 0", -INF},
        {"1e308 * 10", INF},
        {"inf - inf", NOT_A_NUMBER},
        {"0.0 / 0", NOT_A_NUMBER},
        {"NaN", NOT_A_NUMBER},
        {"-NaN", NOT_A_NUMBER},
        {"NaN * 0", NOT_A_NUMBER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expression);
        const ZarnikGraph graph = from_open_qasm(PRELUDE + "qubit q;\nrx(" + c.expression +
                                                 ") q;\nry(" + c.expression + ") q;\n");
        ASSERT_EQ(graph.operations.size(), 2u);
        for (const Operation& read : graph.operations) {
            // Every NaN reads as the one quiet NaN, whatever the arithmetic left.
            EXPECT_EQ(bits(read.gate.angle), bits(c.value)) << std::hexfloat << read.gate.angle;
            ASSERT_EQ(read.params.size(), 1u);
            EXPECT_EQ(bits(read.params[0]), bits(c.value));
        }
    }
}

struct Rejection {
    std::string program;
    std::size_t line;
    std::size_t column;
    std::string reason;
};

// Runs every case; the error's fields, what() and the offset must agree with each other.
void expect_rejections(const std::vector<Rejection>& cases) {
    for (const Rejection& c : cases) {
        SCOPED_TRACE(c.program);
        try {
            from_open_qasm(c.program);
            ADD_FAILURE() << "accepted";
        } catch (const ParseError& error) {
            EXPECT_EQ(error.reason(), c.reason);
            EXPECT_EQ(error.line(), c.line);
            EXPECT_EQ(error.column(), c.column);
            EXPECT_EQ(std::string(error.what()), "line " + std::to_string(c.line) + ", column " +
                                                     std::to_string(c.column) + ": " + c.reason);
            // The offset is the same place: count the lines up to it.
            std::size_t line = 1;
            std::size_t line_start = 0;
            for (std::size_t k = 0; k < error.offset() && k < c.program.size(); ++k) {
                const bool crlf =
                    c.program[k] == '\r' && k + 1 < c.program.size() && c.program[k + 1] == '\n';
                if (c.program[k] == '\n' || (c.program[k] == '\r' && !crlf)) {
                    ++line;
                    line_start = k + 1;
                }
            }
            EXPECT_LE(error.offset(), c.program.size());
            EXPECT_EQ(line, c.line);
            EXPECT_EQ(error.offset() - line_start + 1, c.column);
        }
    }
}

// Statements outside the subset: each rejected at its first token with the reason.
TEST(QasmImport, RejectsStatementsOutsideTheSubset) {
    const std::string p = PRELUDE + "qubit[2] q;\nbit[2] c;\n";  // the statement is on line 5
    const std::string measure = "'measure' records into bits: read the program with read_open_qasm";
    expect_rejections({
        {p + "h q[0]; rxx(pi) q[0], q[1];", 5, 9, "unknown gate 'rxx'"},
        {p + "foo q[0];", 5, 1, "unknown gate 'foo'"},
        {p + "measure q[0] -> c[0];", 5, 1, measure},
        {p + "reset q;", 5, 1, "'reset' is not unitary: read the program with read_open_qasm"},
        {p + "c = measure q;", 5, 5, measure},
        {p + "c[0] = measure q[0];", 5, 8, measure},
        {p + "c = 1;", 5, 5, "only measurements are assigned to bits, found '1'"},
        {p + "q[0];", 5, 1, "a statement cannot start with the qubit register 'q'"},
        {p + "delay[100] q[0];", 5, 1, "'delay' is not supported: a circuit has no timing"},
        {p + "box { h q[0]; }", 5, 1, "'box' is not supported: a circuit has no timing"},
        {p + "opaque g a;", 5, 1,
         "opaque gates ('opaque') are not supported: their matrix is unknown"},
        {p + "def f() {}", 5, 1, "subroutines and calibrations ('def') are not supported"},
        {p + "defcal x $0 {}", 5, 1, "subroutines and calibrations ('defcal') are not supported"},
        {p + "for int i in [0:1] { h q[i]; }", 5, 1, "control flow ('for') is not supported"},
        {p + "if (c[0]) x q[0];", 5, 1,
         "classical control ('if') reads bits: read the program with read_open_qasm"},
        {p + "let a = q[0];", 5, 1, "aliases ('let') are not supported"},
        {p + "ctrl(7) @ sx q[0], q[1];", 5, 1, "'ctrl' takes 1 to 6 controls, found 7"},
        {p + "inv s q[0];", 5, 5, "expected '@' after the modifier 'inv', found 's'"},
        {p + "int x = 1;", 5, 1, "classical variables ('int') are not supported"},
        {p + "const float t = 0.5;", 5, 1, "classical variables ('const') are not supported"},
        {p + "input angle theta;", 5, 1,
         "input 'theta' has no value: pass the inputs' values to read_open_qasm"},
        {p + "pragma foo", 5, 1, "pragmas are not supported"},
        {p + "#pragma foo", 5, 1, "unexpected '#' (pragmas are not supported)"},
        {p + "@bind h q[0];", 5, 1, "annotations ('@') are not supported"},
        {p + "{ h q[0]; }", 5, 1, "blocks ('{ ... }') are not supported"},
        {p + "$0;", 5, 1, "physical qubits ('$0') are not supported"},
        {p + "h $0;", 5, 3, "physical qubits ('$0') are not supported: declare a qubit register"},
        {p + ";", 5, 1, "expected a statement, found ';'"},
        {p + "3;", 5, 1, "expected a statement, found '3'"},
        {p + "OPENQASM 3.0;", 5, 1, "'OPENQASM' must be the first statement"},
        {"OPENQASM 3.2;", 1, 10,
         "unsupported OpenQASM version '3.2' (this reader reads 2.0, 3, 3.0 and 3.1)"},
        {"OPENQASM;", 1, 9, "expected a version number after 'OPENQASM', found ';'"},
        {"OPENQASM 3.0", 1, 13, "expected ';' after the version, found the end of the text"},
        {"include \"qelib1.inc\";", 1, 9,
         "cannot include 'qelib1.inc': only \"stdgates.inc\" is available in OpenQASM 3"},
        {"include stdgates;", 1, 9,
         "expected a file name in quotes after 'include', found 'stdgates'"},
        {PRELUDE + "include \"stdgates.inc\";", 3, 9, "\"stdgates.inc\" is included twice"},
        {"OPENQASM 3.0;\nqubit[1] q;\nh q[0];", 3, 1,
         "gate 'h' comes from \"stdgates.inc\", which is not included before it"},
    });
}

// Gate calls that name the wrong qubits or the wrong number of things.
TEST(QasmImport, RejectsBadOperandsAndArguments) {
    const std::string p = PRELUDE + "qubit[2] q;\nbit[2] c;\nqubit a;\nqubit[3] r;\nqubit[0] e;\n";
    const std::size_t n = 8;  // the statement's line
    expect_rejections({
        {p + "x q[2];", n, 5, "index 2 is out of range for 'q' of 2 qubits"},
        {p + "x q[18446744073709551616];", n, 5,
         "index 18446744073709551616 is out of range for 'q' of 2 qubits"},
        {p + "x q[-3];", n, 5, "index -3 is out of range for 'q' of 2 qubits"},
        // Long spellings are cut short in the message.
        {p + "x q[" + std::string(300, '0') + "5];", n, 5,
         "index 0000000000000000000000000000000000000... is out of range for 'q' of 2 qubits"},
        {p + "x e[0];", n, 5, "index 0 is out of range for 'e' of 0 qubits"},
        {p + "x a[0];", n, 4, "'a' is a single qubit, not a register: write it without an index"},
        {p + "x z[0];", n, 3, "'z' is not a declared register"},
        {p + "x c[0];", n, 3, "'c' is a bit register, not qubits"},
        {p + "x q[0:1];", n, 6, "ranges ('q[0:2]') are not supported"},
        {p + "x q[{0, 1}];", n, 5, "index sets ('q[{0, 1}]') are not supported"},
        {p + "x q[1+0];", n, 6,
         "expected ']' after the qubit index, found '+' (an index is a decimal integer literal)"},
        {p + "x q[i];", n, 5,
         "expected a qubit index, found 'i' (an index is a decimal integer literal)"},
        {p + "x q[0.0];", n, 5, "a qubit index must be a whole number, found '0.0'"},
        {p + "cx q[0];", n, 8, "'cx' acts on 2 qubits, found 1"},
        {p + "h q[0], q[1];", n, 9, "'h' acts on 1 qubit, found 2"},
        {p + "cx q[0], q[0];", n, 10, "'cx' uses qubit q[0] twice"},
        {p + "swap a, a;", n, 9, "'swap' uses qubit a twice"},
        {p + "cz q, q;", n, 7, "'cz' uses qubit q[0] twice"},
        {p + "cx r, r[2];", n, 7, "'cx' uses qubit r[2] twice"},
        {p + "cx q, r;", n, 7,
         "registers 'q' (2 qubits) and 'r' (3 qubits) of one statement "
         "differ in size"},
        {p + "h e;", n, 3, "register 'e' has no qubits"},
        {p + "h q[0]", n, 7, "expected ',' or ';' after the qubit, found the end of the text"},
        {p + "h q[0] q[1];", n, 8, "expected ',' or ';' after the qubit, found 'q'"},
        {p + "h;", n, 2, "expected a qubit, found ';'"},
        {p + "h[5] q[0];", n, 2, "durations on gate calls are not supported"},
        {p + "rx q[0];", n, 4, "'rx' takes one angle, found 'q'"},
        {p + "rx() q[0];", n, 4, "'rx' takes one angle, found none"},
        {p + "rx(1.0, 2.0) q[0];", n, 9, "'rx' takes one angle"},
        {p + "h(0.5) q[0];", n, 3, "'h' takes no angle"},
        {p + "barrier q[5];", n, 11, "index 5 is out of range for 'q' of 2 qubits"},
        {p + "barrier c;", n, 9, "'c' is a bit register, not qubits"},
    });
}

// Angle expressions outside what is read, and integer arithmetic that double precision would
// evaluate differently from the language.
TEST(QasmImport, RejectsAnglesOutsideTheSubset) {
    const std::string p = PRELUDE + "qubit[2] q;\n";
    expect_rejections({
        {p + "rx(1/2) q[0];", 4, 5,
         "'/' between two integers is integer division in OpenQASM 3: write one of them with a "
         "point (1.0 / 2)"},
        {p + "rx(pi * (1 / 2)) q[0];", 4, 12,
         "'/' between two integers is integer division in OpenQASM 3: write one of them with a "
         "point (1.0 / 2)"},
        {p + "rx(pi + (9007199254740993 - 1)) q[0];", 4, 27,
         "integer arithmetic from 2^53 on is not exact in double precision: write the numbers "
         "with a point"},
        {p + "rx(4294967296 * 4294967296) q[0];", 4, 15,
         "integer arithmetic from 2^53 on is not exact in double precision: write the numbers "
         "with a point"},
        {p + "rx(9007199254740992 - 1) q[0];", 4, 21,
         "integer arithmetic from 2^53 on is not exact in double precision: write the numbers "
         "with a point"},
        {p + "rx(4503599627370496 + 4503599627370496) q[0];", 4, 21,
         "integer arithmetic from 2^53 on is not exact in double precision: write the numbers "
         "with a point"},
        {p + "rx(2 ^ 3) q[0];", 4, 6,
         "'^' is a bit operation in OpenQASM 3, not supported in angles (the power is '**')"},
        {p + "rx(5 % 2) q[0];", 4, 6, "the operator '%' is not supported in angles"},
        {p + "rx(sinh(1.0)) q[0];", 4, 4, "function 'sinh' is not supported in angles"},
        {p + "rx(theta) q[0];", 4, 4,
         "unknown name 'theta' in an angle (numbers, pi, tau, euler, NaN and inf are read)"},
        {p + "rx(nan) q[0];", 4, 4,
         "unknown name 'nan' in an angle (numbers, pi, tau, euler, NaN and inf are read)"},
        {p + "rx(q) q[0];", 4, 4, "'q' is a register, not a number"},
        {p + "rx(1e400) q[0];", 4, 4, "number '1e400' is beyond the range of a double"},
        {p + "rx(" + std::string(310, '9') + ") q[0];", 4, 4,
         "number '9999999999999999999999999999999999999...' is beyond the range of a double"},
        {p + "rx(1.0 q[0];", 4, 8, "expected ',' or ')' after the angle, found 'q'"},
        {p + "rx(+1.0) q[0];", 4, 4, "expected a number, found '+'"},
        {p + "rx(\"1\") q[0];", 4, 4, "expected a number, found '\"1\"'"},
        {p + "rx((1.0) q[0];", 4, 10, "expected ',' or ')' after the angle, found 'q'"},
        {p + "rx((1.0 q[0];", 4, 9, "expected ')' to close the parenthesis, found 'q'"},
        {p + "rx(", 4, 4, "expected a number, found the end of the text"},
        {p + "rx(2pi) q[0];", 4, 5,
         "unexpected character after the number '2' (units, imaginary numbers and names need a "
         "space or an operator between)"},
        {p + "rx(1.5im) q[0];", 4, 7,
         "unexpected character after the number '1.5' (units, imaginary numbers and names need "
         "a space or an operator between)"},
        {p + "rx(1.2.3) q[0];", 4, 7,
         "unexpected character after the number '1.2' (units, imaginary numbers and names need "
         "a space or an operator between)"},
        {p + "rx(1e) q[0];", 4, 5, "the exponent of '1e' has no digits"},
        {p + "rx(1e+) q[0];", 4, 5, "the exponent of '1e+' has no digits"},
        {p + "rx(1__0) q[0];", 4, 5, "'_' in a number must stand between two digits"},
        {p + "rx(1_) q[0];", 4, 5, "'_' in a number must stand between two digits"},
        {p + "rx(0x1F) q[0];", 4, 4, "hexadecimal, octal and binary literals are not supported"},
        {p + "rx(0b1) q[0];", 4, 4, "hexadecimal, octal and binary literals are not supported"},
    });
}

// Declarations: names, sizes and their limits.
TEST(QasmImport, RejectsBadDeclarations) {
    const std::string p = PRELUDE + "qubit[2] q;\n";
    expect_rejections({
        {p + "qubit[2] q;", 4, 10, "'q' is already declared on line 3"},
        {p + "bit q;", 4, 5, "'q' is already declared on line 3"},
        {p + "qubit[2] h;", 4, 10, "'h' cannot name a register: it is the name of a gate"},
        {p + "qubit[2] cnot;", 4, 10, "'cnot' cannot name a register: it is the name of a gate"},
        {p + "bit[2] u3;", 4, 8, "'u3' cannot name a register: it is the name of a gate"},
        {p + "qubit[2] pi;", 4, 10, "'pi' cannot name a register: it is a built-in constant"},
        {p + "qubit[2] π;", 4, 10, "'π' cannot name a register: it is a built-in constant"},
        {p + "qubit[2] measure;", 4, 10, "'measure' cannot name a register: it is a keyword"},
        {p + "qreg barrier[2];", 4, 6, "'barrier' cannot name a register: it is a keyword"},
        {p + "qubit r[2];", 4, 8,
         "expected ';' after the declaration of 'r', found '[' (the size comes after the type: "
         "qubit[2] q;)"},
        {p + "qubit[2] r", 4, 11,
         "expected ';' after the declaration of 'r', found the end of the text"},
        {p + "qubit[-1] r;", 4, 7, "a register size cannot be negative"},
        {p + "qubit[1.5] r;", 4, 7, "a register size must be a whole number, found '1.5'"},
        {p + "qubit[n] r;", 4, 7, "expected the register size, found 'n'"},
        {p + "qubit[2*3] r;", 4, 8,
         "expected ']' after the register size, found '*' (a size is a decimal integer literal)"},
        {p + "qubit[18446744073709551616] r;", 4, 7,
         "register size '18446744073709551616' does not fit in 64 bits"},
        {p + "qubit[18446744073709551614] r;", 4, 29,
         "the qubit registers hold more than 2^64 - 1 qubits together"},
        {p + "qubit[] r;", 4, 7, "expected the register size, found ']'"},
        {p + "qubit;", 4, 6, "expected a register name, found ';'"},
        {p + "bit[2] c = \"01\";", 4, 10, "declarations with an initial value are not supported"},
        {p + "qreg r[2;", 4, 9,
         "expected ']' after the register size, found ';' (a size is a decimal integer literal)"},
    });
}

// The bytes themselves: encodings, control characters, unclosed comments and strings. Columns
// count bytes.
TEST(QasmImport, RejectsBadBytesAtTheirPosition) {
    const std::string p = PRELUDE + "qubit[2] q;\n";
    expect_rejections({
        {p + "h q[0];\x01", 4, 8, "control character 0x01 in the text"},
        {p + "h q[0];\x7f", 4, 8, "control character 0x7f in the text"},
        {p + "h q[0];\f", 4, 8, "control character 0x0c in the text"},
        {p + std::string("h q[0];\0", 8), 4, 8, "NUL byte in the text"},
        {p + std::string("// a\0 comment", 13), 4, 5, "NUL byte in the text"},
        {p + std::string("/* a\0 */", 8), 4, 5, "NUL byte in the text"},
        {p + "// caf\xff", 4, 7, "invalid UTF-8 (byte 0xff)"},
        {p + "/* \xc0\x80 */", 4, 4, "invalid UTF-8 (byte 0xc0)"},          // overlong NUL
        {p + "/* \xed\xa0\x80 */", 4, 4, "invalid UTF-8 (byte 0xed)"},      // a UTF-16 surrogate
        {p + "/* \xf4\x90\x80\x80 */", 4, 4, "invalid UTF-8 (byte 0xf4)"},  // above U+10FFFF
        {p + "/* \xe2\x82", 4, 4, "invalid UTF-8 (byte 0xe2)"},             // cut short
        {p + "h q[0]; \xe9", 4, 9, "invalid UTF-8 (byte 0xe9)"},
        {p + "h q[0]; é", 4, 9,
         "unexpected character U+00E9 'é' (outside comments and strings only π, τ and ℇ may be "
         "non-ASCII)"},
        {p + "/* π */ é", 4, 10,
         "unexpected character U+00E9 'é' (outside comments and strings only π, τ and ℇ may be "
         "non-ASCII)"},
        {p + "h q[0];\n/* never closed", 5, 1, "comment '/*' is never closed"},
        {"include \"stdgates.inc;\nqubit q;", 1, 9, "string is never closed on its line"},
        {"include \"stdgates\x01.inc\";", 1, 18, "control character 0x01 inside a string"},
        // Line endings: "\r\n" is one break, a lone "\r" another.
        {"OPENQASM 3.0;\r\n\r\nfoo;", 3, 1, "unknown gate 'foo'"},
        {"OPENQASM 3.0;\r\rfoo;", 3, 1, "unknown gate 'foo'"},
        {"OPENQASM 3.0;\n\r\n\rfoo;", 4, 1, "unknown gate 'foo'"},
        {"\xef\xbb\xbf  foo;", 1, 6, "unknown gate 'foo'"},
    });
}

// Limits against absurd inputs: parenthesis depth and the operations broadcasts make.
TEST(QasmImport, LimitsAreExactAndReported) {
    const std::string p = PRELUDE + "qubit[2] q;\n";
    const auto nested = [](std::size_t depth) {
        return std::string(depth, '(') + "0.5" + std::string(depth, ')');
    };
    const ZarnikGraph deepest = from_open_qasm(p + "rx(" + nested(QASM_MAX_NESTING) + ") q[0];");
    EXPECT_EQ(bits(deepest.operations.at(0).gate.angle), bits(0.5));
    const std::size_t too_deep = QASM_MAX_NESTING + 1;
    expect_rejections({
        {p + "rx(" + nested(too_deep) + ") q[0];", 4, 3 + too_deep,
         "parentheses nest deeper than 64 levels"},
        // Minus signs do not nest: any number of them reads.
        {p + "rx(" + std::string(100000, '-') + "1.0 q[0];", 4, 100008,
         "expected ',' or ')' after the angle, found 'q'"},
    });

    const std::string size = std::to_string(QASM_MAX_BROADCAST_OPERATIONS);
    const ZarnikGraph full = from_open_qasm(p + "qubit[" + size + "] big;\nh big;\nx q[0];\n");
    EXPECT_EQ(full.gate_count(), QASM_MAX_BROADCAST_OPERATIONS + 1);
    const std::string half = std::to_string(QASM_MAX_BROADCAST_OPERATIONS / 2 + 1);
    expect_rejections({
        {p + "qubit[" + size + "] big;\nh big;\nh q;", 6, 1,
         "whole-register gates would make more than 65536 operations in one program"},
        // A gate that reads as two operations counts both.
        {p + "qubit[" + half + "] big;\nu3(0, 0, 0) big;", 5, 1,
         "whole-register gates would make more than 65536 operations in one program"},
        {p + "qubit[18446744073709551613] big;\nh big;", 5, 1,
         "whole-register gates would make more than 65536 operations in one program"},
    });

    // Long programs read in one pass: a megabyte of gates.
    std::string text = p;
    for (int k = 0; k < 100000; ++k) {
        text += "cx q[0], q[1]; // comment\n";
    }
    EXPECT_EQ(from_open_qasm(text).gate_count(), 100000u);
    const std::string name(1 << 20, 'n');
    expect_rejections(
        {{p + name + ";", 4, 1, "unknown gate 'nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn...'"}});
}

}  // namespace
}  // namespace zel

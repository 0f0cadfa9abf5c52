// OpenQASM 3.0 export: header, one line per gate kind, angle text and the bounds report.

#include "zel/compiler/qasm.hpp"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"

#include "support/errors.hpp"

namespace zel {
namespace {

const std::string HEADER_2 =
    "OPENQASM 3.0;\n"
    "include \"stdgates.inc\";\n"
    "qubit[2] q;\n"
    "bit[2] c;\n"
    "\n";

ZarnikGraph graph_of(std::uint64_t qubits, std::vector<Operation> ops) {
    ZarnikGraph graph(qubits);
    graph.operations = std::move(ops);
    return graph;
}

// The text after the header.
std::string body(const ZarnikGraph& graph) {
    const std::string text = to_open_qasm(graph);
    EXPECT_EQ(text.substr(0, HEADER_2.size()), HEADER_2);
    return text.substr(HEADER_2.size());
}

TEST(QasmExport, EmptyCircuitIsTheBareHeader) {
    EXPECT_EQ(to_open_qasm(ZarnikGraph(2)), HEADER_2);
    EXPECT_EQ(to_open_qasm(ZarnikGraph(0)),
              "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[0] q;\nbit[0] c;\n\n");
    EXPECT_EQ(to_open_qasm(ZarnikGraph(17)),
              "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[17] q;\nbit[17] c;\n\n");
}

// Every kind of the gate table: its line, with extra qubit indexes ignored and indexes written
// as they are even beyond num_qubits. The params array is never read.
TEST(QasmExport, EveryKindWritesItsStandardGateLine) {
    const std::vector<std::string> expected = {
        "id q[3];\n",       "x q[3];\n",          "y q[3];\n",       "z q[3];\n",
        "h q[3];\n",        "s q[3];\n",          "sx q[3];\n",      "t q[3];\n",
        "rx(0.5) q[3];\n",  "ry(0.5) q[3];\n",    "rz(0.5) q[3];\n", "cx q[3], q[1];\n",
        "cz q[3], q[1];\n", "swap q[3], q[1];\n",
    };
    ASSERT_EQ(expected.size(), ORIGINAL_GATES.size());
    for (std::size_t k = 0; k < ORIGINAL_GATES.size(); ++k) {
        const GateInfo& info = ORIGINAL_GATES[k];
        SCOPED_TRACE(std::string(info.name));
        const GateType gate{info.kind, 0.5};
        EXPECT_EQ(body(graph_of(2, {{gate, {3, 1, 0}, {9.0}}})), expected[k]);
        // Exactly as many indexes as the kind needs is enough.
        const std::vector<std::uint64_t> exact = {3, 1};
        EXPECT_EQ(body(graph_of(2, {{gate, {exact.begin(), exact.begin() + info.arity}, {}}})),
                  expected[k]);
    }
}

TEST(QasmExport, OperationsInOrderWithControlFirst) {
    const ZarnikGraph graph =
        graph_of(2, {
                        {GateType::of(GateKind::CX), {0, 1}, {}},
                        {GateType::of(GateKind::CX), {1, 0}, {}},
                        {GateType::rz(1.0), {0}, {0.25}},
                        {GateType::of(GateKind::I), {1}, {}},
                        {GateType::of(GateKind::SWAP), {18446744073709551615u, 7}, {}},
                    });
    EXPECT_EQ(to_open_qasm(graph), HEADER_2 +
                                       "cx q[0], q[1];\n"
                                       "cx q[1], q[0];\n"
                                       "rz(1.0) q[0];\n"
                                       "id q[1];\n"
                                       "swap q[18446744073709551615], q[7];\n");
}

// The rotation's own angle as the shortest round-trip digits, positional, never an exponent.
// Whole numbers get ".0": OpenQASM 3 types a literal without point as an integer, which does not
// convert to an angle. NaN and the infinities have no OpenQASM spelling and keep the plain form.
TEST(QasmExport, AngleText) {
    struct Case {
        double angle;
        std::string text;
    };
    const std::string smallest_subnormal = "0." + std::string(323, '0') + "5";  // 5e-324
    const std::vector<Case> cases = {
        {0.5, "0.5"},
        {-0.25, "-0.25"},
        {1e-5, "0.00001"},
        {0.1, "0.1"},
        {1.5e-7, "0.00000015"},
        {3.141592653589793, "3.141592653589793"},
        {4503599627370495.5, "4503599627370495.5"},  // the last half below 2^52 + 1
        {std::numeric_limits<double>::denorm_min(), smallest_subnormal},
        // Whole numbers, both zeros included.
        {1.0, "1.0"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {-3.0, "-3.0"},
        {9007199254740991.0, "9007199254740991.0"},  // 2^53 - 1
        {1e16, "10000000000000000.0"},
        {0x1p63, "9223372036854776000.0"},  // shortest digits, then zeros
        {1e23, "100000000000000000000000.0"},
        {-1e300, "-1" + std::string(300, '0') + ".0"},
        // Non-finite angles.
        {std::numeric_limits<double>::quiet_NaN(), "NaN"},
        {-std::numeric_limits<double>::quiet_NaN(), "NaN"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        for (const GateType gate :
             {GateType::rx(c.angle), GateType::ry(c.angle), GateType::rz(c.angle)}) {
            const std::string name(gate_info(gate.kind).qasm);
            EXPECT_EQ(body(graph_of(2, {{gate, {1}, {0.75}}})), name + "(" + c.text + ") q[1];\n");
        }
    }
}

// Too few qubit indexes for the kind throw the bounds report: the length of `qubits`, then the
// index wanted.
TEST(QasmExport, MissingQubitThrowsTheBoundsReport) {
    for (const GateInfo& info : ORIGINAL_GATES) {
        SCOPED_TRACE(std::string(info.name));
        const GateType gate{info.kind, 0.5};
        EXPECT_TRUE(test::throws_bounds(
            [&] {
                to_open_qasm(graph_of(2, {{GateType::of(GateKind::X), {0}, {}}, {gate, {}, {}}}));
            },
            0, 0));
        if (info.arity == 2) {
            EXPECT_TRUE(test::throws_bounds(
                [&] {
                    to_open_qasm(graph_of(2, {{gate, {0}, {}}}));
                },
                1, 1));
        }
    }
}

}  // namespace
}  // namespace zel

namespace zel {
namespace {

TEST(QasmExport, KindsOutsideTheTableAreRefused) {
    ZarnikGraph circuit(1);
    circuit.add_gate_with_params(GateType{static_cast<GateKind>(GATE_KIND_COUNT), 0.0}, {0}, {});
    EXPECT_THROW(static_cast<void>(to_open_qasm(circuit)), InvalidArgument);
}

}  // namespace
}  // namespace zel

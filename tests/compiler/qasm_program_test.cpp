// What evaluates a read program: its unitary circuit, refused for programs that are not one
// unitary, and the program bound to other values of its inputs, which must be exactly the
// program read with those values.

#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/compiler/qasm.hpp"
#include "zel/core/error.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

namespace {

using Inputs = std::map<std::string, double, std::less<>>;

const std::string V2 = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\n";
const std::string V3 = "OPENQASM 3.0;\ninclude \"stdgates.inc\";\n";

std::string message_of_unitary_circuit(const zel::QasmProgram& program) {
    try {
        static_cast<void>(program.unitary_circuit());
    } catch (const zel::InvalidArgument& error) {
        return error.what();
    }
    return "accepted";
}

// Every path that evaluates a program refuses one that is not one unitary, naming the first
// statement that makes it so; a program whose measurements are all terminal evaluates.
TEST(QasmProgramEvaluation, RefusesProgramsThatAreNotOneUnitary) {
    struct Case {
        std::string name;
        std::string program;
        std::string where;
    };
    const std::string q2 = V2 + "qreg q[2];\ncreg c[2];\n";
    const std::string q3 = V3 + "qubit[2] q;\nbit[2] c;\n";
    const std::vector<Case> cases = {
        {"gate after a measurement", q2 + "h q[0];\nmeasure q[0] -> c[0];\nx q[0];\n",
         "line 7, column 1: a gate on qubit 0 after its measurement"},
        {"gate from a definition after a measurement",
         q3 + "gate g a, b { cx a, b; }\nc[1] = measure q[1];\ng q[0], q[1];\n",
         "line 7, column 1: a gate on qubit 1 after its measurement"},
        {"second measurement", q3 + "h q[0];\nc[0] = measure q[0];\nc[1] = measure q[0];\n",
         "line 7, column 1: a second measurement of q[0]"},
        {"reset", q3 + "h q[1];\n  reset q[1];\nh q[1];\n", "line 6, column 3: 'reset'"},
        {"if", q2 + "measure q[0] -> c[0];\nif (c==1) x q[1];\n",
         "line 6, column 1: classical control ('if')"},
        {"if without an earlier measurement", q3 + "if (c[0]) x q[1];\n",
         "line 5, column 1: classical control ('if')"},
    };
    const zel::PauliSum z0 = zel::parse_pauli_sum("Z0");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const zel::QasmProgram program = zel::read_open_qasm(c.program);
        EXPECT_FALSE(program.terminal);
        EXPECT_EQ(program.non_unitary, c.where);
        EXPECT_EQ(message_of_unitary_circuit(program),
                  "the program is not one unitary (" + c.where +
                      "): energies, gradients and states need a program without mid-circuit "
                      "measurement, reset or 'if'; run it with run_shots");
        EXPECT_THROW(static_cast<void>(program.bound_circuit({})), zel::InvalidArgument);
        EXPECT_THROW(static_cast<void>(zel::QasmEnergyFn(program, z0)), zel::InvalidArgument);
        EXPECT_THROW(static_cast<void>(zel::from_open_qasm(c.program)), zel::ParseError);
        // Shots still run it.
        EXPECT_EQ(zel::run_shots(program, 4, 1).size() > 0, true);
    }
}

TEST(QasmProgramEvaluation, TerminalMeasurementsEvaluate) {
    const std::vector<std::string> programs = {
        V2 + "qreg q[2];\ncreg c[2];\nh q[0];\ncx q[0],q[1];\nmeasure q -> c;\n",
        V3 + "qubit[2] q;\nbit[2] c;\nh q[0];\ncx q[0], q[1];\nc[1] = measure q[1];\n"
             "c[0] = measure q[0];\n",
        V3 + "qubit[2] q;\nh q[0];\ncx q[0], q[1];\n",
    };
    const zel::PauliSum zz = zel::parse_pauli_sum("0.5 * Z0 Z1 + 0.25 * X0 X1 - Z0");
    for (const std::string& text : programs) {
        SCOPED_TRACE(text);
        const zel::QasmProgram program = zel::read_open_qasm(text);
        EXPECT_TRUE(program.terminal);
        EXPECT_EQ(program.non_unitary, "");
        EXPECT_EQ(&program.unitary_circuit(), &program.circuit);
        EXPECT_EQ(program.bound_circuit({}), program.circuit);
        const double expected =
            zel::evaluate_circuit_energy(zel::ZarnikState(2), program.circuit, zz);
        EXPECT_EQ(zel::QasmEnergyFn(program, zz)({}), expected);
        EXPECT_NEAR(expected, 0.75, 1e-12);
    }
}

// The inputs reach the operations through expressions with functions and powers, gate
// definitions, modifiers and the phases of U: binding gives, bit for bit, the program read with
// the same values.
TEST(QasmProgramBinding, GivesTheProgramReadWithThoseValues) {
    const std::string text = V3 +
                             "input float theta;\ninput angle phi;\nqubit[3] q;\nbit[3] c;\n"
                             "gate layer(a, b) x, y { ry(a / 2) x; crz(b ** 2) x, y; "
                             "u(a, b, -a) y; }\n"
                             "h q;\nrx(sin(theta) + cos(phi)) q[0];\nlayer(theta, phi * 3) q[0], "
                             "q[1];\ninv @ crx(theta - phi) q[1], q[2];\npow(2) @ p(phi) q[2];\n"
                             "ctrl @ ry(exp(theta) / 4) q[2], q[0];\ngphase(theta);\n"
                             "c = measure q;\n";
    const zel::QasmProgram first = zel::read_open_qasm(text, {{"theta", 0.1}, {"phi", 0.2}});
    ASSERT_EQ(first.inputs, (std::vector<std::string>{"theta", "phi"}));
    ASSERT_NE(first.source, nullptr);
    const zel::PauliSum h = zel::parse_pauli_sum("0.5 * Z0 Z1 + 0.3 * X1 Y2 - 0.7 * Z2 + X0");
    const zel::QasmEnergyFn energy(first, h);
    EXPECT_EQ(energy.num_inputs(), 2U);
    const std::vector<std::vector<double>> points = {
        {0.1, 0.2}, {0.0, -0.0}, {std::numbers::pi, 2.5}, {-1e-9, 7.0}, {12.5, -3.25}};
    for (const std::vector<double>& values : points) {
        SCOPED_TRACE(testing::PrintToString(values));
        const zel::QasmProgram direct =
            zel::read_open_qasm(text, {{"theta", values[0]}, {"phi", values[1]}});
        const zel::QasmProgram bound = first.bind(values);
        EXPECT_EQ(bound.instructions, direct.instructions);
        EXPECT_EQ(bound.circuit, direct.circuit);
        EXPECT_EQ(bound.measurements, direct.measurements);
        EXPECT_EQ(bound.source, first.source);
        EXPECT_EQ(first.bound_circuit(values), direct.circuit);
        const double expected =
            zel::evaluate_circuit_energy(zel::ZarnikState(3), direct.circuit, h);
        const double got = energy(values);
        EXPECT_EQ(std::signbit(got), std::signbit(expected));
        EXPECT_EQ(got, expected);
    }
    // A program that is not one unitary binds too: shots run it.
    const zel::QasmProgram dynamic = zel::read_open_qasm(
        V3 + "input float w;\nqubit q;\nbit c;\nrx(w) q;\nc = measure q;\nreset q;\n", {{"w", 0}});
    const std::vector<double> pi = {std::numbers::pi};
    EXPECT_EQ(zel::run_shots(dynamic.bind(pi), 8, 3),
              (std::map<std::string, std::uint64_t>{{"1", 8}}));
    EXPECT_THROW(static_cast<void>(dynamic.bound_circuit(pi)), zel::InvalidArgument);
}

TEST(QasmProgramBinding, RefusesValuesThatDoNotFit) {
    const zel::QasmProgram program = zel::read_open_qasm(
        V3 + "input float a;\ninput angle b;\nqubit q;\nrx(a + b) q;\n", {{"a", 0}, {"b", 0}});
    struct Case {
        std::vector<double> values;
        std::string what;
    };
    const std::vector<Case> cases = {
        {{}, "bind: the program has 2 inputs (a, b), given 0 values"},
        {{1.0}, "bind: the program has 2 inputs (a, b), given 1 values"},
        {{1.0, 2.0, 3.0}, "bind: the program has 2 inputs (a, b), given 3 values"},
    };
    for (const Case& c : cases) {
        try {
            static_cast<void>(program.bind(c.values));
            ADD_FAILURE() << "accepted " << c.values.size();
        } catch (const zel::InvalidArgument& error) {
            EXPECT_EQ(std::string(error.what()), c.what);
        }
        const zel::QasmEnergyFn energy(program, zel::parse_pauli_sum("Z0"));
        EXPECT_THROW(static_cast<void>(energy(c.values)), zel::InvalidArgument);
    }
    const zel::QasmProgram plain = zel::read_open_qasm(V3 + "qubit q;\nx q;\n");
    EXPECT_EQ(plain.source, nullptr);
    EXPECT_EQ(plain.bind({}).circuit, plain.circuit);
    EXPECT_THROW(static_cast<void>(plain.bind(std::vector<double>{1.0})), zel::InvalidArgument);

    // Inputs without the text to read them again cannot be bound.
    zel::QasmProgram assembled = program;
    assembled.source = nullptr;
    EXPECT_THROW(static_cast<void>(assembled.bind(std::vector<double>{1.0, 2.0})),
                 zel::InvalidArgument);
    EXPECT_THROW(static_cast<void>(zel::QasmEnergyFn(assembled, zel::parse_pauli_sum("Z0"))),
                 zel::InvalidArgument);
}

}  // namespace

// Programs with mid-circuit measurement, reset and classical control: what the reader records,
// what it refuses, the shot-by-shot counts of run_shots and the export of whole programs.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/compiler/qasm.hpp"
#include "zel/core/error.hpp"
#include "zel/core/parallel.hpp"

namespace {

using Counts = std::map<std::string, std::uint64_t>;

const std::string V2 = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\n";
const std::string V3 = "OPENQASM 3.0;\ninclude \"stdgates.inc\";\n";

// Teleports qubit 0 (prepared by `prepare`) onto qubit 2 and measures it into c[2].
std::string teleport(const std::string& prepare) {
    return V2 + "qreg q[3];\ncreg c0[1];\ncreg c1[1];\ncreg c2[1];\n" + prepare +
           "h q[1];\ncx q[1],q[2];\ncx q[0],q[1];\nh q[0];\nmeasure q[0] -> c0[0];\n"
           "measure q[1] -> c1[0];\nif (c1==1) x q[2];\nif (c0==1) z q[2];\n"
           "measure q[2] -> c2[0];\n";
}

std::set<std::string> keys(const Counts& counts) {
    std::set<std::string> result;
    for (const auto& [key, count] : counts) {
        result.insert(key);
    }
    return result;
}

std::uint64_t total(const Counts& counts) {
    std::uint64_t sum = 0;
    for (const auto& [key, count] : counts) {
        sum += count;
    }
    return sum;
}

// Programs whose outcomes are restricted by construction: every shot lands on one of `allowed`,
// and each of `allowed` occurs in 200 shots (each has probability 1/2 or 1 here).
TEST(QasmDynamic, OutcomesFollowMeasurementResetAndConditions) {
    struct Case {
        std::string name;
        std::string program;
        std::set<std::string> allowed;
    };
    const std::string q2 = V2 + "qreg q[2];\ncreg c[2];\n";
    const std::string q3 = V3 + "qubit[2] q;\nbit[2] c;\n";
    const std::vector<Case> cases = {
        {"reset of |1> gives 0", q2 + "x q[0];\nreset q[0];\nmeasure q[0] -> c[0];", {"00"}},
        {"reset of a register", q2 + "h q[0];\nx q[1];\nreset q;\nmeasure q -> c;", {"00"}},
        {"reset then gate", q2 + "x q[1];\nreset q[1];\nx q[1];\nmeasure q -> c;", {"10"}},
        {"if (c==1) after a certain 1",
         q2 + "x q[0];\nmeasure q[0] -> c[0];\nif (c==1) x q[0];\nmeasure q[0] -> c[1];",
         {"01"}},
        {"if (c==1) not taken",
         q2 + "measure q[0] -> c[0];\nif (c==1) x q[1];\nmeasure q[1] -> c[1];",
         {"00"}},
        {"if on a whole register value",
         q2 + "x q[1];\nmeasure q -> c;\nif (c==2) x q[0];\nmeasure q[0] -> c[0];",
         {"11"}},
        {"Bell pair corrected by its first bit",
         q2 + "h q[0];\ncx q[0],q[1];\nmeasure q[0] -> c[0];\nif (c==1) x q[1];\n"
              "measure q[1] -> c[1];",
         {"00", "01"}},
        {"Bell pair measured twice agrees",
         q2 + "h q[0];\ncx q[0],q[1];\nmeasure q[0] -> c[0];\nmeasure q[1] -> c[1];\n"
              "h q[0];\nh q[0];\nmeasure q[0] -> c[0];",
         {"00", "11"}},
        {"measurement collapses a superposition",
         q2 + "h q[0];\nmeasure q[0] -> c[0];\nmeasure q[0] -> c[1];",
         {"00", "11"}},
        {"teleport |1>", teleport("x q[0];\n"), {"100", "101", "110", "111"}},
        {"teleport |0>", teleport(""), {"000", "001", "010", "011"}},
        {"3: if (c[0] == 1) block",
         q3 + "x q[0];\nc[0] = measure q[0];\nif (c[0] == 1) {\n"
              "  x q[1];\n  x q[0];\n}\nc = measure q;",
         {"10"}},
        {"3: if (!c[0]) with else",
         q3 + "c[0] = measure q[0];\nif (!c[0]) x q[1]; else { x q[0]; }\nc[1] = measure q[1];",
         {"10"}},
        {"3: else taken",
         q3 + "x q[0];\nc[0] = measure q[0];\nif (c[0] == false) x q[1];\nelse reset q[0];\n"
              "c = measure q;",
         {"00"}},
        {"3: if (c != 0) and bare bit",
         q3 + "x q;\nc = measure q;\nif (c != 0) reset q[0];\nif (c[1]) c[0] = measure q[0];",
         {"10"}},
        {"3: conditioned user gate and measurement",
         q3 + "gate flip a, b { x a; x b; }\nx q[0];\nc[0] = measure q[0];\n"
              "if (c[0] == true) flip q[0], q[1];\nif (c[0] == 1) c[1] = measure q[1];",
         {"11"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const zel::QasmProgram program = zel::read_open_qasm(c.program);
        EXPECT_FALSE(program.terminal);
        EXPECT_TRUE(program.circuit.operations.empty());
        EXPECT_TRUE(program.measurements.empty());
        const Counts counts = zel::run_shots(program, 200, 11);
        EXPECT_EQ(keys(counts), c.allowed);
        EXPECT_EQ(total(counts), 200U);
    }
}

// Teleporting RY(theta)|0> gives P(1) = sin^2(theta/2) on the target; 4000 shots of
// P = 3/4 have standard deviation sqrt(4000 * 3/16) ~ 27.4, and 6 of them is a bound a correct
// simulator misses about once in 10^9 runs.
TEST(QasmDynamic, TeleportationCarriesTheProbabilities) {
    const zel::QasmProgram program = zel::read_open_qasm(teleport("ry(2*pi/3) q[0];\n"));
    const Counts counts = zel::run_shots(program, 4000, 5);
    std::uint64_t ones = 0;
    for (const auto& [key, count] : counts) {
        ones += key[0] == '1' ? count : 0;
    }
    EXPECT_NEAR(static_cast<double>(ones), 3000.0, 6 * 27.4);
    EXPECT_EQ(keys(counts).size(), 8U);
}

TEST(QasmDynamic, CountsAreAFixedFunctionOfTheSeedForAnyThreadCount) {
    const zel::QasmProgram program = zel::read_open_qasm(teleport("ry(0.7) q[0];\nh q[0];\n"));
    zel::parallel::set_thread_count(1);
    const Counts one = zel::run_shots(program, 300, 42);
    zel::parallel::set_thread_count(2);
    const Counts two = zel::run_shots(program, 300, 42);
    zel::parallel::set_thread_count(0);
    EXPECT_EQ(one, two);
    EXPECT_EQ(one, zel::run_shots(program, 300, 42));
    EXPECT_NE(one, zel::run_shots(program, 300, 43));
}

// What the reader records: the instructions with their conditions, and the plain circuit only
// while every measurement is terminal.
TEST(QasmDynamic, ReaderRecordsInstructionsAndConditions) {
    const zel::QasmProgram program = zel::read_open_qasm(
        V2 +
        "qreg q[2];\ncreg a[1];\ncreg b[2];\nmeasure q[0] -> b[1];\nif (b==2) x q[1];\n"
        "reset q[0];\n");
    // The phases of OpenQASM 2's gates add up to one GPHASE at the end.
    ASSERT_EQ(program.instructions.size(), 4U);
    EXPECT_EQ(program.instructions[3].operation.gate.kind, zel::GateKind::GPHASE);
    EXPECT_EQ(program.instructions[0].kind, zel::QasmInstructionKind::Measure);
    EXPECT_EQ(program.instructions[0].qubit, 0U);
    EXPECT_EQ(program.instructions[0].bit, 2U);
    EXPECT_EQ(program.instructions[1].kind, zel::QasmInstructionKind::Gate);
    EXPECT_EQ(program.instructions[1].condition,
              (zel::ClassicalCondition{.first_bit = 1, .num_bits = 2, .value = 2, .equal = true}));
    EXPECT_EQ(program.instructions[2].kind, zel::QasmInstructionKind::Reset);
    EXPECT_FALSE(program.instructions[2].condition.has_value());
    EXPECT_EQ(program.num_clbits, 3U);

    // Gates on unmeasured qubits after a measurement keep the program terminal.
    const zel::QasmProgram terminal =
        zel::read_open_qasm(V3 +
                            "qubit[2] q;\nbit[2] c;\nh q[0];\nc[0] = measure q[0];\nx q[1];\n"
                            "c[1] = measure q[1];\n");
    EXPECT_TRUE(terminal.terminal);
    EXPECT_EQ(terminal.circuit.operations.size(), 2U);
    EXPECT_EQ(terminal.measurements, (std::vector<zel::Measurement>{{0, 0}, {1, 1}}));
    EXPECT_EQ(terminal.instructions.size(), 4U);
}

TEST(QasmDynamic, RefusalsNameTheConstructLineAndColumn) {
    struct Case {
        std::string program;
        std::string what;
    };
    const std::string v2 = V2 + "qreg q[2];\ncreg c[2];\n";
    const std::string v3 = V3 + "qubit[2] q;\nbit[2] c;\n";
    const std::vector<Case> cases = {
        {v3 + "if (c[0]) if (c[1]) x q[0];",
         "line 5, column 11: a nested 'if' is not supported: combine the conditions"},
        {v3 + "if (c[0]) x q[0]; else if (c[1]) x q[1];",
         "line 5, column 24: 'else if' is not supported: write a second 'if' with its condition"},
        {v3 + "if (c) x q[0];",
         "line 5, column 5: register 'c' holds 2 bits: compare it with an integer, as in (c == 1)"},
        {v3 + "if (c < 1) x q[0];",
         "line 5, column 7: comparisons other than '==' and '!=' are not supported"},
        {v3 + "if (c[0] && c[1]) x q[0];",
         "line 5, column 10: combined conditions ('&') are not supported"},
        {v3 + "if (c = 1) x q[0];",
         "line 5, column 7: assignments cannot be conditions: compare with '=='"},
        {v3 + "if (c == 1) c = measure q;",
         "line 5, column 17: a measurement under a condition cannot write a bit that the "
         "condition tests (c[0])"},
        {v3 + "if (c[1]) { x q[0]; c[1] = measure q[1]; }",
         "line 5, column 28: a measurement under a condition cannot write a bit that the "
         "condition tests (c[1])"},
        {v3 + "if (c == 1) qubit r;", "line 5, column 13: 'qubit' cannot stand under a condition"},
        {v3 + "if (c == 1) { x q[0];",
         "line 5, column 13: the block of 'if' is not closed with '}'"},
        {v3 + "if (c == -1) x q[0];",
         "line 5, column 10: expected a non-negative integer to compare with, found '-'"},
        {v3 + "if (q[0]) x q[0];", "line 5, column 5: 'q' is a qubit register, not bits"},
        {v3 + "else x q[0];",
         "line 5, column 1: 'else' must follow the statement or block of an 'if'"},
        {v3 + "reset q[0], q[1];",
         "line 5, column 13: 'reset' acts on one qubit or register, found 2"},
        {v2 + "if (c == 1) { x q[0]; }",
         "line 5, column 13: OpenQASM 2.0 conditions one statement, not a block"},
        {v2 + "if (c[0] == 1) x q[0];",
         "line 5, column 5: OpenQASM 2.0 conditions compare a whole register: if (c == n)"},
        {v2 + "if (!c) x q[0];",
         "line 5, column 5: OpenQASM 2.0 conditions compare a register: if (c == n)"},
        {v2 + "if (c == 1) x q[0]; else x q[1];",
         "line 5, column 21: 'else' must follow the statement or block of an 'if'"},
        {v2 + "if (c == 99999999999999999999) x q[0];",
         "line 5, column 10: value '99999999999999999999' does not fit in 64 bits"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        try {
            static_cast<void>(zel::read_open_qasm(c.program));
            ADD_FAILURE() << "accepted";
        } catch (const zel::ParseError& error) {
            EXPECT_EQ(std::string(error.what()), c.what);
        }
    }
}

TEST(QasmDynamic, RunShotsChecksInstructionsBeforeTheFirstShot) {
    const zel::QasmProgram good =
        zel::read_open_qasm(V3 + "qubit[1] q;\nbit[1] c;\nreset q[0];\nc[0] = measure q[0];\n");
    std::vector<zel::QasmProgram> broken(3, good);
    broken[0].instructions[0].qubit = 1;
    broken[1].instructions[1].bit = 1;
    broken[2].instructions[1].condition = zel::ClassicalCondition{.first_bit = 0, .num_bits = 2};
    for (const zel::QasmProgram& program : broken) {
        EXPECT_THROW(static_cast<void>(zel::run_shots(program, 1, 1)), zel::InvalidArgument);
    }
}

// The export writes measurements, resets and conditions in OpenQASM 3, and reading it back
// gives the same instructions.
TEST(QasmDynamic, ExportReadsBackAsTheSameProgram) {
    const std::vector<std::string> programs = {
        teleport("ry(0.25) q[0];\n"),
        V2 + "qreg q[2];\ncreg a[2];\ncreg b[1];\nh q;\nmeasure q -> a;\nif (a==3) reset q;\n"
             "if (b==0) measure q[1] -> a[1];\nu3(0.1,0.2,0.3) q[0];\n",
        V3 + "qubit[2] q;\nbit[3] c;\nx q[0];\nc[2] = measure q[0];\nif (c[2] == 1) { "
             "rz(0.5) q[1]; cx q[1], q[0]; } else x q[1];\nc[0] = measure q[1];\n",
        V3 + "qubit[1] q;\nbit[2] c;\nh q[0];\nc[0] = measure q[0];\nh q[0];\n"
             "c[1] = measure q[0];\n",
    };
    for (const std::string& text : programs) {
        SCOPED_TRACE(text);
        const zel::QasmProgram program = zel::read_open_qasm(text);
        const std::string exported = zel::to_open_qasm(program);
        const zel::QasmProgram again = zel::read_open_qasm(exported);
        EXPECT_EQ(again.instructions, program.instructions) << exported;
        EXPECT_EQ(again.num_clbits, program.num_clbits);
        EXPECT_EQ(again.circuit.num_qubits, program.circuit.num_qubits);
        EXPECT_EQ(zel::run_shots(again, 100, 9), zel::run_shots(program, 100, 9));
    }
}

TEST(QasmDynamic, ExportGoldenText) {
    const zel::QasmProgram program =
        zel::read_open_qasm(V3 +
                            "qubit[2] q;\nbit a;\nbit[2] b;\nh q[0];\nb[1] = measure q[0];\n"
                            "if (b == 2) x q[1];\nif (!a) reset q[0];\n");
    EXPECT_EQ(zel::to_open_qasm(program),
              "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[2] q;\nbit[1] c0;\nbit[2] c1;\n\n"
              "h q[0];\nc1[1] = measure q[0];\nif (c1 == 2) {\n    x q[1];\n}\n"
              "if (c0[0] != 1) {\n    reset q[0];\n}\n");

    // A program assembled from a circuit and terminal measurements exports them after it.
    zel::QasmProgram assembled;
    assembled.circuit.num_qubits = 1;
    assembled.circuit.add_gate(zel::GateType{zel::GateKind::X, 0.0}, {0});
    assembled.measurements = {{0, 0}};
    assembled.num_clbits = 1;
    EXPECT_EQ(zel::to_open_qasm(assembled),
              "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[1] q;\nbit[1] c;\n\nx q[0];\n"
              "c[0] = measure q[0];\n");

    // Conditions on runs of bits that overlap cannot each be one register.
    zel::QasmProgram overlapping = assembled;
    overlapping.num_clbits = 3;
    overlapping.instructions.resize(2);
    overlapping.instructions[0].operation = assembled.circuit.operations[0];
    overlapping.instructions[0].condition = zel::ClassicalCondition{.first_bit = 0, .num_bits = 2};
    overlapping.instructions[1].operation = assembled.circuit.operations[0];
    overlapping.instructions[1].condition = zel::ClassicalCondition{.first_bit = 1, .num_bits = 2};
    EXPECT_THROW(static_cast<void>(zel::to_open_qasm(overlapping)), zel::InvalidArgument);
}

// Inputs take the values the caller passes; reading again binds other values.
TEST(QasmInputs, TakeTheCallersValues) {
    using Inputs = std::map<std::string, double, std::less<>>;
    const std::string text = V3 +
                             "input float theta;\ninput angle[32] phi;\nqubit[1] q;\n"
                             "rx(theta) q[0];\nrz(2 * phi - theta) q[0];\n";
    for (const double theta : {0.5, -1.25}) {
        const zel::QasmProgram program =
            zel::read_open_qasm(text, Inputs{{"theta", theta}, {"phi", 0.75}});
        EXPECT_EQ(program.inputs, (std::vector<std::string>{"theta", "phi"}));
        ASSERT_EQ(program.circuit.operations.size(), 2U);
        EXPECT_EQ(program.circuit.operations[0].params, std::vector<double>{theta});
        EXPECT_EQ(program.circuit.operations[1].params, std::vector<double>{2 * 0.75 - theta});
    }

    struct Case {
        std::string program;
        Inputs inputs;
        std::string what;
    };
    const std::vector<Case> cases = {
        {V3 + "input float theta;",
         {},
         "line 3, column 13: input 'theta' has no value among those given"},
        {V3 + "input int n;",
         {{"n", 1}},
         "line 3, column 7: inputs of type 'int' are not supported (an input is 'input float "
         "name;' or 'input angle name;')"},
        {V3 + "input float w;\ninput angle w;",
         {{"w", 1}},
         "line 4, column 13: 'w' is already declared"},
        {V3 + "input float w;\ngate g a { rx(w) a; }",
         {{"w", 1}},
         "line 4, column 15: unknown name 'w' in an angle (numbers, pi, tau, euler, NaN and inf "
         "are read)"},
        {V3 + "input float t;",
         {{"t", 1}},
         "line 3, column 13: 't' cannot name an input: it is the name of a gate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        try {
            static_cast<void>(zel::read_open_qasm(c.program, c.inputs));
            ADD_FAILURE() << "accepted";
        } catch (const zel::ParseError& error) {
            EXPECT_EQ(std::string(error.what()), c.what);
        }
    }
    EXPECT_THROW(static_cast<void>(zel::read_open_qasm(V3 + "qubit q;", Inputs{{"theta", 1.0}})),
                 zel::InvalidArgument);
    EXPECT_THROW(static_cast<void>(zel::read_open_qasm(V3 + "input float w;")), zel::ParseError);
}

}  // namespace

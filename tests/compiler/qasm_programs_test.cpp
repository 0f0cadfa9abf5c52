// Programs as other tools write them: OpenQASM 2.0 with qelib1.inc, gate definitions and
// terminal measurements, read by read_open_qasm and run by run_shots. States are compared
// amplitude by amplitude with circuits built through the API.

#include <cmath>
#include <complex>
#include <cstdint>
#include <map>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

namespace {

using zel::GateKind;
using zel::make_operation;
using zel::ZarnikGraph;
using Amplitudes = std::vector<std::complex<double>>;

constexpr double TOLERANCE = 1e-12;
constexpr double PI = std::numbers::pi;
const std::string V2 = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\n";

Amplitudes amplitudes_of(const ZarnikGraph& circuit) {
    const zel::ZarnikState state = zel::run_circuit(circuit, circuit.num_qubits);
    return {state.amplitudes().begin(), state.amplitudes().end()};
}

Amplitudes amplitudes_of(const std::string& program) {
    return amplitudes_of(zel::read_open_qasm(program).circuit);
}

// `b` times the phase that turns its largest amplitude into `a`'s, so that states equal up to
// a global phase compare equal amplitude by amplitude.
Amplitudes aligned(const Amplitudes& a, Amplitudes b) {
    std::size_t largest = 0;
    for (std::size_t k = 0; k < b.size(); ++k) {
        largest = std::abs(b[k]) > std::abs(b[largest]) ? k : largest;
    }
    const std::complex<double> phase = a[largest] / b[largest];
    for (auto& amplitude : b) {
        amplitude *= phase / std::abs(phase);
    }
    return b;
}

void expect_equal(const Amplitudes& a, const Amplitudes& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t k = 0; k < a.size(); ++k) {
        EXPECT_NEAR(std::abs(a[k] - b[k]), 0.0, TOLERANCE) << "amplitude " << k;
    }
}

ZarnikGraph circuit(std::uint64_t qubits, std::vector<zel::Operation> operations) {
    ZarnikGraph result(qubits);
    for (auto& op : operations) {
        result.add(std::move(op));
    }
    return result;
}

// Three qubits in a state with no zero amplitude and no symmetry, before the gate under test.
const std::string SPREAD =
    "qreg q[3];\nry(0.4) q[0];\nry(1.1) q[1];\nry(2.0) q[2];\n"
    "cx q[0],q[2];\nrz(0.3) q[2];\n";
std::vector<zel::Operation> spread() {
    return {make_operation(GateKind::RY, {0}, {0.4}), make_operation(GateKind::RY, {1}, {1.1}),
            make_operation(GateKind::RY, {2}, {2.0}), make_operation(GateKind::CX, {0, 2}),
            make_operation(GateKind::RZ, {2}, {0.3})};
}

// Every gate of qelib1.inc, read from its definition, is the kind of the same name up to the
// global phase its definition gives.
TEST(QasmOpenQasm2, QelibGatesAreTheirKindsUpToAGlobalPhase) {
    struct Case {
        std::string call;
        zel::Operation op;
    };
    const std::vector<Case> cases = {
        {"id q[1];", make_operation(GateKind::I, {1})},
        {"u0(0.5) q[1];", make_operation(GateKind::I, {1})},
        {"x q[1];", make_operation(GateKind::X, {1})},
        {"y q[1];", make_operation(GateKind::Y, {1})},
        {"z q[1];", make_operation(GateKind::Z, {1})},
        {"h q[1];", make_operation(GateKind::H, {1})},
        {"s q[1];", make_operation(GateKind::S, {1})},
        {"sdg q[1];", make_operation(GateKind::SDG, {1})},
        {"t q[1];", make_operation(GateKind::T, {1})},
        {"tdg q[1];", make_operation(GateKind::TDG, {1})},
        {"sx q[1];", make_operation(GateKind::SX, {1})},
        {"sxdg q[1];", make_operation(GateKind::SXDG, {1})},
        {"rx(0.7) q[1];", make_operation(GateKind::RX, {1}, {0.7})},
        {"ry(0.7) q[1];", make_operation(GateKind::RY, {1}, {0.7})},
        {"rz(0.7) q[1];", make_operation(GateKind::RZ, {1}, {0.7})},
        {"u3(0.3,0.5,0.7) q[1];", make_operation(GateKind::U, {1}, {0.3, 0.5, 0.7})},
        {"u(0.3,0.5,0.7) q[1];", make_operation(GateKind::U, {1}, {0.3, 0.5, 0.7})},
        {"U(0.3,0.5,0.7) q[1];", make_operation(GateKind::U, {1}, {0.3, 0.5, 0.7})},
        {"u2(0.5,0.7) q[1];", make_operation(GateKind::U, {1}, {PI / 2, 0.5, 0.7})},
        {"u1(0.7) q[1];", make_operation(GateKind::P, {1}, {0.7})},
        {"p(0.7) q[1];", make_operation(GateKind::P, {1}, {0.7})},
        {"cx q[2],q[0];", make_operation(GateKind::CX, {2, 0})},
        {"CX q[2],q[0];", make_operation(GateKind::CX, {2, 0})},
        {"cy q[2],q[0];", make_operation(GateKind::CY, {2, 0})},
        {"cz q[2],q[0];", make_operation(GateKind::CZ, {2, 0})},
        {"ch q[2],q[0];", make_operation(GateKind::CH, {2, 0})},
        {"swap q[2],q[0];", make_operation(GateKind::SWAP, {2, 0})},
        {"crx(0.7) q[2],q[0];", make_operation(GateKind::CRX, {2, 0}, {0.7})},
        {"cry(0.7) q[2],q[0];", make_operation(GateKind::CRY, {2, 0}, {0.7})},
        {"crz(0.7) q[2],q[0];", make_operation(GateKind::CRZ, {2, 0}, {0.7})},
        {"cu1(0.7) q[2],q[0];", make_operation(GateKind::CP, {2, 0}, {0.7})},
        {"cp(0.7) q[2],q[0];", make_operation(GateKind::CP, {2, 0}, {0.7})},
        {"cu3(0.3,0.5,0.7) q[2],q[0];", make_operation(GateKind::CU, {2, 0}, {0.3, 0.5, 0.7, 0})},
        {"cu(0.3,0.5,0.7,0.2) q[2],q[0];",
         make_operation(GateKind::CU, {2, 0}, {0.3, 0.5, 0.7, 0.2})},
        {"rxx(0.7) q[2],q[0];", make_operation(GateKind::RXX, {2, 0}, {0.7})},
        {"rzz(0.7) q[2],q[0];", make_operation(GateKind::RZZ, {2, 0}, {0.7})},
        {"ccx q[2],q[0],q[1];", make_operation(GateKind::CCX, {2, 0, 1})},
        {"cswap q[2],q[0],q[1];", make_operation(GateKind::CSWAP, {2, 0, 1})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        std::vector<zel::Operation> ops = spread();
        ops.push_back(c.op);
        const Amplitudes expected = amplitudes_of(circuit(3, ops));
        expect_equal(expected, aligned(expected, amplitudes_of(V2 + SPREAD + c.call + "\n")));
    }
}

// OpenQASM 2's U is Rz(phi) Ry(theta) Rz(lambda), e^(-i(phi + lambda)/2) times OpenQASM 3's U:
// u3, u1 and cu1 carry that phase exactly, where OpenQASM 3's U, p and cp carry none. Under a
// control the phase is no longer global: a definition controlling u1 through cu1's pattern
// differs from one controlling p.
TEST(QasmOpenQasm2, GlobalPhasesFollowEachVersionsU) {
    struct Case {
        std::string program;
        std::vector<zel::Operation> ops;
    };
    const std::string v3 = "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[2] q;\n";
    const auto phase = [](double angle) {
        return make_operation(GateKind::GPHASE, {}, {angle});
    };
    const std::vector<Case> cases = {
        {V2 + "qreg q[2];\nu3(0.3,0.5,0.7) q[0];",
         {make_operation(GateKind::U, {0}, {0.3, 0.5, 0.7}), phase(-0.6)}},
        {V2 + "qreg q[2];\nU(0.3,0.5,0.7) q[0];",
         {make_operation(GateKind::U, {0}, {0.3, 0.5, 0.7}), phase(-0.6)}},
        {v3 + "U(0.3,0.5,0.7) q[0];", {make_operation(GateKind::U, {0}, {0.3, 0.5, 0.7})}},
        {v3 + "u3(0.3,0.5,0.7) q[0];",
         {make_operation(GateKind::U, {0}, {0.3, 0.5, 0.7}), phase(-0.6)}},
        {V2 + "qreg q[2];\nh q[0];\nu1(0.7) q[0];",
         {make_operation(GateKind::H, {0}), make_operation(GateKind::P, {0}, {0.7}),
          phase(-PI / 2 - 0.35)}},
        {v3 + "h q[0];\np(0.7) q[0];",
         {make_operation(GateKind::H, {0}), make_operation(GateKind::P, {0}, {0.7})}},
        {V2 + "qreg q[2];\nx q[0];\nh q[1];\ncu1(0.7) q[0],q[1];",
         {make_operation(GateKind::X, {0}), make_operation(GateKind::H, {1}),
          make_operation(GateKind::CP, {0, 1}, {0.7}), phase(-PI - 0.175)}},
        {V2 + "qreg q[2];\nx q[0];\nh q[1];\ncu3(0,0,0.7) q[0],q[1];",
         {make_operation(GateKind::X, {0}), make_operation(GateKind::H, {1}),
          make_operation(GateKind::CP, {0, 1}, {0.7}), phase(-PI - 0.175)}},
        {v3 + "x q[0];\nh q[1];\ncp(0.7) q[0], q[1];",
         {make_operation(GateKind::X, {0}), make_operation(GateKind::H, {1}),
          make_operation(GateKind::CP, {0, 1}, {0.7})}},
        // u1's phase under a control: cu1's pattern built from u1 on the control as well gives
        // e^(-i lambda/4) CP, which on |1>|+> is a relative phase against cp's.
        {V2 + "qreg q[2];\ngate c1(l) a,b { u1(l/2) a; cx a,b; u1(-l/2) b; cx a,b; u1(l/2) b; }\n"
              "h q[0];\nh q[1];\nc1(0.7) q[0],q[1];",
         {make_operation(GateKind::H, {0}), make_operation(GateKind::H, {1}),
          make_operation(GateKind::CP, {0, 1}, {0.7}), phase(-PI - 0.175)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        expect_equal(amplitudes_of(circuit(2, c.ops)), amplitudes_of(c.program));
    }
}

// Circuits of well-known algorithms as other tools export them, against the same algorithms
// built through the API (equal up to the global phase of OpenQASM 2's U).
TEST(QasmOpenQasm2, WellKnownAlgorithmsPrepareTheirStates) {
    struct Case {
        std::string name;
        std::string program;
        ZarnikGraph built;
    };
    const auto op = [](GateKind kind, std::vector<std::uint64_t> qubits,
                       std::vector<double> params = {}) {
        return make_operation(kind, std::move(qubits), std::move(params));
    };
    const std::vector<zel::Operation> ccz = {op(GateKind::H, {2}), op(GateKind::CCX, {0, 1, 2}),
                                             op(GateKind::H, {2})};
    std::vector<zel::Operation> grover;
    for (std::uint64_t k = 0; k < 3; ++k) {
        grover.push_back(op(GateKind::H, {k}));
    }
    grover.insert(grover.end(), ccz.begin(), ccz.end());
    for (const GateKind kind : {GateKind::H, GateKind::X}) {
        for (std::uint64_t k = 0; k < 3; ++k) {
            grover.push_back(op(kind, {k}));
        }
    }
    grover.insert(grover.end(), ccz.begin(), ccz.end());
    for (const GateKind kind : {GateKind::X, GateKind::H}) {
        for (std::uint64_t k = 0; k < 3; ++k) {
            grover.push_back(op(kind, {k}));
        }
    }
    // QAOA's cost layer as Pauli-string rotations exp(-i gamma/2 Z Z), its mixer as exp(-i beta/2
    // X).
    std::vector<zel::Operation> qaoa;
    for (std::uint64_t k = 0; k < 3; ++k) {
        qaoa.push_back(op(GateKind::H, {k}));
    }
    for (const auto& [a, b] : {std::pair<std::uint64_t, std::uint64_t>{0, 1}, {1, 2}, {0, 2}}) {
        qaoa.push_back(zel::pauli_rotation("ZZ", {a, b}, 0.8));
    }
    for (std::uint64_t k = 0; k < 3; ++k) {
        qaoa.push_back(zel::pauli_rotation("X", {k}, 1.2));
    }
    const std::vector<Case> cases = {
        {"QFT of |1> on 3 qubits",
         V2 + "qreg q[3];\ncreg c[3];\nx q[0];\nh q[2];\ncu1(pi/2) q[1],q[2];\n"
              "cu1(pi/4) q[0],q[2];\nh q[1];\ncu1(pi/2) q[0],q[1];\nh q[0];\nswap q[0],q[2];\n",
         circuit(3, {op(GateKind::X, {0}), op(GateKind::H, {2}), op(GateKind::CP, {1, 2}, {PI / 2}),
                     op(GateKind::CP, {0, 2}, {PI / 4}), op(GateKind::H, {1}),
                     op(GateKind::CP, {0, 1}, {PI / 2}), op(GateKind::H, {0}),
                     op(GateKind::SWAP, {0, 2})})},
        {"GHZ with measurements",
         V2 + "qreg q[3];\ncreg c[3];\nh q[0];\ncx q[0],q[1];\ncx q[1],q[2];\nbarrier q;\n"
              "measure q -> c;\n",
         circuit(3, {op(GateKind::H, {0}), op(GateKind::CX, {0, 1}), op(GateKind::CX, {1, 2})})},
        {"Grover for |111> with the controlled-controlled phase from cu1",
         V2 + "qreg q[3];\ncreg c[3];\n"
              "gate ccz a,b,c { cu1(pi/2) b,c; cx a,b; cu1(-pi/2) b,c; cx a,b; cu1(pi/2) a,c; }\n"
              "gate oracle a,b,c { h c; ccx a,b,c; h c; }\n"
              "h q;\noracle q[0],q[1],q[2];\nh q;\nx q;\nccz q[0],q[1],q[2];\nx q;\nh q;\n"
              "measure q[0] -> c[0];\nmeasure q[1] -> c[1];\nmeasure q[2] -> c[2];\n",
         circuit(3, grover)},
        {"teleportation with the corrections deferred: the state moves to q[2], q[0] and q[1] "
         "are left in |+>",
         V2 + "qreg q[3];\ncreg c[3];\nu3(1.1,0.4,-0.3) q[0];\nh q[1];\ncx q[1],q[2];\n"
              "cx q[0],q[1];\nh q[0];\ncx q[1],q[2];\ncz q[0],q[2];\nmeasure q[2] -> c[2];\n",
         circuit(3, {op(GateKind::H, {0}), op(GateKind::H, {1}),
                     op(GateKind::U, {2}, {1.1, 0.4, -0.3})})},
        {"QAOA for MaxCut on a triangle, p = 1, in version 2.0",
         V2 + "qreg q[3];\ncreg meas[3];\nh q[0];\nh q[1];\nh q[2];\nrzz(0.8) q[0],q[1];\n"
              "rzz(0.8) q[1],q[2];\nrzz(0.8) q[0],q[2];\nrx(1.2) q[0];\nrx(1.2) q[1];\n"
              "rx(1.2) q[2];\nbarrier q[0],q[1],q[2];\nmeasure q[0] -> meas[0];\n"
              "measure q[1] -> meas[1];\nmeasure q[2] -> meas[2];\n",
         circuit(3, qaoa)},
        {"the same QAOA in version 3 with rzz defined by the program",
         "OPENQASM 3.0;\ninclude \"stdgates.inc\";\n"
         "gate rzz(_gate_p_0) _gate_q_0, _gate_q_1 {\n  cx _gate_q_0, _gate_q_1;\n"
         "  rz(_gate_p_0) _gate_q_1;\n  cx _gate_q_0, _gate_q_1;\n}\nbit[3] meas;\nqubit[3] q;\n"
         "h q[0];\nh q[1];\nh q[2];\nrzz(0.8) q[0], q[1];\nrzz(0.8) q[1], q[2];\n"
         "rzz(0.8) q[0], q[2];\nrx(1.2) q[0];\nrx(1.2) q[1];\nrx(1.2) q[2];\n"
         "barrier q[0], q[1], q[2];\nmeas[0] = measure q[0];\nmeas[1] = measure q[1];\n"
         "meas[2] = measure q[2];\n",
         circuit(3, qaoa)},
        {"qelib1.inc's u1, u2, u3, cu1, cu3, ccx, cswap and rzz in one program",
         V2 + "qreg q[3];\ncreg c[3];\nu3(0.3,0.5,0.7) q[0];\nu2(0.2,-0.4) q[1];\nu1(0.9) q[2];\n"
              "cu1(0.6) q[0],q[1];\ncu3(0.3,-0.2,0.5) q[1],q[2];\nccx q[0],q[1],q[2];\n"
              "cswap q[2],q[0],q[1];\nrzz(1.3) q[0],q[2];\nmeasure q -> c;\n",
         circuit(3,
                 {op(GateKind::U, {0}, {0.3, 0.5, 0.7}), op(GateKind::U, {1}, {PI / 2, 0.2, -0.4}),
                  op(GateKind::P, {2}, {0.9}), op(GateKind::CP, {0, 1}, {0.6}),
                  op(GateKind::CU, {1, 2}, {0.3, -0.2, 0.5, 0.0}), op(GateKind::CCX, {0, 1, 2}),
                  op(GateKind::CSWAP, {2, 0, 1}), zel::pauli_rotation("ZZ", {0, 2}, 1.3)})},
        {"Bell pair measured at an angle",
         V2 + "qreg q[2];\ncreg c[2];\nh q[0];\ncx q[0],q[1];\nry(pi/4) q[1];\n"
              "measure q[0] -> c[0];\nmeasure q[1] -> c[1];\n",
         circuit(
             2, {op(GateKind::H, {0}), op(GateKind::CX, {0, 1}), op(GateKind::RY, {1}, {PI / 4})})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Amplitudes expected = amplitudes_of(c.built);
        expect_equal(expected, aligned(expected, amplitudes_of(c.program)));
    }
    // The QFT of |1>: amplitude k is e^(2 pi i k / 8) / sqrt(8) up to one phase.
    const Amplitudes qft = amplitudes_of(cases[0].program);
    Amplitudes fourier;
    for (int k = 0; k < 8; ++k) {
        fourier.push_back(std::polar(1 / std::sqrt(8.0), 2 * PI * k / 8));
    }
    expect_equal(fourier, aligned(fourier, qft));
    // One Grover iteration finds |111> with probability 25/32.
    EXPECT_NEAR(std::norm(amplitudes_of(cases[2].program)[7]), 25.0 / 32, TOLERANCE);
    // The state teleported onto q[2]: qubit 2 holds U(1.1, 0.4, -0.3)|0> = (cos 0.55, e^(0.4 i)
    // sin 0.55) next to |+>|+>, so amplitude 4 over amplitude 0 is e^(0.4 i) tan 0.55.
    const Amplitudes teleported = amplitudes_of(cases[3].program);
    const std::complex<double> ratio = teleported[4] / teleported[0];
    EXPECT_NEAR(std::abs(ratio - std::polar(std::tan(0.55), 0.4)), 0.0, TOLERANCE);
}

// Parameters, expressions and nesting in user definitions.
TEST(QasmOpenQasm2, DefinitionsBindParametersAndNest) {
    const std::string program =
        V2 +
        "qreg q[2];\n"
        "gate inner(a, b) x { ry(a*b) x; }\n"
        "gate outer(t) x, y { inner(t, 2) x; barrier x, y; inner(sqrt(t)^2 + ln(exp(0.1)), "
        "-cos(0)) y; }\n"
        "outer(0.35) q[1], q[0];\n";
    const ZarnikGraph expected = circuit(
        2, {make_operation(GateKind::RY, {1}, {0.7}), make_operation(GateKind::RY, {0}, {-0.45})});
    expect_equal(amplitudes_of(expected), amplitudes_of(program));
}

// Measurements are recorded qubit -> bit, with bits numbered over the bit registers in
// declaration order.
TEST(QasmOpenQasm2, MeasurementsAreRecordedInOrder) {
    const zel::QasmProgram two =
        zel::read_open_qasm(V2 + "qreg q[2];\ncreg a[1];\ncreg c[2];\nmeasure q -> c;\n");
    EXPECT_EQ(two.num_clbits, 3U);
    EXPECT_EQ(two.measurements, (std::vector<zel::Measurement>{{0, 1}, {1, 2}}));
    const zel::QasmProgram three = zel::read_open_qasm(
        "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[2] q;\nbit[2] c;\nbit d;\n"
        "c[1] = measure q[0];\nd = measure q[1];\n");
    EXPECT_EQ(three.num_clbits, 3U);
    EXPECT_EQ(three.measurements, (std::vector<zel::Measurement>{{0, 1}, {1, 2}}));
}

// What is refused, where and why, in both versions.
TEST(QasmOpenQasm2, RefusalsNameTheConstructLineAndColumn) {
    struct Case {
        std::string program;
        std::string what;
    };
    const std::string v3 = "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[2] q;\nbit[2] c;\n";
    const std::string q2 = V2 + "qreg q[2];\ncreg c[2];\n";
    std::string doubling = V2 + "gate d0 a { x a; }\n";
    for (int k = 1; k <= 23; ++k) {
        doubling += "gate d" + std::to_string(k) + " a { d" + std::to_string(k - 1) + " a; d" +
                    std::to_string(k - 1) + " a; }\n";
    }
    doubling += "qreg q[1];\nd23 q[0];\n";
    const std::vector<Case> cases = {
        {q2 + "opaque g a;",
         "line 5, column 1: opaque gates ('opaque') are not supported: their "
         "matrix is unknown"},
        {q2 + "measure q -> c[0];", "line 5, column 14: measurement of 2 qubits into 1 bits"},
        {"OPENQASM 2.0;\ninclude \"stdgates.inc\";",
         "line 2, column 9: cannot include 'stdgates.inc': only \"qelib1.inc\" is available in "
         "OpenQASM 2.0"},
        {"OPENQASM 2.0;\nqreg q[1];\nx q[0];", "line 3, column 1: unknown gate 'x'"},
        {q2 + "gate g a { foo a; }", "line 5, column 12: unknown gate 'foo'"},
        {q2 + "gate g a { cx a; }", "line 5, column 16: 'cx' acts on 2 qubits, found 1"},
        {q2 + "gate g a { x b; }", "line 5, column 14: 'b' is not a qubit argument of the gate"},
        {q2 + "gate g a { x a[0]; }", "line 5, column 15: qubit arguments of a gate take no index"},
        {q2 + "gate g(t) a { rx(s) a; }",
         "line 5, column 18: unknown name 's' in an angle (numbers, pi, tau, euler, NaN and inf "
         "are read)"},
        {q2 + "gate h a { x a; }", "line 5, column 6: gate 'h' is already defined"},
        {q2 + "gate g a { x a;", "line 5, column 10: the body of gate 'g' is not closed with '}'"},
        {q2 + "gate g a { reset a; }", "line 5, column 12: 'reset' is not unitary in a gate body"},
        {q2 + "gate g a, b { cx a, b; }\ng q[0], q[0];",
         "line 6, column 9: 'g' uses qubit q[0] twice"},
        {q2 + "gate g(t) a { rx(t) a; }\ng q[0];",
         "line 6, column 3: 'g' takes one angle, found 'q'"},
        {q2 + "rx(2 ** 3) q[0];",
         "line 5, column 6: '**' is OpenQASM 3's power operator; OpenQASM 2.0 writes '^'"},
        {v3 + "rx(2 ^ 3) q[0];",
         "line 5, column 6: '^' is a bit operation in OpenQASM 3, not supported in angles (the "
         "power is '**')"},
        {doubling,
         "line 28, column 1: gate definitions would expand to more than 4194304 "
         "operations in one program"},
        {v3 + "c = measure q;",
         "line 5, column 5: 'measure' records into bits: read the program "
         "with read_open_qasm"},
    };
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const Case& c = cases[k];
        SCOPED_TRACE(c.program);
        try {
            if (k + 1 == cases.size()) {
                static_cast<void>(zel::from_open_qasm(c.program));
            } else {
                static_cast<void>(zel::read_open_qasm(c.program));
            }
            ADD_FAILURE() << "accepted";
        } catch (const zel::ParseError& error) {
            EXPECT_EQ(std::string(error.what()), c.what);
        }
    }
}

// Shots: counts per bitstring with c[0] last, a fixed function of the seed, and frequencies
// within statistical bounds.
TEST(QasmShots, CountsFollowTheMeasurementsAndTheSeed) {
    const zel::QasmProgram marked = zel::read_open_qasm(
        V2 + "qreg q[2];\ncreg c[3];\nx q[0];\nmeasure q[0] -> c[1];\nmeasure q[1] -> c[2];\n");
    EXPECT_EQ(zel::run_shots(marked, 5, 1), (std::map<std::string, std::uint64_t>{{"010", 5}}));

    // P(q0 = 1) = sin^2(pi/6) = 1/4; 4000 shots: the count of '1' has standard deviation
    // sqrt(4000 * 3/16) ~ 27, and 6 of them is a bound a correct sampler misses about once in
    // 10^9 runs.
    const zel::QasmProgram biased =
        zel::read_open_qasm(V2 + "qreg q[1];\ncreg c[1];\nry(pi/3) q[0];\nmeasure q -> c;\n");
    const auto counts = zel::run_shots(biased, 4000, 7);
    EXPECT_EQ(counts, zel::run_shots(biased, 4000, 7));
    ASSERT_EQ(counts.size(), 2U);
    EXPECT_NEAR(static_cast<double>(counts.at("1")), 1000.0, 6 * 27.4);
    EXPECT_EQ(counts.at("0") + counts.at("1"), 4000U);

    // GHZ: only all-equal bits.
    const zel::QasmProgram ghz = zel::read_open_qasm(
        V2 + "qreg q[3];\ncreg c[3];\nh q[0];\ncx q[0],q[1];\ncx q[1],q[2];\nmeasure q -> c;\n");
    const auto ghz_counts = zel::run_shots(ghz, 2000, 3);
    ASSERT_EQ(ghz_counts.size(), 2U);
    EXPECT_NEAR(static_cast<double>(ghz_counts.at("000")), 1000.0, 6 * 22.4);

    zel::QasmProgram broken = marked;
    broken.instructions.clear();
    broken.measurements.push_back({5, 0});
    EXPECT_THROW(static_cast<void>(zel::run_shots(broken, 1, 1)), zel::InvalidArgument);
}

// Modifiers on standard gates map onto the kinds of the gate table.
TEST(QasmModifiers, MapOntoTheControlledAndInverseKinds) {
    struct Case {
        std::string call;
        std::vector<zel::Operation> ops;
    };
    const auto op = [](GateKind kind, std::vector<std::uint64_t> qubits,
                       std::vector<double> params = {}) {
        return make_operation(kind, std::move(qubits), std::move(params));
    };
    const std::vector<Case> cases = {
        {"ctrl @ x a, q[0];", {op(GateKind::CX, {2, 0})}},
        {"ctrl @ ctrl @ x a, q[0], q[1];", {op(GateKind::CCX, {2, 0, 1})}},
        {"ctrl(2) @ x a, q[0], q[1];", {op(GateKind::CCX, {2, 0, 1})}},
        {"ctrl @ swap a, q[0], q[1];", {op(GateKind::CSWAP, {2, 0, 1})}},
        {"ctrl @ z a, q[0];", {op(GateKind::CZ, {2, 0})}},
        {"ctrl @ s a, q[0];", {op(GateKind::CP, {2, 0}, {PI / 2})}},
        {"ctrl @ p(0.7) a, q[0];", {op(GateKind::CP, {2, 0}, {0.7})}},
        {"ctrl @ rz(0.7) a, q[0];", {op(GateKind::CRZ, {2, 0}, {0.7})}},
        {"ctrl @ U(0.3, 0.5, 0.7) a, q[0];", {op(GateKind::CU, {2, 0}, {0.3, 0.5, 0.7, 0})}},
        // u3's phase becomes CU's gamma: under a control it is not global.
        {"ctrl @ u3(0.3, 0.5, 0.7) a, q[0];", {op(GateKind::CU, {2, 0}, {0.3, 0.5, 0.7, -0.6})}},
        {"ctrl @ gphase(0.7) a;", {op(GateKind::P, {2}, {0.7})}},
        {"negctrl @ x a, q[0];",
         {op(GateKind::X, {2}), op(GateKind::CX, {2, 0}), op(GateKind::X, {2})}},
        {"ctrl @ negctrl @ x a, q[1], q[0];",
         {op(GateKind::X, {1}), op(GateKind::CCX, {2, 1, 0}), op(GateKind::X, {1})}},
        {"inv @ s q[1];", {op(GateKind::SDG, {1})}},
        {"inv @ rx(0.7) q[1];", {op(GateKind::RX, {1}, {-0.7})}},
        {"inv @ U(0.3, 0.5, 0.7) q[1];", {op(GateKind::U, {1}, {-0.3, -0.7, -0.5})}},
        {"pow(2) @ t q[1];", {op(GateKind::S, {1})}},
        {"pow(-1) @ t q[1];", {op(GateKind::TDG, {1})}},
        {"pow(0) @ h q[1];", {}},
        {"pow(3) @ h q[1];", {op(GateKind::H, {1}), op(GateKind::H, {1}), op(GateKind::H, {1})}},
        // A rotation's power is one rotation by the multiplied angle.
        {"pow(3) @ rx(0.7) q[1];", {op(GateKind::RX, {1}, {3 * 0.7})}},
        {"pow(-2) @ ctrl @ rz(0.7) a, q[0];", {op(GateKind::CRZ, {2, 0}, {-2 * 0.7})}},
        {"pow(5) @ cp(0.3) a, q[0];", {op(GateKind::CP, {2, 0}, {5 * 0.3})}},
        {"inv @ ctrl @ ry(0.7) a, q[0];", {op(GateKind::CRY, {2, 0}, {-0.7})}},
        {"ctrl @ x a, q;", {op(GateKind::CX, {2, 0}), op(GateKind::CX, {2, 1})}},
        // A definition's operations take the modifiers as a standard gate's do.
        {"gate g(t) b { rx(t) b; h b; }\nctrl @ g(0.7) a, q[0];",
         {op(GateKind::CRX, {2, 0}, {0.7}), op(GateKind::CH, {2, 0})}},
        {"gate g(t) b { rx(t) b; h b; }\ninv @ g(0.7) q[1];",
         {op(GateKind::H, {1}), op(GateKind::RX, {1}, {-0.7})}},
        {"gate g b, c { cx b, c; s c; }\npow(2) @ g q[0], q[1];",
         {op(GateKind::CX, {0, 1}), op(GateKind::S, {1}), op(GateKind::CX, {0, 1}),
          op(GateKind::S, {1})}},
        {"gate g b, c { cx b, c; }\ngate k b, c { g c, b; }\nnegctrl @ k a, q[0], q[1];",
         {op(GateKind::X, {2}), op(GateKind::CCX, {2, 1, 0}), op(GateKind::X, {2})}},
    };
    const std::string v3 =
        "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[2] q;\nqubit a;\n"
        "ry(0.4) q[0];\nry(1.1) q[1];\nry(2.0) a;\ncx q[0], a;\nrz(0.3) a;\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        std::vector<zel::Operation> ops = spread();
        ops.insert(ops.end(), c.ops.begin(), c.ops.end());
        expect_equal(amplitudes_of(circuit(3, ops)), amplitudes_of(v3 + c.call + "\n"));
    }
}

TEST(QasmModifiers, PowerOfARotationIsOneOperation) {
    const zel::ZarnikGraph circuit = zel::read_open_qasm(
                                         "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[1] q;\n"
                                         "pow(-655369) @ rx(0.25) q[0];\n")
                                         .circuit;
    ASSERT_EQ(circuit.gate_count(), 1U);
    EXPECT_EQ(circuit.operations[0].params, std::vector<double>{-655369 * 0.25});
}

TEST(QasmModifiers, RefusalsNameTheModifier) {
    const std::string v3 = "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[3] q;\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[7] q;\n"
         "ctrl(4) @ ccx q[0], q[1], q[2], q[3], q[4], q[5], q[6];",
         "line 4, column 1: 'ctrl @' cannot be applied to 'ccx': the controlled gate acts on 7 "
         "qubits, more than the 6 a unitary may have"},
        {v3 + "ctrl(7) @ x q[0];", "line 4, column 1: 'ctrl' takes 1 to 6 controls, found 7"},
        {v3 + "negctrl(0) @ x q[0];", "line 4, column 1: 'negctrl' takes 1 to 6 controls, found 0"},
        {v3 + "pow(0.5) @ x q[0];", "line 4, column 5: 'pow' takes an integer, found '0.5'"},
        {v3 + "pow(-99999999999999999999) @ rx(1) q[0];",
         "line 4, column 5: the argument of 'pow' is too large"},
        {v3 + "ctrl(4611686018427387904) @ x q[0], q[1];",
         "line 4, column 6: the argument of 'ctrl' is too large"},
        {v3 + "pow(4194305) @ h q[0];",
         "line 4, column 1: 'pow' would make more than 4194304 operations"},
        {v3 + "ctrl @ x q[0];", "line 4, column 14: the modified 'x' acts on 2 qubits, found 1"},
        {v3 + "gate g a, b { ctrl @ x a, b; }",
         "line 4, column 15: gate modifiers ('ctrl @') are not supported in gate bodies yet"},
        {v3 + "inv x q[0];", "line 4, column 5: expected '@' after the modifier 'inv', found 'x'"},
        {"OPENQASM 2.0;\nqreg q[2];\nctrl @ CX q[0], q[1];",
         "line 3, column 1: gate modifiers ('ctrl @') are OpenQASM 3: OpenQASM 2.0 has none"},
    };
    for (const auto& [program, what] : cases) {
        SCOPED_TRACE(program);
        try {
            static_cast<void>(zel::read_open_qasm(program));
            ADD_FAILURE() << "accepted";
        } catch (const zel::ParseError& error) {
            EXPECT_EQ(std::string(error.what()), what);
        }
    }
}

}  // namespace

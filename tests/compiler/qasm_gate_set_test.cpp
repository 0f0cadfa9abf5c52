// The kinds from U on through OpenQASM: each one exported (by its stdgates.inc name or an exact
// decomposition) and read back prepares the same state within the suite's tolerance, and the
// stdgates.inc names read as the kinds they mean.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

#include "support/reference.hpp"

namespace zel::test {
namespace {

constexpr std::uint64_t N = 4;

// Every kind from U on, on qubits 2, 0, 3 (as many as it takes), with sample parameters.
std::vector<Operation> checked_operations() {
    std::vector<Operation> ops;
    for (std::size_t k = ORIGINAL_KIND_COUNT; k < GATE_KIND_COUNT; ++k) {
        const GateInfo& info = GATE_TABLE[k];
        if (info.variable_qubits) {
            continue;
        }
        std::vector<double> params;
        for (std::size_t j = 0; j < info.param_count; ++j) {
            params.push_back(0.37 - 1.1 * static_cast<double>(j));
        }
        const std::vector<std::uint64_t> all = {2, 0, 3};
        ops.push_back(make_operation(info.kind, {all.begin(), all.begin() + info.arity}, params));
    }
    ops.push_back(pauli_rotation("XYZI", {0, 1, 2, 3}, 0.83));
    ops.push_back(pauli_rotation("YIXY", {3, 1, 0, 2}, -1.7));
    ops.push_back(pauli_rotation("II", {0, 1}, 0.4));
    const std::complex<double> i(0.0, 1.0);
    const double c = std::cos(0.6);
    const double s = std::sin(0.6);
    ops.push_back(unitary({1}, {c * std::exp(i * 0.3), -s * std::exp(i * 1.2),
                                s * std::exp(i * -0.5), c * std::exp(i * 0.4)}));
    ops.push_back(unitary({2}, {0.0, std::exp(i * 0.9), std::exp(i * -2.0), 0.0}));
    return ops;
}

// A state where every amplitude matters: H on every qubit, then a few fixed rotations.
ZarnikGraph prefix() {
    ZarnikGraph circuit(N);
    for (std::uint64_t q = 0; q < N; ++q) {
        circuit.add_gate(GateType::of(GateKind::H), {q});
        circuit.add_gate(GateType::ry(0.3 + 0.2 * static_cast<double>(q)), {q});
    }
    circuit.add_gate(GateType::of(GateKind::CX), {0, 3});
    return circuit;
}

TEST(QasmGateSet, EveryKindReadsBackToTheSameState) {
    for (const Operation& op : checked_operations()) {
        SCOPED_TRACE(std::string(gate_info(op.gate.kind).name));
        ZarnikGraph circuit = prefix();
        circuit.add(op);
        const std::string text = to_open_qasm(circuit);
        SCOPED_TRACE(text);
        const ZarnikGraph read = from_open_qasm(text);
        ZarnikState expected(N);
        apply_circuit(expected, circuit);
        ZarnikState actual(N);
        apply_circuit(actual, read);
        EXPECT_TRUE(near_amplitudes(actual, amplitudes_of(expected)));
    }
}

// Every orbital placement of each excitation kind on 5 qubits, after a prefix that makes every
// amplitude matter: written as Pauli rotations of standard gates, read back to the same state.
TEST(QasmGateSet, ExcitationsReadBackAtEveryPlacement) {
    constexpr std::uint64_t WIDE = 5;
    ZarnikGraph start(WIDE);
    for (std::uint64_t q = 0; q < WIDE; ++q) {
        start.add_gate(GateType::of(GateKind::H), {q});
        start.add_gate(GateType::ry(0.3 + 0.2 * static_cast<double>(q)), {q});
        start.add_gate(GateType::rz(0.1 - 0.3 * static_cast<double>(q)), {q});
    }
    for (const std::size_t orbitals : {2U, 4U}) {
        std::vector<std::uint64_t> q(orbitals);
        const auto visit = [&](auto&& self, std::size_t j) -> void {
            if (j == orbitals) {
                const std::size_t half = orbitals / 2;
                const std::span<const std::uint64_t> from(q.data(), half);
                const std::span<const std::uint64_t> to(q.data() + half, half);
                for (const Operation& op :
                     {fermionic_excitation(from, to, 0.83), qubit_excitation(from, to, -1.1)}) {
                    SCOPED_TRACE(std::string(gate_info(op.gate.kind).name) + " first orbital " +
                                 std::to_string(q[0]));
                    ZarnikGraph circuit = start;
                    circuit.add(op);
                    const ZarnikGraph read = from_open_qasm(to_open_qasm(circuit));
                    ZarnikState expected(WIDE);
                    apply_circuit(expected, circuit);
                    ZarnikState actual(WIDE);
                    apply_circuit(actual, read);
                    EXPECT_TRUE(near_amplitudes(actual, amplitudes_of(expected)));
                }
                return;
            }
            for (std::uint64_t x = 0; x < WIDE; ++x) {
                if (std::find(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(j), x) ==
                    q.begin() + static_cast<std::ptrdiff_t>(j)) {
                    q[j] = x;
                    self(self, j + 1);
                }
            }
        };
        visit(visit, 0);
    }
}

TEST(QasmGateSet, StandardNamesReadAsTheirKinds) {
    const std::string head = "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[3] q;\n";
    struct Case {
        std::string line;
        Operation op;
    };
    const double l = 0.5;
    const std::vector<Case> cases = {
        {"U(0.5, 0.25, -1.0) q[1];", make_operation(GateKind::U, {1}, {l, 0.25, -1.0})},
        {"u(0.5, 0.25, -1.0) q[1];", make_operation(GateKind::U, {1}, {l, 0.25, -1.0})},
        {"p(0.5) q[2];", make_operation(GateKind::P, {2}, {l})},
        {"phase(0.5) q[2];", make_operation(GateKind::P, {2}, {l})},
        {"u1(0.5) q[2];", make_operation(GateKind::P, {2}, {l})},
        {"cp(0.5) q[2], q[0];", make_operation(GateKind::CP, {2, 0}, {l})},
        {"cphase(0.5) q[2], q[0];", make_operation(GateKind::CP, {2, 0}, {l})},
        {"cu1(0.5) q[2], q[0];", make_operation(GateKind::CP, {2, 0}, {l})},
        {"sdg q[1];", make_operation(GateKind::SDG, {1})},
        {"tdg q[1];", make_operation(GateKind::TDG, {1})},
        {"cy q[2], q[0];", make_operation(GateKind::CY, {2, 0})},
        {"ch q[0], q[1];", make_operation(GateKind::CH, {0, 1})},
        {"crx(0.5) q[0], q[1];", make_operation(GateKind::CRX, {0, 1}, {l})},
        {"cry(0.5) q[0], q[1];", make_operation(GateKind::CRY, {0, 1}, {l})},
        {"crz(0.5) q[0], q[1];", make_operation(GateKind::CRZ, {0, 1}, {l})},
        {"cu(0.5, 1.0, 1.5, 2.0) q[1], q[2];",
         make_operation(GateKind::CU, {1, 2}, {l, 1.0, 1.5, 2.0})},
        {"ccx q[0], q[1], q[2];", make_operation(GateKind::CCX, {0, 1, 2})},
        {"cswap q[2], q[1], q[0];", make_operation(GateKind::CSWAP, {2, 1, 0})},
        {"gphase(0.5);", make_operation(GateKind::GPHASE, {}, {l})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const ZarnikGraph read = from_open_qasm(head + c.line + "\n");
        ASSERT_EQ(read.operations.size(), 1U);
        EXPECT_EQ(read.operations[0], c.op);
    }
    // u2 and u3 are U times e^(-i(phi + lambda)/2) in stdgates.inc.
    const ZarnikGraph u3 = from_open_qasm(head + "u3(0.5, 0.25, 1.0) q[0];\n");
    ASSERT_EQ(u3.operations.size(), 2U);
    EXPECT_EQ(u3.operations[0], make_operation(GateKind::U, {0}, {l, 0.25, 1.0}));
    EXPECT_EQ(u3.operations[1], make_operation(GateKind::GPHASE, {}, {-(0.25 + 1.0) / 2}));
}

struct Refused {
    std::string line;
    std::string message;
};

TEST(QasmGateSet, WrongCallsAreReportedWhereTheyAre) {
    const std::string head = "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[3] q;\n";
    const std::vector<Refused> cases = {
        {"U(0.5) q[0];", "line 4, column 6: 'U' takes 3 angles, found 1"},
        {"cu(1, 2, 3, 4, 5) q[0], q[1];", "line 4, column 16: 'cu' takes 4 angles"},
        {"ccx q[0], q[1], q[0];", "line 4, column 17: 'ccx' uses qubit q[0] twice"},
        {"gphase(0.5) q[0];", "line 4, column 13: 'gphase' acts on no qubits, found 'q'"},
        {"p q[0];", "line 4, column 3: 'p' takes one angle, found 'q'"},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.line);
        try {
            static_cast<void>(from_open_qasm(head + c.line + "\n"));
            ADD_FAILURE() << "accepted";
        } catch (const ParseError& error) {
            EXPECT_EQ(std::string(error.what()), c.message);
        }
    }
}

}  // namespace
}  // namespace zel::test

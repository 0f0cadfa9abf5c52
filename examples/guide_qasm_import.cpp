// Guide, "OpenQASM 3.0: export and import": reading a program into a circuit, the error a
// program outside the subset gets, and the round trip through the export.

#include <cstdint>
#include <iostream>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"

int main() {
    const std::string program = R"(OPENQASM 3.0;
include "stdgates.inc";
qubit[2] q;      // qubits 0 and 1
qubit anc;       // qubit 2
bit[3] c;        // no qubits

h q;                       // broadcast: h q[0]; h q[1];
cx q[1], anc;
rz(-pi / 4) anc;
sdg q[0];                  // the kind SDG, S^dagger
)";

    // Registers take consecutive indexes in declaration order; every operation is added with
    // add_gate, so the rotation's angle is also its one parameter.
    const zel::ZarnikGraph circuit = zel::from_open_qasm(program);
    std::cout << circuit.num_qubits << " qubits:";
    for (const zel::Operation& op : circuit.operations) {
        std::cout << ' ' << zel::debug_text(op.gate);
    }
    std::cout << '\n';

    // Anything outside the subset is a ParseError with its place (1-based line, column in
    // bytes) and the reason; nothing is skipped.
    try {
        zel::from_open_qasm(
            "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[1] q;\nrxx(pi) q[0];\n");
    } catch (const zel::ParseError& error) {
        std::cout << error.what() << '\n';  // line 4, column 1: unknown gate 'rxx'
        std::cout << "at line " << error.line() << ", column " << error.column() << '\n';
    }

    // Whatever to_open_qasm writes reads back bit for bit.
    const std::string text = zel::to_open_qasm(circuit);
    const bool same = zel::from_open_qasm(text) == circuit;
    std::cout << text << (same ? "reads back unchanged\n" : "changed\n");

    const zel::QasmProgram ghz = zel::read_open_qasm(R"(OPENQASM 2.0;
include "qelib1.inc";
qreg q[3];
creg c[3];
gate bell(t) a, b { h a; cx a, b; rz(t^2 / 2) b; }
bell(sqrt(2) * pi) q[0], q[1];
cx q[1], q[2];
barrier q;
measure q -> c;
)");
    // Counts per bitstring, c[0] last; the state is sampled once, fixed by the seed.
    const std::map<std::string, std::uint64_t> counts = zel::run_shots(ghz, 1000, 42);
    for (const auto& [bits, count] : counts) {
        std::cout << bits << ": " << count << '\n';  // 000 and 111, about 500 each
    }
    const bool sampled = counts.size() == 2 && counts.contains("000") && counts.contains("111");

    const zel::QasmProgram teleport = zel::read_open_qasm(R"(OPENQASM 2.0;
include "qelib1.inc";
qreg q[3];
creg m0[1];
creg m1[1];
creg out[1];
ry(2 * pi / 3) q[0];
h q[1];
cx q[1], q[2];
cx q[0], q[1];
h q[0];
measure q[0] -> m0[0];
measure q[1] -> m1[0];
if (m1 == 1) x q[2];
if (m0 == 1) z q[2];
measure q[2] -> out[0];
)");
    // Each shot is one trajectory; out (the first character) reads 1 in about 3/4 of them.
    const std::map<std::string, std::uint64_t> teleported = zel::run_shots(teleport, 1000, 7);
    const std::string written = zel::to_open_qasm(teleport);  // OpenQASM 3 with if blocks
    const bool kept = zel::read_open_qasm(written).instructions == teleport.instructions;
    std::uint64_t ones = 0;
    for (const auto& [bits, count] : teleported) {
        ones += bits[0] == '1' ? count : 0;
    }
    std::cout << written << "out = 1 in " << ones << " of 1000 shots\n";

    const bool expected =
        sampled && kept && !teleport.terminal && ones > 650 && ones < 850 &&
        circuit.num_qubits == 3 && circuit.gate_count() == 7 &&
        circuit.operations[3].params == std::vector<double>{-std::numbers::pi / 4};
    return same && expected ? 0 : 1;
}

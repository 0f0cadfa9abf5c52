// Guide, "OpenQASM 3.0: export and import": reading a program into a circuit, the error a
// program outside the subset gets, and the round trip through the export.

#include <cmath>
#include <cstdint>
#include <iostream>
#include <map>
#include <numbers>
#include <span>
#include <string>
#include <vector>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/spectrum.hpp"
#include "zel/neural/optimizer.hpp"

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

    // A program with mid-circuit measurement, reset or 'if' is not one unitary: it has no
    // circuit whose energy or gradients could be evaluated.
    try {
        static_cast<void>(teleport.unitary_circuit());
    } catch (const zel::InvalidArgument& error) {
        std::cout << error.what() << '\n';  // ... (line 14, column 1: classical control ('if')) ...
    }

    // A parametrised ansatz, read once: its inputs are bound to new values for every evaluation,
    // and its energy as a function of them goes to any of the optimisers.
    const zel::QasmProgram ansatz = zel::read_open_qasm(R"(OPENQASM 3.0;
include "stdgates.inc";
input float theta;
qubit[2] q;
x q[0];
ry(theta) q[1];
cx q[1], q[0];
)",
                                                        {{"theta", 0.0}});
    const zel::QasmEnergyFn energy(ansatz, zel::PauliSum::h2_hamiltonian());
    const zel::DerivativeFreeOptimizer optimizer;
    const zel::OptimizeResult best = optimizer.minimize(
        [&energy](std::span<const double> x, std::span<double>) {
            return energy(x);
        },
        std::vector<double>{0.0});
    const zel::ZarnikGraph tuned = ansatz.bound_circuit(best.x);  // theta = best.x[0]
    std::cout << "theta " << best.x[0] << ", energy " << best.value << " Ha\n";
    const double exact = zel::ground_energy(zel::PauliSum::h2_hamiltonian(), 2);

    const bool expected =
        sampled && kept && !teleport.terminal && ones > 650 && ones < 850 &&
        std::abs(best.value - exact) < 1e-6 && tuned.gate_count() == 3 && circuit.num_qubits == 3 &&
        circuit.gate_count() == 5 &&
        circuit.operations[3].params == std::vector<double>{-std::numbers::pi / 4};
    return same && expected ? 0 : 1;
}

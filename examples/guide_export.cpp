// Guide, "Exporting to OpenQASM 3.0": the text form of a circuit.

#include <iostream>
#include <string>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"

int main() {
    zel::ZarnikGraph circuit(2);
    circuit.add_gate_with_params(zel::GateType::of(zel::GateKind::H), {0}, {});
    circuit.add_gate_with_params(zel::GateType::of(zel::GateKind::CX), {0, 1}, {});
    circuit.add_gate_with_params(zel::GateType::rz(0.25), {1}, {0.25});

    // Header, then one line per operation. Qubit q of the circuit is q[q] of the register; a
    // rotation is written with the gate's own angle, in the shortest digits that read back
    // exactly. The bit register is declared but no measurement is written.
    const std::string text = zel::to_open_qasm(circuit);
    std::cout << text;
    return 0;
}

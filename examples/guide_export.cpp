// Guide, "Exporting to OpenQASM 3.0": the text form of a circuit.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <iostream>
#include <string>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

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

    const std::complex<double> i(0.0, 1.0);
    zel::ZarnikGraph swap_circuit(2);
    // iSWAP: |01> and |10> swap with a factor i. A unitary on 2 to 6 qubits is written as
    // controlled U and p gates, plus a gphase, that read back to the same matrix within 1e-12.
    swap_circuit.add(zel::unitary({0, 1}, {1, 0, 0, 0, 0, 0, i, 0, 0, i, 0, 0, 0, 0, 0, 1}));
    const std::string unitary_text = zel::to_open_qasm(swap_circuit);
    std::cout << unitary_text;

    // Read back, the lines prepare the same state as the matrix.
    zel::ZarnikState direct(2);
    zel::ZarnikState read(2);
    for (zel::ZarnikState* state : {&direct, &read}) {
        state->apply(zel::make_operation(zel::GateKind::U, {0}, {0.7, 0.2, -0.4}));
    }
    zel::apply_circuit(direct, swap_circuit);
    zel::apply_circuit(read, zel::from_open_qasm(unitary_text));
    double largest = 0.0;
    for (std::size_t k = 0; k < 4; ++k) {
        largest = std::max(largest, std::abs(direct.amplitudes()[k] - read.amplitudes()[k]));
    }
    std::cout << "largest difference: " << largest << '\n';
    return largest <= 1e-12 ? 0 : 1;
}

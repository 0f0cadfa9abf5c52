// Guide, "The whole gate set": the kinds from U on, Pauli-string rotations, k-qubit unitaries, and
// what the gate table says about each operation (matrix, inverse, generator).

#include <complex>
#include <cstdint>
#include <iostream>
#include <numbers>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/prepared.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

int main() {
    const double pi = std::numbers::pi;

    // Kinds from U on take their parameters in params and their controls first.
    zel::ZarnikGraph circuit(3);
    circuit.add(zel::make_operation(zel::GateKind::U, {0}, {pi / 2, 0.0, pi}));
    circuit.add(zel::make_operation(zel::GateKind::CRY, {0, 1}, {0.4}));
    circuit.add(zel::make_operation(zel::GateKind::CCX, {0, 1, 2}));
    circuit.add(zel::make_operation(zel::GateKind::RZZ, {1, 2}, {0.25}));
    circuit.add(zel::make_operation(zel::GateKind::GPHASE, {}, {pi / 8}));

    // exp(-i theta/2 X0 Y1 Z2): letter j of the string acts on qubits[j].
    circuit.add(zel::pauli_rotation("XYZ", {0, 1, 2}, 0.3));

    // A two-qubit unitary by its matrix (row-major; local bit j is qubits[j]).
    const double c = std::cos(0.2);
    const double s = std::sin(0.2);
    circuit.add(zel::unitary({2, 0}, {c, 0, 0, -s, 0, c, s, 0, 0, -s, c, 0, s, 0, 0, c}));

    // exp(theta (T - T^dagger)) for T = a^dagger_2 a_0 under Jordan-Wigner: one operation on
    // the orbitals 0 and 2, then their parity qubit 1; the qubit excitation has no parity sign.
    const std::vector<std::uint64_t> from = {0};
    const std::vector<std::uint64_t> to = {2};
    circuit.add(zel::fermionic_excitation(from, to, 0.4));  // qubits 0, 2, 1
    circuit.add(zel::qubit_excitation(from, to, -0.2));     // qubits 0, 2
    // A double's parity qubits lie between its first and second, and third and fourth orbitals.
    const std::vector<std::uint64_t> orbitals = {0, 5, 2, 3};
    const std::vector<std::uint64_t> parity = zel::excitation_parity_qubits(orbitals);  // 1, 4
    // T's own sign between its orbitals: a_0 a_1 in this order pass no occupied orbital.
    const int sign = zel::excitation_sign(from, to);  // +1 for every single

    zel::ZarnikState state(3);
    zel::apply_circuit(state, circuit);
    std::cout << "amplitude 0 after the circuit: " << state.amplitudes()[0] << ", " << parity.size()
              << " parity qubits, sign " << sign << '\n';

    // The table gives each operation's matrix, inverse and generator.
    const zel::Operation crx = zel::make_operation(zel::GateKind::CRX, {0, 1}, {0.7});
    const std::vector<std::complex<double>> matrix = zel::operation_matrix(crx);
    const zel::Operation undo = zel::inverse(crx);  // CRX(-0.7) on the same qubits
    const std::vector<std::complex<double>> g = zel::generator_matrix(crx);  // |1><1| (x) X/2
    std::cout << "CRX matrix entry (3, 1): " << matrix[3 * 4 + 1] << ", inverse angle "
              << undo.params[0] << ", generator entry (3, 1): " << g[3 * 4 + 1] << '\n';

    // The kinds from U on are checked strictly, before any amplitude changes.
    try {
        state.apply(zel::make_operation(zel::GateKind::CSWAP, {0, 1, 1}));
    } catch (const zel::InvalidArgument& error) {
        std::cout << error.what() << '\n';  // CSWAP: qubit 1 appears twice
    }

    // Prepared once, applied again and again: no checks and no sin or cos per call.
    const zel::PreparedOperation step(zel::make_operation(zel::GateKind::RZZ, {0, 2}, {0.05}), 3);
    step.check_register(state.num_qubits());  // throws for a register of another size
    for (int k = 0; k < 100; ++k) {
        state.apply(step);  // the bits of state.apply(step.operation())
    }
    std::cout << "amplitude 0 after 100 steps: " << state.amplitudes()[0] << '\n';
    return 0;
}

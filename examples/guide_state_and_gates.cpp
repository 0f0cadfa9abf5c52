// Guide, "States and gates": a two-qubit state, basis states and the bit order, gates applied
// one by one, amplitudes and entropy read back.

#include <array>
#include <cstdint>
#include <iostream>
#include <numbers>

#include "zel/core/circuit.hpp"
#include "zel/core/state.hpp"

namespace {

void print_amplitudes(const zel::ZarnikState& state) {
    for (std::uint64_t k = 0; k < state.dimension(); ++k) {
        std::cout << "  amplitude " << k << ": " << state.amplitudes()[k] << '\n';
    }
}

}  // namespace

int main() {
    // A register of two qubits starts in basis state 0, |00>: amplitudes [1, 0, 0, 0].
    zel::ZarnikState state(2);

    // Basis index 1 is binary 01: qubit 0 (the least significant bit) reads 1, qubit 1 reads 0.
    state.set_computational_basis(1);
    std::cout << "basis state 1:\n";
    print_amplitudes(state);

    // X on qubit 1 flips bit 1 of the basis index: |1> becomes |3>.
    const std::array<std::uint64_t, 1> qubit1{1};
    state.apply_gate(zel::GateType::of(zel::GateKind::X), qubit1, {});
    std::cout << "after X on qubit 1:\n";
    print_amplitudes(state);

    // A Bell state: H on qubit 0, then CX with control qubit 0 and target qubit 1.
    state.set_computational_basis(0);
    const std::array<std::uint64_t, 1> qubit0{0};
    const std::array<std::uint64_t, 2> control0_target1{0, 1};
    state.apply_gate(zel::GateType::of(zel::GateKind::H), qubit0, {});
    state.apply_gate(zel::GateType::of(zel::GateKind::CX), control0_target1, {});
    std::cout << "Bell state (|0> + |3>)/sqrt2:\n";
    print_amplitudes(state);
    // Entropy of the measurement distribution in bits: 1 for two equally likely outcomes.
    std::cout << "  entropy in bits: " << state.calculate_entropy() << '\n';

    // Rotations take their angle (radians) from params[0] when params is not empty, otherwise
    // from the gate itself. RY(pi/2) on |0> gives (|0> + |1>)/sqrt2.
    const double half_pi = std::numbers::pi / 2;
    const std::array<double, 1> angle{half_pi};
    state.set_computational_basis(0);
    state.apply_gate(zel::GateType::ry(half_pi), qubit0, angle);
    std::cout << "RY(pi/2) on qubit 0:\n";
    print_amplitudes(state);

    // Copies are deep: changing the copy leaves the original alone.
    zel::ZarnikState copy = state;
    copy.set_computational_basis(3);
    std::cout << "original amplitude 0 after changing the copy: " << state.amplitudes()[0] << '\n';

    // Amplitudes can also be written directly, for example to prepare a state no circuit of
    // interest produces. Nothing normalises them.
    auto amplitudes = state.amplitudes_mut();
    amplitudes[0] = 0.6;
    amplitudes[1] = 0.0;
    amplitudes[2] = zel::ZarnikState::Amplitude(0.0, 0.8);
    amplitudes[3] = 0.0;
    std::cout << "0.6|0> + 0.8i|2>, entropy " << state.calculate_entropy() << " bits\n";
    return 0;
}

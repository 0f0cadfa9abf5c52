#pragma once

// The fixed experiment: two qubits, the H2 Hamiltonian, the adaptive strategy, the search, the
// report and the export, all printed to standard output.

namespace kvt {

/// Qubits of the register and of the circuit.
inline constexpr unsigned long long QUBITS = 2;

/// Arguments of the strategy: learning rate, prune threshold, target energy (hartree).
inline constexpr double LEARNING_RATE = 0.001;
inline constexpr double PRUNE_THRESHOLD = 0.0001;
inline constexpr double TARGET_ENERGY = -1.136;

/// Runs the whole experiment and returns the exit status (0).
int run();

}  // namespace kvt

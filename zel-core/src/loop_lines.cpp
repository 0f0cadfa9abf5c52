#include "zel/core/detail/loop_lines.hpp"

#include <string>

#include "zel/core/float_text.hpp"

namespace zel::detail {

void print_loop_start(OutputSink& out, double energy) {
    out.write("Starting Zarnik Loop. Initial Energy: " + format_fixed(energy, 6) + "\n");
}

void print_adding(OutputSink& out, const GateType& gate, std::span<const std::uint64_t> qubits) {
    std::string line = "Strategy: Adding " + debug_text(gate) + " on qubits [";
    for (std::size_t k = 0; k < qubits.size(); ++k) {
        if (k != 0) {
            line += ", ";
        }
        line += std::to_string(qubits[k]);
    }
    line += "]\n";
    out.write(line);
}

void print_removing(OutputSink& out, std::uint64_t index) {
    out.write("Strategy: Removing gate at index " + std::to_string(index) + "\n");
}

void print_converged(OutputSink& out) {
    out.write("Strategy: Converged. Halting.\n");
}

void print_progress(OutputSink& out, std::uint64_t iteration, double energy, double entropy) {
    out.write("Iter " + std::to_string(iteration) + ": Energy = " + format_fixed(energy, 6) +
              " | Entropy = " + format_fixed(entropy, 4) + "\n");
}

}  // namespace zel::detail

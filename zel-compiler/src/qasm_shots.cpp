// Shots of a program read by read_open_qasm: the final state sampled once for all shots, each
// outcome written into the classical bits its measurements name.

#include <cstdint>
#include <map>
#include <string>

#include "zel/compiler/qasm.hpp"
#include "zel/core/error.hpp"
#include "zel/core/measurement.hpp"
#include "zel/core/random.hpp"
#include "zel/core/simulator.hpp"

namespace zel {

std::map<std::string, std::uint64_t> run_shots(const QasmProgram& program, std::uint64_t shots,
                                               std::uint64_t seed) {
    if (program.num_clbits > QASM_MAX_SHOT_BITS) {
        throw InvalidArgument("run_shots: the program declares " +
                              std::to_string(program.num_clbits) + " bits, more than " +
                              std::to_string(QASM_MAX_SHOT_BITS));
    }
    for (const Measurement& m : program.measurements) {
        if (m.qubit >= program.circuit.num_qubits || m.bit >= program.num_clbits) {
            throw InvalidArgument("run_shots: measurement of qubit " + std::to_string(m.qubit) +
                                  " into bit " + std::to_string(m.bit) + " is outside " +
                                  std::to_string(program.circuit.num_qubits) + " qubits and " +
                                  std::to_string(program.num_clbits) + " bits");
        }
    }
    const ZarnikState state = run_circuit(program.circuit, program.circuit.num_qubits);
    random::Generator generator(seed);
    std::map<std::string, std::uint64_t> counts;
    for (const auto& [index, count] : sample_counts(state, shots, generator)) {
        // c[0] is the last character, as OpenQASM prints a bit register.
        std::string bits(program.num_clbits, '0');
        for (const Measurement& m : program.measurements) {
            bits[program.num_clbits - 1 - m.bit] = ((index >> m.qubit) & 1U) != 0 ? '1' : '0';
        }
        counts[bits] += count;
    }
    return counts;
}

}  // namespace zel

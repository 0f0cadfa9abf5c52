// Shots of a program read by read_open_qasm. A program whose measurements are all terminal has
// its final state sampled once for all shots; any other runs shot by shot, each measurement
// drawing its outcome and collapsing the state.

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "zel/compiler/qasm.hpp"
#include "zel/core/cancel.hpp"
#include "zel/core/error.hpp"
#include "zel/core/measurement.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/random.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

namespace zel {
namespace {

std::string where(const char* what, std::uint64_t index, std::uint64_t limit, const char* unit) {
    return "run_shots: " + std::string(what) + " " + std::to_string(index) + " is outside the " +
           std::to_string(limit) + " " + unit + " of the program";
}

void check_bit(std::uint64_t bit, std::uint64_t num_clbits) {
    if (bit >= num_clbits) {
        throw InvalidArgument(where("bit", bit, num_clbits, "bits"));
    }
}

void check_qubit(std::uint64_t qubit, std::uint64_t num_qubits) {
    if (qubit >= num_qubits) {
        throw InvalidArgument(where("qubit", qubit, num_qubits, "qubits"));
    }
}

// Everything a shot relies on, checked before the first one runs.
void check_instructions(const QasmProgram& program) {
    const std::uint64_t num_qubits = program.circuit.num_qubits;
    for (const QasmInstruction& instruction : program.instructions) {
        switch (instruction.kind) {
            case QasmInstructionKind::Gate:
                check_operation(num_qubits, instruction.operation);
                break;
            case QasmInstructionKind::Measure:
                check_qubit(instruction.qubit, num_qubits);
                check_bit(instruction.bit, program.num_clbits);
                break;
            case QasmInstructionKind::Reset:
                check_qubit(instruction.qubit, num_qubits);
                break;
        }
        if (const auto& condition = instruction.condition) {
            if (condition->first_bit > program.num_clbits ||
                condition->num_bits > program.num_clbits - condition->first_bit) {
                throw InvalidArgument("run_shots: a condition on " +
                                      std::to_string(condition->num_bits) + " bits from bit " +
                                      std::to_string(condition->first_bit) + " is outside the " +
                                      std::to_string(program.num_clbits) + " bits of the program");
            }
        }
    }
}

// Whether the instructions are a circuit followed by measurements: no reset, no condition, no
// gate on a measured qubit and no qubit measured twice.
bool all_terminal(const std::vector<QasmInstruction>& instructions) {
    std::unordered_set<std::uint64_t> measured;
    for (const QasmInstruction& instruction : instructions) {
        if (instruction.condition || instruction.kind == QasmInstructionKind::Reset) {
            return false;
        }
        if (instruction.kind == QasmInstructionKind::Measure) {
            if (!measured.insert(instruction.qubit).second) {
                return false;
            }
            continue;
        }
        for (const std::uint64_t qubit : instruction.operation.qubits) {
            if (measured.contains(qubit)) {
                return false;
            }
        }
    }
    return true;
}

// c[0] is the last character, as OpenQASM prints a bit register.
char& bit_at(std::string& bits, std::uint64_t bit) {
    return bits[bits.size() - 1 - bit];
}

std::map<std::string, std::uint64_t> sample_final_state(
    const ZarnikGraph& circuit, const std::vector<Measurement>& measurements,
    std::uint64_t num_clbits, std::uint64_t shots, std::uint64_t seed) {
    for (const Measurement& m : measurements) {
        if (m.qubit >= circuit.num_qubits || m.bit >= num_clbits) {
            throw InvalidArgument("run_shots: measurement of qubit " + std::to_string(m.qubit) +
                                  " into bit " + std::to_string(m.bit) + " is outside " +
                                  std::to_string(circuit.num_qubits) + " qubits and " +
                                  std::to_string(num_clbits) + " bits");
        }
    }
    const ZarnikState state = run_circuit(circuit, circuit.num_qubits);
    random::Generator generator(seed);
    std::map<std::string, std::uint64_t> counts;
    for (const auto& [index, count] : sample_counts(state, shots, generator)) {
        std::string bits(num_clbits, '0');
        for (const Measurement& m : measurements) {
            bit_at(bits, m.bit) = ((index >> m.qubit) & 1U) != 0 ? '1' : '0';
        }
        counts[bits] += count;
    }
    return counts;
}

// Basis index with a zero bit inserted at `qubit` into `compressed`: the pairs of a one-qubit
// measurement are index and index | 2^qubit, and only 2^(n-1) of them are visited.
std::uint64_t with_zero_at(std::uint64_t compressed, std::uint64_t qubit) {
    const std::uint64_t low = (std::uint64_t{1} << qubit) - 1;
    return ((compressed & ~low) << 1) | (compressed & low);
}

// Measures `qubit` with one draw of `generator`: returns the outcome and leaves the state
// collapsed onto it and renormalised. The probabilities are sums over fixed chunks, the same
// for any thread count.
bool measure_qubit(ZarnikState& state, std::uint64_t qubit, random::Generator& generator) {
    const std::span<ZarnikState::Amplitude> amplitudes = state.amplitudes_mut();
    const std::size_t half = static_cast<std::size_t>(state.dimension() / 2);
    const std::uint64_t mask = std::uint64_t{1} << qubit;
    double totals[2] = {};
    parallel::sum_many(half, totals, [&](std::size_t begin, std::size_t end, double* out) {
        double zero = 0.0;
        double one = 0.0;
        for (std::size_t i = begin; i < end; ++i) {
            const std::uint64_t k = with_zero_at(i, qubit);
            zero += std::norm(amplitudes[k]);
            one += std::norm(amplitudes[k | mask]);
        }
        out[0] = zero;
        out[1] = one;
    });
    const double total = totals[0] + totals[1];
    if (!(total > 0.0) || !std::isfinite(total)) {
        throw InvalidArgument("run_shots: measuring qubit " + std::to_string(qubit) +
                              " needs a state of finite, non-zero norm");
    }
    const double u = generator.uniform();
    const bool outcome = totals[0] == 0.0 || (totals[1] != 0.0 && u * total >= totals[0]);
    const double scale = 1.0 / std::sqrt(outcome ? totals[1] : totals[0]);
    parallel::for_each(half, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            const std::uint64_t k = with_zero_at(i, qubit);
            ZarnikState::Amplitude& kept = amplitudes[outcome ? k | mask : k];
            ZarnikState::Amplitude& dropped = amplitudes[outcome ? k : k | mask];
            kept = {kept.real() * scale, kept.imag() * scale};
            dropped = {0.0, 0.0};
        }
    });
    return outcome;
}

bool holds(const ClassicalCondition& condition, std::string& bits) {
    // A value with bits beyond the tested ones equals none of their readings.
    bool equal = condition.num_bits >= 64 || (condition.value >> condition.num_bits) == 0;
    for (std::uint64_t i = 0; i < condition.num_bits && equal; ++i) {
        const bool expected = i < 64 && ((condition.value >> i) & 1U) != 0;
        equal = (bit_at(bits, condition.first_bit + i) == '1') == expected;
    }
    return equal == condition.equal;
}

std::map<std::string, std::uint64_t> run_trajectories(const QasmProgram& program,
                                                      std::uint64_t shots, std::uint64_t seed) {
    // The unconditioned gates before the first measurement, reset or condition are the same in
    // every shot: they run once.
    const std::vector<QasmInstruction>& instructions = program.instructions;
    ZarnikGraph prefix;
    prefix.num_qubits = program.circuit.num_qubits;
    std::size_t first = 0;
    while (first < instructions.size() && instructions[first].kind == QasmInstructionKind::Gate &&
           !instructions[first].condition) {
        prefix.add(instructions[first].operation);
        ++first;
    }
    const ZarnikState prepared = run_circuit(prefix, prefix.num_qubits);
    random::Generator generator(seed);
    std::map<std::string, std::uint64_t> counts;
    ZarnikState state = prepared;
    const GateType flip{GateKind::X, 0.0};
    for (std::uint64_t shot = 0; shot < shots; ++shot) {
        throw_if_cancelled();
        state = prepared;
        std::string bits(program.num_clbits, '0');
        for (std::size_t i = first; i < instructions.size(); ++i) {
            const QasmInstruction& instruction = instructions[i];
            if (instruction.condition && !holds(*instruction.condition, bits)) {
                continue;
            }
            switch (instruction.kind) {
                case QasmInstructionKind::Gate:
                    state.apply(instruction.operation);
                    break;
                case QasmInstructionKind::Measure:
                    bit_at(bits, instruction.bit) =
                        measure_qubit(state, instruction.qubit, generator) ? '1' : '0';
                    break;
                case QasmInstructionKind::Reset:
                    if (measure_qubit(state, instruction.qubit, generator)) {
                        const std::uint64_t qubit = instruction.qubit;
                        state.apply_gate(flip, std::span<const std::uint64_t>(&qubit, 1), {});
                    }
                    break;
            }
        }
        counts[bits] += 1;
    }
    return counts;
}

}  // namespace

std::map<std::string, std::uint64_t> run_shots(const QasmProgram& program, std::uint64_t shots,
                                               std::uint64_t seed) {
    if (program.num_clbits > QASM_MAX_SHOT_BITS) {
        throw InvalidArgument("run_shots: the program declares " +
                              std::to_string(program.num_clbits) + " bits, more than " +
                              std::to_string(QASM_MAX_SHOT_BITS));
    }
    if (program.instructions.empty()) {
        return sample_final_state(program.circuit, program.measurements, program.num_clbits, shots,
                                  seed);
    }
    check_instructions(program);
    if (!all_terminal(program.instructions)) {
        return run_trajectories(program, shots, seed);
    }
    ZarnikGraph circuit;
    circuit.num_qubits = program.circuit.num_qubits;
    std::vector<Measurement> measurements;
    for (const QasmInstruction& instruction : program.instructions) {
        if (instruction.kind == QasmInstructionKind::Measure) {
            measurements.push_back(Measurement{instruction.qubit, instruction.bit});
        } else {
            circuit.add(instruction.operation);
        }
    }
    return sample_final_state(circuit, measurements, program.num_clbits, shots, seed);
}

}  // namespace zel

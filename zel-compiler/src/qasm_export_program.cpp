// OpenQASM 3 export of a whole program: gates as the circuit export writes them, measurements,
// resets and conditions.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "zel/compiler/qasm.hpp"
#include "zel/core/error.hpp"

namespace zel {
namespace {

// The bit registers of the export: each condition on several bits tests one whole register, so
// the bits are cut wherever such a run starts or ends. `starts` holds each register's first bit.
class BitRegisters {
  public:
    BitRegisters(const std::vector<QasmInstruction>& instructions, std::uint64_t num_clbits)
        : num_clbits_(num_clbits) {
        std::set<std::uint64_t> cuts = {0};
        for (const QasmInstruction& instruction : instructions) {
            if (const auto& condition = instruction.condition) {
                check(*condition);
                if (condition->num_bits > 1) {
                    cuts.insert(condition->first_bit);
                    cuts.insert(condition->first_bit + condition->num_bits);
                }
            }
        }
        cuts.erase(num_clbits);
        starts_.assign(cuts.begin(), cuts.end());
        for (const QasmInstruction& instruction : instructions) {
            const auto& condition = instruction.condition;
            if (condition && condition->num_bits > 1 &&
                (register_of(condition->first_bit) !=
                     register_of(condition->first_bit + condition->num_bits - 1) ||
                 starts_[register_of(condition->first_bit)] != condition->first_bit)) {
                throw InvalidArgument(
                    "to_open_qasm: conditions on bits " + std::to_string(condition->first_bit) +
                    " to " + std::to_string(condition->first_bit + condition->num_bits - 1) +
                    " overlap other conditions' bits");
            }
        }
    }

    void declare(std::string& text) const {
        for (std::size_t r = 0; r < starts_.size() && num_clbits_ > 0; ++r) {
            text += "bit[" + std::to_string(size(r)) + "] " + name(r) + ";\n";
        }
    }

    std::string bit(std::uint64_t index) const {
        check_bit(index);
        const std::size_t r = register_of(index);
        return name(r) + "[" + std::to_string(index - starts_[r]) + "]";
    }

    std::string condition(const ClassicalCondition& condition) const {
        std::string text = condition.num_bits == 1 ? bit(condition.first_bit)
                                                   : name(register_of(condition.first_bit));
        text += condition.equal ? " == " : " != ";
        text += std::to_string(condition.value);
        return text;
    }

  private:
    void check_bit(std::uint64_t index) const {
        if (index >= num_clbits_) {
            throw InvalidArgument("to_open_qasm: bit " + std::to_string(index) +
                                  " is outside the " + std::to_string(num_clbits_) +
                                  " bits of the program");
        }
    }

    void check(const ClassicalCondition& condition) const {
        if (condition.num_bits == 0 || condition.first_bit >= num_clbits_ ||
            condition.num_bits > num_clbits_ - condition.first_bit) {
            throw InvalidArgument("to_open_qasm: a condition on " +
                                  std::to_string(condition.num_bits) + " bits from bit " +
                                  std::to_string(condition.first_bit) + " is outside the " +
                                  std::to_string(num_clbits_) + " bits of the program");
        }
    }

    std::size_t register_of(std::uint64_t index) const {
        return static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), index) -
                                        starts_.begin()) -
               1;
    }

    std::uint64_t size(std::size_t r) const {
        return (r + 1 < starts_.size() ? starts_[r + 1] : num_clbits_) - starts_[r];
    }

    std::string name(std::size_t r) const {
        std::string text = "c";
        if (starts_.size() > 1) {
            text += std::to_string(r);
        }
        return text;
    }

    std::uint64_t num_clbits_;
    std::vector<std::uint64_t> starts_;
};

std::string qubit(std::uint64_t index, std::uint64_t num_qubits) {
    if (index >= num_qubits) {
        throw InvalidArgument("to_open_qasm: qubit " + std::to_string(index) + " is outside the " +
                              std::to_string(num_qubits) + " qubits of the program");
    }
    return "q[" + std::to_string(index) + "]";
}

// The statements the circuit export writes for one operation, without its header.
std::string gate_lines(const Operation& operation, std::uint64_t num_qubits) {
    ZarnikGraph single;
    single.num_qubits = num_qubits;
    single.operations.push_back(operation);
    const std::string text = to_open_qasm(single);
    return text.substr(text.find("\n\n") + 2);
}

}  // namespace

std::string to_open_qasm(const QasmProgram& program) {
    std::vector<QasmInstruction> assembled;
    if (program.instructions.empty()) {
        for (const Operation& operation : program.circuit.operations) {
            assembled.emplace_back().operation = operation;
        }
        for (const Measurement& m : program.measurements) {
            QasmInstruction& instruction = assembled.emplace_back();
            instruction.kind = QasmInstructionKind::Measure;
            instruction.qubit = m.qubit;
            instruction.bit = m.bit;
        }
    }
    const std::vector<QasmInstruction>& instructions =
        program.instructions.empty() ? assembled : program.instructions;
    const std::uint64_t num_qubits = program.circuit.num_qubits;
    const BitRegisters bits(instructions, program.num_clbits);

    std::string text;
    text += "OPENQASM 3.0;\n";
    text += "include \"stdgates.inc\";\n";
    text += "qubit[" + std::to_string(num_qubits) + "] q;\n";
    bits.declare(text);
    text += "\n";
    for (const QasmInstruction& instruction : instructions) {
        std::string statement;
        switch (instruction.kind) {
            case QasmInstructionKind::Gate:
                statement = gate_lines(instruction.operation, num_qubits);
                break;
            case QasmInstructionKind::Measure:
                statement = bits.bit(instruction.bit) + " = measure " +
                            qubit(instruction.qubit, num_qubits) + ";\n";
                break;
            case QasmInstructionKind::Reset:
                statement = "reset " + qubit(instruction.qubit, num_qubits) + ";\n";
                break;
        }
        if (!instruction.condition) {
            text += statement;
            continue;
        }
        text += "if (" + bits.condition(*instruction.condition) + ") {\n";
        for (const char c : statement) {
            if (text.back() == '\n') {
                text += "    ";
            }
            text += c;
        }
        text += "}\n";
    }
    return text;
}

}  // namespace zel

// Bindings of OpenQASM programs with measurements: read_open_qasm, the program it returns,
// run_shots and the export of a whole program.

#include "zel/compiler/qasm.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "bindings.hpp"
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

namespace zel::python {
namespace {

const char* kind_name(QasmInstructionKind kind) {
    switch (kind) {
        case QasmInstructionKind::Gate:
            return "gate";
        case QasmInstructionKind::Measure:
            return "measure";
        case QasmInstructionKind::Reset:
            return "reset";
    }
    return "";
}

py::object condition_tuple(const QasmInstruction& instruction) {
    if (!instruction.condition) {
        return py::none();
    }
    const ClassicalCondition& c = *instruction.condition;
    return py::make_tuple(c.first_bit, c.num_bits, c.value, c.equal);
}

}  // namespace

void bind_qasm_programs(py::module_& m) {
    py::class_<QasmInstruction>(m, "QasmInstruction",
                                "One statement of a QasmProgram: a gate, a measurement or a "
                                "reset, with the condition it runs under.")
        .def_property_readonly(
            "kind",
            [](const QasmInstruction& i) {
                return kind_name(i.kind);
            },
            "'gate', 'measure' or 'reset'.")
        .def_readonly("operation", &QasmInstruction::operation, "The gate (kind 'gate').")
        .def_readonly("qubit", &QasmInstruction::qubit,
                      "The measured or reset qubit (kinds 'measure' and 'reset').")
        .def_readonly("bit", &QasmInstruction::bit, "The bit written (kind 'measure').")
        .def_property_readonly("condition", &condition_tuple,
                               "None, or (first_bit, num_bits, value, equal): the instruction "
                               "runs when bits first_bit .. first_bit + num_bits - 1, read as "
                               "an integer with first_bit least significant, equal value "
                               "(equal=True) or differ from it (equal=False).")
        .def("__eq__",
             [](const QasmInstruction& a, const QasmInstruction& b) {
                 return a == b;
             })
        .def("__repr__", [](const QasmInstruction& i) {
            std::string text = std::string("QasmInstruction(") + kind_name(i.kind);
            if (i.kind != QasmInstructionKind::Gate) {
                text += ", qubit=" + std::to_string(i.qubit);
            }
            if (i.kind == QasmInstructionKind::Measure) {
                text += ", bit=" + std::to_string(i.bit);
            }
            return text + (i.condition ? ", conditioned)" : ")");
        });

    py::class_<QasmProgram>(m, "QasmProgram",
                            "A program read by read_open_qasm: its instructions, and while "
                            "every measurement is terminal (terminal=True) also its unitary "
                            "part as a circuit followed by its measurements.")
        .def_readonly("circuit", &QasmProgram::circuit,
                      "The unitary part (no operations when terminal is False); num_qubits "
                      "is the total size of the qubit declarations.")
        .def_property_readonly(
            "measurements",
            [](const QasmProgram& p) {
                py::list result;
                for (const Measurement& measurement : p.measurements) {
                    result.append(py::make_tuple(measurement.qubit, measurement.bit));
                }
                return result;
            },
            "The terminal measurements as (qubit, bit) pairs in program order (empty when "
            "terminal is False).")
        .def_readonly("num_clbits", &QasmProgram::num_clbits,
                      "The total size of the bit declarations.")
        .def_readonly("terminal", &QasmProgram::terminal,
                      "Whether every measurement is terminal and there is no reset and no "
                      "condition.")
        .def_readonly("instructions", &QasmProgram::instructions,
                      "Every gate, measurement and reset in program order.")
        .def_readonly("inputs", &QasmProgram::inputs,
                      "The names of the program's input declarations, in order.")
        .def("__repr__", [](const QasmProgram& p) {
            return "QasmProgram(num_qubits=" + std::to_string(p.circuit.num_qubits) +
                   ", num_clbits=" + std::to_string(p.num_clbits) +
                   ", instructions=" + std::to_string(p.instructions.size()) +
                   (p.terminal ? ", terminal)" : ")");
        });

    m.def(
        "read_open_qasm",
        [](const std::string& text, const std::optional<std::map<std::string, double>>& inputs) {
            if (!inputs) {
                return read_open_qasm(text);
            }
            const std::map<std::string, double, std::less<>> values(inputs->begin(), inputs->end());
            return read_open_qasm(text, values);
        },
        py::arg("text"), py::arg("inputs") = py::none(),
        "An OpenQASM 2.0 or 3 program with its measurements, resets and conditions (the "
        "subset of docs/guide.md) as a QasmProgram. `inputs`, a dict {name: value}, gives the "
        "values of the program's 'input float' / 'input angle' declarations; read again for "
        "other values. Raises ParseError (line, column, offset, reason) for anything outside "
        "the subset or an input without a value, InvalidArgument for a value whose name the "
        "program does not declare.");
    m.def(
        "run_shots",
        [](const QasmProgram& program, const py::object& shot_count, const py::object& seed) {
            const std::uint64_t shots = unsigned_argument(shot_count, "shots");
            const std::uint64_t seed_value = unsigned_argument(seed, "seed");
            const std::map<std::string, std::uint64_t> counts = run_released(true, [&] {
                return run_shots(program, shots, seed_value);
            });
            py::dict result;
            for (const auto& [bits, count] : counts) {
                result[py::str(bits)] = count;
            }
            return result;
        },
        py::arg("program"), py::arg("shots"), py::arg("seed"),
        "Counts of `shots` runs of `program` as a dict {bitstring: count}, bit c[0] last. A "
        "program whose measurements are all terminal is sampled once from its final state; any "
        "other runs shot by shot. The counts are a fixed function of the program, shots and "
        "seed, for any thread count. Runs with the GIL released. Raises InvalidArgument for a "
        "program outside its qubits or bits.");
    m.def(
        "to_open_qasm",
        [](const QasmProgram& program) {
            return to_open_qasm(program);
        },
        py::arg("program"),
        "OpenQASM 3.0 text of a whole program: gates, measurements, resets and conditions; "
        "read_open_qasm reads it back into the same instructions.");
    m.attr("QASM_MAX_SHOT_BITS") = QASM_MAX_SHOT_BITS;
}

}  // namespace zel::python

// Bindings of OpenQASM programs with measurements: read_open_qasm, the program it returns,
// run_shots and the export of a whole program.

#include "zel/compiler/qasm.hpp"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

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

// The values of a program's inputs in declaration order, from a dict naming them or from a
// sequence in that order.
std::vector<double> input_values(const QasmProgram& program, const py::object& values) {
    std::map<std::string, double> named;
    try {
        if (!py::isinstance<py::dict>(values)) {
            return py::cast<std::vector<double>>(values);
        }
        named = py::cast<std::map<std::string, double>>(values);
    } catch (const py::cast_error&) {
        throw py::type_error(
            "bind: the values are a dict {name: value} or a sequence of numbers, one per input");
    }
    std::vector<double> ordered;
    for (const std::string& name : program.inputs) {
        const auto found = named.find(name);
        if (found == named.end()) {
            throw InvalidArgument("bind: no value for the input '" + name + "'");
        }
        ordered.push_back(found->second);
    }
    for (const auto& [name, value] : named) {
        if (std::find(program.inputs.begin(), program.inputs.end(), name) == program.inputs.end()) {
            throw InvalidArgument("bind: the program declares no input '" + name + "'");
        }
    }
    return ordered;
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
        .def_property_readonly(
            "circuit",
            [](const QasmProgram& p) -> const ZarnikGraph& {
                return p.unitary_circuit();
            },
            "The unitary part, before the terminal measurements: what energies, gradients and "
            "states of the program come from; num_qubits is the total size of the qubit "
            "declarations. Raises InvalidArgument when terminal is False (a mid-circuit "
            "measurement, a reset or an 'if'), naming the statement: run such a program with "
            "run_shots.")
        .def_readonly("non_unitary", &QasmProgram::non_unitary,
                      "Where a program that is not terminal stops being one unitary ('line 4, "
                      "column 1: ...'); empty for a terminal program.")
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
        .def(
            "bind",
            [](const QasmProgram& p, const py::object& values) {
                const std::vector<double> ordered = input_values(p, values);
                return run_released(true, [&] {
                    return p.bind(ordered);
                });
            },
            py::arg("values"),
            "The program read again with other values of its inputs: `values` is a dict "
            "{name: value} naming every input, or a sequence with one value per input in the "
            "order of `inputs`. The same program, bit for bit, as read_open_qasm(text, values). "
            "Raises InvalidArgument for a missing, surplus or unknown value.")
        .def(
            "bound_circuit",
            [](const QasmProgram& p, const py::object& values) {
                if (!p.terminal) {
                    static_cast<void>(p.unitary_circuit());
                }
                const std::vector<double> ordered = input_values(p, values);
                return run_released(true, [&] {
                    return p.bound_circuit(ordered);
                });
            },
            py::arg("values"),
            "bind(values).circuit: the circuit for those input values. Raises InvalidArgument "
            "as bind does, and for a program that is not one unitary.")
        .def("__repr__", [](const QasmProgram& p) {
            return "QasmProgram(num_qubits=" + std::to_string(p.circuit.num_qubits) +
                   ", num_clbits=" + std::to_string(p.num_clbits) +
                   ", instructions=" + std::to_string(p.instructions.size()) +
                   (p.terminal ? ", terminal)" : ")");
        });

    py::class_<QasmEnergyFn>(m, "QasmEnergyFn",
                             "The energy of a program as a function of its inputs, for "
                             "optimisers: fn(values) is the energy of the state that "
                             "program.bound_circuit(values) prepares from |0...0>, the same "
                             "value as evaluate_circuit_energy of that circuit. Holds copies "
                             "of the program and the observable.")
        .def(py::init([](const QasmProgram& program, const PauliSum& hamiltonian) {
                 return QasmEnergyFn(program, hamiltonian);
             }),
             py::arg("program"), py::arg("hamiltonian"),
             "Raises InvalidArgument for a program that is not one unitary.")
        .def(
            "__call__",
            [](const QasmEnergyFn& energy_fn, const ValuesArray& values) {
                const std::span<const double> span = values_of(values);
                return run_released(true, [&] {
                    return energy_fn(span);
                });
            },
            py::arg("values"),
            "The energy with `values` for the program's inputs, one per input in the order of "
            "program.inputs. Runs with the GIL released. Raises InvalidArgument for another "
            "number of values.")
        .def_property_readonly("num_inputs", &QasmEnergyFn::num_inputs,
                               "How many values a call takes.");

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
        "values of the program's 'input float' / 'input angle' declarations; the program "
        "keeps its text, and bind() gives it for other values. Raises ParseError (line, column, "
        "offset, reason) for anything outside "
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

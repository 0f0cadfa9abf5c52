// Circuits (ZarnikGraph, parameters, validate), gate fusion, and OpenQASM export and import;
// bind_circuit registers the whole circuit model, gates and operations first (gates.cpp).
//
// A circuit's operations live in a std::vector that grows and shrinks, so Python never holds a
// reference into it: indexing and iterating give copies of the operations, and assigning an
// index writes one back.

#include "zel/core/circuit.hpp"

#include <algorithm>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zel/compiler/qasm.hpp"
#include "zel/core/fusion.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

#include "bindings.hpp"
#include "circuit_bindings.hpp"
#include <pybind11/complex.h>
#include <pybind11/stl.h>

namespace zel::python {
namespace {

using Qubits = std::vector<std::uint64_t>;
using Params = std::vector<double>;

// Position `index` of a sequence of `size` elements, counting from the end when negative, as
// Python sequences do.
std::size_t position(std::int64_t index, std::size_t size, const char* what) {
    const auto length = static_cast<std::int64_t>(size);
    const std::int64_t resolved = index < 0 ? index + length : index;
    if (resolved < 0 || resolved >= length) {
        throw py::index_error(std::string(what) + " index " + std::to_string(index) +
                              " out of range for " + std::to_string(size) + " operations");
    }
    return static_cast<std::size_t>(resolved);
}

void bind_graph(py::module_& m) {
    py::class_<ZarnikGraph>(
        m, "ZarnikGraph",
        "A circuit: operations applied in order, first to last, to a register of `num_qubits` "
        "qubits. Plain data: nothing checks qubit indexes until the circuit runs (validate "
        "lists what would pass silently).\n\n"
        "Supports len(), iteration, indexing with negative indexes, `circuit[i] = op`, "
        "`del circuit[i]`, ==, copy.copy and copy.deepcopy (both deep). Indexing and iteration "
        "give copies of the operations: change one through `circuit[i] = op`.")
        .def(py::init<std::uint64_t>(), py::arg("num_qubits") = 0,
             "An empty circuit for `num_qubits` qubits.")
        .def(py::init([](std::uint64_t num_qubits, std::vector<Operation> operations) {
                 ZarnikGraph circuit(num_qubits);
                 circuit.operations = std::move(operations);
                 return circuit;
             }),
             py::arg("num_qubits"), py::arg("operations"),
             "A circuit of `num_qubits` qubits holding copies of `operations`, in order.")
        .def_readwrite("num_qubits", &ZarnikGraph::num_qubits,
                       "Qubits of the register the circuit is written for; the export declares "
                       "this many, the simulation uses the register it is given.")
        .def_property(
            "operations",
            [](const ZarnikGraph& circuit) {
                return circuit.operations;
            },
            [](ZarnikGraph& circuit, std::vector<Operation> operations) {
                circuit.operations = std::move(operations);
            },
            "The operations, as a new list of copies; assign a list to replace them all.")
        .def(
            "add",
            [](ZarnikGraph& circuit, Operation op) {
                circuit.add(std::move(op));
            },
            py::arg("operation"),
            "Appends a copy of `operation` as it is (any kind, with its parameters, Pauli "
            "string or matrix).")
        .def(
            "add_gate",
            [](ZarnikGraph& circuit, const GateType& gate, Qubits qubits) {
                circuit.add_gate(gate, std::move(qubits));
            },
            py::arg("gate"), py::arg("qubits"),
            "Appends `gate` on `qubits` the way the search loop adds a gate: a rotation with its "
            "angle as its one parameter, any other kind with no parameters.")
        .def(
            "add_gate_with_params",
            [](ZarnikGraph& circuit, const GateType& gate, Qubits qubits, Params params) {
                circuit.add_gate_with_params(gate, std::move(qubits), std::move(params));
            },
            py::arg("gate"), py::arg("qubits"), py::arg("params"),
            "Appends the operation {gate, qubits, params} as given.")
        .def(
            "append",
            [](ZarnikGraph& circuit, const Operation& op) {
                circuit.operations.push_back(op);
            },
            py::arg("operation"), "Appends a copy of `operation`.")
        .def("remove_operation", &ZarnikGraph::remove_operation, py::arg("index"),
             "Removes the operation at `index` (0-based, not negative); later ones move up by "
             "one. Raises IndexOutOfBounds (len = gate count) when `index` is not below the "
             "gate count, leaving the circuit unchanged.")
        .def("gate_count", &ZarnikGraph::gate_count, "Number of operations.")
        .def("has_parameters", &ZarnikGraph::has_parameters,
             "Whether any operation has a non-empty `params`.")
        .def("__len__", &ZarnikGraph::gate_count)
        .def(
            "__getitem__",
            [](const ZarnikGraph& circuit, std::int64_t index) {
                return circuit.operations[position(index, circuit.operations.size(), "circuit")];
            },
            py::arg("index"), "A copy of the operation at `index` (negative counts from the end).")
        .def(
            "__setitem__",
            [](ZarnikGraph& circuit, std::int64_t index, const Operation& op) {
                circuit.operations[position(index, circuit.operations.size(), "circuit")] = op;
            },
            py::arg("index"), py::arg("operation"),
            "Replaces the operation at `index` by a copy of `operation`.")
        .def(
            "__delitem__",
            [](ZarnikGraph& circuit, std::int64_t index) {
                circuit.remove_operation(position(index, circuit.operations.size(), "circuit"));
            },
            py::arg("index"), "Removes the operation at `index` (negative counts from the end).")
        .def(
            "__iter__",
            [](const ZarnikGraph& circuit) {
                // Over a list of copies: the circuit may change while the loop runs.
                return py::iter(py::cast(circuit.operations));
            },
            "Iterates over copies of the operations, as they were when iteration began.")
        .def(
            "__eq__",
            [](const ZarnikGraph& a, const ZarnikGraph& b) {
                return a == b;
            },
            py::is_operator())
        .def("__repr__",
             [](const ZarnikGraph& circuit) {
                 return "ZarnikGraph(num_qubits=" + std::to_string(circuit.num_qubits) +
                        ", operations=" + std::to_string(circuit.operations.size()) + ")";
             })
        .def(py::pickle(&graph_state,
                        [](const py::tuple& saved) {
                            return graph_from_state(saved);
                        }))
        .def(
            "copy",
            [](const ZarnikGraph& circuit) {
                return circuit;
            },
            "A deep copy.")
        .def("__copy__",
             [](const ZarnikGraph& circuit) {
                 return circuit;
             })
        .def(
            "__deepcopy__",
            [](const ZarnikGraph& circuit, py::dict) {
                return circuit;
            },
            py::arg("memo"));
}

void bind_parameters(py::module_& m) {
    m.def(
        "parameters",
        [](const ZarnikGraph& circuit) {
            return to_numpy(parameters(circuit));
        },
        py::arg("circuit"),
        "The parameter values of `circuit` in flat order (operations in circuit order, each "
        "one's params in order), as a new float64 NumPy array.");
    m.def("parameter_count", &parameter_count, py::arg("circuit"),
          "Number of parameter slots of `circuit`, the length of parameters(circuit).");
    m.def(
        "set_parameters",
        [](ZarnikGraph& circuit, const ValuesArray& values) {
            set_parameters(circuit, values_of(values));
        },
        py::arg("circuit"), py::arg("values"),
        "Writes `values` (any one-dimensional sequence of numbers) into the parameter slots of "
        "`circuit` in flat order, in place: slot r takes values[r] while r < len(values), later "
        "slots keep their value, surplus values are ignored; then every rotation with "
        "parameters gets angle = params[0].");
    m.def(
        "with_parameters",
        [](const ZarnikGraph& circuit, const ValuesArray& values) {
            return with_parameters(circuit, values_of(values));
        },
        py::arg("circuit"), py::arg("values"),
        "A copy of `circuit` with `values` written in as set_parameters does.");
}

void bind_validate(py::module_& m) {
    py::enum_<Finding>(m, "Finding", "What validate can find.")
        .value("QubitOutOfRange", Finding::QubitOutOfRange,
               "An entry the kind uses is not below the register's qubit count.")
        .value("MissingQubits", Finding::MissingQubits,
               "Fewer entries than the kind uses (running it raises).")
        .value("RepeatedQubits", Finding::RepeatedQubits,
               "A two-qubit kind on one qubit twice (changes nothing).")
        .value("ParameterDiffersFromAngle", Finding::ParameterDiffersFromAngle,
               "A rotation's params[0] is not its angle, bit for bit.")
        .value("NonFiniteAngle", Finding::NonFiniteAngle,
               "A rotation's angle or parameter is NaN or infinite.")
        .value("QubitCountMismatch", Finding::QubitCountMismatch,
               "The circuit's num_qubits is not the register's.");

    py::class_<ValidationIssue>(m, "ValidationIssue", "One finding of validate.")
        .def_readonly("finding", &ValidationIssue::finding, "What was found (a Finding).")
        .def_readonly("operation", &ValidationIssue::operation,
                      "Position of the operation, or ValidationIssue.WHOLE_CIRCUIT.")
        .def_readonly("message", &ValidationIssue::message,
                      "A sentence naming the operation and the values.")
        .def(
            "__eq__",
            [](const ValidationIssue& a, const ValidationIssue& b) {
                return a == b;
            },
            py::is_operator())
        .def("__repr__",
             [](const ValidationIssue& issue) {
                 return "ValidationIssue(" + std::string(py::repr(py::cast(issue.finding))) + ", " +
                        std::to_string(issue.operation) + ", " +
                        std::string(py::repr(py::str(issue.message))) + ")";
             })
        .def_property_readonly_static(
            "WHOLE_CIRCUIT",
            [](py::object) {
                return ValidationIssue::WHOLE_CIRCUIT;
            },
            "The `operation` of findings about the whole circuit (2**64 - 1).");

    m.def("validate", &validate, py::arg("circuit"), py::arg("num_qubits"),
          "Lists what `circuit`, run on a register of `num_qubits` qubits, holds that the fixed "
          "rules would accept silently or reject only when it runs: qubits at or beyond "
          "num_qubits, missing or repeated entries, rotations whose params[0] differs from the "
          "angle, non-finite angles or parameters, and a circuit.num_qubits other than "
          "num_qubits. A list of ValidationIssue in operation order, the whole-circuit finding "
          "first; empty when there is none. Changes nothing.");
}

void bind_fusion(py::module_& m) {
    m.attr("MAX_FUSED_QUBITS") = MAX_FUSED_QUBITS;
    m.attr("DEFAULT_FUSED_QUBITS") = DEFAULT_FUSED_QUBITS;

    py::class_<FusedCircuit>(
        m, "FusedCircuit",
        "A circuit prepared by fuse for registers of `num_qubits` qubits: runs of gates merged "
        "into dense blocks, each applied in one pass over the state. Opaque; run it with "
        "apply_fused.")
        .def_property_readonly(
            "num_qubits",
            [](const FusedCircuit& fused) {
                return fused.num_qubits;
            },
            "Qubits of the registers it applies to.")
        .def_property_readonly(
            "step_count",
            [](const FusedCircuit& fused) {
                return fused.steps.size();
            },
            "Passes over the state: dense blocks and operations kept for the exact kernels.")
        .def_property_readonly(
            "block_count",
            [](const FusedCircuit& fused) {
                std::size_t blocks = 0;
                for (const FusedStep& step : fused.steps) {
                    blocks += step.qubits.empty() ? 0 : 1;
                }
                return blocks;
            },
            "Steps that are dense blocks.")
        .def_property_readonly(
            "source_gates",
            [](const FusedCircuit& fused) {
                return fused.source_gates;
            },
            "Operations of the circuit it was made from, identity gates included.")
        .def("__repr__", [](const FusedCircuit& fused) {
            std::size_t blocks = 0;
            std::size_t widest = 0;
            for (const FusedStep& step : fused.steps) {
                blocks += step.qubits.empty() ? 0 : 1;
                widest = std::max(widest, step.qubits.size());
            }
            return "FusedCircuit(num_qubits=" + std::to_string(fused.num_qubits) +
                   ", source_gates=" + std::to_string(fused.source_gates) +
                   ", steps=" + std::to_string(fused.steps.size()) +
                   ", blocks=" + std::to_string(blocks) +
                   ", widest_block=" + std::to_string(widest) + ")";
        });

    m.def(
        "fuse",
        [](const ZarnikGraph& circuit, std::uint64_t num_qubits, unsigned max_qubits) {
            return fuse(circuit, num_qubits, max_qubits);
        },
        py::arg("circuit"), py::arg("num_qubits"), py::arg("max_qubits") = DEFAULT_FUSED_QUBITS,
        "`circuit` prepared for registers of `num_qubits` qubits as a FusedCircuit: runs of "
        "gates become dense blocks that mix at most `max_qubits` qubits (2 to "
        "MAX_FUSED_QUBITS; values outside are clamped) and act on at most MAX_FUSED_QUBITS. "
        "Identity gates vanish. Raises what applying the circuit would raise, checking every "
        "operation before any work, and InvalidLayout above ZarnikState.MAX_QUBITS.");
    m.def(
        "apply_fused",
        [](ZarnikState& state, const FusedCircuit& fused) {
            run_released(releases_gil(state), [&] {
                apply_fused(state, fused);
            });
        },
        py::arg("state"), py::arg("fused"),
        "Applies a FusedCircuit to `state` in place, the fast way to run a circuit on a large "
        "state: it agrees with running the circuit gate by gate to rounding (about 1e-13 per "
        "amplitude), not to the bit. Checks every step first and changes nothing when one "
        "fails: raises InvalidArgument when `fused` was made for another qubit count. Large "
        "states run with the GIL released; Ctrl-C stops the call.");
}

void bind_qasm(py::module_& m) {
    m.def("to_open_qasm", static_cast<std::string (*)(const ZarnikGraph&)>(&to_open_qasm),
          py::arg("circuit"),
          "OpenQASM 3.0 text of `circuit`: the header (version, stdgates.inc, a qubit and a bit "
          "register of circuit.num_qubits, an empty line), then one line per operation, "
          "rotations with their own angles in the shortest digits that read back exactly. "
          "Raises IndexOutOfBounds for an operation with fewer qubits than its kind needs.");
    m.def(
        "from_open_qasm",
        [](const std::string& text) {
            return from_open_qasm(text);
        },
        py::arg("text"),
        "The circuit of an OpenQASM 3 program (the subset of docs/guide.md): num_qubits is the "
        "total size of the qubit declarations, every gate is appended as add_gate does, and "
        "angles are constant expressions evaluated in double precision. Raises ParseError "
        "(line, column, offset, reason) for anything outside the subset; reads back everything "
        "to_open_qasm writes for circuits with distinct in-range qubits.");
    m.attr("QASM_MAX_NESTING") = QASM_MAX_NESTING;
    m.attr("QASM_MAX_BROADCAST_OPERATIONS") = QASM_MAX_BROADCAST_OPERATIONS;
}

}  // namespace

void bind_circuit(py::module_& m) {
    bind_gates(m);
    bind_operations(m);
    bind_graph(m);
    bind_parameters(m);
    bind_validate(m);
    bind_fusion(m);
    bind_qasm(m);
}

}  // namespace zel::python

// The circuit model (gate kinds and their table, gates, operations, circuits, parameters,
// validate), their pickling, gate fusion, and OpenQASM export and import.
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

std::string gate_repr(const GateType& gate) {
    if (is_rotation(gate.kind)) {
        const std::string name(gate_info(gate.kind).qasm);
        return "GateType." + name + "(" + std::string(py::repr(py::float_(gate.angle))) + ")";
    }
    return "GateType.of(GateKind." + std::string(gate_info(gate.kind).name) + ")";
}

std::string operation_repr(const Operation& op) {
    return "Operation(" + gate_repr(op.gate) + ", " + std::string(py::repr(py::cast(op.qubits))) +
           ", " + std::string(py::repr(py::cast(op.params))) + ")";
}

// Pickled forms. Every double travels as its own eight bytes, so that a round trip keeps every
// bit (NaN payloads and signed zeros included); unpickling checks the shape of what it is given
// and raises ValueError naming what is wrong.
//   GateType:   (kind, angle bytes)
//   Operation:  (kind, angle bytes, qubits, params bytes, Pauli string, matrix bytes)
//   ZarnikGraph: (num_qubits, (operation state, ...))

template <class T>
py::bytes raw_bytes(const T* data, std::size_t count) {
    return py::bytes(reinterpret_cast<const char*>(data),
                     static_cast<py::ssize_t>(count * sizeof(T)));
}

template <class T>
std::vector<T> from_raw_bytes(const py::handle& value, const std::string& what) {
    if (!py::isinstance<py::bytes>(value)) {
        throw py::value_error(what + " must be bytes, not " +
                              std::string(py::str(py::type::handle_of(value).attr("__name__"))));
    }
    const auto text = value.cast<std::string_view>();
    if (text.size() % sizeof(T) != 0) {
        throw py::value_error(what + " must be a multiple of " + std::to_string(sizeof(T)) +
                              " bytes long, not " + std::to_string(text.size()));
    }
    std::vector<T> values(text.size() / sizeof(T));
    if (!text.empty()) {
        std::memcpy(static_cast<void*>(values.data()), text.data(), text.size());
    }
    return values;
}

double angle_from_bytes(const py::handle& value, const std::string& what) {
    const auto values = from_raw_bytes<double>(value, what);
    if (values.size() != 1) {
        throw py::value_error(what + " must be 8 bytes long, not " +
                              std::to_string(values.size() * sizeof(double)));
    }
    return values[0];
}

GateKind kind_from_state(const py::handle& value, const std::string& what) {
    if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value)) {
        throw py::value_error(what + " must be an int");
    }
    const auto number = value.cast<long long>();
    if (number < 0 || static_cast<unsigned long long>(number) >= GATE_KIND_COUNT) {
        throw py::value_error(what + " " + std::to_string(number) + " is not a gate kind (0 to " +
                              std::to_string(GATE_KIND_COUNT - 1) + ")");
    }
    return static_cast<GateKind>(number);
}

py::tuple sized_tuple(const py::handle& value, std::size_t size, const std::string& what,
                      const char* layout) {
    if (!py::isinstance<py::tuple>(value)) {
        throw py::value_error(what + " must be a tuple " + layout);
    }
    auto tuple = py::reinterpret_borrow<py::tuple>(value);
    if (tuple.size() != size) {
        throw py::value_error(what + " must be a tuple " + layout + " of " + std::to_string(size) +
                              " items, not " + std::to_string(tuple.size()));
    }
    return tuple;
}

py::tuple gate_state(const GateType& gate) {
    return py::make_tuple(static_cast<unsigned>(gate.kind), raw_bytes(&gate.angle, 1));
}

GateType gate_from_state(const py::handle& saved) {
    const std::string what = "a pickled GateType";
    const py::tuple state = sized_tuple(saved, 2, what, "(kind, angle)");
    return GateType{kind_from_state(state[0], what + "'s kind"),
                    angle_from_bytes(state[1], what + "'s angle")};
}

py::tuple operation_state(const Operation& op) {
    return py::make_tuple(static_cast<unsigned>(op.gate.kind), raw_bytes(&op.gate.angle, 1),
                          py::tuple(py::cast(op.qubits)),
                          raw_bytes(op.params.data(), op.params.size()), py::str(op.payload.pauli),
                          raw_bytes(op.payload.matrix.data(), op.payload.matrix.size()));
}

Operation operation_from_state(const py::handle& saved, const std::string& what) {
    const py::tuple state =
        sized_tuple(saved, 6, what, "(kind, angle, qubits, params, pauli, matrix)");
    Operation op;
    op.gate.kind = kind_from_state(state[0], what + "'s kind");
    op.gate.angle = angle_from_bytes(state[1], what + "'s angle");
    if (!py::isinstance<py::tuple>(state[2])) {
        throw py::value_error(what + "'s qubits must be a tuple of ints");
    }
    for (const py::handle qubit : py::reinterpret_borrow<py::tuple>(state[2])) {
        op.qubits.push_back(unsigned_argument(qubit, (what + "'s qubit").c_str()));
    }
    op.params = from_raw_bytes<double>(state[3], what + "'s params");
    if (!py::isinstance<py::str>(state[4])) {
        throw py::value_error(what + "'s Pauli string must be a str");
    }
    op.payload.pauli = state[4].cast<std::string>();
    op.payload.matrix = from_raw_bytes<std::complex<double>>(state[5], what + "'s matrix");
    return op;
}

py::tuple graph_state(const ZarnikGraph& circuit) {
    py::tuple operations(circuit.operations.size());
    for (std::size_t i = 0; i < circuit.operations.size(); ++i) {
        operations[i] = operation_state(circuit.operations[i]);
    }
    return py::make_tuple(circuit.num_qubits, operations);
}

ZarnikGraph graph_from_state(const py::handle& saved) {
    const std::string what = "a pickled ZarnikGraph";
    const py::tuple state = sized_tuple(saved, 2, what, "(num_qubits, operations)");
    ZarnikGraph circuit(unsigned_argument(state[0], "a pickled ZarnikGraph's num_qubits"));
    if (!py::isinstance<py::tuple>(state[1])) {
        throw py::value_error(what + "'s operations must be a tuple");
    }
    const auto operations = py::reinterpret_borrow<py::tuple>(state[1]);
    circuit.operations.reserve(operations.size());
    for (std::size_t i = 0; i < operations.size(); ++i) {
        circuit.operations.push_back(
            operation_from_state(operations[i], what + "'s operation " + std::to_string(i)));
    }
    return circuit;
}

void bind_gates(py::module_& m) {
    py::enum_<GateKind> kind(m, "GateKind",
                             "The gate kinds in table order: the fourteen original ones I X Y Z H "
                             "S SX T RX RY RZ CX CZ SWAP (0 to 13), then U U2 P SDG TDG SXDG CY "
                             "CH CP CRX CRY CRZ CU CCX CSWAP RXX RYY RZZ GPHASE PAULI_ROTATION "
                             "UNITARY FERMIONIC_SINGLE FERMIONIC_DOUBLE QUBIT_SINGLE QUBIT_DOUBLE, "
                             "which take their parameters in `params` and are checked strictly. "
                             "GATE_TABLE lists what varies by kind.");
    for (const GateInfo& info : GATE_TABLE) {
        kind.value(std::string(info.name).c_str(), info.kind);
    }

    py::class_<GateInfo>(m, "GateInfo", "One row of GATE_TABLE: what varies by gate kind.")
        .def_property_readonly(
            "kind",
            [](const GateInfo& info) {
                return info.kind;
            },
            "The kind this row describes.")
        .def_property_readonly(
            "name",
            [](const GateInfo& info) {
                return std::string(info.name);
            },
            "Debug text of the kind (\"RX\", \"SWAP\").")
        .def_property_readonly(
            "qasm",
            [](const GateInfo& info) {
                return std::string(info.qasm);
            },
            "OpenQASM 3.0 standard-gate name (\"rx\", \"swap\", \"id\").")
        .def_property_readonly(
            "arity",
            [](const GateInfo& info) {
                return info.arity;
            },
            "Qubits the kind acts on (1 to 3; 0 for GPHASE and the variable kinds).")
        .def_property_readonly(
            "has_angle",
            [](const GateInfo& info) {
                return info.has_angle;
            },
            "Whether the kind carries a rotation angle (RX, RY, RZ).")
        .def_property_readonly(
            "variable_qubits",
            [](const GateInfo& info) {
                return info.variable_qubits;
            },
            "Whether each operation names its own qubits (PAULI_ROTATION, UNITARY, the "
            "excitations).")
        .def_property_readonly(
            "param_count",
            [](const GateInfo& info) {
                return info.param_count;
            },
            "Parameters the kind takes (RX, RY, RZ: one, which may also be absent).")
        .def_property_readonly(
            "controls",
            [](const GateInfo& info) {
                return info.controls;
            },
            "Leading qubits that are controls.")
        .def_property_readonly(
            "pauli",
            [](const GateInfo& info) {
                return std::string(info.pauli);
            },
            "The fixed Pauli letters of a rotation kind's targets (\"X\" for RX and CRX, "
            "\"ZZ\" for RZZ); empty otherwise.")
        .def_property_readonly(
            "orbitals",
            [](const GateInfo& info) {
                return info.orbitals;
            },
            "For the excitation kinds, the leading qubits T empties and fills (2 or 4, the "
            "emptied half first); 0 for other kinds.")
        .def_property_readonly(
            "parity_qubits",
            [](const GateInfo& info) {
                return info.parity_qubits;
            },
            "Whether the qubits after the orbitals are Jordan-Wigner parity qubits "
            "(FERMIONIC_SINGLE, FERMIONIC_DOUBLE).")
        .def("__repr__", [](const GateInfo& info) {
            return "GateInfo(GateKind." + std::string(info.name) + ", qasm='" +
                   std::string(info.qasm) + "', arity=" + std::to_string(info.arity) +
                   ", has_angle=" + (info.has_angle ? "True" : "False") + ")";
        });

    py::tuple table(GATE_TABLE.size());
    for (std::size_t i = 0; i < GATE_TABLE.size(); ++i) {
        table[i] = py::cast(GATE_TABLE[i]);
    }
    m.attr("GATE_TABLE") = table;
    m.attr("GATE_KIND_COUNT") = GATE_KIND_COUNT;
    m.attr("ORIGINAL_KIND_COUNT") = ORIGINAL_KIND_COUNT;
    m.def(
        "gate_info",
        [](GateKind kind) {
            return gate_info(checked_kind(kind));
        },
        py::arg("kind"), "The GATE_TABLE row of `kind`.");
    m.def(
        "is_rotation",
        [](GateKind kind) {
            return is_rotation(checked_kind(kind));
        },
        py::arg("kind"), "Whether `kind` is one of the rotations RX, RY, RZ.");

    py::class_<GateType>(m, "GateType",
                         "A gate: its kind and, for RX, RY and RZ, the rotation angle in "
                         "radians. The angle of any other kind is never read.")
        .def(py::init([](GateKind kind, double angle) {
                 return GateType{checked_kind(kind), angle};
             }),
             py::arg("kind"), py::arg("angle") = 0.0,
             "A gate of `kind` with `angle` (radians; read only for RX, RY, RZ).")
        .def_static(
            "of",
            [](GateKind kind) {
                return GateType::of(checked_kind(kind));
            },
            py::arg("kind"), "A gate of a kind without angle.")
        .def_static("rx", &GateType::rx, py::arg("angle"), "RX(angle), angle in radians.")
        .def_static("ry", &GateType::ry, py::arg("angle"), "RY(angle), angle in radians.")
        .def_static("rz", &GateType::rz, py::arg("angle"), "RZ(angle), angle in radians.")
        .def_property(
            "kind",
            [](const GateType& gate) {
                return gate.kind;
            },
            [](GateType& gate, GateKind kind) {
                gate.kind = checked_kind(kind);
            },
            "The gate kind.")
        .def_readwrite("angle", &GateType::angle, "Rotation angle in radians (RX, RY, RZ).")
        .def(
            "__eq__",
            [](const GateType& a, const GateType& b) {
                return a == b;
            },
            py::is_operator())
        .def("__repr__", &gate_repr)
        .def("__str__", &debug_text, "The debug text, as debug_text(gate).")
        .def(py::pickle(&gate_state,
                        [](const py::tuple& saved) {
                            return gate_from_state(saved);
                        }))
        .def("__copy__",
             [](const GateType& gate) {
                 return gate;
             })
        .def(
            "__deepcopy__",
            [](const GateType& gate, py::dict) {
                return gate;
            },
            py::arg("memo"));

    m.def("debug_text", &debug_text, py::arg("gate"),
          "Debug text of a gate: the kind's name, and for rotations the angle in parentheses "
          "(\"RX(0.5)\", \"RZ(1.0)\", \"RY(1e-5)\", \"CX\").");
    m.def(
        "check_gate",
        [](std::uint64_t num_qubits, const GateType& gate, const Qubits& qubits) {
            check_gate(num_qubits, gate, qubits);
        },
        py::arg("num_qubits"), py::arg("gate"), py::arg("qubits"),
        "Checks `gate` on `qubits` against a register of `num_qubits` qubits as "
        "ZarnikState.apply_gate does, without a state: raises the IndexOutOfBounds that "
        "apply_gate would raise, returns None when it would apply the gate or change nothing.");
}

void bind_operations(py::module_& m) {
    py::class_<Operation>(m, "Operation",
                          "One gate application: `gate`, its `qubits` (one-qubit kinds use "
                          "qubits[0]; CX takes qubits[0] as control and qubits[1] as target; CZ "
                          "and SWAP use both) and its tunable `params` (for a rotation, "
                          "params[0], when present, is the angle the simulation uses).\n\n"
                          "`qubits` and `params` read as new lists: assign a whole list to "
                          "change them (op.qubits = [1, 0]); op.qubits.append(...) changes a "
                          "copy only.")
        .def(py::init([](const GateType& gate, Qubits qubits, Params params) {
                 return Operation{gate, std::move(qubits), std::move(params)};
             }),
             py::arg("gate"), py::arg("qubits") = Qubits{}, py::arg("params") = Params{},
             "The operation {gate, qubits, params}, taken as given (no angle is synchronised).")
        .def_readwrite("gate", &Operation::gate, "The gate (kind and angle).")
        .def_readwrite("qubits", &Operation::qubits, "The qubit indexes, as a new list.")
        .def_readwrite("params", &Operation::params, "The tunable values, as a new list.")
        .def_property(
            "pauli",
            [](const Operation& op) {
                return op.payload.pauli;
            },
            [](Operation& op, std::string pauli) {
                op.payload.pauli = std::move(pauli);
            },
            "The Pauli string of a PAULI_ROTATION (one letter of \"IXYZ\" per qubit, letter j "
            "on qubits[j]); empty for other kinds.")
        .def_property(
            "matrix",
            [](const Operation& op) {
                return op.payload.matrix;
            },
            [](Operation& op, std::vector<std::complex<double>> matrix) {
                op.payload.matrix = std::move(matrix);
            },
            "The row-major 2^k x 2^k matrix of a UNITARY as a new list of complex numbers (local "
            "bit j is qubits[j]); empty for other kinds.")
        .def(
            "__eq__",
            [](const Operation& a, const Operation& b) {
                return a == b;
            },
            py::is_operator())
        .def("__repr__", &operation_repr)
        .def(py::pickle(&operation_state,
                        [](const py::tuple& saved) {
                            return operation_from_state(saved, "a pickled Operation");
                        }))
        .def("__copy__",
             [](const Operation& op) {
                 return op;
             })
        .def(
            "__deepcopy__",
            [](const Operation& op, py::dict) {
                return op;
            },
            py::arg("memo"));

    m.def(
        "make_operation",
        [](GateKind kind, Qubits qubits, Params params) {
            return make_operation(checked_kind(kind), std::move(qubits), std::move(params));
        },
        py::arg("kind"), py::arg("qubits"), py::arg("params") = Params{},
        "An operation of `kind` on `qubits` (controls first) with `params`, for the kinds from "
        "U on: U(theta, phi, lambda), U2(phi, lambda), P(lambda), SDG, TDG, SXDG, CY, CH, "
        "CP(lambda), CRX/CRY/CRZ(theta), CU(theta, phi, lambda, gamma), CCX, CSWAP, "
        "RXX/RYY/RZZ(theta), GPHASE(gamma) on no qubit. Nothing is checked until it is applied.");
    m.def("pauli_rotation", &pauli_rotation, py::arg("pauli"), py::arg("qubits"), py::arg("theta"),
          "exp(-i theta/2 P) for the Pauli string `pauli` (letter j of \"IXYZ\" on qubits[j]): "
          "a PAULI_ROTATION operation, applied in one pass over the state.");
    m.def(
        "fermionic_excitation",
        [](const Qubits& from, const Qubits& to, double theta) {
            return fermionic_excitation(from, to, theta);
        },
        py::arg("from_orbitals"), py::arg("to_orbitals"), py::arg("theta"),
        "exp(theta (T - T^dagger)) under Jordan-Wigner for T = a^dagger_to[0] a_from[0] (a "
        "FERMIONIC_SINGLE) or a^dagger_to[0] a^dagger_to[1] a_from[1] a_from[0] (a "
        "FERMIONIC_DOUBLE), one operation on the orbitals followed by their parity qubits, "
        "applied in one pass over the amplitudes it changes. Raises InvalidArgument unless "
        "both lists hold 1 or 2 distinct orbitals below 64.");
    m.def(
        "qubit_excitation",
        [](const Qubits& from, const Qubits& to, double theta) {
            return qubit_excitation(from, to, theta);
        },
        py::arg("from_orbitals"), py::arg("to_orbitals"), py::arg("theta"),
        "The same rotation without parity signs: QUBIT_SINGLE or QUBIT_DOUBLE on the orbitals "
        "alone.");
    m.def(
        "excitation_sign",
        [](const Qubits& from, const Qubits& to) {
            return excitation_sign(from, to);
        },
        py::arg("from_orbitals"), py::arg("to_orbitals"),
        "The sign (+1 or -1) with which T takes the state with only `from_orbitals` occupied to "
        "the state with only `to_orbitals` occupied under Jordan-Wigner.");
    m.def(
        "excitation_parity_qubits",
        [](const Qubits& orbitals) {
            return excitation_parity_qubits(orbitals);
        },
        py::arg("orbitals"),
        "The Jordan-Wigner parity qubits of an excitation's orbitals: those with an odd number "
        "of orbitals above them, ascending.");
    m.def("unitary", &unitary, py::arg("qubits"), py::arg("matrix"),
          "A UNITARY operation: the row-major 2^k x 2^k `matrix` (a flat list of complex "
          "numbers; local bit j is qubits[j]) on k <= 6 `qubits`. Applying it raises "
          "InvalidArgument when the matrix is not unitary to 1e-12.");
    m.def("operation_matrix", &operation_matrix, py::arg("operation"),
          "The row-major matrix of `operation` on its own qubits (local bit j is qubits[j]), "
          "from its GATE_TABLE row, as a flat list of complex numbers.");
    m.def("inverse", &inverse, py::arg("operation"),
          "The inverse of `operation`: same qubits, the inverse kind and parameters (a "
          "UNITARY's matrix becomes its conjugate transpose).");
    m.def("generator_matrix", &generator_matrix, py::arg("operation"),
          "The generator G of a one-parameter operation (its matrix is exp(-i theta G) up to a "
          "constant factor), row-major on its own qubits. Raises InvalidArgument for kinds "
          "without one.");
    m.def("check_operation", &check_operation, py::arg("num_qubits"), py::arg("operation"),
          "Checks `operation` against a register of `num_qubits` qubits as apply_operation "
          "does, without a state: the original kinds as check_gate; the kinds from U on "
          "strictly (qubits inside the register and distinct, exact counts, finite parameters, "
          "a valid payload), raising InvalidArgument naming the kind.");
    m.def(
        "apply_operation",
        [](ZarnikState& state, const Operation& op) {
            run_released(releases_gil(state), [&] {
                state.apply(op);
            });
        },
        py::arg("state"), py::arg("operation"),
        "Applies one operation of any kind to `state` in place, its Pauli string or matrix "
        "included (ZarnikState::apply in C++). Raises before any amplitude changes.");

    m.def("sync_rotation_angle", &sync_rotation_angle, py::arg("operation"),
          "Makes a rotation's angle agree with its first parameter, in place: for RX, RY, RZ "
          "with parameters, gate.angle = params[0]. Other operations are left as they are.");
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

// The gate kinds and their table, gates and operations: the classes, their module functions
// (constructors of the general kinds, matrices, inverses, generators, checks) and pickling.

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
#include "zel/core/circuit.hpp"
#include "zel/core/fusion.hpp"
#include "zel/core/prepared.hpp"
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

}  // namespace

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

    py::class_<PreparedOperation>(
        m, "PreparedOperation",
        "An operation checked once against a register of `num_qubits` qubits and reduced to "
        "what its kernel reads (its matrix formed, its qubits as masks). apply_operation(state, "
        "prepared) then skips the checks and gives bitwise what applying the operation itself "
        "gives: for operations applied again and again with the same parameters.\n\n"
        "Raises what apply_operation would raise for the operation on such a register.")
        .def(py::init<Operation, std::uint64_t>(), py::arg("operation"), py::arg("num_qubits"),
             "Checks `operation` against a register of `num_qubits` qubits as apply_operation "
             "would (raising the same error) and prepares it; the operation is copied.")
        .def_property_readonly("operation", &PreparedOperation::operation,
                               "The operation as given (a copy).")
        .def_property_readonly("num_qubits", &PreparedOperation::num_qubits,
                               "The register size it was checked against.")
        .def("__repr__", [](const PreparedOperation& prepared) {
            return "PreparedOperation(" + debug_text(prepared.operation().gate) +
                   ", num_qubits=" + std::to_string(prepared.num_qubits()) + ")";
        });
    m.def(
        "apply_operation",
        [](ZarnikState& state, const PreparedOperation& prepared) {
            run_released(releases_gil(state), [&] {
                state.apply(prepared);
            });
        },
        py::arg("state"), py::arg("operation"),
        "Applies a PreparedOperation to `state` in place. Raises InvalidArgument, changing "
        "nothing, when the state's qubit count is not the one it was prepared for.");

    m.def("sync_rotation_angle", &sync_rotation_angle, py::arg("operation"),
          "Makes a rotation's angle agree with its first parameter, in place: for RX, RY, RZ "
          "with parameters, gate.angle = params[0]. Other operations are left as they are.");
}

}  // namespace zel::python

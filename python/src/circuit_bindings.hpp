#pragma once

// What the circuit binding files share: the pickled forms of gates, operations and circuits,
// and the registration of the gate kinds, gates and operations, which bind_circuit runs first.

#include <string>

#include "zel/core/circuit.hpp"

#include "bindings.hpp"

namespace zel::python {

/// A gate's pickled form: (kind, angle bytes).
py::tuple gate_state(const GateType& gate);

/// The gate of a pickled form; ValueError naming what is wrong with it.
GateType gate_from_state(const py::handle& saved);

/// An operation's pickled form: (kind, angle bytes, qubits, params bytes, Pauli string, matrix
/// bytes).
py::tuple operation_state(const Operation& op);

/// The operation of a pickled form; ValueError naming `what` and what is wrong with it.
Operation operation_from_state(const py::handle& saved, const std::string& what);

/// A circuit's pickled form: (num_qubits, (operation state, ...)).
py::tuple graph_state(const ZarnikGraph& circuit);

/// The circuit of a pickled form; ValueError naming what is wrong with it.
ZarnikGraph graph_from_state(const py::handle& saved);

/// GateKind, GateInfo, GATE_TABLE and GateType with their module functions.
void bind_gates(py::module_& m);

/// Operation and the functions that build, check, invert and differentiate operations.
void bind_operations(py::module_& m);

}  // namespace zel::python

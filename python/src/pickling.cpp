// Pickled forms of gates, operations and circuits. Every double travels as its own eight bytes,
// so that a round trip keeps every bit (NaN payloads and signed zeros included); unpickling
// checks the shape of what it is given and raises ValueError naming what is wrong.
//   GateType:   (kind, angle bytes)
//   Operation:  (kind, angle bytes, qubits, params bytes, Pauli string, matrix bytes)
//   ZarnikGraph: (num_qubits, (operation state, ...))

#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "zel/core/circuit.hpp"

#include "bindings.hpp"
#include "circuit_bindings.hpp"

namespace zel::python {
namespace {

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

}  // namespace

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

}  // namespace zel::python

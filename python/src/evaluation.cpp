// Circuit evaluation: running a circuit on a state, energies and their gradients, and the
// energy function over a circuit's parameters, with the GIL released for large registers and
// long circuits.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"
#include "zel/core/strategy.hpp"
#include "zel/neural/brain.hpp"

#include "bindings.hpp"
#include "energy_function.hpp"
#include <pybind11/stl.h>

namespace zel::python {
namespace {

using Qubits = std::vector<std::uint64_t>;

/// Circuits of this many operations run without the GIL (and answer Ctrl-C) on any register:
/// even on two qubits they take a millisecond or more.
constexpr std::size_t LONG_CIRCUIT_OPERATIONS = 4096;

bool is_long(const ZarnikGraph& circuit) noexcept {
    return circuit.operations.size() >= LONG_CIRCUIT_OPERATIONS;
}

}  // namespace

void bind_evaluation(py::module_& m) {
    py::class_<Telemetry>(m, "Telemetry", "Energy (hartree) and entropy (bits) of one evaluation.")
        .def(py::init([](double energy, double entropy) {
                 return Telemetry{energy, entropy};
             }),
             py::arg("energy") = 0.0, py::arg("entropy") = 0.0,
             "Energy (hartree) and entropy (bits).")
        .def_readwrite("energy", &Telemetry::energy, "Energy in hartree.")
        .def_readwrite("entropy", &Telemetry::entropy, "Entropy in bits.")
        .def("__repr__", [](const Telemetry& t) {
            return "Telemetry(energy=" + std::string(py::repr(py::float_(t.energy))) +
                   ", entropy=" + std::string(py::repr(py::float_(t.entropy))) + ")";
        });

    m.def(
        "run_circuit",
        [](const ZarnikGraph& circuit, std::uint64_t num_qubits) {
            if (!releases_gil(num_qubits) && !is_long(circuit)) {
                return run_circuit(circuit, num_qubits);
            }
            const ZarnikGraph copy = circuit;
            return run_released(true, [&] {
                return run_circuit(copy, num_qubits);
            });
        },
        py::arg("circuit"), py::arg("num_qubits"),
        "The state that `circuit` prepares from |0...0> on `num_qubits` qubits (the argument, "
        "not circuit.num_qubits). Raises what ZarnikState() and apply_gate raise.");
    m.def(
        "apply_circuit",
        [](ZarnikState& state, const ZarnikGraph& circuit) {
            if (!releases_gil(state) && !is_long(circuit)) {
                apply_circuit(state, circuit);
                return;
            }
            const ZarnikGraph copy = circuit;
            run_released(true, [&] {
                apply_circuit(state, copy);
            });
        },
        py::arg("state"), py::arg("circuit"),
        "Applies every operation of `circuit` to `state` in place, in order. Every operation "
        "is checked first (check_gate), so a circuit that would fail raises before any "
        "amplitude changes.");
    m.def(
        "evaluate_circuit_energy",
        [](const ZarnikState& reference, const ZarnikGraph& circuit, const PauliSum& hamiltonian) {
            if (!releases_gil(reference)) {
                return evaluate_circuit_energy(reference, circuit, hamiltonian);
            }
            const ZarnikGraph circuit_copy = circuit;
            const PauliSum hamiltonian_copy = hamiltonian;
            return run_released(true, [&] {
                return evaluate_circuit_energy(reference, circuit_copy, hamiltonian_copy);
            });
        },
        py::arg("reference"), py::arg("circuit"), py::arg("hamiltonian"),
        "Energy of the state that `circuit` prepares from |0...0> on reference.num_qubits "
        "qubits (the reference contributes its qubit count only).");
    m.def(
        "evaluate_circuit_telemetry",
        [](const ZarnikState& reference, const ZarnikGraph& circuit, const PauliSum& hamiltonian) {
            if (!releases_gil(reference)) {
                return evaluate_circuit_telemetry(reference, circuit, hamiltonian);
            }
            const ZarnikGraph circuit_copy = circuit;
            const PauliSum hamiltonian_copy = hamiltonian;
            return run_released(true, [&] {
                return evaluate_circuit_telemetry(reference, circuit_copy, hamiltonian_copy);
            });
        },
        py::arg("reference"), py::arg("circuit"), py::arg("hamiltonian"),
        "Energy and entropy (a Telemetry) of the state that `circuit` prepares from |0...0> on "
        "reference.num_qubits qubits.");

    py::class_<OwnedEnergyFn>(
        m, "EnergyFn",
        "The energy as a function of a circuit's parameters: fn(values) is "
        "evaluate_circuit_energy(reference, with_parameters(circuit, values), hamiltonian), "
        "computed by the library's EnergyFn. `values` is any one-dimensional sequence of "
        "numbers, one per parameter slot in flat order.\n\n"
        "Unlike the C++ class, which borrows, it holds its own copy of the circuit (a snapshot: "
        "later changes to the caller's circuit do not reach it), of the reference state and of "
        "the observable, so it stays valid as long as it is kept, also after the search loop "
        "that handed it to a strategy has returned. Calls are independent and change nothing.")
        .def(py::init([](const ZarnikGraph& circuit, const ZarnikState& reference,
                         const PauliSum& hamiltonian) {
                 auto state = run_released(releases_gil(reference), [&reference] {
                     return std::make_shared<const ZarnikState>(reference);
                 });
                 return OwnedEnergyFn(circuit, std::move(state),
                                      std::make_shared<const PauliSum>(hamiltonian));
             }),
             py::arg("circuit"), py::arg("reference"), py::arg("hamiltonian"),
             "The energy function of a copy of `circuit` on a register of "
             "reference.num_qubits qubits, for `hamiltonian` (also copied).")
        .def(
            "__call__",
            [](const OwnedEnergyFn& energy_fn, const ValuesArray& values) {
                const std::span<const double> span = values_of(values);
                const std::size_t slots = parameter_count(energy_fn.circuit());
                if (span.size() != slots) {
                    throw InvalidArgument("EnergyFn: the circuit has " + std::to_string(slots) +
                                          " parameter slots, but " + std::to_string(span.size()) +
                                          " values were given");
                }
                return run_released(energy_fn.releases_gil(), [&] {
                    return energy_fn(span);
                });
            },
            py::arg("values"),
            "The energy (hartree) with `values` in the parameter slots. Raises InvalidArgument "
            "(a ValueError) unless there is exactly one value per slot, ValueError for complex "
            "values or more than one dimension.")
        .def_property_readonly(
            "circuit",
            [](const OwnedEnergyFn& energy_fn) {
                return energy_fn.circuit();
            },
            "A copy of the snapshot circuit.")
        .def_property_readonly(
            "hamiltonian",
            [](const OwnedEnergyFn& energy_fn) {
                return energy_fn.hamiltonian();
            },
            "A copy of the observable.")
        .def_property_readonly("num_qubits", &OwnedEnergyFn::num_qubits,
                               "Qubits of the register the circuit is evaluated on.")
        .def("__repr__", [](const OwnedEnergyFn& energy_fn) {
            return "EnergyFn(parameters=" + std::to_string(parameter_count(energy_fn.circuit())) +
                   ", num_qubits=" + std::to_string(energy_fn.num_qubits()) + ")";
        });
}

}  // namespace zel::python

#pragma once

// The energy function as Python holds it, shared by the evaluation bindings (which make it) and
// NeuralZarnikBrain's bindings (which optimise it).

#include <cstdint>
#include <memory>
#include <span>
#include <utility>

#include "zel/core/circuit.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

#include "bindings.hpp"

namespace zel::python {

/// The energy function as Python holds it. It owns its snapshot of the circuit and shares the
/// reference state and the observable, none of which changes after construction, so it stays
/// valid as long as Python keeps it and may run without the GIL. Each call is the library's own
/// EnergyFn over these three objects.
class OwnedEnergyFn {
  public:
    OwnedEnergyFn(ZarnikGraph circuit, std::shared_ptr<const ZarnikState> reference,
                  std::shared_ptr<const PauliSum> hamiltonian)
        : circuit_(std::move(circuit)),
          reference_(std::move(reference)),
          hamiltonian_(std::move(hamiltonian)) {
    }

    double operator()(std::span<const double> values) const {
        return EnergyFn(circuit_, *reference_, *hamiltonian_)(values);
    }

    const ZarnikGraph& circuit() const noexcept {
        return circuit_;
    }
    const PauliSum& hamiltonian() const noexcept {
        return *hamiltonian_;
    }
    std::uint64_t num_qubits() const noexcept {
        return reference_->num_qubits();
    }
    bool releases_gil() const noexcept {
        return python::releases_gil(*reference_);
    }

  private:
    ZarnikGraph circuit_;
    std::shared_ptr<const ZarnikState> reference_;
    std::shared_ptr<const PauliSum> hamiltonian_;
};

/// Circuit evaluation: run_circuit, energies, gradients and EnergyFn (registered by
/// bind_search before the strategy's actions, the brain and the loop).
void bind_evaluation(py::module_& m);

}  // namespace zel::python

template <>
class pybind11::detail::type_caster<zel::python::OwnedEnergyFn>
    : public zel::python::BuiltInstanceCaster<zel::python::OwnedEnergyFn> {};

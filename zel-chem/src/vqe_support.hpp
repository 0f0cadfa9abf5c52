#pragma once

// Pieces shared by the fixed-ansatz solvers (vqe.cpp) and ADAPT-VQE (adapt.cpp).

#include <cstddef>
#include <span>
#include <vector>

#include "zel/chem/vqe.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/state.hpp"
#include "zel/neural/optimizer.hpp"

namespace zel::chem::detail {

/// Sets the library's thread count for the lifetime of the object (0: leaves it alone) and
/// restores the previous count afterwards.
class ThreadSetting {
  public:
    explicit ThreadSetting(std::size_t threads);
    ~ThreadSetting();
    ThreadSetting(const ThreadSetting&) = delete;
    ThreadSetting& operator=(const ThreadSetting&) = delete;

  private:
    std::size_t previous_;
    bool active_;
};

/// The Hartree–Fock basis state on the problem's register.
ZarnikState reference_state(const VqeProblem& problem);

/// <psi|H|psi> under the problem's Hamiltonian.
double state_energy(const VqeProblem& problem, const ZarnikState& state);

/// Minimises the energy of `ansatz` on `reference` over its logical parameters from `start`
/// with the optimiser of `options` (adjoint gradients for L-BFGS).
OptimizeResult optimize_ansatz(const TiedAnsatz& ansatz, const PauliSum& hamiltonian,
                               const ZarnikState& reference, std::span<const double> start,
                               const VqeOptions& options);

/// exp(-i theta/2 P) of a PAULI_ROTATION in H, RX, CX and RZ gates; `rz_position` receives the
/// index of the RZ that carries theta. Empty for the identity string.
std::vector<Operation> rotation_gates(const Operation& op, std::size_t& rz_position);

}  // namespace zel::chem::detail

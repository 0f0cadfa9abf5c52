#pragma once

// Pieces shared by the fixed-ansatz solvers (vqe.cpp) and ADAPT-VQE (adapt.cpp).

#include <cstddef>
#include <cstdint>
#include <optional>
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

/// Minimises the energy of `ansatz` from the basis state |reference_index> over its logical
/// parameters from `start` with the optimiser of `options` (adjoint gradients for L-BFGS),
/// every evaluation run by `evaluator`.
OptimizeResult optimize_ansatz(const TiedAnsatz& ansatz, const PauliSum& hamiltonian,
                               std::uint64_t reference_index, std::span<const double> start,
                               const VqeOptions& options, VqeEvaluator& evaluator);

/// The excitation when it runs as one native operation on the problem's register: none under a
/// reduction, nor for a fermionic excitation under another mapping than Jordan–Wigner.
std::optional<Excitation> native_excitation(const VqeProblem& problem,
                                            const Excitation& excitation);

/// exp(-i theta/2 P) of a PAULI_ROTATION in H, RX, CX and RZ gates; `rz_position` receives the
/// index of the RZ that carries theta. Empty for the identity string.
std::vector<Operation> rotation_gates(const Operation& op, std::size_t& rz_position);

}  // namespace zel::chem::detail

#pragma once

/// \file
/// The molecular solvers of zel-chem (UCCSD, k-UpCCGSD, ADAPT-VQE) on a distributed state: an
/// evaluator whose energies, parameter gradients and pool gradients come from states spread
/// over the ranks of a communicator. Every rank runs the same solve; the evaluations return the
/// bits of the one-process `StateEvaluator`, so every rank takes the same optimiser steps and
/// ends with the one-process result.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "zel/chem/vqe.hpp"
#include "zel/mpi/state.hpp"

#include <mpi.h>

namespace zel::mpi {

/// Runs the solvers' evaluations on `DistributedState`s over one communicator: the circuit
/// applied operation by operation to a distributed basis state (on a register whose blocks are
/// too small for one of its operations, every rank runs the circuit on the whole state and
/// keeps its block), then `mpi::expectation_value`,
/// `mpi::energy_and_gradient` or `mpi::pool_gradients`. Each call is collective: every rank of
/// the communicator must make it with the same arguments. The register must have at least as
/// many amplitudes as the communicator has ranks; the state of the previous call's register
/// size is kept as the layout of the next one, so the communicator is duplicated once per
/// register size.
class DistributedEvaluator final : public chem::VqeEvaluator {
  public:
    /// An evaluator over the ranks of `comm` with the states' `options`. Nothing is allocated
    /// and no communication happens until the first evaluation, which throws as the
    /// `DistributedState` constructor does for an unusable communicator or register.
    explicit DistributedEvaluator(MPI_Comm comm = MPI_COMM_WORLD, DistributionOptions options = {});

    double energy(const ZarnikGraph& circuit, const PauliSum& hamiltonian,
                  std::uint64_t reference_index) override;
    EnergyGradient energy_and_gradient(const ZarnikGraph& circuit, const PauliSum& hamiltonian,
                                       std::uint64_t reference_index) override;
    std::vector<double> pool_gradients(const ZarnikGraph& circuit, const PauliSum& hamiltonian,
                                       std::uint64_t reference_index,
                                       std::span<const PauliSum> generators) override;

  private:
    // |reference_index> on a register of `num_qubits`, laid out as `layout_`.
    DistributedState basis_state(std::uint64_t num_qubits, std::uint64_t reference_index);
    // The state `circuit` makes from |reference_index>.
    DistributedState run(const ZarnikGraph& circuit, std::uint64_t reference_index);

    MPI_Comm comm_;
    DistributionOptions options_;
    std::optional<DistributedState> layout_;
};

/// `chem::uccsd` with every evaluation on distributed states over `comm` (collective): bitwise
/// the one-process result on every rank.
chem::VqeResult uccsd(const chem::VqeProblem& problem, const chem::VqeOptions& options = {},
                      MPI_Comm comm = MPI_COMM_WORLD);

/// `chem::adapt_vqe` with every evaluation on distributed states over `comm` (collective):
/// bitwise the one-process result on every rank. The callback runs on every rank.
chem::AdaptResult adapt_vqe(const chem::VqeProblem& problem, const chem::AdaptOptions& options = {},
                            MPI_Comm comm = MPI_COMM_WORLD);

}  // namespace zel::mpi

#include "zel/mpi/vqe.hpp"

#include <algorithm>
#include <cstddef>

#include "zel/core/gate_table.hpp"
#include "zel/core/state.hpp"
#include "zel/mpi/gradient.hpp"
#include "zel/mpi/observable.hpp"

namespace zel::mpi {
namespace {

// Whether `DistributedState::apply` runs `op` on blocks of `local_qubits` qubits: an operation
// with a rank-bit qubit is brought onto the block, so it must fit there (a fermionic
// excitation, which runs as its qubit excitation, needs only its orbitals there).
bool fits_block(const Operation& op, std::uint64_t local_qubits) {
    const GateInfo& info = gate_info(op.gate.kind);
    if (info.shape != GateShape::Checked || op.qubits.size() <= local_qubits) {
        return true;
    }
    return info.parity_qubits && info.orbitals <= local_qubits;
}

}  // namespace

DistributedEvaluator::DistributedEvaluator(MPI_Comm comm, DistributionOptions options)
    : comm_(comm), options_(options) {
}

DistributedState DistributedEvaluator::basis_state(std::uint64_t num_qubits,
                                                   std::uint64_t reference_index) {
    if (!layout_ || layout_->num_qubits() != num_qubits) {
        layout_.reset();
        layout_.emplace(num_qubits, comm_, options_);
    }
    DistributedState state = fresh_state_like(*layout_);
    state.set_computational_basis(reference_index);
    return state;
}

DistributedState DistributedEvaluator::run(const ZarnikGraph& circuit,
                                           std::uint64_t reference_index) {
    for (const Operation& op : circuit.operations) {
        check_operation(circuit.num_qubits, op);
    }
    DistributedState state = basis_state(circuit.num_qubits, reference_index);
    const std::uint64_t local = state.local_qubits();
    if (std::all_of(circuit.operations.begin(), circuit.operations.end(),
                    [local](const Operation& op) {
                        return fits_block(op, local);
                    })) {
        for (const Operation& op : circuit.operations) {
            state.apply(op);
        }
        return state;
    }
    // Blocks too small for some operation (registers of a few qubits on many ranks): every rank
    // runs the whole circuit, the same bits, and keeps its slice.
    ZarnikState whole(circuit.num_qubits);
    whole.set_computational_basis(reference_index);
    for (const Operation& op : circuit.operations) {
        whole.apply(op);
    }
    const auto block = state.local_amplitudes_mut();
    const auto first =
        whole.amplitudes().begin() + static_cast<std::ptrdiff_t>(state.first_index());
    std::copy(first, first + static_cast<std::ptrdiff_t>(block.size()), block.begin());
    return state;
}

double DistributedEvaluator::energy(const ZarnikGraph& circuit, const PauliSum& hamiltonian,
                                    std::uint64_t reference_index) {
    return expectation_value(hamiltonian, run(circuit, reference_index));
}

EnergyGradient DistributedEvaluator::energy_and_gradient(const ZarnikGraph& circuit,
                                                         const PauliSum& hamiltonian,
                                                         std::uint64_t reference_index) {
    const DistributedState reference = basis_state(circuit.num_qubits, reference_index);
    return mpi::energy_and_gradient(circuit, hamiltonian, reference);
}

std::vector<double> DistributedEvaluator::pool_gradients(const ZarnikGraph& circuit,
                                                         const PauliSum& hamiltonian,
                                                         std::uint64_t reference_index,
                                                         std::span<const PauliSum> generators) {
    return mpi::pool_gradients(hamiltonian, run(circuit, reference_index), generators);
}

chem::VqeResult uccsd(const chem::VqeProblem& problem, const chem::VqeOptions& options,
                      MPI_Comm comm) {
    DistributedEvaluator evaluator(comm);
    return chem::uccsd(problem, options, evaluator);
}

chem::AdaptResult adapt_vqe(const chem::VqeProblem& problem, const chem::AdaptOptions& options,
                            MPI_Comm comm) {
    DistributedEvaluator evaluator(comm);
    return chem::adapt_vqe(problem, options, evaluator);
}

}  // namespace zel::mpi

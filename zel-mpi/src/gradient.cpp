#include "zel/mpi/gradient.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "zel/core/detail/reductions.hpp"
#include "zel/core/error.hpp"
#include "zel/core/state.hpp"

namespace zel::mpi {
namespace {

// Every term of `sum` fits a register of `dimension` amplitudes; throws the core's
// `IndexOutOfBounds` otherwise. The arguments are the same on every rank, so all ranks throw
// alike and none is left waiting in the gather.
void check_sum(const PauliSum& sum, std::uint64_t dimension) {
    for (const PauliTerm& term : sum.terms) {
        zel::detail::MaskedTerm masked;
        zel::detail::mask_term(term, masked);
        zel::detail::check_partner(masked, dimension);
    }
}

// Copies this rank's slice of `whole` into the block of `out`.
void scatter_into(const ZarnikState& whole, DistributedState& out) {
    const auto block = out.local_amplitudes_mut();
    const auto first = whole.amplitudes().begin() + static_cast<std::ptrdiff_t>(out.first_index());
    std::copy(first, first + static_cast<std::ptrdiff_t>(block.size()), block.begin());
}

}  // namespace

void apply_pauli_sum(const PauliSum& sum, const DistributedState& psi, DistributedState& out) {
    if (psi.num_qubits() != out.num_qubits()) {
        throw InvalidArgument("apply_pauli_sum: the output has " +
                              std::to_string(out.num_qubits()) + " qubits, the input " +
                              std::to_string(psi.num_qubits()));
    }
    if (psi.rank_count() != out.rank_count()) {
        throw InvalidArgument("apply_pauli_sum: the output is spread over " +
                              std::to_string(out.rank_count()) + " ranks, the input over " +
                              std::to_string(psi.rank_count()));
    }
    if (&psi == &out) {
        throw InvalidArgument("apply_pauli_sum: the output must be another state than the input");
    }
    check_sum(sum, psi.dimension());
    scatter_into(zel::apply_pauli_sum(sum, psi.gather()), out);
}

DistributedState apply_pauli_sum(const PauliSum& sum, const DistributedState& psi) {
    check_sum(sum, psi.dimension());
    const ZarnikState product = zel::apply_pauli_sum(sum, psi.gather());
    DistributedState out = fresh_state_like(psi);
    scatter_into(product, out);
    return out;
}

EnergyGradient energy_and_gradient(const ZarnikGraph& circuit, const PauliSum& hamiltonian,
                                   const DistributedState& reference) {
    for (const Operation& op : circuit.operations) {
        check_operation(reference.num_qubits(), op);
    }
    check_sum(hamiltonian, reference.dimension());
    return zel::energy_and_gradient(circuit, hamiltonian, reference.gather());
}

std::vector<double> pool_gradients(const PauliSum& hamiltonian, const DistributedState& psi,
                                   std::span<const PauliSum> generators) {
    check_sum(hamiltonian, psi.dimension());
    for (const PauliSum& generator : generators) {
        check_sum(generator, psi.dimension());
    }
    return zel::pool_gradients(hamiltonian, psi.gather(), generators);
}

}  // namespace zel::mpi

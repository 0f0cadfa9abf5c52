#pragma once

// The block passes of the distributed gradients: this rank's block and the partner blocks it
// trades, the Hamiltonian's product and the overlaps of the backward sweep, each summed in the
// core's chunk order (ordered_sum.hpp) so that every rank count gives the core's bits.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "zel/core/detail/reductions.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/parallel.hpp"
#include "zel/mpi/state.hpp"

#include "context.hpp"
#include "ordered_sum.hpp"

namespace zel::mpi::detail {

// Where this rank's block sits in the whole state.
struct Layout {
    std::uint64_t local_qubits;
    std::uint64_t count;  // amplitudes per block
    std::uint64_t low;    // count - 1: the local part of a basis index
    std::uint64_t first;  // basis index of the block's first amplitude
    std::uint64_t rank;

    explicit Layout(const DistributedState& state)
        : local_qubits(state.local_qubits()),
          count(state.local_amplitudes().size()),
          low(count - 1),
          first(state.first_index()),
          rank(static_cast<std::uint64_t>(state.rank())) {
    }
};

// Reads the amplitudes of one block by basis index: every index read lies in that block.
struct BlockReader {
    const Amplitude* data;
    std::uint64_t low;

    Amplitude operator()(std::uint64_t index) const noexcept {
        return data[index & low];
    }
};

// Blocks received from partner ranks, in slots of one block each, allocated when first needed
// (collective: the ranks need the same slots at the same step and agree on the allocation).
class PartnerBlocks {
  public:
    PartnerBlocks(Context& context, std::uint64_t count) : context_(context), count_(count) {
    }

    // Makes room for `slots` blocks.
    void reserve(std::size_t slots);

    // The block of `vector` on rank `partner` in slot `s`, traded for this rank's block (the
    // partner asks for this rank's block at the same step). A slot that already holds that
    // rank's block of the same vector, unchanged since (`keep`), is not traded again.
    const Amplitude* trade(std::size_t s, const DistributedState& vector, int partner, bool keep);

    // Forgets what the slots hold (the vectors changed).
    void forget() noexcept;

  private:
    Context& context_;
    std::uint64_t count_;
    std::vector<std::vector<Amplitude>> slots_;
    std::vector<int> partner_;
};

// Slot of the Hamiltonian product's partner block of psi, kept while psi does not change.
constexpr std::size_t PSI_SLOT = 0;

// Writes H|psi> into `out`: for every target amplitude j of the block, the groups' products
// added in group order from +0, with the core's expression per amplitude. A group whose flip
// mask has rank bits reads the partner rank's block of psi, traded when the partner changes.
void product(const PreparedPauliSum& h, const DistributedState& psi, DistributedState& out,
             PartnerBlocks& partners);

// Takes the sum over basis indexes of `add(begin, end, acc)` into `batch`: this rank's items are
// its block.
template <class Add>
std::size_t sum_over_block(SumBatch& batch, const DistributedState& state, const Add& add) {
    const Layout at(state);
    return batch.take(state.dimension(), at.first, at.first + at.count,
                      at.count % parallel::SUM_CHUNK == 0, add);
}

// <phi|psi>.
std::size_t inner(SumBatch& batch, const DistributedState& phi, const DistributedState& psi);

// The block of psi that the sources j ^ flip of this rank's targets j lie in.
const Amplitude* source_block(const DistributedState& psi, std::uint64_t flip,
                              PartnerBlocks& partners, std::size_t slot, bool keep);

// <phi|P|psi> of a Pauli rotation's string under its controls, without its power of i.
std::size_t signed_overlap(SumBatch& batch, const DistributedState& phi,
                           const DistributedState& psi, const zel::detail::OperationDerivative& d,
                           PartnerBlocks& partners);

// Re <phi| T - T^dagger |psi> of an excitation (in the real part). The items are the amplitudes
// i it moves, numbered as the core numbers them; rank r holds those of its block when its rank
// bits match the excitation's (`from` set, `to` clear), in one consecutive range. The partner
// amplitudes j = i ^ from ^ to lie on rank r ^ ((from | to) >> local qubits).
std::size_t excitation_overlap(SumBatch& batch, const DistributedState& phi,
                               const DistributedState& psi,
                               const zel::detail::OperationDerivative& d, PartnerBlocks& partners);

// The overlap of an excitation whose orbitals are local qubits, with its inverse applied to both
// vectors in the same pass (the core's fused sweep step): every rank holds whole pairs, its
// items one consecutive range. Returns nothing, changing nothing, when an orbital is a rank bit
// (the sweep then takes the overlap and applies the inverse apart).
std::optional<std::size_t> local_excitation_overlap_and_undo(SumBatch& batch, const Operation& op,
                                                             DistributedState& phi,
                                                             DistributedState& psi);

// <phi| D |psi> for each matrix D of a dense derivative, one sum each in matrix order. The items
// are the base indexes with the operation's qubits clear; rank r holds those of its block when
// its rank bits among the operation's qubits are clear, and reads the blocks of the ranks that
// differ from it in those bits.
std::vector<std::size_t> dense_overlaps(SumBatch& batch, const DistributedState& phi,
                                        const DistributedState& psi,
                                        const zel::detail::OperationDerivative& d,
                                        PartnerBlocks& partners);

}  // namespace zel::mpi::detail

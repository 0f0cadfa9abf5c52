#include "block_passes.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "zel/core/detail/reductions.hpp"
#include "zel/core/parallel.hpp"

namespace zel::mpi::detail {
namespace {

using zel::detail::OperationDerivative;

constexpr std::uint64_t CHUNK = parallel::SUM_CHUNK;

// Reads the amplitudes of this rank's block and of partner blocks by basis index: blocks[m]
// holds the block of rank (this rank ^ m) for every m that the reads reach.
struct TableReader {
    const Amplitude* const* blocks;
    std::uint64_t local_qubits;
    std::uint64_t low;
    std::uint64_t rank;

    Amplitude operator()(std::uint64_t index) const noexcept {
        return blocks[(index >> local_qubits) ^ rank][index & low];
    }
};

// `x` without its bits at the positions of `mask`, the remaining bits moved down in order.
std::uint64_t without_bits(std::uint64_t x, std::uint64_t mask) noexcept {
    std::uint64_t out = 0;
    unsigned position = 0;
    for (unsigned bit = 0; bit < 64; ++bit) {
        if (((mask >> bit) & 1U) == 0) {
            out |= ((x >> bit) & 1U) << position;
            ++position;
        }
    }
    return out;
}

// Trades this rank's blocks of phi and psi with every rank that differs from it in a subset of
// the rank bits `rank_mask` (the subsets in ascending order, the same on every rank), and fills
// the tables with the blocks by rank offset.
void trade_with_subsets(const DistributedState& phi, const DistributedState& psi,
                        std::uint64_t rank_mask, PartnerBlocks& partners,
                        std::vector<const Amplitude*>& phi_blocks,
                        std::vector<const Amplitude*>& psi_blocks) {
    const Layout at(phi);
    const auto ranks = static_cast<std::size_t>(phi.rank_count());
    phi_blocks.assign(ranks, nullptr);
    psi_blocks.assign(ranks, nullptr);
    phi_blocks[0] = phi.local_amplitudes().data();
    psi_blocks[0] = psi.local_amplitudes().data();
    std::size_t slot = 0;
    // Every non-empty subset m of rank_mask, ascending.
    for (std::uint64_t m = (0 - rank_mask) & rank_mask; m != 0; m = (m - rank_mask) & rank_mask) {
        const auto partner = static_cast<int>(at.rank ^ m);
        phi_blocks[m] = partners.trade(slot++, phi, partner, false);
        psi_blocks[m] = partners.trade(slot++, psi, partner, false);
    }
}

// The positions of the bits of `mask`, ascending.
std::vector<unsigned> bit_positions(std::uint64_t mask) {
    std::vector<unsigned> positions;
    for (std::uint64_t rest = mask; rest != 0; rest &= rest - 1) {
        positions.push_back(static_cast<unsigned>(std::countr_zero(rest)));
    }
    return positions;
}

}  // namespace

// Makes room for `slots` blocks.
void PartnerBlocks::reserve(std::size_t slots) {
    if (slots <= slots_.size()) {
        return;
    }
    const std::size_t bytes = static_cast<std::size_t>(count_) * sizeof(Amplitude);
    detail::agreed_allocation(context_, bytes, [&] {
        while (slots_.size() < slots) {
            slots_.emplace_back(static_cast<std::size_t>(count_));
        }
    });
    partner_.resize(slots_.size(), -1);
}

// The block of `vector` on rank `partner` in slot `s`, traded for this rank's block (the
// partner asks for this rank's block at the same step). A slot that already holds that
// rank's block of the same vector, unchanged since (`keep`), is not traded again.
const Amplitude* PartnerBlocks::trade(std::size_t s, const DistributedState& vector, int partner,
                                      bool keep) {
    reserve(s + 1);
    if (!(keep && partner_[s] == partner)) {
        const Amplitude* own = vector.local_amplitudes().data();
        Amplitude* into = slots_[s].data();
        const std::uint64_t piece = context_.piece(count_);
        for (std::uint64_t offset = 0; offset < count_; offset += piece) {
            context_.sendrecv(own + offset, into + offset, piece, partner);
        }
        partner_[s] = partner;
    }
    return slots_[s].data();
}

// Forgets what the slots hold (the vectors changed).
void PartnerBlocks::forget() noexcept {
    std::fill(partner_.begin(), partner_.end(), -1);
}

void product(const PreparedPauliSum& h, const DistributedState& psi, DistributedState& out,
             PartnerBlocks& partners) {
    const Layout at(psi);
    Amplitude* result = out.local_amplitudes_mut().data();
    parallel::for_each(static_cast<std::size_t>(at.count), [&](std::size_t begin, std::size_t end) {
        std::fill(result + begin, result + end, Amplitude(0.0, 0.0));
    });
    // Zero sources are skipped when the block is sparse (at most a quarter non-zero, as the
    // core decides for its sparse pass); a dense block takes the plain loop.
    const Amplitude* own = psi.local_amplitudes().data();
    const auto nonzero =
        static_cast<std::uint64_t>(std::count_if(own, own + at.count, [](const Amplitude& x) {
            return x != Amplitude(0.0, 0.0);
        }));
    const bool skip_zeros = h.finite_factors() && nonzero <= at.count / 4;
    for (const PauliFlipGroup& group : h.groups()) {
        const std::uint64_t rank_flip = group.flip >> at.local_qubits;
        const Amplitude* in =
            rank_flip == 0
                ? psi.local_amplitudes().data()
                : partners.trade(PSI_SLOT, psi, static_cast<int>(at.rank ^ rank_flip), true);
        const std::uint64_t local_flip = group.flip & at.low;
        parallel::for_each(
            static_cast<std::size_t>(at.count), [&](std::size_t begin, std::size_t end) {
                if (!skip_zeros) {
                    for (std::uint64_t j = begin; j < end; ++j) {
                        const std::uint64_t source = (at.first + j) ^ group.flip;
                        result[j] += zel::detail::times(zel::detail::group_factor(group, source),
                                                        in[j ^ local_flip]);
                    }
                    return;
                }
                for (std::uint64_t j = begin; j < end; ++j) {
                    const Amplitude x = in[j ^ local_flip];
                    // With finite factors a zero source adds an exact zero to a sum that is
                    // never -0, which leaves its bits alone (the core's sparse pass relies on
                    // the same): a molecular state's few non-zero amplitudes cost their factors
                    // only.
                    if (x == Amplitude(0.0, 0.0)) {
                        continue;
                    }
                    const std::uint64_t source = (at.first + j) ^ group.flip;
                    result[j] += zel::detail::times(zel::detail::group_factor(group, source), x);
                }
            });
    }
}

std::size_t inner(detail::SumBatch& batch, const DistributedState& phi,
                  const DistributedState& psi) {
    const Layout at(phi);
    const BlockReader a{phi.local_amplitudes().data(), at.low};
    const BlockReader b{psi.local_amplitudes().data(), at.low};
    return sum_over_block(batch, phi, [&](std::uint64_t x, std::uint64_t y, double* acc) {
        zel::detail::add_inner(x, y, a, b, acc);
    });
}

const Amplitude* source_block(const DistributedState& psi, std::uint64_t flip,
                              PartnerBlocks& partners, std::size_t slot, bool keep) {
    const Layout at(psi);
    const std::uint64_t rank_flip = flip >> at.local_qubits;
    return rank_flip == 0 ? psi.local_amplitudes().data()
                          : partners.trade(slot, psi, static_cast<int>(at.rank ^ rank_flip), keep);
}

std::size_t signed_overlap(detail::SumBatch& batch, const DistributedState& phi,
                           const DistributedState& psi, const OperationDerivative& d,
                           PartnerBlocks& partners) {
    const Layout at(phi);
    const BlockReader a{phi.local_amplitudes().data(), at.low};
    const BlockReader b{source_block(psi, d.flip, partners, 0, false), at.low};
    return sum_over_block(batch, phi, [&](std::uint64_t x, std::uint64_t y, double* acc) {
        if (d.controls == 0) {
            zel::detail::add_signed_overlap<false>(x, y, d.flip, d.sign, 0, a, b, acc);
        } else {
            zel::detail::add_signed_overlap<true>(x, y, d.flip, d.sign, d.controls, a, b, acc);
        }
    });
}

std::size_t excitation_overlap(detail::SumBatch& batch, const DistributedState& phi,
                               const DistributedState& psi, const OperationDerivative& d,
                               PartnerBlocks& partners) {
    const Layout at(phi);
    const std::uint64_t both = d.from | d.to;
    const std::uint64_t rank_both = both >> at.local_qubits;
    const std::uint64_t rank_from = d.from >> at.local_qubits;
    std::vector<const Amplitude*> phi_blocks;
    std::vector<const Amplitude*> psi_blocks;
    trade_with_subsets(phi, psi, rank_both, partners, phi_blocks, psi_blocks);
    const std::vector<unsigned> fixed = bit_positions(both);
    const auto expand = [&](std::uint64_t c) {
        return zel::detail::with_zero_bits(c, fixed) | d.from;
    };
    const std::uint64_t per_rank = at.count >> std::popcount(both & at.low);
    const bool holds = (at.rank & rank_both) == rank_from;
    const std::uint64_t first = holds ? without_bits(at.rank, rank_both) * per_rank : 0;
    const std::uint64_t last = holds ? first + per_rank : 0;
    const TableReader a{phi_blocks.data(), at.local_qubits, at.low, at.rank};
    const TableReader b{psi_blocks.data(), at.local_qubits, at.low, at.rank};
    return batch.take(phi.dimension() >> fixed.size(), first, last, per_rank % CHUNK == 0,
                      [&](std::uint64_t x, std::uint64_t y, double* acc) {
                          zel::detail::add_excitation_overlap(x, y, d, expand, a, b, acc);
                      });
}

std::optional<std::size_t> local_excitation_overlap_and_undo(detail::SumBatch& batch,
                                                             const Operation& op,
                                                             DistributedState& phi,
                                                             DistributedState& psi) {
    const Layout at(phi);
    const OperationDerivative d = zel::detail::operation_derivative(op);
    const std::uint64_t both = d.from | d.to;
    if ((both >> at.local_qubits) != 0) {
        return std::nullopt;
    }
    const std::vector<unsigned> fixed = bit_positions(both);
    const auto expand = [&](std::uint64_t c) {
        return zel::detail::with_zero_bits(c, fixed) | d.from;
    };
    const zel::detail::UndoRotation undo(op.params[0]);
    const std::uint64_t per_rank = at.count >> fixed.size();
    Amplitude* a = phi.local_amplitudes_mut().data();
    Amplitude* b = psi.local_amplitudes_mut().data();
    return batch.take(phi.dimension() >> fixed.size(), at.rank * per_rank, (at.rank + 1) * per_rank,
                      per_rank % CHUNK == 0, [&](std::uint64_t x, std::uint64_t y, double* acc) {
                          zel::detail::add_excitation_overlap_and_undo(x, y, d, expand, undo, a, b,
                                                                       at.low, acc);
                      });
}

std::vector<std::size_t> dense_overlaps(detail::SumBatch& batch, const DistributedState& phi,
                                        const DistributedState& psi, const OperationDerivative& d,
                                        PartnerBlocks& partners) {
    const Layout at(phi);
    std::uint64_t qubit_mask = 0;
    for (const std::uint64_t q : d.qubits) {
        qubit_mask |= std::uint64_t{1} << q;
    }
    const std::uint64_t rank_mask = qubit_mask >> at.local_qubits;
    std::vector<const Amplitude*> phi_blocks;
    std::vector<const Amplitude*> psi_blocks;
    trade_with_subsets(phi, psi, rank_mask, partners, phi_blocks, psi_blocks);
    const zel::detail::DenseItems dense(d.qubits);
    const std::uint64_t items = phi.dimension() >> d.qubits.size();
    const std::uint64_t per_rank = at.count >> std::popcount(qubit_mask & at.low);
    const bool holds = (at.rank & rank_mask) == 0;
    const std::uint64_t first = holds ? without_bits(at.rank, rank_mask) * per_rank : 0;
    const std::uint64_t last = holds ? first + per_rank : 0;
    const TableReader a{phi_blocks.data(), at.local_qubits, at.low, at.rank};
    const TableReader b{psi_blocks.data(), at.local_qubits, at.low, at.rank};
    std::vector<std::size_t> sums;
    for (const std::vector<Amplitude>& matrix : d.matrices) {
        sums.push_back(batch.take(items, first, last, per_rank % CHUNK == 0,
                                  [&](std::uint64_t x, std::uint64_t y, double* acc) {
                                      zel::detail::add_dense_overlap(x, y, dense, matrix, a, b,
                                                                     acc);
                                  }));
    }
    return sums;
}

}  // namespace zel::mpi::detail

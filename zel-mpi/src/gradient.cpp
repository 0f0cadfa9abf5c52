#include "zel/mpi/gradient.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zel/core/detail/reductions.hpp"
#include "zel/core/error.hpp"
#include "zel/core/gate_table.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/state.hpp"

#include "context.hpp"
#include "ordered_sum.hpp"

namespace zel::mpi {
namespace {

using detail::Amplitude;
using zel::detail::OperationDerivative;
using Form = OperationDerivative::Form;

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

// Blocks received from partner ranks, in slots of one block each, allocated when first needed
// (collective: the ranks need the same slots at the same step and agree on the allocation).
class PartnerBlocks {
  public:
    PartnerBlocks(detail::Context& context, std::uint64_t count)
        : context_(context), count_(count) {
    }

    // Makes room for `slots` blocks.
    void reserve(std::size_t slots) {
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
    const Amplitude* trade(std::size_t s, const DistributedState& vector, int partner, bool keep) {
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
    void forget() noexcept {
        std::fill(partner_.begin(), partner_.end(), -1);
    }

  private:
    detail::Context& context_;
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

constexpr std::uint64_t CHUNK = parallel::SUM_CHUNK;

// Takes the sum over basis indexes of `add(begin, end, acc)` into `batch`: this rank's items are
// its block.
template <class Add>
std::size_t sum_over_block(detail::SumBatch& batch, const DistributedState& state, const Add& add) {
    const Layout at(state);
    return batch.take(state.dimension(), at.first, at.first + at.count, at.count % CHUNK == 0, add);
}

// <phi|psi>.
std::size_t inner(detail::SumBatch& batch, const DistributedState& phi,
                  const DistributedState& psi) {
    const Layout at(phi);
    const BlockReader a{phi.local_amplitudes().data(), at.low};
    const BlockReader b{psi.local_amplitudes().data(), at.low};
    return sum_over_block(batch, phi, [&](std::uint64_t x, std::uint64_t y, double* acc) {
        zel::detail::add_inner(x, y, a, b, acc);
    });
}

// The block of psi that the sources j ^ flip of this rank's targets j lie in.
const Amplitude* source_block(const DistributedState& psi, std::uint64_t flip,
                              PartnerBlocks& partners, std::size_t slot, bool keep) {
    const Layout at(psi);
    const std::uint64_t rank_flip = flip >> at.local_qubits;
    return rank_flip == 0 ? psi.local_amplitudes().data()
                          : partners.trade(slot, psi, static_cast<int>(at.rank ^ rank_flip), keep);
}

// <phi|P|psi> of a Pauli rotation's string under its controls, without its power of i.
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

// Re <phi| T - T^dagger |psi> of an excitation (in the real part). The items are the amplitudes
// i it moves, numbered as the core numbers them; rank r holds those of its block when its rank
// bits match the excitation's (`from` set, `to` clear), in one consecutive range. The partner
// amplitudes j = i ^ from ^ to lie on rank r ^ ((from | to) >> local qubits).
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

// The overlap of an excitation whose orbitals are local qubits, with its inverse applied to both
// vectors in the same pass (the core's fused sweep step): every rank holds whole pairs, its
// items one consecutive range. Returns nothing, changing nothing, when an orbital is a rank bit
// (the sweep then takes the overlap and applies the inverse apart).
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

// <phi| D |psi> for each matrix D of a dense derivative, one sum each in matrix order. The items
// are the base indexes with the operation's qubits clear; rank r holds those of its block when
// its rank bits among the operation's qubits are clear, and reads the blocks of the ranks that
// differ from it in those bits.
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

// A slot's derivative, 2 times a part of a sum of the batch: Im(weight * sum), Im(sum) or
// Re(sum), as the core reads it.
struct SlotSum {
    enum class Part : std::uint8_t { WeightedImaginary, Imaginary, Real };
    std::size_t slot;
    std::size_t sum;
    Part part;
    Amplitude weight;

    double value(const detail::SumBatch& batch) const noexcept {
        const Amplitude v = batch.value(sum);
        switch (part) {
            case Part::WeightedImaginary:
                return 2.0 * zel::detail::times(weight, v).imag();
            case Part::Imaginary:
                return 2.0 * v.imag();
            case Part::Real:
                return 2.0 * v.real();
        }
        return 0.0;
    }
};

// Takes the sums of the derivatives of `op`'s slots from `first_slot` on into `batch`, `psi`
// being the state just after `op` and `phi` the Hamiltonian's product carried back to the same
// point. Slots without a sum keep their 0.
void operation_gradient(detail::SumBatch& batch, const Operation& op, const DistributedState& phi,
                        const DistributedState& psi, PartnerBlocks& partners,
                        std::size_t first_slot, std::vector<SlotSum>& slots) {
    if (op.params.empty()) {
        return;
    }
    using Part = SlotSum::Part;
    const OperationDerivative d = zel::detail::operation_derivative(op);
    switch (d.form) {
        case Form::Zero:
            return;
        case Form::HalfPauli:
            // D = -i G with G = P/2 under the controls: 2 Re(-i z) = 2 Im z.
            slots.push_back({first_slot, signed_overlap(batch, phi, psi, d, partners),
                             Part::WeightedImaginary, d.weight});
            return;
        case Form::Dense: {
            const std::vector<std::size_t> sums = dense_overlaps(batch, phi, psi, d, partners);
            for (std::size_t s = 0; s < sums.size(); ++s) {
                slots.push_back({first_slot + s, sums[s],
                                 d.imaginary ? Part::Imaginary : Part::Real, Amplitude()});
            }
            return;
        }
        case Form::Excitation:
            slots.push_back({first_slot, excitation_overlap(batch, phi, psi, d, partners),
                             Part::Real, Amplitude()});
            return;
    }
}

// Whether the distributed state runs every operation of the circuit and its inverse on blocks
// of `local_qubits` qubits: an operation of a kind from U on may need all its qubits (a
// fermionic excitation its orbitals) in one block. Depends on the circuit and the layout only,
// so every rank answers alike.
bool runs_on_blocks(const ZarnikGraph& circuit, std::uint64_t local_qubits) {
    return std::all_of(
        circuit.operations.begin(), circuit.operations.end(), [&](const Operation& op) {
            const GateInfo& info = gate_info(op.gate.kind);
            if (info.shape != GateShape::Checked) {
                return true;
            }
            const std::size_t needed = info.parity_qubits ? info.orbitals : op.qubits.size();
            return needed <= local_qubits;
        });
}

void check_outputs(const DistributedState& psi, const DistributedState& out) {
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
}

}  // namespace

void apply_pauli_sum(const PauliSum& sum, const DistributedState& psi, DistributedState& out) {
    check_outputs(psi, out);
    const PreparedPauliSum h(sum, psi.num_qubits());
    PartnerBlocks partners(detail::context_of(psi), psi.local_amplitudes().size());
    product(h, psi, out, partners);
}

DistributedState apply_pauli_sum(const PauliSum& sum, const DistributedState& psi) {
    const PreparedPauliSum h(sum, psi.num_qubits());
    DistributedState out = fresh_state_like(psi);
    PartnerBlocks partners(detail::context_of(psi), psi.local_amplitudes().size());
    product(h, psi, out, partners);
    return out;
}

EnergyGradient energy_and_gradient(const ZarnikGraph& circuit, const PauliSum& hamiltonian,
                                   const DistributedState& reference) {
    const std::uint64_t n = reference.num_qubits();
    const std::vector<Operation>& ops = circuit.operations;
    std::vector<std::size_t> first_slot(ops.size() + 1, 0);
    for (std::size_t k = 0; k < ops.size(); ++k) {
        check_operation(n, ops[k]);
        first_slot[k + 1] = first_slot[k] + ops[k].params.size();
    }
    const PreparedPauliSum h(hamiltonian, n);
    if (!runs_on_blocks(circuit, reference.local_qubits())) {
        return zel::energy_and_gradient(circuit, h, reference.gather());
    }

    DistributedState psi = reference;
    for (const Operation& op : ops) {
        psi.apply(op);
    }
    detail::Context& context = detail::context_of(psi);
    DistributedState phi = fresh_state_like(psi);
    PartnerBlocks partners(context, psi.local_amplitudes().size());
    product(h, psi, phi, partners);

    // The sums are taken during the sweep and added up once at its end.
    detail::SumBatch batch(context);
    const std::size_t energy = inner(batch, psi, phi);
    std::vector<SlotSum> slots;

    const std::size_t first_parametric = zel::detail::first_parametric(ops);
    for (std::size_t k = ops.size(); k-- > first_parametric;) {
        partners.forget();
        if (k > first_parametric &&
            gate_info(ops[k].gate.kind).generator == GeneratorForm::Excitation) {
            if (const std::optional<std::size_t> sum =
                    local_excitation_overlap_and_undo(batch, ops[k], phi, psi)) {
                slots.push_back({first_slot[k], *sum, SlotSum::Part::Real, Amplitude()});
                continue;
            }
        }
        operation_gradient(batch, ops[k], phi, psi, partners, first_slot[k], slots);
        if (k > first_parametric) {
            const Operation undo = inverse(ops[k]);
            psi.apply(undo);
            phi.apply(undo);
        }
    }
    batch.finish();

    EnergyGradient result;
    result.energy = batch.value(energy).real();
    result.gradient.assign(first_slot.back(), 0.0);
    for (const SlotSum& slot : slots) {
        result.gradient[slot.slot] = slot.value(batch);
    }
    return result;
}

std::vector<double> pool_gradients(const PauliSum& hamiltonian, const DistributedState& psi,
                                   std::span<const PauliSum> generators) {
    const PreparedPauliSum h(hamiltonian, psi.num_qubits());
    std::vector<PreparedPauliSum> pool;
    pool.reserve(generators.size());
    for (const PauliSum& generator : generators) {
        pool.emplace_back(generator, psi.num_qubits());
    }
    const Layout at(psi);
    DistributedState h_psi = fresh_state_like(psi);
    PartnerBlocks partners(detail::context_of(psi), at.count);
    product(h, psi, h_psi, partners);
    const BlockReader a{h_psi.local_amplitudes().data(), at.low};
    detail::SumBatch batch(detail::context_of(psi));
    std::vector<std::vector<std::size_t>> sums(pool.size());
    for (std::size_t k = 0; k < pool.size(); ++k) {
        for (const PauliFlipGroup& group : pool[k].groups()) {
            const BlockReader b{source_block(psi, group.flip, partners, PSI_SLOT, true), at.low};
            sums[k].push_back(
                sum_over_block(batch, psi, [&](std::uint64_t x, std::uint64_t y, double* acc) {
                    zel::detail::add_group_overlap(x, y, group, a, b, acc);
                }));
        }
    }
    batch.finish();
    std::vector<double> gradients;
    gradients.reserve(pool.size());
    for (const std::vector<std::size_t>& generator : sums) {
        // 2 Re <H psi| i B psi> = -2 Im <H psi| B psi>, the groups' sums added in order.
        Amplitude total(0.0, 0.0);
        for (const std::size_t sum : generator) {
            total += batch.value(sum);
        }
        gradients.push_back(-2.0 * total.imag());
    }
    return gradients;
}

}  // namespace zel::mpi

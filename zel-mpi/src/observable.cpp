#include "zel/mpi/observable.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "zel/core/detail/reductions.hpp"
#include "zel/core/parallel.hpp"

#include "context.hpp"
#include "relay.hpp"

namespace zel::mpi {
namespace {

using detail::Amplitude;
using zel::detail::ExpectationBatch;
using zel::detail::ExpectationPass;
using zel::detail::PassKind;
using zel::detail::PassSource;

constexpr std::uint64_t CHUNK = parallel::SUM_CHUNK;

// The partials this rank holds for one pass: `chunks` consecutive chunks of the pass, in order,
// `width` values each, from `values`.
struct HeldPartials {
    const double* values;
    std::uint64_t chunks;
    std::size_t width;
};

// The chunk partials of a pass whose items all lie in the block: the pass's items of this rank
// are the consecutive range that starts at item first_index / (amplitudes per item), so its
// chunks are consecutive chunks of the whole pass.
HeldPartials local_partials(const ExpectationBatch& batch, const ExpectationPass& pass,
                            const DistributedState& state, double* out) {
    const Amplitude* block = state.local_amplitudes().data();
    const std::uint64_t count = state.local_amplitudes().size();
    const std::uint64_t items = pass.kind == PassKind::Quad
                                    ? count / zel::detail::QUAD_AMPLITUDES
                                    : (pass.kind == PassKind::Diagonal ? count : count / 2);
    const std::uint64_t chunks = items / CHUNK;
    const std::size_t width = pass.sum_count;
    const PassSource source{block, block, pass.flip, pass.high, state.first_index()};
    detail::for_each_chunk(items, chunks, [&](std::uint64_t c) {
        zel::detail::pass_partial(batch, pass, source, c * CHUNK, (c + 1) * CHUNK, out + c * width);
    });
    return {out, chunks, width};
}

// The chunk partials of a flip pass whose highest flipped qubit is a rank bit. Its items are the
// pairs {k, k ^ F} numbered by the member k whose highest flipped bit is clear: the whole block
// of a "lower" rank (that bit clear) is its items, the partner rank (rank ^ (F >> (n-k))) holds
// the other members, at local index k ^ (F & (2^(n-k) - 1)). The pair works on the lower rank's
// chunks together: the lower rank computes the first half with the partner's amplitudes, the
// upper rank the second half with the lower rank's, each receiving half a block in pieces, and
// the upper rank hands its partials to the lower one, which then holds all of them.
HeldPartials cross_rank_partials(const ExpectationBatch& batch, const ExpectationPass& pass,
                                 const DistributedState& state, detail::Context& context,
                                 double* out) {
    const std::uint64_t count = state.local_amplitudes().size();
    const std::uint64_t half = count / 2;
    const std::uint64_t local_qubits = state.local_qubits();
    const auto rank = static_cast<std::uint64_t>(state.rank());
    const std::uint64_t rank_flip = pass.flip >> local_qubits;
    const std::uint64_t local_flip = pass.flip & (count - 1);
    const int partner = static_cast<int>(rank ^ rank_flip);
    const bool lower = ((rank >> (pass.high - local_qubits)) & 1U) == 0;
    const std::uint64_t lower_rank = lower ? rank : static_cast<std::uint64_t>(partner);
    const std::size_t width = pass.sum_count;
    const std::uint64_t chunks = count / CHUNK;
    // Pieces of q amplitudes, aligned to q: the partners of the lower members [s, s + q) are
    // the partner's [s ^ (F & ~(q - 1)), + q), in the order of k ^ (F & (q - 1)).
    const std::uint64_t q = context.piece(half);
    const std::uint64_t piece_flip = local_flip & (q - 1);
    const std::uint64_t block_flip = local_flip & ~(q - 1);
    const Amplitude* block = state.local_amplitudes().data();
    Amplitude* received = context.receive_buffer();
    // The lower rank fills its chunks [0, chunks / 2), the upper rank the rest, into out[0, ...).
    const std::uint64_t first_chunk = lower ? 0 : chunks / 2;
    for (std::uint64_t s = 0; s < half; s += q) {
        const std::uint64_t start = lower ? s : half + s;
        const Amplitude* outgoing = lower ? block + half + s : block + (s ^ block_flip);
        context.sendrecv(outgoing, received, q, partner);
        const PassSource source{lower ? block + s : received,
                                lower ? received : block + ((half + s) ^ block_flip), piece_flip,
                                zel::detail::CONTIGUOUS_ITEMS, lower_rank * count + start};
        // Items [start, start + q) of the lower rank's range, cut at chunk boundaries; a chunk
        // that spans pieces continues where the last piece left it.
        for (std::uint64_t x = start; x < start + q;) {
            const std::uint64_t chunk = x / CHUNK;
            const std::uint64_t y = std::min(start + q, (chunk + 1) * CHUNK);
            double* partial = out + (chunk - first_chunk) * width;
            if (x % CHUNK == 0) {
                std::fill(partial, partial + width, -0.0);
            }
            zel::detail::accumulate_pass(batch, pass, source, x - start, y - start, partial);
            x = y;
        }
    }
    const std::size_t handed = static_cast<std::size_t>(chunks / 2) * width;
    if (lower) {
        context.receive(out + handed, handed, partner, detail::PARTIALS_TAG);
        return {out, chunks, width};
    }
    context.send(out, handed, partner, detail::PARTIALS_TAG);
    return {out, 0, width};
}

// The sums of every pass of a batch, from the blocks in place.
void distributed_sums(const ExpectationBatch& batch, const DistributedState& state,
                      detail::Context& context, double* sums) {
    std::array<HeldPartials, parallel::MAX_SUMS> held;
    double* scratch = context.partials();
    for (std::size_t p = 0; p < batch.pass_count; ++p) {
        const ExpectationPass& pass = batch.passes[p];
        held[p] = pass.kind == PassKind::Flip && pass.high >= state.local_qubits()
                      ? cross_rank_partials(batch, pass, state, context, scratch)
                      : local_partials(batch, pass, state, scratch);
        scratch += static_cast<std::size_t>(held[p].chunks) * held[p].width;
    }
    detail::relay(context, std::span<double>(sums, batch.sum_count),
                  [&](std::span<double> running) {
                      for (std::size_t p = 0; p < batch.pass_count; ++p) {
                          double* totals = running.data() + batch.passes[p].first_sum;
                          const HeldPartials& h = held[p];
                          for (std::uint64_t c = 0; c < h.chunks; ++c) {
                              const double* partial = h.values + c * h.width;
                              for (std::size_t t = 0; t < h.width; ++t) {
                                  totals[t] += partial[t];
                              }
                          }
                      }
                  });
}

}  // namespace

double expectation_value(const PauliSum& sum, const DistributedState& state) {
    const std::uint64_t dimension = state.dimension();
    if (state.local_amplitudes().size() < IN_PLACE_REDUCTION_FROM) {
        // Small blocks: the checks first, so that a bad term throws before the gather.
        for (const PauliTerm& term : sum.terms) {
            zel::detail::MaskedTerm masked;
            zel::detail::mask_term(term, masked);
            zel::detail::check_partner(masked, dimension);
        }
        return sum.expectation_value(state.gather());
    }
    detail::Context& context = detail::context_of(state);
    return zel::detail::expectation_in_batches(sum, state.num_qubits(), dimension,
                                               [&](const ExpectationBatch& batch, double* sums) {
                                                   distributed_sums(batch, state, context, sums);
                                               });
}

}  // namespace zel::mpi

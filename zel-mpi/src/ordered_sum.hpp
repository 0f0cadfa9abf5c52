#pragma once

// The whole state's complex sums over items (zel/core/detail/reductions.hpp) when the items are
// spread over the ranks: each rank holds one consecutive range of them, the ranges ascending
// with the rank. The fixed chunks of parallel::SUM_CHUNK items may lie within a rank or, with
// blocks smaller than a chunk, span several ranks.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "zel/core/parallel.hpp"

#include "context.hpp"
#include "relay.hpp"

namespace zel::mpi::detail {

// The sum of the items [0, n) of which this rank holds [first, last) (collective; every rank
// passes the same n and its own range, empty ranges anywhere). `add(begin, end, acc)` adds the
// contributions of the held items [begin, end) in ascending order to the running chunk partial
// acc[0], acc[1]. The value is the whole state's: each chunk's partial from +0 with its items in
// order, the partials added in ascending chunk order from -0.0. The chunks wholly inside the
// range are computed first, on the pool when the core's sums would use it; the pieces of chunks
// that continue across ranks are added while the running sums pass through the ranks in order.
template <class Add>
Amplitude ordered_sum(Context& context, std::uint64_t n, std::uint64_t first, std::uint64_t last,
                      const Add& add) {
    constexpr std::uint64_t CHUNK = parallel::SUM_CHUNK;
    // [whole_first, whole_last): the chunks wholly inside [first, last).
    const std::uint64_t whole_first = std::min(last, (first + CHUNK - 1) / CHUNK * CHUNK);
    const std::uint64_t whole_last = std::max(whole_first, last / CHUNK * CHUNK);
    const std::uint64_t whole_chunks = (whole_last - whole_first) / CHUNK;
    std::vector<double> partials(static_cast<std::size_t>(2 * whole_chunks));
    for_each_chunk(whole_last - whole_first, whole_chunks, [&](std::uint64_t c) {
        double* acc = partials.data() + 2 * c;
        acc[0] = 0.0;
        acc[1] = 0.0;
        add(whole_first + c * CHUNK, whole_first + (c + 1) * CHUNK, acc);
    });
    // Running: the totals (real, imaginary), then the open chunk's partial.
    std::array<double, 4> running{};
    relay(context, std::span<double>(running), [&](std::span<double> sums) {
        // Items [x, y) of one chunk: a chunk's first item starts its partial at +0, its last
        // adds the partial to the totals.
        const auto piece = [&](std::uint64_t x, std::uint64_t y) {
            if (x == y) {
                return;
            }
            if (x % CHUNK == 0) {
                sums[2] = 0.0;
                sums[3] = 0.0;
            }
            add(x, y, sums.data() + 2);
            if (y % CHUNK == 0 || y == n) {
                sums[0] += sums[2];
                sums[1] += sums[3];
            }
        };
        piece(first, whole_first);
        for (std::uint64_t c = 0; c < whole_chunks; ++c) {
            sums[0] += partials[2 * c];
            sums[1] += partials[2 * c + 1];
        }
        piece(whole_last, last);
    });
    return {running[0], running[1]};
}

// Sums taken one after another during a pass over the blocks and finished together, so that the
// pass does not wait on the other ranks for each of them. A sum whose ranges are whole chunks on
// every rank (`whole_chunks`, which the caller decides alike on every rank) keeps this rank's
// chunk partials until `finish`, which adds every kept sum's partials in chunk order as the
// running sums pass once through the ranks; any other sum is taken at once by `ordered_sum`.
class SumBatch {
  public:
    explicit SumBatch(Context& context) : context_(context) {
    }

    // Takes the sum of `ordered_sum(context, n, first, last, add)` (collective when it is not
    // kept) and returns its index; `add` runs before this returns in either case.
    template <class Add>
    std::size_t take(std::uint64_t n, std::uint64_t first, std::uint64_t last, bool whole_chunks,
                     const Add& add) {
        constexpr std::uint64_t CHUNK = parallel::SUM_CHUNK;
        Entry entry{};
        if (!whole_chunks) {
            entry.done = true;
            entry.value = ordered_sum(context_, n, first, last, add);
            entries_.push_back(entry);
            return entries_.size() - 1;
        }
        entry.offset = partials_.size();
        entry.chunks = static_cast<std::size_t>((last - first) / CHUNK);
        partials_.resize(entry.offset + 2 * entry.chunks);
        double* out = partials_.data() + entry.offset;
        for_each_chunk(last - first, entry.chunks, [&](std::uint64_t c) {
            double* acc = out + 2 * c;
            acc[0] = 0.0;
            acc[1] = 0.0;
            add(first + c * CHUNK, first + (c + 1) * CHUNK, acc);
        });
        entries_.push_back(entry);
        return entries_.size() - 1;
    }

    // Adds the kept partials of every sum in the whole state's order (collective, once).
    void finish() {
        std::vector<double> running(2 * entries_.size());
        relay(context_, std::span<double>(running), [&](std::span<double> sums) {
            for (std::size_t e = 0; e < entries_.size(); ++e) {
                const Entry& entry = entries_[e];
                for (std::size_t c = 0; !entry.done && c < entry.chunks; ++c) {
                    sums[2 * e] += partials_[entry.offset + 2 * c];
                    sums[2 * e + 1] += partials_[entry.offset + 2 * c + 1];
                }
            }
        });
        for (std::size_t e = 0; e < entries_.size(); ++e) {
            if (!entries_[e].done) {
                entries_[e].value = Amplitude(running[2 * e], running[2 * e + 1]);
                entries_[e].done = true;
            }
        }
    }

    // The value of sum `index` (after `finish` for a kept sum).
    Amplitude value(std::size_t index) const noexcept {
        return entries_[index].value;
    }

  private:
    struct Entry {
        bool done;
        Amplitude value;
        std::size_t offset;  // its partials: partials_[offset, + 2 * chunks)
        std::size_t chunks;
    };
    Context& context_;
    std::vector<Entry> entries_;
    std::vector<double> partials_;
};

}  // namespace zel::mpi::detail

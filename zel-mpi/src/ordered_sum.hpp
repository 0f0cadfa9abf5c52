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

}  // namespace zel::mpi::detail

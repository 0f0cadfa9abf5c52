#pragma once

// The two halves of every distributed reduction: the partials of the fixed chunks a rank holds,
// computed on its threads, and their sum in the whole state's chunk order.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "zel/core/parallel.hpp"

#include "context.hpp"

namespace zel::mpi::detail {

// Calls task(c) for every chunk c in [0, chunks) of a pass over `items` elements: on the pool
// when the core's kernels would use it for that many, else as a plain loop. Each chunk's partial
// is computed alone, so the thread count changes no bit.
template <class Task>
void for_each_chunk(std::uint64_t items, std::uint64_t chunks, const Task& task) {
    if (!parallel::detail::pooled(static_cast<std::size_t>(items))) {
        for (std::uint64_t c = 0; c < chunks; ++c) {
            task(c);
        }
        return;
    }
    parallel::detail::run_chunks(static_cast<std::size_t>(chunks), [&task](std::size_t c) {
        task(static_cast<std::uint64_t>(c));
    });
}

// The running sums pass through the ranks in rank order: rank 0 starts them at -0.0, every rank
// adds the partials it holds (fold(running), which must add them in its chunks' order) and hands
// them on, and the last rank's totals are broadcast. The additions are then exactly those of the
// whole state's ascending loop over its chunks, whatever the rank count. Writes the totals to
// `sums` on every rank.
template <class Fold>
void relay(Context& context, std::span<double> sums, const Fold& fold) {
    const int rank = context.rank();
    const int last = context.size() - 1;
    if (rank == 0) {
        std::fill(sums.begin(), sums.end(), -0.0);
    } else {
        context.receive(sums.data(), sums.size(), rank - 1, RELAY_TAG);
    }
    fold(sums);
    if (rank != last) {
        context.send(sums.data(), sums.size(), rank + 1, RELAY_TAG);
    }
    if (last > 0) {
        context.broadcast(sums.data(), sums.size(), last);
    }
}

}  // namespace zel::mpi::detail

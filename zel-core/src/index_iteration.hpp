#pragma once

// Iteration over the amplitudes a gate changes. A one-qubit gate on qubit t pairs index i (bit t
// clear) with i | 2^t; the compressed index c in [0, 2^(n-1)) names the pair whose lower index
// is c with a zero bit inserted at position t. Two-qubit gates use 2^(n-2) compressed indexes
// with zero bits inserted at both positions. Every pair is independent of the others, so any
// visiting order gives bitwise the same result as the plain ascending loop.

#include <algorithm>
#include <cstdint>

namespace zel::detail {

/// `c` with a zero bit inserted at position `bit`.
constexpr std::uint64_t insert_zero_bit(std::uint64_t c, unsigned bit) noexcept {
    const std::uint64_t low = (std::uint64_t{1} << bit) - 1;
    return ((c & ~low) << 1) | (c & low);
}

/// Calls body(i, i | 2^t) for every compressed pair index in [begin, end), as runs of
/// consecutive indexes so that the inner loop vectorises when 2^t is large.
template <class Body>
inline void for_each_pair(std::uint64_t begin, std::uint64_t end, unsigned t, Body&& body) {
    if (t == 0) {
        // Runs of one pair each: the pairs are simply (2c, 2c + 1), one loop without the run
        // bookkeeping.
        for (std::uint64_t c = begin; c < end; ++c) {
            body(2 * c, 2 * c + 1);
        }
        return;
    }
    const std::uint64_t m = std::uint64_t{1} << t;
    std::uint64_t c = begin;
    while (c < end) {
        const std::uint64_t offset = c & (m - 1);
        const std::uint64_t run = std::min(m - offset, end - c);
        const std::uint64_t i = insert_zero_bit(c, t);
        for (std::uint64_t k = 0; k < run; ++k) {
            body(i + k, i + k + m);
        }
        c += run;
    }
}

/// Calls body(i, run) for the runs of consecutive pairs among the compressed pair indexes
/// [begin, end): the pairs (i + k, i + k + 2^t) for k in [0, run).
template <class Body>
inline void for_each_pair_run(std::uint64_t begin, std::uint64_t end, unsigned t, Body&& body) {
    const std::uint64_t m = std::uint64_t{1} << t;
    std::uint64_t c = begin;
    while (c < end) {
        const std::uint64_t run = std::min(m - (c & (m - 1)), end - c);
        body(insert_zero_bit(c, t), run);
        c += run;
    }
}

/// Calls body(base) for every compressed index c in [begin, end), where base is c with zero
/// bits inserted at positions `low` < `high`: the index of the quad's member with both bits
/// clear.
template <class Body>
inline void for_each_quad(std::uint64_t begin, std::uint64_t end, unsigned low, unsigned high,
                          Body&& body) {
    if (low == 0) {
        // Runs of one base each: take runs up to the next `high` boundary instead, along which
        // the base steps by 2.
        const std::uint64_t span = std::uint64_t{1} << (high - 1);
        std::uint64_t c = begin;
        while (c < end) {
            const std::uint64_t run = std::min(span - (c & (span - 1)), end - c);
            const std::uint64_t base = insert_zero_bit(2 * c, high);
            for (std::uint64_t k = 0; k < run; ++k) {
                body(base + 2 * k);
            }
            c += run;
        }
        return;
    }
    const std::uint64_t m = std::uint64_t{1} << low;
    std::uint64_t c = begin;
    while (c < end) {
        const std::uint64_t offset = c & (m - 1);
        const std::uint64_t run = std::min(m - offset, end - c);
        const std::uint64_t base = insert_zero_bit(insert_zero_bit(c, low), high);
        for (std::uint64_t k = 0; k < run; ++k) {
            body(base + k);
        }
        c += run;
    }
}

/// Calls body(base, run) for the runs of consecutive quads among the compressed indexes
/// [begin, end) of qubits `low` < `high`: the quads whose both-clear members are base + k for
/// k in [0, run).
template <class Body>
inline void for_each_quad_run(std::uint64_t begin, std::uint64_t end, unsigned low, unsigned high,
                              Body&& body) {
    const std::uint64_t m = std::uint64_t{1} << low;
    std::uint64_t c = begin;
    while (c < end) {
        const std::uint64_t run = std::min(m - (c & (m - 1)), end - c);
        body(insert_zero_bit(insert_zero_bit(c, low), high), run);
        c += run;
    }
}

}  // namespace zel::detail

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
/// consecutive indexes so that the inner loop vectorises when 2^t is large. The loops here are
/// always inlined, so that they take the instruction set of the kernel clone that calls them.
template <class Body>
[[gnu::always_inline]] inline void for_each_pair(std::uint64_t begin, std::uint64_t end, unsigned t,
                                                 Body&& body) {
    if (t == 0) {
        // Runs of one pair each: the pairs are simply (2c, 2c + 1), one loop without the run
        // bookkeeping.
        for (std::uint64_t c = begin; c < end; ++c) {
            body(2 * c, 2 * c + 1);
        }
        return;
    }
    const std::uint64_t m = std::uint64_t{1} << t;
    if (t == 1 && begin % 2 == 0 && end % 2 == 0) {
        // Two pairs in every four amplitudes, (4q, 4q + 2) and (4q + 1, 4q + 3): a loop of
        // fixed shape that becomes straight vector code, where runs of two pairs did not.
        for (std::uint64_t q = begin / 2; q < end / 2; ++q) {
            body(4 * q, 4 * q + 2);
            body(4 * q + 1, 4 * q + 3);
        }
        return;
    }
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

/// How a loop over pairs prefetches (see for_each_pair_ahead).
enum class Lookahead : unsigned char {
    none,         ///< the plain loop of for_each_pair
    whole,        ///< every line of the coming window, into the first-level cache
    whole_outer,  ///< every line of the coming window, into the second-level cache only
    upper_later,  ///< the lines with bit t set that the loop reaches UPPER_AHEAD_PAIRS pairs
                  ///< later, into the second-level cache only
};

/// Like for_each_pair, for qubits whose pairs lie a few hundred bytes to a few tens of KiB apart.
/// There the loop jumps back and forth between nearby streams, which the hardware prefetchers
/// did not follow: such loops ran at a third of the bandwidth of a straight pass. So the pairs
/// are taken in groups of eight (four on qubit 2, whose runs are four long), and each group
/// first prefetches its share of the next window of
/// 2^max(AHEAD_WINDOW_BITS, t + 1) amplitudes in address order (two amplitudes for every pair
/// done here), which keeps the lines arriving ahead of the loop. A window as large as the
/// first-level cache (from qubit 10) is better prefetched into the second level only, where it
/// does not evict the lines the loop is working on. A kernel that changes only the amplitudes
/// with bit t set may instead prefetch the lines of those amplitudes that it reaches a fixed
/// amount of work later (upper_later): its distance is then the same on every qubit, where the
/// window's grows with the run (qubits 9-11 of 2^24 amplitudes: 0.55-0.65 of a probe pass
/// against 0.73-0.86). Prefetches stop before amplitude `limit`, the end of the state. They
/// change no value, so the results are those of for_each_pair.
inline constexpr unsigned AHEAD_WINDOW_BITS = 10;
inline constexpr std::uint64_t UPPER_AHEAD_PAIRS = 512;  // 8 KiB of the lines changed

template <Lookahead MODE, std::uint64_t GROUP, class Body>
[[gnu::always_inline]] inline void for_each_pair_group(const char* bytes, std::uint64_t limit,
                                                       std::uint64_t begin, std::uint64_t end,
                                                       unsigned t, Body&& body) {
    constexpr std::uint64_t AMPLITUDES_PER_LINE = 4;  // 64-byte lines of 16-byte amplitudes
    constexpr std::uint64_t BYTES_PER_AMPLITUDE = 16;
    const std::uint64_t m = std::uint64_t{1} << t;
    const unsigned window_bits = std::max(AHEAD_WINDOW_BITS, t + 1);
    const std::uint64_t pairs_per_window = std::uint64_t{1} << (window_bits - 1);
    for (std::uint64_t c = begin; c < end; c += GROUP) {
        if constexpr (MODE == Lookahead::upper_later) {
            const std::uint64_t later = c + UPPER_AHEAD_PAIRS;
            if (later + GROUP <= limit / 2) {
                const std::uint64_t first = insert_zero_bit(later, t) | m;
                for (std::uint64_t k = 0; k < GROUP; k += AMPLITUDES_PER_LINE) {
                    __builtin_prefetch(bytes + (first + k) * BYTES_PER_AMPLITUDE, 1, 2);
                }
            }
        } else {
            const std::uint64_t ahead =
                (((c >> (window_bits - 1)) + 1) << window_bits) + 2 * (c & (pairs_per_window - 1));
            if (ahead + 2 * GROUP <= limit) {
                for (std::uint64_t k = 0; k < 2 * GROUP; k += AMPLITUDES_PER_LINE) {
                    __builtin_prefetch(bytes + (ahead + k) * BYTES_PER_AMPLITUDE, 1,
                                       MODE == Lookahead::whole ? 3 : 2);
                }
            }
        }
        const std::uint64_t i = insert_zero_bit(c, t);
        // Kept a loop: unrolled in full, it reached the straight-line vectoriser, which cannot
        // rule out that the two runs overlap and left the group scalar.
#pragma GCC unroll 1
        for (std::uint64_t k = 0; k < GROUP; ++k) {
            body(i + k, i + k + m);
        }
    }
}

template <Lookahead MODE, class Body>
[[gnu::always_inline]] inline void for_each_pair_ahead(const void* amplitudes, std::uint64_t limit,
                                                       std::uint64_t begin, std::uint64_t end,
                                                       unsigned t, Body&& body) {
    // A group of pairs lies within one run of 2^t when it starts on a multiple of its size.
    const auto* bytes = static_cast<const char*>(amplitudes);
    if (t >= 3 && begin % 8 == 0 && end % 8 == 0) {
        for_each_pair_group<MODE, 8>(bytes, limit, begin, end, t, body);
    } else if (t == 2 && begin % 4 == 0 && end % 4 == 0) {
        for_each_pair_group<MODE, 4>(bytes, limit, begin, end, t, body);
    } else {
        for_each_pair(begin, end, t, body);
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

/// How a loop over the quads of a two-qubit gate prefetches (for_each_quad_ahead).
enum class QuadLookahead : unsigned char {
    none,        ///< the plain loop of for_each_quad
    touched,     ///< the lines of the two members the kernel changes, into the second-level cache
    whole,       ///< the lines of all four members, into the second-level cache
    whole_near,  ///< the lines of all four members, into the first-level cache
};

/// Like for_each_quad for a kernel that changes the members base | first and base | second of
/// each quad (lower qubit 0 or 1: with the upper qubit 3 or more). With the lower qubit between 2
/// and 10 such a kernel changes runs of 64 B to 16 KiB here and there, a pattern the hardware
/// prefetchers do not follow: CX with its control on qubit 3 took 3.3 times as long as a whole
/// in-place pass over the state, for half of its lines; with the lower qubit on 0 or 1 the upper
/// one sets a similar pattern (CX with its target on qubit 0 and control on 3: 4.3 passes). So
/// the quads are taken four at a time (one line of each member, or two lines on each side of
/// the upper qubit when the lower is 0 or 1), each four first prefetching the lines of the quads
/// QUAD_AHEAD later, as MODE says. Prefetches stop before amplitude `limit`, the end of the
/// state, and change no value.
inline constexpr std::uint64_t QUAD_AHEAD = 512;

template <QuadLookahead MODE, class Body>
[[gnu::always_inline]] inline void for_each_quad_ahead(const void* amplitudes, std::uint64_t limit,
                                                       std::uint64_t begin, std::uint64_t end,
                                                       unsigned low, unsigned high,
                                                       std::uint64_t first, std::uint64_t second,
                                                       Body&& body) {
    constexpr std::uint64_t GROUP = 4;  // quads per line of each member when low >= 2
    constexpr std::uint64_t BYTES_PER_AMPLITUDE = 16;
    constexpr std::uint64_t AMPLITUDES_PER_LINE = 4;
    if (MODE == QuadLookahead::none || (low < 2 && high < 3) || begin % GROUP != 0 ||
        end % GROUP != 0) {
        for_each_quad(begin, end, low, high, body);
        return;
    }
    // With the lower qubit 0 or 1 a group of four quads covers an aligned run of eight
    // amplitudes on each side of `high`, two lines each; its bases lie at these offsets.
    const bool narrow = low < 2;
    constexpr std::uint64_t NARROW_OFFSETS[2][GROUP] = {{0, 2, 4, 6}, {0, 1, 4, 5}};
    const auto* bytes = static_cast<const char*>(amplitudes);
    constexpr int LOCALITY = MODE == QuadLookahead::whole_near ? 3 : 2;
    const std::uint64_t low_bit = std::uint64_t{1} << low;
    const std::uint64_t high_bit = std::uint64_t{1} << high;
    const std::uint64_t both = low_bit | high_bit;
    for (std::uint64_t c = begin; c < end; c += GROUP) {
        const std::uint64_t later = c + QUAD_AHEAD;
        if (later + GROUP <= limit / 4) {
            // Written out rather than through a helper lambda: GCC may drop a call whose body
            // only prefetches.
            const std::uint64_t base = insert_zero_bit(insert_zero_bit(later, low), high);
            if (narrow) {
                // Touched: the sides of `high` that the changed members lie on; else both.
                const std::uint64_t one = MODE == QuadLookahead::touched ? first & high_bit : 0;
                const std::uint64_t two =
                    MODE == QuadLookahead::touched ? second & high_bit : high_bit;
                __builtin_prefetch(bytes + (base | one) * BYTES_PER_AMPLITUDE, 1, LOCALITY);
                __builtin_prefetch(
                    bytes + ((base | one) + AMPLITUDES_PER_LINE) * BYTES_PER_AMPLITUDE, 1,
                    LOCALITY);
                __builtin_prefetch(bytes + (base | two) * BYTES_PER_AMPLITUDE, 1, LOCALITY);
                __builtin_prefetch(
                    bytes + ((base | two) + AMPLITUDES_PER_LINE) * BYTES_PER_AMPLITUDE, 1,
                    LOCALITY);
            } else if constexpr (MODE == QuadLookahead::touched) {
                __builtin_prefetch(bytes + (base | first) * BYTES_PER_AMPLITUDE, 1, LOCALITY);
                __builtin_prefetch(bytes + (base | second) * BYTES_PER_AMPLITUDE, 1, LOCALITY);
            } else {
                __builtin_prefetch(bytes + base * BYTES_PER_AMPLITUDE, 1, LOCALITY);
                __builtin_prefetch(bytes + (base | low_bit) * BYTES_PER_AMPLITUDE, 1, LOCALITY);
                __builtin_prefetch(bytes + (base | high_bit) * BYTES_PER_AMPLITUDE, 1, LOCALITY);
                __builtin_prefetch(bytes + (base | both) * BYTES_PER_AMPLITUDE, 1, LOCALITY);
            }
        }
        const std::uint64_t base = insert_zero_bit(insert_zero_bit(c, low), high);
        if (narrow) {
            for (const std::uint64_t offset : NARROW_OFFSETS[low]) {
                body(base + offset);
            }
            continue;
        }
#pragma GCC unroll 1
        for (std::uint64_t k = 0; k < GROUP; ++k) {
            body(base + k);
        }
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

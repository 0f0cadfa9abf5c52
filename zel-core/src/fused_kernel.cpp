// Compiled with -ffp-contract=fast (see CMakeLists.txt): the fused path is not bit-fixed, and
// multiply-adds contracted into FMA where the CPU has it are faster and no less accurate.
//
// A group is the 2^k amplitudes that differ only in the block's qubits. The kernel takes groups in
// pairs that differ in one more bit, the lane bit; the compressed index p numbers the pairs (p
// with zero bits inserted at the block's qubits and the lane bit is the base index of the first
// group). Consecutive pairs lie next to each other in every one of the 2^k streams, so each
// cache line read serves several of them.

#include "fused_kernel.hpp"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>

#include "index_iteration.hpp"

// The vector helpers below are always inlined, so the ABI of passing 32-byte vectors, which
// differs between the baseline and the AVX2 builds, never applies; the compilers warn about it
// at the uses and at the end of the file, so the warning stays off for the whole file.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace zel::detail {
namespace {

// Four doubles (two complex amplitudes, real part first) as one vector: AVX2 registers in the
// AVX2 build of the kernel, pairs of SSE2 registers in the baseline one.
using Vec = double __attribute__((vector_size(32)));

[[gnu::always_inline]] inline Vec load(const double* p) noexcept {
    Vec v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

[[gnu::always_inline]] inline void store(double* p, const Vec& v) noexcept {
    std::memcpy(p, &v, sizeof v);
}

// Two doubles, one complex amplitude.
using Half = double __attribute__((vector_size(16)));

// Loads the amplitudes at `p` and `p + stride` (complex, in doubles) as one vector: one 32-byte
// load when they are neighbours, else two 16-byte halves joined in registers.
template <bool NEIGHBOURS>
[[gnu::always_inline]] inline Vec load_lanes(const double* p, std::uint64_t stride) noexcept {
    if constexpr (NEIGHBOURS) {
        return load(p);
    } else {
        Half low;
        Half high;
        std::memcpy(&low, p, sizeof low);
        std::memcpy(&high, p + stride, sizeof high);
        return __builtin_shufflevector(low, high, 0, 1, 2, 3);
    }
}

template <bool NEIGHBOURS>
[[gnu::always_inline]] inline void store_lanes(double* p, std::uint64_t stride,
                                               const Vec& v) noexcept {
    if constexpr (NEIGHBOURS) {
        store(p, v);
    } else {
        const Half low = __builtin_shufflevector(v, v, 0, 1);
        const Half high = __builtin_shufflevector(v, v, 2, 3);
        std::memcpy(p, &low, sizeof low);
        std::memcpy(p + stride, &high, sizeof high);
    }
}

// The memory a block touches, seen per stream: the block's qubits from WINDOW_FROM up (and at
// least from qubit 10) split the state into 2^h streams far apart; the qubits below, with the lane
// bit, scatter the accesses within windows of 2^t amplitudes (t the highest of them + 1) that each
// stream takes one after another. Streams whose accesses jump back and forth within a few KiB
// (qubits 5 to 11) ran at a third of the bandwidth here: the hardware prefetchers did not follow
// them. So each pair of groups also prefetches, in every stream, its share of the window the pairs
// one window later will use, in address order, which keeps them at full speed.
constexpr unsigned WINDOW_FROM = 12;
constexpr unsigned SMALLEST_WINDOW = 10;
constexpr unsigned NEAR_FROM = 5;

template <unsigned K>
struct PrefetchPlan {
    bool active = false;
    std::uint64_t pairs_per_window = 0;
    std::uint64_t window_mask = 0;
    std::uint64_t share = 0;  // doubles of each stream's window per pair of groups
    std::size_t streams = 0;
    std::uint64_t stream_offsets[std::size_t{1} << K] = {};

    PrefetchPlan(const BlockKernelArgs& block, const unsigned* bits) noexcept {
        unsigned window_bits = SMALLEST_WINDOW;
        for (unsigned j = 0; j < K; ++j) {
            if (block.qubits[j] < WINDOW_FROM && block.qubits[j] >= NEAR_FROM) {
                active = true;
            }
            if (block.qubits[j] < WINDOW_FROM && block.qubits[j] + 1 > window_bits) {
                window_bits = static_cast<unsigned>(block.qubits[j]) + 1;
            }
        }
        unsigned inserted = 0;
        for (unsigned j = 0; j <= K; ++j) {
            inserted += bits[j] < window_bits ? 1U : 0U;
        }
        pairs_per_window = std::uint64_t{1} << (window_bits - inserted);
        window_mask = ~((std::uint64_t{1} << window_bits) - 1);
        share = std::uint64_t{2} << inserted;
        std::uint64_t far[K];
        unsigned count = 0;
        for (unsigned j = 0; j < K; ++j) {
            if (block.qubits[j] >= window_bits) {
                far[count++] = std::uint64_t{1} << block.qubits[j];
            }
        }
        streams = std::size_t{1} << count;
        for (std::size_t s = 0; s < streams; ++s) {
            std::uint64_t offset = 0;
            for (unsigned j = 0; j < count; ++j) {
                offset |= ((s >> j) & 1U) != 0 ? far[j] : 0;
            }
            stream_offsets[s] = 2 * offset;
        }
    }

    // Prefetches, for the pair p, its share of the windows that start the pair one window later
    // (whose base index is `ahead`).
    [[gnu::always_inline]] void prefetch(const double* parts, std::uint64_t ahead,
                                         std::uint64_t p) const noexcept {
        constexpr std::uint64_t LINE = 8;  // doubles per cache line
        const std::uint64_t start =
            2 * (ahead & window_mask) + (p & (pairs_per_window - 1)) * share;
        for (std::size_t s = 0; s < streams; ++s) {
            const double* at = parts + start + stream_offsets[s];
            for (std::uint64_t d = 0; d < share; d += LINE) {
                __builtin_prefetch(at + d, 1, 3);
            }
        }
    }
};

// The matrix-vector product of two groups at once, vectorised across the groups: lane pair 0
// holds an amplitude of the first group, lane pair 1 the same amplitude of the second. For each
// output row, one accumulator gathers re(m) x and another im(m) x over the columns; the row is
// then re-part + i im-part, that is (a.re - b.im, a.im + b.re). Every input is loaded once and
// every output stored once, as whole vectors when the two groups are neighbours in memory
// (lane bit 0); the loop runs at the rate of the multiply-adds.
// One block applied to a range of pairs of groups.
template <unsigned K, bool NEIGHBOURS>
struct BlockPass {
    static constexpr std::size_t D = std::size_t{1} << K;
    // Rows per pass over the inputs: two keep the accumulators and the inputs of a 3-qubit block
    // in the sixteen vector registers of AVX2.
    static constexpr std::size_t ROWS = 2;

    double* parts;
    const BlockKernelArgs& block;
    std::uint64_t stride;
    std::uint64_t offsets[D];
    // The inserted bits, ascending: the block's qubits and the lane bit.
    unsigned bits[K + 1];

    BlockPass(double* parts_in, const BlockKernelArgs& block_in) noexcept
        : parts(parts_in), block(block_in), stride(std::uint64_t{2} << block_in.lane_bit) {
        for (std::size_t c = 0; c < D; ++c) {
            std::uint64_t offset = 0;
            for (unsigned j = 0; j < K; ++j) {
                if (((c >> j) & 1U) != 0) {
                    offset |= std::uint64_t{1} << block.qubits[j];
                }
            }
            offsets[c] = 2 * offset;
        }
        // The qubits in the matrix's order, sorted in with the lane bit.
        for (unsigned j = 0; j <= K; ++j) {
            unsigned at = j;
            const auto inserted = static_cast<unsigned>(j < K ? block.qubits[j] : block.lane_bit);
            for (; at > 0 && bits[at - 1] > inserted; --at) {
                bits[at] = bits[at - 1];
            }
            bits[at] = inserted;
        }
    }

    [[gnu::always_inline]] std::uint64_t base_of(std::uint64_t p) const noexcept {
        for (unsigned j = 0; j <= K; ++j) {
            p = insert_zero_bit(p, bits[j]);
        }
        return p;
    }

    // The matrix for the selector qubits' values in `base`.
    [[gnu::always_inline]] const double* matrix_at(std::uint64_t base) const noexcept {
        std::uint64_t which = 0;
        for (unsigned j = 0; j < block.selector_count; ++j) {
            which |= ((base >> block.selectors[j]) & 1U) << j;
        }
        return block.coefficients + which * (D * D * 8);
    }

    // Pairs of groups in a row that share the selector qubits' values: from p up to the next
    // multiple of this. Selector qubits are bits of the compressed index too, above the mixed
    // qubits and the lane bit that lie below them.
    [[gnu::always_inline]] std::uint64_t same_matrix_run() const noexcept {
        if (block.selector_count == 0) {
            return ~std::uint64_t{0};
        }
        const auto lowest = static_cast<unsigned>(block.selectors[0]);
        unsigned below = 0;
        for (unsigned j = 0; j <= K; ++j) {
            below += bits[j] < lowest ? 1U : 0U;
        }
        return std::uint64_t{1} << (lowest - below);
    }

    [[gnu::always_inline]] void apply(std::uint64_t p, const double* m) const noexcept {
        const Vec sign = {-1.0, 1.0, -1.0, 1.0};
        const std::uint64_t base = base_of(p);
        double* group = parts + 2 * base;
        Vec x[D];
#pragma GCC unroll 16
        for (std::size_t c = 0; c < D; ++c) {
            x[c] = load_lanes<NEIGHBOURS>(group + offsets[c], stride);
        }
#pragma GCC unroll 16
        for (std::size_t r = 0; r < D; r += ROWS) {
            Vec re[ROWS] = {};
            Vec im[ROWS] = {};
#pragma GCC unroll 16
            for (std::size_t c = 0; c < D; ++c) {
#pragma GCC unroll 16
                for (std::size_t s = 0; s < ROWS; ++s) {
                    const double* entry = m + ((r + s) * D + c) * 8;
                    re[s] += load(entry) * x[c];
                    im[s] += load(entry + 4) * x[c];
                }
            }
#pragma GCC unroll 16
            for (std::size_t s = 0; s < ROWS; ++s) {
                const Vec turned = __builtin_shufflevector(im[s], im[s], 1, 0, 3, 2);
                store_lanes<NEIGHBOURS>(group + offsets[r + s], stride, re[s] + sign * turned);
            }
        }
    }
};

template <unsigned K, bool NEIGHBOURS>
[[gnu::always_inline]] inline void block_pairs(double* parts, const BlockKernelArgs& block,
                                               std::uint64_t begin, std::uint64_t end) noexcept {
    const BlockPass<K, NEIGHBOURS> pass(parts, block);
    const PrefetchPlan<K> plan(block, pass.bits);
    const std::uint64_t run = pass.same_matrix_run();
    for (std::uint64_t p = begin; p < end;) {
        const double* m = pass.matrix_at(pass.base_of(p));
        const std::uint64_t run_end = std::min(end, (p | (run - 1)) + 1);
        for (; p < run_end; ++p) {
            if (plan.active && p + plan.pairs_per_window < end) {
                plan.prefetch(parts, pass.base_of(p + plan.pairs_per_window), p);
            }
            pass.apply(p, m);
        }
    }
}

template <unsigned K>
[[gnu::always_inline]] inline void block_groups(double* parts, const BlockKernelArgs& block,
                                                std::uint64_t begin, std::uint64_t end) noexcept {
    if (block.lane_bit == 0) {
        block_pairs<K, true>(parts, block, begin, end);
    } else {
        block_pairs<K, false>(parts, block, begin, end);
    }
}

// The block sizes, in one switch compiled twice: for the baseline instruction set, and with AVX2
// and FMA (the templates above are inlined into each).
[[gnu::always_inline]] inline void any_block(double* parts, const BlockKernelArgs& block,
                                             std::uint64_t begin, std::uint64_t end) noexcept {
    switch (block.k) {
        case 1:
            block_groups<1>(parts, block, begin, end);
            return;
        case 2:
            block_groups<2>(parts, block, begin, end);
            return;
        case 3:
            block_groups<3>(parts, block, begin, end);
            return;
        case 4:
            block_groups<4>(parts, block, begin, end);
            return;
        case 5:
            block_groups<5>(parts, block, begin, end);
            return;
        case 6:
            block_groups<6>(parts, block, begin, end);
            return;
        default:
            return;
    }
}

void blocks_baseline(double* parts, const BlockKernelArgs& block, std::uint64_t begin,
                     std::uint64_t end) noexcept {
    any_block(parts, block, begin, end);
}

#if defined(__x86_64__)
[[gnu::target("avx2,fma")]] void blocks_avx2_fma(double* parts, const BlockKernelArgs& block,
                                                 std::uint64_t begin, std::uint64_t end) noexcept {
    any_block(parts, block, begin, end);
}
#endif

using BlocksFn = void (*)(double*, const BlockKernelArgs&, std::uint64_t, std::uint64_t) noexcept;

BlocksFn blocks_for(BlockIsa isa) noexcept {
    switch (isa) {
        case BlockIsa::Baseline:
            return blocks_baseline;
        case BlockIsa::Avx2:
#if defined(__x86_64__)
            return blocks_avx2_fma;
#else
            return nullptr;
#endif
    }
    return nullptr;
}

// The best variant the CPU runs, chosen once, on first use; tests may choose another.
std::atomic<BlocksFn>& chosen_blocks() noexcept {
    static std::atomic<BlocksFn> chosen = [] {
        return blocks_for(block_isa_supported(BlockIsa::Avx2) ? BlockIsa::Avx2
                                                              : BlockIsa::Baseline);
    }();
    return chosen;
}

}  // namespace

PreparedBlock prepare_block(const std::vector<std::complex<double>>& matrix,
                            const std::vector<std::uint64_t>& qubits) {
    const std::size_t k = qubits.size();
    const std::size_t d = std::size_t{1} << k;
    std::size_t mixed_mask = 0;
    for (std::size_t r = 0; r < d; ++r) {
        for (std::size_t c = 0; c < d; ++c) {
            if (matrix[r * d + c] != std::complex<double>{}) {
                mixed_mask |= r ^ c;
            }
        }
    }
    if (mixed_mask == 0) {
        mixed_mask = 1;
    }
    PreparedBlock prepared;
    std::vector<std::size_t> mixed_bits;
    for (std::size_t j = 0; j < k; ++j) {
        if (((mixed_mask >> j) & 1U) != 0) {
            prepared.mixed.push_back(qubits[j]);
            mixed_bits.push_back(j);
        }
    }
    while (std::binary_search(prepared.mixed.begin(), prepared.mixed.end(), prepared.lane_bit)) {
        ++prepared.lane_bit;
    }
    // The lane bit may be one of the block's qubits that select: the two lanes then take the
    // entries of their own matrices.
    std::size_t lane_local = k;
    std::vector<std::size_t> selector_bits;
    for (std::size_t j = 0; j < k; ++j) {
        if (((mixed_mask >> j) & 1U) != 0) {
            continue;
        }
        if (qubits[j] == prepared.lane_bit) {
            lane_local = j;
        } else {
            prepared.selectors.push_back(qubits[j]);
            selector_bits.push_back(j);
        }
    }
    // Local index of the full matrix from values of some of its bits.
    const auto local = [](std::size_t value, const std::vector<std::size_t>& positions) {
        std::size_t index = 0;
        for (std::size_t j = 0; j < positions.size(); ++j) {
            index |= ((value >> j) & 1U) << positions[j];
        }
        return index;
    };
    const std::size_t lane_value = lane_local < k ? std::size_t{1} << lane_local : 0;
    const std::size_t dm = std::size_t{1} << mixed_bits.size();
    const std::size_t selections = std::size_t{1} << selector_bits.size();
    prepared.coefficients.resize(selections * dm * dm * 8);
    double* out = prepared.coefficients.data();
    for (std::size_t v = 0; v < selections; ++v) {
        const std::size_t fixed = local(v, selector_bits);
        for (std::size_t r = 0; r < dm; ++r) {
            for (std::size_t c = 0; c < dm; ++c) {
                for (std::size_t lane = 0; lane < 2; ++lane) {
                    const std::size_t row = fixed | local(r, mixed_bits) | (lane * lane_value);
                    const std::size_t column = fixed | local(c, mixed_bits) | (lane * lane_value);
                    const std::complex<double> entry = matrix[row * d + column];
                    out[2 * lane] = entry.real();
                    out[2 * lane + 1] = entry.real();
                    out[4 + 2 * lane] = entry.imag();
                    out[4 + 2 * lane + 1] = entry.imag();
                }
                out += 8;
            }
        }
    }
    return prepared;
}

bool block_isa_supported(BlockIsa isa) noexcept {
    switch (isa) {
        case BlockIsa::Baseline:
            return true;
        case BlockIsa::Avx2:
#if defined(__x86_64__)
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
            return false;
#endif
    }
    return false;
}

void use_block_isa(BlockIsa isa) noexcept {
    if (block_isa_supported(isa)) {
        chosen_blocks().store(blocks_for(isa), std::memory_order_relaxed);
    }
}

void apply_block_range(std::complex<double>* psi, const BlockKernelArgs& block, std::uint64_t begin,
                       std::uint64_t end) noexcept {
    chosen_blocks().load(std::memory_order_relaxed)(reinterpret_cast<double*>(psi), block, begin,
                                                    end);
}

}  // namespace zel::detail

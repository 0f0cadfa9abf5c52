// Compiled with -ffp-contract=fast (see CMakeLists.txt): the fused path is not bit-fixed, and
// multiply-adds contracted into FMA where the CPU has it are faster and no less accurate.
//
// A group is the 2^k amplitudes that differ only in the block's qubits; the compressed index g
// numbers the groups (g with zero bits inserted at the block's qubits is the group's base index).
// Consecutive groups lie next to each other in every one of the 2^k streams, so each cache line
// read serves several groups.

#include "fused_kernel.hpp"

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

[[gnu::always_inline]] inline Vec splat(double x) noexcept {
    return Vec{x, x, x, x};
}


// The matrix-vector product of each group, vectorised across the rows: for each column's
// amplitude x = xr + i xi, every pair of output rows (2h, 2h + 1) gains A xr + B xi, where A
// holds the column's two entries and B = i A, both prepared in BlockKernelArgs::row_pairs. The
// amplitudes are read once each as broadcasts, the matrix as whole vectors, so the loop runs at
// the rate of the multiply-adds; each pair of output rows is stored as two halves.
template <unsigned K>
[[gnu::always_inline]] inline void block_groups(double* parts, const BlockKernelArgs& block,
                                                std::uint64_t begin, std::uint64_t end) noexcept {
    constexpr std::size_t D = std::size_t{1} << K;
    constexpr std::size_t PAIRS = D / 2;
    std::uint64_t offsets[D];
    for (std::size_t c = 0; c < D; ++c) {
        std::uint64_t offset = 0;
        for (unsigned j = 0; j < K; ++j) {
            if (((c >> j) & 1U) != 0) {
                offset |= std::uint64_t{1} << block.qubits[j];
            }
        }
        offsets[c] = offset;
    }
    const double* a = block.row_pairs;
    const double* b = block.row_pairs_swapped;
    // Blocks of one or two qubits take two groups at a time, with the real and imaginary
    // contributions in separate accumulators, so that enough independent multiply-add chains are
    // in flight to hide their latency; larger blocks have enough rows for that already.
    constexpr std::size_t GROUPS = 2;
    std::uint64_t g = begin;
    for (; K <= 2 && g + GROUPS <= end; g += GROUPS) {
        std::uint64_t bases[GROUPS];
        for (std::size_t n = 0; n < GROUPS; ++n) {
            std::uint64_t base = g + n;
            for (unsigned j = 0; j < K; ++j) {
                base = insert_zero_bit(base, static_cast<unsigned>(block.qubits[j]));
            }
            bases[n] = base;
        }
        Vec from_re[GROUPS][PAIRS] = {};
        Vec from_im[GROUPS][PAIRS] = {};
        for (std::size_t c = 0; c < D; ++c) {
            Vec xr[GROUPS];
            Vec xi[GROUPS];
            for (std::size_t n = 0; n < GROUPS; ++n) {
                const double* amplitude = parts + 2 * (bases[n] + offsets[c]);
                xr[n] = splat(amplitude[0]);
                xi[n] = splat(amplitude[1]);
            }
            for (std::size_t h = 0; h < PAIRS; ++h) {
                const Vec column = load(a + 4 * (c * PAIRS + h));
                const Vec turned = load(b + 4 * (c * PAIRS + h));
                for (std::size_t n = 0; n < GROUPS; ++n) {
                    from_re[n][h] += column * xr[n];
                    from_im[n][h] += turned * xi[n];
                }
            }
        }
        for (std::size_t n = 0; n < GROUPS; ++n) {
            for (std::size_t h = 0; h < PAIRS; ++h) {
                double halves[4];
                store(halves, from_re[n][h] + from_im[n][h]);
                std::memcpy(parts + 2 * (bases[n] + offsets[2 * h]), halves, 2 * sizeof(double));
                std::memcpy(parts + 2 * (bases[n] + offsets[2 * h + 1]), halves + 2,
                            2 * sizeof(double));
            }
        }
    }
    // One group at a time: larger blocks, and a last odd group of a small one.
    for (; g < end; ++g) {
        std::uint64_t base = g;
        for (unsigned j = 0; j < K; ++j) {
            base = insert_zero_bit(base, static_cast<unsigned>(block.qubits[j]));
        }
        Vec acc[PAIRS] = {};
        for (std::size_t c = 0; c < D; ++c) {
            const double* amplitude = parts + 2 * (base + offsets[c]);
            const Vec xr = splat(amplitude[0]);
            const Vec xi = splat(amplitude[1]);
            for (std::size_t h = 0; h < PAIRS; ++h) {
                acc[h] += load(a + 4 * (c * PAIRS + h)) * xr + load(b + 4 * (c * PAIRS + h)) * xi;
            }
        }
        for (std::size_t h = 0; h < PAIRS; ++h) {
            double halves[4];
            store(halves, acc[h]);
            std::memcpy(parts + 2 * (base + offsets[2 * h]), halves, 2 * sizeof(double));
            std::memcpy(parts + 2 * (base + offsets[2 * h + 1]), halves + 2, 2 * sizeof(double));
        }
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

// Chosen once, on first use, from the features the CPU reports.
BlocksFn chosen_blocks() noexcept {
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
        return blocks_avx2_fma;
    }
#endif
    return blocks_baseline;
}

}  // namespace

void apply_block_range(std::complex<double>* psi, const BlockKernelArgs& block, std::uint64_t begin,
                       std::uint64_t end) noexcept {
    static const BlocksFn blocks = chosen_blocks();
    blocks(reinterpret_cast<double*>(psi), block, begin, end);
}

}  // namespace zel::detail

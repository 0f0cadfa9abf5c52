// Compiled with -ffp-contract=fast (see CMakeLists.txt): the fused path is not bit-fixed, and
// multiply-adds contracted into FMA where the CPU has it are faster and no less accurate.
//
// A group is the 2^k amplitudes that differ only in the block's qubits. The kernel takes groups in
// pairs that differ in one more bit, the lane bit; the compressed index p numbers the pairs (p
// with zero bits inserted at the block's qubits and the lane bit is the base index of the first
// group). Consecutive pairs lie next to each other in every one of the 2^k streams, so each
// cache line read serves several of them.

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

// The matrix-vector product of two groups at once, vectorised across the groups: lane pair 0
// holds an amplitude of the first group, lane pair 1 the same amplitude of the second. For each
// output row, one accumulator gathers re(m) x and another im(m) x over the columns; the row is
// then re-part + i im-part, that is (a.re - b.im, a.im + b.re). Every input is loaded once and
// every output stored once, as whole vectors when the two groups are neighbours in memory
// (lane bit 0); the loop runs at the rate of the multiply-adds.
template <unsigned K, bool NEIGHBOURS>
[[gnu::always_inline]] inline void block_pairs(double* parts, const BlockKernelArgs& block,
                                               std::uint64_t begin, std::uint64_t end) noexcept {
    constexpr std::size_t D = std::size_t{1} << K;
    // Rows per pass over the inputs: two keep the accumulators and the inputs of a 3-qubit block
    // in the sixteen vector registers.
    constexpr std::size_t ROWS = 2;
    std::uint64_t offsets[D];
    for (std::size_t c = 0; c < D; ++c) {
        std::uint64_t offset = 0;
        for (unsigned j = 0; j < K; ++j) {
            if (((c >> j) & 1U) != 0) {
                offset |= std::uint64_t{1} << block.qubits[j];
            }
        }
        offsets[c] = 2 * offset;
    }
    // The inserted bits, ascending: the block's qubits and the lane bit.
    unsigned bits[K + 1];
    {
        unsigned j = 0;
        unsigned out = 0;
        for (; j < K && block.qubits[j] < block.lane_bit; ++j) {
            bits[out++] = static_cast<unsigned>(block.qubits[j]);
        }
        bits[out++] = block.lane_bit;
        for (; j < K; ++j) {
            bits[out++] = static_cast<unsigned>(block.qubits[j]);
        }
    }
    const std::uint64_t stride = std::uint64_t{2} << block.lane_bit;
    const double* m = block.coefficients;
    const Vec sign = {-1.0, 1.0, -1.0, 1.0};
    for (std::uint64_t p = begin; p < end; ++p) {
        std::uint64_t base = p;
        for (unsigned j = 0; j <= K; ++j) {
            base = insert_zero_bit(base, bits[j]);
        }
        double* group = parts + 2 * base;
        Vec x[D];
        for (std::size_t c = 0; c < D; ++c) {
            x[c] = load_lanes<NEIGHBOURS>(group + offsets[c], stride);
        }
        for (std::size_t r = 0; r < D; r += ROWS) {
            Vec re[ROWS] = {};
            Vec im[ROWS] = {};
            for (std::size_t c = 0; c < D; ++c) {
                for (std::size_t s = 0; s < ROWS; ++s) {
                    const double* entry = m + ((r + s) * D + c) * 8;
                    re[s] += load(entry) * x[c];
                    im[s] += load(entry + 4) * x[c];
                }
            }
            for (std::size_t s = 0; s < ROWS; ++s) {
                const Vec turned = __builtin_shufflevector(im[s], im[s], 1, 0, 3, 2);
                store_lanes<NEIGHBOURS>(group + offsets[r + s], stride, re[s] + sign * turned);
            }
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

std::vector<double> block_coefficients(const std::vector<std::complex<double>>& matrix) {
    std::vector<double> coefficients(8 * matrix.size());
    for (std::size_t e = 0; e < matrix.size(); ++e) {
        for (std::size_t l = 0; l < 4; ++l) {
            coefficients[8 * e + l] = matrix[e].real();
            coefficients[8 * e + 4 + l] = matrix[e].imag();
        }
    }
    return coefficients;
}

void apply_block_range(std::complex<double>* psi, const BlockKernelArgs& block, std::uint64_t begin,
                       std::uint64_t end) noexcept {
    static const BlocksFn blocks = chosen_blocks();
    blocks(reinterpret_cast<double*>(psi), block, begin, end);
}

}  // namespace zel::detail

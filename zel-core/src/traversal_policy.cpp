// The far-pair traversal by CPU: which CPUs fold address bits into way tags, and the setting the
// kernels read.

#include <algorithm>
#include <atomic>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "zel/core/detail/kernels.hpp"

#include "traversal_policy.hpp"

namespace zel::detail {
namespace {

// Amplitudes 2^24 or more apart (256 MiB) are far apart on CPUs whose first-level data cache
// predicts a line's way from a tag folded out of address bits 12-27 (same_line_tag): from bit 28
// of the address, partners share that tag, and a kernel that streams both regions at once ran
// 3-7x slower than one over nearby pairs (AMD family 19h: H on the top qubit of 2^26 amplitudes,
// 512 MiB apart, 465 ms against 102 ms on a middle qubit; CX and SWAP on qubits 24 and 25: 6x),
// while 128 MiB apart (top qubit of 2^24) showed no penalty. There such kernels copy a block of
// the upper region into a buffer that stays in the first-level cache, work against it and write
// it back: about 4x faster, but 1.3-1.8x slower than the direct loop on nearby pairs, hence the
// threshold. The one-qubit kinds, and CX and SWAP on pairs far apart, take steps of
// STREAM_BLOCK amplitudes and write the buffer back past the caches (stream_out); `block` is the
// shortest run for which CX and SWAP take a buffer, and the step of the SWAP pairs that share a
// way tag. On AMD family 1Ah the straight loops ran at the probe's speed on these qubits and the
// buffer only cost (CX on qubits {23, 24} of 2^26 amplitudes 131 ms against 20 ms, SWAP on
// {24, 25} 130 against 21 ms), so the threshold is chosen for the CPU when the library first
// needs it (default_far_pair_traversal). Tests lower both values to reach these paths on small
// states.
constexpr unsigned FAR_FROM_UNSET = ~0U;
std::atomic<unsigned> far_from_qubit{FAR_FROM_UNSET};
std::atomic<std::uint64_t> far_block{FarPairTraversal{}.block};

// Whether the first-level data cache of the CPU this runs on folds address bits 12-27 into the
// tag that predicts a line's way: AMD families 17h and 19h, as public reverse-engineering of
// their way predictor describes it and as measured here on 19h. Family 1Ah, measured here too,
// showed no such penalty; other vendors have no way predictor of this kind.
bool folds_way_tags() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0) {
        return false;
    }
    // "AuthenticAMD", read from EBX, EDX, ECX in that order.
    const bool amd = ebx == 0x68747541U && edx == 0x69746e65U && ecx == 0x444d4163U;
    if (!amd || __get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
        return false;
    }
    const unsigned base_family = (eax >> 8U) & 0xFU;
    const unsigned family =
        base_family == 0xFU ? base_family + ((eax >> 20U) & 0xFFU) : base_family;
    return family == 0x17U || family == 0x19U;
#else
    return false;
#endif
}

// The qubit from which the pair kernels take the blocked traversal: the CPU's default until a
// test or benchmark sets another.
}  // namespace

unsigned far_from() noexcept {
    unsigned from = far_from_qubit.load(std::memory_order_relaxed);
    if (from == FAR_FROM_UNSET) {
        const unsigned chosen = default_far_pair_traversal().from_qubit;
        far_from_qubit.compare_exchange_strong(from, chosen, std::memory_order_relaxed);
        from = far_from_qubit.load(std::memory_order_relaxed);
    }
    return from;
}

std::uint64_t far_block_size() noexcept {
    return far_block.load(std::memory_order_relaxed);
}

FarPairTraversal default_far_pair_traversal() noexcept {
    FarPairTraversal traversal;
    if (!folds_way_tags()) {
        traversal.from_qubit = 64;
    }
    return traversal;
}

FarPairTraversal far_pair_traversal() noexcept {
    return {far_from(), far_block.load(std::memory_order_relaxed)};
}

void set_far_pair_traversal(FarPairTraversal traversal) noexcept {
    far_from_qubit.store(traversal.from_qubit, std::memory_order_relaxed);
    far_block.store(std::clamp<std::uint64_t>(traversal.block, 1, FarPairTraversal::MAX_BLOCK),
                    std::memory_order_relaxed);
}

}  // namespace zel::detail

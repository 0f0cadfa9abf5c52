#pragma once

// Entry points into the gate kernels below the level of a whole state, for components built on
// the core that hold amplitudes in pieces (the distributed state of zel-mpi) and for the tests
// of the kernels' traversals. The arithmetic is exactly that of ZarnikState::apply_gate: the
// same functions run inside it.

#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>

#include "zel/core/circuit.hpp"

namespace zel::detail {

using KernelAmplitude = std::complex<double>;

/// Applies a one-qubit kind whose kernel pairs amplitudes (X, Y, H, SX, RX, RY) to `count`
/// pairs: lower[k] is the amplitude with the target bit clear, upper[k] its partner with the
/// bit set. Rotations take params[0] when present, else gate.angle. Other kinds are ignored.
void apply_pair_gate(const GateType& gate, std::span<const double> params, KernelAmplitude* lower,
                     KernelAmplitude* upper, std::size_t count) noexcept;

/// Applies a one-qubit diagonal kind (Z, S, T, RZ) to `count` amplitudes whose target bit reads
/// `bit` in every one of them. Other kinds are ignored.
void apply_diagonal_gate(const GateType& gate, std::span<const double> params, bool bit,
                         KernelAmplitude* amplitudes, std::size_t count) noexcept;

/// Applies an operation of a kind from U on, already checked against the whole register, to
/// one block of it: the 2^local_qubits amplitudes whose qubits from `local_qubits` up read the
/// bits of `block_index` (qubit local_qubits + j is bit j). The decision is the one the whole
/// state takes, by the row's primitive, with the fixed qubits read as constants: a fixed control
/// or qubit of a diagonal phase that reads 0 leaves the block alone and one that reads 1 drops
/// out. Returns false, changing nothing, when a qubit that moves amplitudes (a target, a Pauli
/// letter, an orbital or parity qubit of an excitation, a qubit of a dense matrix) is fixed: the
/// operation then needs amplitudes from other blocks. That answer depends only on `op` and
/// `local_qubits`, never on `block_index`, so all blocks of a state agree on it.
bool apply_checked_on_block(KernelAmplitude* block, std::uint64_t local_qubits,
                            std::uint64_t block_index, const Operation& op);

/// How the kernels traverse pairs of amplitudes that lie far apart in memory: from qubit
/// `from_qubit` up, pairs (and the runs of a two-qubit gate whose partners are 2^from_qubit or
/// more apart) go through a cache-resident copy of `block` upper amplitudes at a time instead of
/// two interleaved streams. The results are bitwise the same either way.
struct FarPairTraversal {
    /// Qubits from which pairs count as far apart (2^24 amplitudes = 256 MiB).
    unsigned from_qubit = 24;
    /// Amplitudes per block, at most MAX_BLOCK (16 KiB, half a first-level data cache).
    std::uint64_t block = 1024;

    static constexpr std::uint64_t MAX_BLOCK = 1024;
    /// Most amplitudes per step where the results go back to memory past the caches (the
    /// one-qubit kinds, and CX and SWAP on pairs far apart); `block` when smaller.
    static constexpr std::uint64_t STREAM_BLOCK = 32;
};

/// The traversal a process starts with, chosen for the CPU it runs on: blocked from qubit 24 on
/// CPUs whose first-level data cache predicts a line's way from a tag folded out of address bits
/// 12-27 (AMD families 17h and 19h), where partners 2^28 bytes or more apart evict each other;
/// elsewhere never (`from_qubit` 64), since there two straight streams run at full speed and the
/// copy through the buffer only costs.
FarPairTraversal default_far_pair_traversal() noexcept;

/// The traversal in effect.
FarPairTraversal far_pair_traversal() noexcept;

/// Changes the traversal, for tests that reach the blocked paths on small states; `block` is
/// clamped to [1, MAX_BLOCK]. Call only while no kernel runs.
void set_far_pair_traversal(FarPairTraversal traversal) noexcept;

}  // namespace zel::detail

#pragma once

// The dense block kernel of the fused path: a 2^k x 2^k complex matrix applied to every group of
// 2^k amplitudes that differ only in the block's qubits.

#include <complex>
#include <cstdint>
#include <vector>

namespace zel::detail {

/// A block ready for the kernel. The kernel works on two groups at once, the pair that differs
/// only in bit `lane_bit` (the lowest bit the block does not mix), so that each vector of four
/// doubles holds the same row of both groups.
struct BlockKernelArgs {
    /// The qubits the block mixes: 1 to 6.
    unsigned k = 0;
    /// Those qubits, in any order: local bit j of the matrix is qubits[j]. Each output amplitude
    /// sums its row's terms in the order of the local column index, wherever the qubits lie.
    const std::uint64_t* qubits = nullptr;
    /// Qubits whose value the block never changes, ascending: they select which of 2^count
    /// matrices applies to a group (phases and controls need no dense dimension).
    const std::uint64_t* selectors = nullptr;
    unsigned selector_count = 0;
    /// The lowest bit the block does not mix. When it is one of the block's qubits (not among
    /// `selectors`), each lane has its own matrix.
    unsigned lane_bit = 0;
    /// The matrices one after another, by selector value (selector j is bit j). In each, entry
    /// (r, c) at (r * 2^k + c) * 8: the real parts of the first lane's entry twice and of the
    /// second lane's twice, then their imaginary parts likewise.
    const double* coefficients = nullptr;
};

/// A fused block's matrix taken apart for the kernel.
struct PreparedBlock {
    std::vector<std::uint64_t> mixed;
    std::vector<std::uint64_t> selectors;
    unsigned lane_bit = 0;
    std::vector<double> coefficients;
};

/// Splits the row-major 2^k x 2^k `matrix` on ascending `qubits` (k >= 1) into the qubits it
/// mixes and those it leaves in place (every entry between basis states that differ in such a
/// qubit is exactly zero), with the lane bit and the coefficient layout of BlockKernelArgs. A
/// block that mixes no qubit keeps its lowest one as mixed.
PreparedBlock prepare_block(const std::vector<std::complex<double>>& matrix,
                            const std::vector<std::uint64_t>& qubits);

/// The instruction sets the kernel is compiled for; the best one the CPU runs is chosen on first
/// use. Every one computes the same products, rounded alike but for FMA contraction.
enum class BlockIsa { Baseline, Avx2 };

/// Whether this CPU runs the kernel compiled for `isa`.
bool block_isa_supported(BlockIsa isa) noexcept;

/// Makes the kernel use the variant for `isa` from now on, if the CPU runs it: for the tests that
/// compare the variants. Call only while no kernel runs.
void use_block_isa(BlockIsa isa) noexcept;

/// Applies the block to the pairs of groups [begin, end): the indexes of the state with zero bits
/// inserted at the mixed qubits and at `lane_bit`. k is 1 to 6, and the state has more qubits
/// than the block mixes.
void apply_block_range(std::complex<double>* psi, const BlockKernelArgs& block, std::uint64_t begin,
                       std::uint64_t end) noexcept;

}  // namespace zel::detail

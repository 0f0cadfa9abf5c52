#pragma once

// The dense block kernel of the fused path: a 2^k x 2^k complex matrix applied to every group of
// 2^k amplitudes that differ only in the block's qubits.

#include <complex>
#include <cstdint>
#include <vector>

namespace zel::detail {

/// A block ready for the kernel. The kernel works on two groups at once, the pair that differs
/// only in bit `lane_bit` (the lowest bit outside the block), so that each vector of four doubles
/// holds the same row of both groups.
struct BlockKernelArgs {
    unsigned k = 0;
    /// The block's qubits, ascending.
    const std::uint64_t* qubits = nullptr;
    /// The lowest bit that is not one of the block's qubits.
    unsigned lane_bit = 0;
    /// For entry (r, c) of the matrix, at (r * 2^k + c) * 8: its real part four times, then its
    /// imaginary part four times.
    const double* coefficients = nullptr;
};

/// The coefficient layout of BlockKernelArgs for a row-major 2^k x 2^k matrix.
std::vector<double> block_coefficients(const std::vector<std::complex<double>>& matrix);

/// Applies the block to the pairs of groups [begin, end): the indexes of the state with zero bits
/// inserted at the block's qubits and at `lane_bit`. k is 1 to 6, and the state has more than k
/// qubits.
void apply_block_range(std::complex<double>* psi, const BlockKernelArgs& block, std::uint64_t begin,
                       std::uint64_t end) noexcept;

}  // namespace zel::detail

#pragma once

// The dense block kernel of the fused path: a 2^k x 2^k complex matrix applied to every group of
// 2^k amplitudes that differ only in the block's qubits.

#include <complex>
#include <cstdint>

namespace zel::detail {

/// A block ready for the kernel: ascending qubits, and the matrix by pairs of rows: for column c
/// and row pair h (rows 2h and 2h + 1), four doubles at (c * 2^(k-1) + h) * 4 in `row_pairs`:
/// the real and imaginary parts of entry (2h, c) and of (2h + 1, c); and at the same place in
/// `row_pairs_swapped` (-im, re, -im, re) of the same entries, their products with i.
struct BlockKernelArgs {
    unsigned k = 0;
    const std::uint64_t* qubits = nullptr;
    const double* row_pairs = nullptr;
    const double* row_pairs_swapped = nullptr;
};

/// Applies the block to the groups [begin, end) of the compressed index space (the indexes with
/// zero bits inserted at the block's qubits). k is 1 to 6.
void apply_block_range(std::complex<double>* psi, const BlockKernelArgs& block, std::uint64_t begin,
                       std::uint64_t end) noexcept;

}  // namespace zel::detail

#pragma once

/// \file
/// Gate fusion, the fast way to run a circuit on a large state: runs of gates become one block, a
/// 2^k x 2^k matrix applied in one pass over the state instead of one pass per gate. Gates on
/// disjoint qubits commute, so a gate joins the latest block it depends on whenever that block
/// stays within the limits.
///
/// What a pass costs is the number of qubits the block mixes, that is, whose value in a basis
/// state some gate of the block may change (H, RX, RY, SX, X, Y, SWAP, and CX on its target):
/// 2^m complex multiply-adds per amplitude for m mixed qubits. A qubit the block only phases or
/// controls on (Z, S, T, RZ, CZ, CX on its control) costs nothing in the pass; it selects which
/// of 2^(k-m) smaller matrices applies. So the limit a caller sets is on the mixed qubits, and a
/// block may hold up to MAX_FUSED_QUBITS qubits in all.
///
/// The fused result agrees with the exact per-gate kernels to rounding (within 1e-13 in every
/// amplitude of a normalised state for circuits of a few hundred gates), not to the bit: the
/// products of the matrices and the dense matrix-vector products round differently. The exact
/// path stays the default everywhere; ask for this one where speed matters more than the last
/// bits.

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/state.hpp"

namespace zel {

/// Most qubits one fused block may act on, mixed or not.
inline constexpr unsigned MAX_FUSED_QUBITS = 6;

/// Mixed qubits per block that `fuse` allows unless told otherwise, chosen by measurement: on
/// random 200-gate circuits of 16-26 qubits, two gave the shortest time on the machine measured
/// (docs/performance-notes.md); more merge more gates, but each pass becomes bound by the
/// multiply-adds instead of memory.
inline constexpr unsigned DEFAULT_FUSED_QUBITS = 2;

/// One step of a fused circuit: a dense block, or an operation kept for the exact kernels.
struct FusedStep {
    /// The block's qubits in ascending order (empty for a kept operation). Local index bit j of
    /// the matrix is qubit `qubits[j]`.
    std::vector<std::uint64_t> qubits;
    /// Row-major 2^k x 2^k matrix of the block, k = qubits.size(): entry (r, c) at r * 2^k + c.
    std::vector<std::complex<double>> matrix;
    /// Operations merged into the block, or 1 for a kept operation.
    std::size_t gates = 0;
    /// The operation applied by the exact kernels instead of a block: gates with a qubit outside
    /// the register, repeated qubits, RZ on a qubit outside and GPHASE (global phases), and Pauli
    /// rotations or unitaries wider than a block. Only read when `qubits` is empty.
    Operation kept;
};

/// A circuit prepared for `apply_fused` on registers of `num_qubits` qubits.
struct FusedCircuit {
    std::uint64_t num_qubits = 0;
    std::vector<FusedStep> steps;
    /// Operations of the source circuit (identity gates included).
    std::size_t source_gates = 0;
};

/// Fuses `circuit` for a register of `num_qubits` qubits into blocks that mix at most
/// `max_qubits` qubits (2 to MAX_FUSED_QUBITS, since a two-qubit gate may mix two; values outside
/// are clamped) and act on at most MAX_FUSED_QUBITS.
/// Identity gates vanish. Throws
/// what applying the circuit would throw (`check_gate` on every operation, before any work), and
/// `InvalidLayout` for a register above ZarnikState::MAX_QUBITS.
FusedCircuit fuse(const ZarnikGraph& circuit, std::uint64_t num_qubits,
                  unsigned max_qubits = DEFAULT_FUSED_QUBITS);

/// Applies a fused circuit to `state`, step by step. Checks every step first and changes nothing
/// when one fails: throws `InvalidArgument` when the fused circuit was made for another qubit
/// count, or for a block with more than MAX_FUSED_QUBITS qubits, qubits outside the register or
/// not strictly ascending, or a matrix of another size than 2^k x 2^k; a kept operation throws
/// what `check_gate` throws for it.
void apply_fused(ZarnikState& state, const FusedCircuit& fused);

}  // namespace zel

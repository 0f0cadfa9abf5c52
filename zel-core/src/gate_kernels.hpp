#pragma once

// The gate kernels over a whole amplitude buffer of `dimension` = 2^n amplitudes. They assume
// what ZarnikState::apply_gate has checked (check_gate): a pair kind's target and a swap kind's
// qubits lie inside the state, the swap kinds' qubits differ. Each spreads its loop over the
// pool above the grain and is bitwise the same for any thread count.

#include <complex>
#include <cstdint>

#include "gate_math.hpp"

namespace zel::detail {

using Amplitude = std::complex<double>;

/// Registers of at most this many amplitudes (5 qubits) run the phase and permutation kinds as
/// plain loops on the calling thread, with the kernels' arithmetic per amplitude.
inline constexpr std::uint64_t SMALL_REGISTER = 32;

/// X, Y, H, SX, RX or RY on qubit t < n; `angle` is used by RX and RY only.
void apply_pair_kind(Amplitude* psi, std::uint64_t dimension, GateKind kind, unsigned t,
                     HalfAngle angle);

/// Z, S or T on qubit t < n: the amplitudes with bit t set change.
void apply_phase_kind(Amplitude* psi, std::uint64_t dimension, GateKind kind, unsigned t);

/// RZ on qubit `t`; a target at or beyond n reads as a clear bit everywhere.
void apply_rz(Amplitude* psi, std::uint64_t dimension, std::uint64_t num_qubits, std::uint64_t t,
              HalfAngle angle);

/// CZ on two distinct qubits below n: the amplitudes with both bits set are negated.
void apply_cz(Amplitude* psi, std::uint64_t dimension, std::uint64_t q0, std::uint64_t q1);

/// CX (control q0, target q1) or SWAP on two distinct qubits below n.
void apply_swap_kind(Amplitude* psi, std::uint64_t dimension, GateKind kind, std::uint64_t q0,
                     std::uint64_t q1);

/// Bulk copy of `count` amplitudes; large buffers are copied in chunks on the pool, so that a
/// fresh buffer's pages are first touched by every thread and the copy uses every core.
void copy_amplitudes(Amplitude* to, const Amplitude* from, std::uint64_t count);

/// Sets `count` amplitudes to 0 + 0i, on the pool above the grain.
void zero_amplitudes(Amplitude* psi, std::uint64_t count);

/// The Shannon entropy of |a_k|^2 (see ZarnikState::calculate_entropy).
double entropy(const Amplitude* psi, std::uint64_t dimension);

}  // namespace zel::detail

#pragma once

// The kernels of the kinds from U on, by primitive: each knows a matrix and a shape, never a
// kind. Controls are a mask of qubits that must all be set for an amplitude to change; every
// qubit named lies inside the state and no two coincide (checked before any call). Each kernel
// visits only the amplitudes it changes and spreads its loop over the pool above the grain.

#include <complex>
#include <cstdint>
#include <span>

namespace zel::detail {

using PrimitiveAmplitude = std::complex<double>;

/// The qubits that select the amplitudes a kernel visits: `fixed` bits are inserted as zeros
/// into a compressed index (ascending), then `set` is OR-ed in.
struct IndexPattern {
    std::uint64_t set = 0;
    unsigned fixed[64] = {};
    unsigned fixed_count = 0;

    /// A pattern that fixes the qubits of `mask_fixed` and sets those of `mask_set`.
    static IndexPattern of(std::uint64_t mask_fixed, std::uint64_t mask_set) noexcept;

    std::uint64_t expand(std::uint64_t c) const noexcept;
};

/// The 2x2 matrix m (row-major) on target t where every bit of `controls` is set.
void apply_controlled_pair(PrimitiveAmplitude* psi, std::uint64_t dimension, std::uint64_t controls,
                           unsigned t, const PrimitiveAmplitude m[4]);

/// Multiplies by `phase` the amplitudes where every bit of `selected` is set.
void apply_controlled_phase(PrimitiveAmplitude* psi, std::uint64_t dimension,
                            std::uint64_t selected, PrimitiveAmplitude phase);

/// X on target t, or with b distinct from t the exchange of qubits t and b, where every bit of
/// `controls` is set.
void apply_controlled_permutation(PrimitiveAmplitude* psi, std::uint64_t dimension,
                                  std::uint64_t controls, unsigned t, unsigned b, bool exchange);

/// exp(-i theta/2 P) where every bit of `controls` is set, for P = i^(y_count) X^x Z^z on the
/// state's own bits, given c = cos(theta / 2) and s = sin(theta / 2): one pass over the
/// amplitudes it changes.
void apply_pauli_rotation(PrimitiveAmplitude* psi, std::uint64_t dimension, std::uint64_t x,
                          std::uint64_t z, unsigned y_count, std::uint64_t controls, double c,
                          double s);

/// exp(theta (T - T^dagger)) for an excitation T, given c = cos(theta) and s = sin(theta): every
/// amplitude a_i with the bits of `from` set and those of `to` clear, and its partner a_j
/// (j = i ^ from ^ to), become c a_i - f s a_j and c a_j + f s a_i, where f is -1 to the power
/// of `negative` plus the parity of i & `parity`. One pass over those amplitudes only.
void apply_excitation(PrimitiveAmplitude* psi, std::uint64_t dimension, std::uint64_t from,
                      std::uint64_t to, std::uint64_t parity, bool negative, double c, double s);

/// The row-major 2^k x 2^k `matrix` on `qubits` (k at most 6; local bit j is qubits[j]).
void apply_dense(PrimitiveAmplitude* psi, std::uint64_t dimension,
                 std::span<const std::uint64_t> qubits, std::span<const PrimitiveAmplitude> matrix);

}  // namespace zel::detail

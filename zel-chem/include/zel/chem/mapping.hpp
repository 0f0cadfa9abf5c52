#pragma once

/// \file
/// Fermion-to-qubit mappings: Jordan–Wigner, parity and Bravyi–Kitaev, from `FermionOperator`s
/// or straight from integrals to the core's `PauliSum`.
///
/// Mode j of the fermion side is qubit j (bit j of a basis index). The mappings differ in what
/// qubit q stores for an occupation vector n (bit j = occupation of mode j):
/// - Jordan–Wigner: b_q = n_q.
/// - Parity: b_q = n_0 + ... + n_q (mod 2).
/// - Bravyi–Kitaev: b_q = sum of n_j over q + 1 - lowbit(q + 1) <= j <= q (mod 2), the
///   Fenwick-tree partial sums, for any number of modes.
/// Each is linear over GF(2), b = B n; `encode_occupation` gives b for n.
///
/// Mapped terms are merged by Pauli string as they are produced (one hash table entry per
/// distinct string; no intermediate operator products), so memory stays a small multiple of
/// the result.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "zel/chem/fermion.hpp"
#include "zel/chem/integrals.hpp"
#include "zel/core/observable.hpp"

namespace zel::chem {

/// A fermion-to-qubit mapping.
enum class Mapping : std::uint8_t { JordanWigner, Parity, BravyiKitaev };

/// Largest number of modes (qubits) a mapping handles: basis indexes and Pauli strings are
/// 64-bit masks.
inline constexpr std::size_t MAX_MODES = 64;

/// Default magnitude at or below which mapped coefficients are dropped.
inline constexpr double DEFAULT_DROP_TOLERANCE = 1e-12;

/// The mapping's name: "jordan-wigner", "parity" or "bravyi-kitaev".
std::string_view mapping_name(Mapping mapping) noexcept;

/// The qubit operator of `op` on `num_modes` modes under `mapping`: a `PauliSum` with one term
/// per distinct Pauli string, terms whose coefficient has magnitude at most `tolerance`
/// dropped, sorted by the number of factors, then by qubits and kinds (the identity first);
/// factors in ascending qubit order. A Hermitian input has real coefficients.
///
/// Throws `InvalidArgument` when `num_modes` exceeds MAX_MODES, a term names a mode at or
/// beyond `num_modes`, a coefficient is not finite, `tolerance` is negative or not finite, or
/// a merged coefficient keeps an imaginary part larger than `tolerance` (the operator is not
/// Hermitian; the message names the Pauli string).
PauliSum map_operator(const FermionOperator& op, Mapping mapping, std::size_t num_modes,
                      double tolerance = DEFAULT_DROP_TOLERANCE);

/// The qubit Hamiltonian of `integrals` on 2n qubits: `map_operator` of
/// `molecular_hamiltonian(integrals, ordering)` (same terms, order and rounding up to the order
/// of additions), built without the intermediate fermion operator. The identity term includes
/// the constant. Throws `InvalidArgument` when 2n exceeds MAX_MODES or `tolerance` is invalid.
PauliSum qubit_hamiltonian(const Integrals& integrals, Mapping mapping, SpinOrdering ordering,
                           double tolerance = DEFAULT_DROP_TOLERANCE);

/// The basis index b = B n that represents occupation vector `occupation` (bit j = mode j
/// occupied) on `num_modes` qubits under `mapping`. Throws `InvalidArgument` when `num_modes`
/// exceeds MAX_MODES or `occupation` has a bit at or beyond `num_modes`.
std::uint64_t encode_occupation(std::uint64_t occupation, Mapping mapping, std::size_t num_modes);

/// The occupation vector n = B^-1 b of basis index `index`; the inverse of `encode_occupation`.
/// Throws as `encode_occupation`.
std::uint64_t decode_basis_index(std::uint64_t index, Mapping mapping, std::size_t num_modes);

}  // namespace zel::chem

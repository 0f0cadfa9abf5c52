#pragma once

/// \file
/// Reading a state: measurement probabilities, sampled measurement outcomes, norm and inner
/// product.
///
/// Outcome k is basis state k: qubit q reads bit q of k. As a bitstring an outcome is written
/// like a ket, qubit n-1 first and qubit 0 last: on three qubits outcome 1 is "001". Sums over
/// the amplitudes use the pool's fixed chunks, so every result is the same for any thread count.

#include <complex>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "zel/core/random.hpp"
#include "zel/core/state.hpp"

namespace zel {

/// Longest bitstring `bitstring` writes.
inline constexpr std::uint64_t MAX_BITSTRING_QUBITS = std::uint64_t{1} << 16;

/// |a_k|^2 for every basis index k, in index order, as they are (not divided by their total).
std::vector<double> probabilities(const ZarnikState& state);

/// The Euclidean norm sqrt(sum of |a_k|^2).
double norm(const ZarnikState& state);

/// <bra|ket> = sum over k of conj(bra_k) * ket_k. Throws `InvalidArgument` when the two states
/// have different qubit counts.
std::complex<double> inner_product(const ZarnikState& bra, const ZarnikState& ket);

/// `shots` measurement outcomes in the computational basis, in the order drawn: outcome k with
/// probability |a_k|^2 / sum of |a_j|^2 (an unnormalised state is sampled as its normalisation).
/// Each shot takes one draw u = `generator.uniform()` and picks the first k whose running total
/// of probabilities, in index order, exceeds u times the total; so the outcomes are a fixed
/// function of the state and the generator's seed. Outcomes of probability 0 never occur.
/// Throws `InvalidArgument` when the total is 0 or not finite (a state holding NaN or infinite
/// amplitudes) and when `shots` exceeds 2^60 - 1; `AllocationError` when the result (8 bytes
/// per shot) and the draws of one batch (16 bytes per shot, batches of max(2^20, 2^n) shots)
/// do not fit in the available memory. Polls for cancellation between batches.
std::vector<std::uint64_t> sample(const ZarnikState& state, std::uint64_t shots,
                                  random::Generator& generator);

/// The outcomes of `sample` counted per basis index; indexes never drawn are absent. Throws
/// what `sample` throws.
std::map<std::uint64_t, std::uint64_t> sample_counts(const ZarnikState& state, std::uint64_t shots,
                                                     random::Generator& generator);

/// Basis index `index` of an `num_qubits`-qubit register as a bitstring: qubit num_qubits-1
/// first, qubit 0 last ("001" for index 1 on three qubits). Qubits at 64 and above read 0.
/// Throws `InvalidArgument` when `num_qubits` exceeds MAX_BITSTRING_QUBITS.
std::string bitstring(std::uint64_t index, std::uint64_t num_qubits);

}  // namespace zel

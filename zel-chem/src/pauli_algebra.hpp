#pragma once

// Pauli strings as bit masks for the chemistry component: a string is i^phase X^x Z^z (on each
// qubit X^x_q Z^z_q, the Z acting first), so that products need only XORs and a popcount:
//     (X^x1 Z^z1)(X^x2 Z^z2) = (-1)^popcount(z1 & x2) X^(x1^x2) Z^(z1^z2).
// Y_q = i X_q Z_q. Sums of such strings are merged in a hash table keyed by (x, z).

#include <bit>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "zel/core/observable.hpp"

namespace zel::chem::detail {

struct MaskString {
    std::uint64_t x = 0;
    std::uint64_t z = 0;
    unsigned phase = 0;  ///< Power of i, mod 4.
};

inline MaskString multiply(const MaskString& a, const MaskString& b) noexcept {
    const unsigned sign = static_cast<unsigned>(std::popcount(a.z & b.x) & 1);
    return {a.x ^ b.x, a.z ^ b.z, (a.phase + b.phase + 2 * sign) & 3};
}

/// i^k as a complex number.
inline std::complex<double> i_power(unsigned k) noexcept {
    switch (k & 3) {
        case 0:
            return {1.0, 0.0};
        case 1:
            return {0.0, 1.0};
        case 2:
            return {-1.0, 0.0};
        default:
            return {0.0, -1.0};
    }
}

struct MaskKey {
    std::uint64_t x;
    std::uint64_t z;
    friend bool operator==(const MaskKey&, const MaskKey&) = default;
};

struct MaskKeyHash {
    std::size_t operator()(const MaskKey& key) const noexcept {
        // Two rounds of a 64-bit mixer (splitmix64's finaliser) over both masks.
        std::uint64_t h = key.x * 0x9e3779b97f4a7c15ULL ^ (key.z + 0x632be59bd9b4e019ULL);
        h ^= h >> 30;
        h *= 0xbf58476d1ce4e5b9ULL;
        h ^= h >> 27;
        h *= 0x94d049bb133111ebULL;
        h ^= h >> 31;
        return static_cast<std::size_t>(h);
    }
};

/// A sum of Pauli strings with complex coefficients, merged as terms are added; the
/// coefficient stored for (x, z) multiplies the Hermitian string with Y where x and z are both
/// set (X^x Z^z = (-i)^popcount(x & z) times that string).
class PauliAccumulator {
  public:
    void add(const MaskString& string, std::complex<double> coefficient) {
        const unsigned k =
            string.phase + 3 * static_cast<unsigned>(std::popcount(string.x & string.z));
        terms_[MaskKey{string.x, string.z}] += coefficient * i_power(k);
    }

    void add_hermitian(std::uint64_t x, std::uint64_t z, std::complex<double> coefficient) {
        terms_[MaskKey{x, z}] += coefficient;
    }

    void reserve(std::size_t count) {
        terms_.reserve(count);
    }

    const std::unordered_map<MaskKey, std::complex<double>, MaskKeyHash>& terms() const noexcept {
        return terms_;
    }

    /// The merged sum as a `PauliSum`: terms at or below `tolerance` dropped; throws
    /// `InvalidArgument` for an imaginary part above `tolerance`. Sorted by weight, then by
    /// the factors (qubit ascending, kind).
    PauliSum to_pauli_sum(double tolerance) const;

  private:
    std::unordered_map<MaskKey, std::complex<double>, MaskKeyHash> terms_;
};

/// The string of a `PauliTerm` (coefficient not included): Y contributes phase i.
MaskString mask_string(const PauliTerm& term);

/// Checks that `tolerance` is finite and non-negative (`InvalidArgument` otherwise).
void check_tolerance(double tolerance);

/// Throws `InvalidArgument` when a term of `sum` names a qubit at or beyond `num_qubits` or has
/// a coefficient that is not finite.
void check_sum(const PauliSum& sum, std::size_t num_qubits);

}  // namespace zel::chem::detail

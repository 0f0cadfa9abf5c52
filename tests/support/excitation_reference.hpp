#pragma once

/// \file
/// Excitations from their textbook definition for the tests: ladder operators as dense matrices
/// (a_m = Z on every qubit below m, times |0><1| on m, under Jordan–Wigner), T as their product
/// and exp(theta (T - T^dagger)) by its closed form, on an operation's own qubits.

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zel::test {

/// A row-major square matrix on k qubits, local bit j on the j-th qubit of a list.
using LocalMatrix = std::vector<std::complex<double>>;

/// a_j (`create` false) or a^dagger_j on local qubit j of `qubits`; with `fermionic`, times Z on
/// every local qubit whose qubit number is below qubits[j].
inline LocalMatrix ladder(std::span<const std::uint64_t> qubits, std::size_t j, bool create,
                          bool fermionic) {
    const std::size_t d = std::size_t{1} << qubits.size();
    LocalMatrix m(d * d);
    for (std::size_t col = 0; col < d; ++col) {
        if (((col >> j) & 1U) != (create ? 0U : 1U)) {
            continue;
        }
        double sign = 1.0;
        for (std::size_t l = 0; l < qubits.size(); ++l) {
            if (fermionic && qubits[l] < qubits[j] && ((col >> l) & 1U) != 0) {
                sign = -sign;
            }
        }
        m[(col ^ (std::size_t{1} << j)) * d + col] = sign;
    }
    return m;
}

inline LocalMatrix product(const LocalMatrix& a, const LocalMatrix& b) {
    const auto d = static_cast<std::size_t>(std::lround(std::sqrt(a.size())));
    LocalMatrix out(d * d);
    for (std::size_t r = 0; r < d; ++r) {
        for (std::size_t m = 0; m < d; ++m) {
            for (std::size_t c = 0; c < d; ++c) {
                out[r * d + c] += a[r * d + m] * b[m * d + c];
            }
        }
    }
    return out;
}

/// exp(theta (T - T^dagger)) on `qubits` for T = a^dagger_(to) ... a_(from) with the first
/// `orbitals` qubits the orbitals (the first half emptied): T = a^dagger_1 a_0 for a single,
/// a^dagger_2 a^dagger_3 a_1 a_0 for a double, in local positions. With A = T - T^dagger,
/// A^3 = -A, so the exponential is 1 + sin(theta) A + (1 - cos(theta)) A^2.
inline LocalMatrix excitation_textbook(std::span<const std::uint64_t> qubits, std::size_t orbitals,
                                       bool fermionic, double theta) {
    const std::size_t d = std::size_t{1} << qubits.size();
    const std::size_t half = orbitals / 2;
    LocalMatrix t(d * d);
    for (std::size_t j = 0; j < d; ++j) {
        t[j * d + j] = 1.0;
    }
    for (std::size_t j = 0; j < half; ++j) {
        t = product(ladder(qubits, j, false, fermionic), t);
    }
    for (std::size_t j = half; j-- > 0;) {
        t = product(ladder(qubits, half + j, true, fermionic), t);
    }
    LocalMatrix a(d * d);
    for (std::size_t r = 0; r < d; ++r) {
        for (std::size_t c = 0; c < d; ++c) {
            a[r * d + c] = t[r * d + c] - std::conj(t[c * d + r]);
        }
    }
    const LocalMatrix a2 = product(a, a);
    LocalMatrix u(d * d);
    for (std::size_t e = 0; e < d * d; ++e) {
        u[e] = std::sin(theta) * a[e] + (1.0 - std::cos(theta)) * a2[e];
    }
    for (std::size_t j = 0; j < d; ++j) {
        u[j * d + j] += 1.0;
    }
    return u;
}

}  // namespace zel::test

#pragma once

// Operations placed on qubits of a register: every ordered choice of distinct qubits (or a
// random sample of them), and a small matrix on chosen qubits applied to a dense vector.

#include <algorithm>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace zel::test {

using Qubits = std::vector<std::uint64_t>;

/// Every ordered choice of k distinct qubits below n, in lexicographic order.
inline std::vector<Qubits> every_placement(std::size_t k, std::uint64_t n) {
    std::vector<Qubits> all;
    Qubits q(k);
    const auto rec = [&](auto&& self, std::size_t j) -> void {
        if (j == k) {
            all.push_back(q);
            return;
        }
        for (std::uint64_t x = 0; x < n; ++x) {
            if (std::find(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(j), x) ==
                q.begin() + static_cast<std::ptrdiff_t>(j)) {
                q[j] = x;
                self(self, j + 1);
            }
        }
    };
    rec(rec, 0);
    return all;
}

/// every_placement, or `limit` of them drawn at random with `rng` when there are more.
inline std::vector<Qubits> sampled_placements(std::size_t k, std::uint64_t n, std::mt19937_64& rng,
                                              std::size_t limit) {
    std::vector<Qubits> all = every_placement(k, n);
    if (all.size() > limit) {
        std::shuffle(all.begin(), all.end(), rng);
        all.resize(limit);
    }
    return all;
}

/// `local` (row-major on `qubits`, local bit j on qubits[j]) applied to the n-qubit vector v.
inline std::vector<std::complex<double>> apply_on_qubits(
    const std::vector<std::complex<double>>& local, const Qubits& qubits,
    const std::vector<std::complex<double>>& v) {
    const std::size_t d = std::size_t{1} << qubits.size();
    std::uint64_t mask = 0;
    for (const std::uint64_t q : qubits) {
        mask |= std::uint64_t{1} << q;
    }
    const auto spread = [&](std::size_t l) {
        std::uint64_t index = 0;
        for (std::size_t j = 0; j < qubits.size(); ++j) {
            index |= ((l >> j) & 1U) << qubits[j];
        }
        return index;
    };
    std::vector<std::complex<double>> out(v.size());
    for (std::uint64_t col = 0; col < v.size(); ++col) {
        std::size_t lc = 0;
        for (std::size_t j = 0; j < qubits.size(); ++j) {
            lc |= ((col >> qubits[j]) & 1U) << j;
        }
        for (std::size_t lr = 0; lr < d; ++lr) {
            out[(col & ~mask) | spread(lr)] += local[lr * d + lc] * v[col];
        }
    }
    return out;
}

}  // namespace zel::test

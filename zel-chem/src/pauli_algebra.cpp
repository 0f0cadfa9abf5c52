#include "pauli_algebra.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "zel/core/error.hpp"

namespace zel::chem::detail {

PauliSum PauliAccumulator::to_pauli_sum(double tolerance) const {
    struct Entry {
        MaskKey key;
        double coefficient;
    };
    std::vector<Entry> kept;
    kept.reserve(terms_.size());
    for (const auto& [key, coefficient] : terms_) {
        if (std::abs(coefficient.imag()) > tolerance) {
            PauliTerm term{1.0, {}};
            for (std::size_t q = 0; q < 64; ++q) {
                const bool xb = (key.x >> q) & 1;
                const bool zb = (key.z >> q) & 1;
                if (xb || zb) {
                    term.paulis.push_back({q, xb && zb ? Pauli::Y : (xb ? Pauli::X : Pauli::Z)});
                }
            }
            std::string text = pauli_text(PauliSum{{term}});
            throw InvalidArgument("operator is not Hermitian: Pauli string '" + text +
                                  "' has imaginary coefficient " +
                                  std::to_string(coefficient.imag()));
        }
        if (std::abs(coefficient.real()) > tolerance) {
            kept.push_back({key, coefficient.real()});
        }
    }
    // Weight first; then compare qubit by qubit from 0: the first qubit where the strings differ
    // decides, an identity factor before X, Y, Z.
    const auto kind = [](const MaskKey& key, std::uint64_t bit) {
        const bool xb = key.x & bit;
        const bool zb = key.z & bit;
        return xb ? (zb ? 2 : 1) : (zb ? 3 : 0);
    };
    std::sort(kept.begin(), kept.end(), [&](const Entry& a, const Entry& b) {
        const int wa = std::popcount(a.key.x | a.key.z);
        const int wb = std::popcount(b.key.x | b.key.z);
        if (wa != wb) {
            return wa < wb;
        }
        const std::uint64_t diff = (a.key.x ^ b.key.x) | (a.key.z ^ b.key.z);
        if (diff == 0) {
            return false;
        }
        const std::uint64_t bit = diff & (~diff + 1);
        // At the first differing qubit the string that has a factor there comes first.
        const int ka = kind(a.key, bit);
        const int kb = kind(b.key, bit);
        if ((ka == 0) != (kb == 0)) {
            return kb == 0;
        }
        return ka < kb;
    });
    PauliSum sum;
    sum.terms.reserve(kept.size());
    for (const Entry& entry : kept) {
        PauliTerm term{entry.coefficient, {}};
        std::uint64_t support = entry.key.x | entry.key.z;
        while (support != 0) {
            const auto q = static_cast<std::uint64_t>(std::countr_zero(support));
            const std::uint64_t bit = std::uint64_t{1} << q;
            const int k = kind(entry.key, bit);
            term.paulis.push_back({q, k == 1 ? Pauli::X : (k == 2 ? Pauli::Y : Pauli::Z)});
            support &= support - 1;
        }
        sum.terms.push_back(std::move(term));
    }
    return sum;
}

MaskString mask_string(const PauliTerm& term) {
    MaskString out;
    for (const PauliFactor& factor : term.paulis) {
        const std::uint64_t bit = factor.qubit < 64 ? std::uint64_t{1} << factor.qubit : 0;
        switch (factor.kind) {
            case Pauli::I:
                break;
            case Pauli::X:
                out = multiply(out, MaskString{bit, 0, 0});
                break;
            case Pauli::Y:
                out = multiply(out, MaskString{bit, bit, 1});
                break;
            case Pauli::Z:
                out = multiply(out, MaskString{0, bit, 0});
                break;
        }
    }
    return out;
}

void check_tolerance(double tolerance) {
    if (!(tolerance >= 0.0) || !std::isfinite(tolerance)) {
        throw InvalidArgument("tolerance must be finite and non-negative");
    }
}

void check_sum(const PauliSum& sum, std::size_t num_qubits) {
    for (std::size_t t = 0; t < sum.terms.size(); ++t) {
        const PauliTerm& term = sum.terms[t];
        if (!std::isfinite(term.coefficient)) {
            throw InvalidArgument("Pauli term " + std::to_string(t) +
                                  " has a coefficient that is not finite");
        }
        for (const PauliFactor& factor : term.paulis) {
            if (factor.kind != Pauli::I && factor.qubit >= num_qubits) {
                throw InvalidArgument("Pauli term " + std::to_string(t) + " acts on qubit " +
                                      std::to_string(factor.qubit) + " of a " +
                                      std::to_string(num_qubits) + "-qubit register");
            }
        }
    }
}

}  // namespace zel::chem::detail

#include "prepared_hamiltonian.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

#include "zel/core/detail/reductions.hpp"
#include "zel/core/error.hpp"
#include "zel/core/gradient.hpp"
#include "zel/core/parallel.hpp"

namespace zel {
namespace {

using detail::GradientAmplitude;

// A product visits only the non-zero amplitudes when they are at most this fraction of the
// register: below it the scattered writes of the sparse pass cost less than the dense pass over
// every target; the H2O ground-state sector is 441 of 16 384.
constexpr std::uint64_t SPARSE_SUPPORT_DIVISOR = 4;

std::uint64_t dimension_of(std::uint64_t num_qubits) noexcept {
    return num_qubits < 64 ? std::uint64_t{1} << num_qubits
                           : std::numeric_limits<std::uint64_t>::max();
}

// The indexes of psi's non-zero amplitudes in increasing order, or nothing when there are more
// than `limit` of them. NaN compares unequal to zero, so non-finite amplitudes are kept.
std::vector<std::uint64_t> sparse_support(const ZarnikState& psi, std::uint64_t limit) {
    const GradientAmplitude* in = psi.amplitudes().data();
    std::vector<std::uint64_t> support;
    for (std::uint64_t j = 0; j < psi.dimension(); ++j) {
        if (in[j] != GradientAmplitude(0.0, 0.0)) {
            if (support.size() == limit) {
                return {};
            }
            support.push_back(j);
        }
    }
    return support;
}

// Sources per block of the sparse pass: their factors live on the stack between the two loops.
constexpr std::size_t SPARSE_BLOCK = 256;

// 1 when x has an odd number of set bits. The baseline build has no popcount instruction;
// folding with constant shifts also vectorises.
inline std::uint64_t parity(std::uint64_t x) noexcept {
    x ^= x >> 32;
    x ^= x >> 16;
    x ^= x >> 8;
    x ^= x >> 4;
    x ^= x >> 2;
    x ^= x >> 1;
    return x & 1U;
}

// Adds H's contributions from the sources [first, first + count) of `support` to `result`,
// group by group. The factor of each source is `group_factor`'s sum in the same term order,
// computed for the whole block one term at a time: adding the weight with its sign bit flipped
// is the subtraction `group_factor` makes, bit for bit.
void apply_sparse_block(const PauliFlipGroup& group, const std::uint64_t* sources,
                        std::size_t count, const GradientAmplitude* in, GradientAmplitude* result) {
    std::array<double, SPARSE_BLOCK> re{};
    std::array<double, SPARSE_BLOCK> im{};
    // A part whose weights are all zero (the imaginary part of a real molecular Hamiltonian's
    // groups) sums to +0 whatever the signs: +0 + -0 and +0 - +0 are both +0. It stays +0.
    const auto accumulate = [&](std::array<double, SPARSE_BLOCK>& part, auto component) {
        const bool zero = std::all_of(group.weights.begin(), group.weights.end(),
                                      [&](const GradientAmplitude& w) {
                                          return component(w) == 0.0;
                                      });
        if (zero) {
            return;
        }
        for (std::size_t t = 0; t < group.weights.size(); ++t) {
            const std::uint64_t sign = group.signs[t];
            const auto weight = std::bit_cast<std::uint64_t>(component(group.weights[t]));
            for (std::size_t k = 0; k < count; ++k) {
                part[k] += std::bit_cast<double>(weight ^ (parity(sources[k] & sign) << 63));
            }
        }
    };
    accumulate(re, [](const GradientAmplitude& w) {
        return w.real();
    });
    accumulate(im, [](const GradientAmplitude& w) {
        return w.imag();
    });
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint64_t source = sources[k];
        result[source ^ group.flip] += detail::times(GradientAmplitude(re[k], im[k]), in[source]);
    }
}

void check_register(const PreparedPauliSum& sum, const ZarnikState& state, const char* role) {
    if (state.num_qubits() != sum.num_qubits()) {
        throw InvalidArgument("apply_pauli_sum: the " + std::string(role) + " has " +
                              std::to_string(state.num_qubits()) + " qubits, the prepared sum " +
                              std::to_string(sum.num_qubits()));
    }
}

}  // namespace

PreparedPauliSum::PreparedPauliSum(const PauliSum& sum, std::uint64_t num_qubits)
    : num_qubits_(num_qubits) {
    const std::uint64_t dimension = dimension_of(num_qubits);
    std::vector<detail::MaskedTerm> masked(sum.terms.size());
    for (std::size_t t = 0; t < sum.terms.size(); ++t) {
        detail::mask_term(sum.terms[t], masked[t]);
        detail::check_partner(masked[t], dimension);
    }
    std::unordered_map<std::uint64_t, std::size_t> group_of_flip;
    for (std::size_t t = 0; t < sum.terms.size(); ++t) {
        const auto [it, inserted] = group_of_flip.emplace(masked[t].flip, groups_.size());
        if (inserted) {
            groups_.push_back(PauliFlipGroup{masked[t].flip, {}, {}});
        }
        PauliFlipGroup& group = groups_[it->second];
        group.weights.push_back(sum.terms[t].coefficient * detail::power_of_i(masked[t].y_count));
        group.signs.push_back(masked[t].sign);
    }
    // Every partial sum of a group factor is at most sum_t |weight_t| (1 + t eps) < 2 sum_t
    // |weight_t| in magnitude, so a finite doubled bound rules out overflow in any factor.
    for (const PauliFlipGroup& group : groups_) {
        double bound = 0.0;
        for (const GradientAmplitude& w : group.weights) {
            bound += std::abs(w.real()) + std::abs(w.imag());
        }
        finite_factors_ = finite_factors_ && std::isfinite(2.0 * bound);
    }
}

namespace detail {

void apply_groups(const PreparedPauliSum& sum, const ZarnikState& psi, ZarnikState& out) {
    const GradientAmplitude* in = psi.amplitudes().data();
    GradientAmplitude* result = out.amplitudes_mut().data();
    parallel::for_each(psi.dimension(), [&](std::size_t begin, std::size_t end) {
        std::fill(result + begin, result + end, GradientAmplitude(0.0, 0.0));
    });
    const std::vector<std::uint64_t> support =
        sum.finite_factors() ? sparse_support(psi, psi.dimension() / SPARSE_SUPPORT_DIVISOR)
                             : std::vector<std::uint64_t>{};
    // Each group maps |source> to |source ^ flip>, a bijection: chunks of sources (or targets)
    // write disjoint entries, and every target receives its groups' contributions in group
    // order. A zero source adds factor * 0, an exact zero that leaves the sum's bits as they
    // are (the sums start at +0 and never become -0), so skipping the zero sources gives the
    // bits of the dense pass.
    for (const PauliFlipGroup& group : sum.groups()) {
        if (!support.empty()) {
            parallel::for_each(support.size(), [&](std::size_t begin, std::size_t end) {
                for (std::size_t k = begin; k < end; k += SPARSE_BLOCK) {
                    apply_sparse_block(group, support.data() + k, std::min(SPARSE_BLOCK, end - k),
                                       in, result);
                }
            });
            continue;
        }
        parallel::for_each(psi.dimension(), [&](std::size_t begin, std::size_t end) {
            for (std::uint64_t j = begin; j < end; ++j) {
                const std::uint64_t source = j ^ group.flip;
                result[j] += times(group_factor(group, source), in[source]);
            }
        });
    }
}

}  // namespace detail

void apply_pauli_sum(const PreparedPauliSum& sum, const ZarnikState& psi, ZarnikState& out) {
    check_register(sum, psi, "input");
    check_register(sum, out, "output");
    if (&psi == &out) {
        throw InvalidArgument("apply_pauli_sum: the output must be another state than the input");
    }
    detail::apply_groups(sum, psi, out);
}

void apply_pauli_sum(const PauliSum& sum, const ZarnikState& psi, ZarnikState& out) {
    if (psi.num_qubits() != out.num_qubits()) {
        throw InvalidArgument("apply_pauli_sum: the output has " +
                              std::to_string(out.num_qubits()) + " qubits, the input " +
                              std::to_string(psi.num_qubits()));
    }
    if (&psi == &out) {
        throw InvalidArgument("apply_pauli_sum: the output must be another state than the input");
    }
    detail::apply_groups(PreparedPauliSum(sum, psi.num_qubits()), psi, out);
}

ZarnikState apply_pauli_sum(const PauliSum& sum, const ZarnikState& psi) {
    const PreparedPauliSum prepared(sum, psi.num_qubits());
    ZarnikState out(psi.num_qubits());
    detail::apply_groups(prepared, psi, out);
    return out;
}

}  // namespace zel

#include "prepared_hamiltonian.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
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

// The factors `group` puts on the sources [0, count) (at most SPARSE_BLOCK): `group_factor`'s
// sum in the same term order, computed for the whole block one term at a time. Adding the weight
// with its sign bit flipped is the subtraction `group_factor` makes, bit for bit.
void sparse_factors(const PauliFlipGroup& group, const std::uint64_t* sources, std::size_t count,
                    std::array<double, SPARSE_BLOCK>& re, std::array<double, SPARSE_BLOCK>& im) {
    re.fill(0.0);
    im.fill(0.0);
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
}

// Adds H's contributions from the sources [0, count) of a block of the support to `result`.
void apply_sparse_block(const PauliFlipGroup& group, const std::uint64_t* sources,
                        std::size_t count, const GradientAmplitude* in, GradientAmplitude* result) {
    std::array<double, SPARSE_BLOCK> re;
    std::array<double, SPARSE_BLOCK> im;
    sparse_factors(group, sources, count, re, im);
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

// The most the kept factors of a sum may take: 32 MiB, or four times the state's own bytes.
constexpr std::size_t KEPT_FACTORS_BYTES = std::size_t{32} << 20;
constexpr std::size_t KEPT_FACTORS_PER_STATE_BYTE = 4;

// Whether every weight of `group` is real: its factors' imaginary parts are then all +0.
bool real_weights(const PauliFlipGroup& group) noexcept {
    return std::all_of(group.weights.begin(), group.weights.end(), [](const GradientAmplitude& w) {
        return w.imag() == 0.0;
    });
}

}  // namespace

// Each group's factor on each amplitude of one support, group by group, and the support.
struct PreparedPauliSum::SparseFactors {
    struct Kept {
        std::vector<std::uint64_t> support;
        // Group g's factors from offset[g]: the real parts, then (unless the group's weights
        // are all real, when they are +0) the imaginary parts, support.size() of each.
        std::vector<std::size_t> offset;
        std::vector<bool> real;
        std::vector<double> parts;
    };
    std::mutex mutex;
    std::shared_ptr<const Kept> kept;
};

struct SparseFactorsAccess {
    static PreparedPauliSum::SparseFactors* of(const PreparedPauliSum& sum) noexcept {
        return sum.sparse_.get();
    }
};

namespace {

// The kept factors of `sum` for `support`, computed now when they are not kept (and kept when
// they fit KEPT_FACTORS_BYTES); null when they do not fit.
std::shared_ptr<const PreparedPauliSum::SparseFactors::Kept> factors_for(
    const PreparedPauliSum& sum, const std::vector<std::uint64_t>& support) {
    PreparedPauliSum::SparseFactors* slot = SparseFactorsAccess::of(sum);
    const std::size_t groups = sum.groups().size();
    std::size_t columns = 0;
    for (const PauliFlipGroup& group : sum.groups()) {
        columns += real_weights(group) ? 1 : 2;
    }
    const std::size_t state_bytes = sizeof(GradientAmplitude) << sum.num_qubits();
    const std::size_t room =
        std::max(KEPT_FACTORS_BYTES, KEPT_FACTORS_PER_STATE_BYTE * state_bytes);
    if (slot == nullptr || groups == 0 || support.size() > room / sizeof(double) / columns) {
        return nullptr;
    }
    {
        const std::lock_guard<std::mutex> lock(slot->mutex);
        if (slot->kept != nullptr && slot->kept->support == support) {
            return slot->kept;
        }
    }
    auto kept = std::make_shared<PreparedPauliSum::SparseFactors::Kept>();
    kept->support = support;
    kept->parts.resize(columns * support.size());
    std::size_t offset = 0;
    for (std::size_t g = 0; g < groups; ++g) {
        const PauliFlipGroup& group = sum.groups()[g];
        const bool real = real_weights(group);
        kept->offset.push_back(offset);
        kept->real.push_back(real);
        double* out_re = kept->parts.data() + offset;
        double* out_im = real ? nullptr : out_re + support.size();
        offset += (real ? 1 : 2) * support.size();
        parallel::for_each(support.size(), [&](std::size_t begin, std::size_t end) {
            std::array<double, SPARSE_BLOCK> re;
            std::array<double, SPARSE_BLOCK> im;
            for (std::size_t k = begin; k < end; k += SPARSE_BLOCK) {
                const std::size_t count = std::min(SPARSE_BLOCK, end - k);
                sparse_factors(group, support.data() + k, count, re, im);
                std::copy(re.begin(), re.begin() + count, out_re + k);
                if (out_im != nullptr) {
                    std::copy(im.begin(), im.begin() + count, out_im + k);
                }
            }
        });
    }
    const std::lock_guard<std::mutex> lock(slot->mutex);
    slot->kept = kept;
    return kept;
}

}  // namespace

PreparedPauliSum::PreparedPauliSum(const PauliSum& sum, std::uint64_t num_qubits)
    : num_qubits_(num_qubits), sparse_(std::make_shared<SparseFactors>()) {
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
    const std::shared_ptr<const PreparedPauliSum::SparseFactors::Kept> kept =
        support.empty() ? nullptr : factors_for(sum, support);
    for (std::size_t g = 0; g < sum.groups().size(); ++g) {
        const PauliFlipGroup& group = sum.groups()[g];
        if (kept != nullptr) {
            const double* re = kept->parts.data() + kept->offset[g];
            const double* im = kept->real[g] ? nullptr : re + support.size();
            parallel::for_each(support.size(), [&](std::size_t begin, std::size_t end) {
                for (std::size_t k = begin; k < end; ++k) {
                    const std::uint64_t source = support[k];
                    const GradientAmplitude factor(re[k], im == nullptr ? 0.0 : im[k]);
                    result[source ^ group.flip] += times(factor, in[source]);
                }
            });
            continue;
        }
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

#include "zel/core/measurement.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <new>
#include <numeric>
#include <string>
#include <utility>

#include "zel/core/cancel.hpp"
#include "zel/core/detail/aligned_buffer.hpp"
#include "zel/core/error.hpp"
#include "zel/core/float_text.hpp"
#include "zel/core/parallel.hpp"

namespace zel {
namespace {

// Shots drawn and sorted between two polls for cancellation (at least; see `sample`): a
// batch sorts in some tens of milliseconds.
constexpr std::uint64_t SAMPLE_BATCH = std::uint64_t{1} << 20;

double squared_magnitude(const ZarnikState::Amplitude& a) noexcept {
    return a.real() * a.real() + a.imag() * a.imag();
}

}  // namespace

std::vector<double> probabilities(const ZarnikState& state) {
    const auto psi = state.amplitudes();
    std::vector<double> p(psi.size());
    parallel::for_each(psi.size(), [&](std::size_t begin, std::size_t end) {
        for (std::size_t k = begin; k < end; ++k) {
            p[k] = squared_magnitude(psi[k]);
        }
    });
    return p;
}

double norm(const ZarnikState& state) {
    const auto psi = state.amplitudes();
    const double total = parallel::sum(psi.size(), [&](std::size_t begin, std::size_t end) {
        double s = 0.0;
        for (std::size_t k = begin; k < end; ++k) {
            s += squared_magnitude(psi[k]);
        }
        return s;
    });
    // An empty sum is -0.0; a norm is never negative zero.
    return std::sqrt(total + 0.0);
}

std::complex<double> inner_product(const ZarnikState& bra, const ZarnikState& ket) {
    if (bra.num_qubits() != ket.num_qubits()) {
        throw InvalidArgument("inner_product: the states have " + std::to_string(bra.num_qubits()) +
                              " and " + std::to_string(ket.num_qubits()) + " qubits");
    }
    const auto a = bra.amplitudes();
    const auto b = ket.amplitudes();
    double parts[2];
    parallel::sum_many(a.size(), parts, [&](std::size_t begin, std::size_t end, double* out) {
        double re = 0.0;
        double im = 0.0;
        for (std::size_t k = begin; k < end; ++k) {
            // conj(a) b = (ar br + ai bi) + i (ar bi - ai br)
            re += a[k].real() * b[k].real() + a[k].imag() * b[k].imag();
            im += a[k].real() * b[k].imag() - a[k].imag() * b[k].real();
        }
        out[0] = re;
        out[1] = im;
    });
    return {parts[0], parts[1]};
}

std::vector<std::uint64_t> sample(const ZarnikState& state, std::uint64_t shots,
                                  random::Generator& generator) {
    const auto psi = state.amplitudes();
    // The running total is formed serially in index order, so the thresholds below compare
    // against exactly the values the final total is made of.
    double total = 0.0;
    for (const auto& a : psi) {
        total += squared_magnitude(a);
    }
    if (!(total > 0.0) || !std::isfinite(total)) {
        throw InvalidArgument("sample: the probabilities of the state sum to " +
                              format_float_debug(total) + ", not a positive finite number");
    }
    // The result takes 8 bytes per shot, the draws of one batch 16 each.
    constexpr std::uint64_t MAX_SHOTS = std::numeric_limits<std::ptrdiff_t>::max() / 8;
    if (shots > MAX_SHOTS) {
        throw InvalidArgument("sample: " + std::to_string(shots) + " shots exceed the limit of " +
                              std::to_string(MAX_SHOTS) + " (8 bytes each)");
    }
    // Batches of at least as many draws as amplitudes keep the walk over the amplitudes, which
    // every batch repeats, below the cost of the batch's sort.
    const std::uint64_t batch =
        std::min<std::uint64_t>(shots, std::max<std::uint64_t>(SAMPLE_BATCH, psi.size()));
    const std::size_t bytes = static_cast<std::size_t>(shots * 8 + batch * 16);
    detail::check_available(bytes);
    std::vector<std::uint64_t> outcomes;
    std::vector<std::pair<double, std::uint64_t>> draws;
    try {
        outcomes.resize(static_cast<std::size_t>(shots));
        draws.resize(static_cast<std::size_t>(batch));
    } catch (const std::bad_alloc&) {
        throw AllocationError(bytes);
    }
    // Each batch draws its thresholds in shot order, then walks the amplitudes once in index
    // order, handing out outcomes to the thresholds in ascending order. A shot's outcome depends
    // only on its own draw, so the batches change no outcome.
    for (std::uint64_t first = 0; first < shots; first += batch) {
        throw_if_cancelled();
        const std::uint64_t count = std::min(batch, shots - first);
        draws.resize(static_cast<std::size_t>(count));
        for (std::uint64_t s = 0; s < count; ++s) {
            draws[s] = {generator.uniform() * total, first + s};
        }
        std::sort(draws.begin(), draws.end());
        std::uint64_t last_possible = 0;
        double running = 0.0;
        std::size_t next = 0;
        for (std::uint64_t k = 0; k < psi.size() && next < draws.size(); ++k) {
            const double p = squared_magnitude(psi[k]);
            if (!(p > 0.0)) {
                continue;
            }
            last_possible = k;
            running += p;
            while (next < draws.size() && draws[next].first < running) {
                outcomes[draws[next].second] = k;
                ++next;
            }
        }
        // A threshold that rounding put at the very total goes to the last possible outcome.
        for (; next < draws.size(); ++next) {
            outcomes[draws[next].second] = last_possible;
        }
    }
    return outcomes;
}

std::map<std::uint64_t, std::uint64_t> sample_counts(const ZarnikState& state, std::uint64_t shots,
                                                     random::Generator& generator) {
    std::map<std::uint64_t, std::uint64_t> counts;
    const std::vector<std::uint64_t> outcomes = sample(state, shots, generator);
    for (std::size_t s = 0; s < outcomes.size(); ++s) {
        if (s % SAMPLE_BATCH == 0) {
            throw_if_cancelled();
        }
        ++counts[outcomes[s]];
    }
    return counts;
}

std::string bitstring(std::uint64_t index, std::uint64_t num_qubits) {
    if (num_qubits > MAX_BITSTRING_QUBITS) {
        throw InvalidArgument("bitstring: " + std::to_string(num_qubits) +
                              " qubits exceed the limit of " +
                              std::to_string(MAX_BITSTRING_QUBITS));
    }
    std::string text(static_cast<std::size_t>(num_qubits), '0');
    for (std::uint64_t q = 0; q < num_qubits && q < 64; ++q) {
        if (((index >> q) & 1U) != 0) {
            text[static_cast<std::size_t>(num_qubits - 1 - q)] = '1';
        }
    }
    return text;
}

}  // namespace zel

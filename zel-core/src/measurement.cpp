#include "zel/core/measurement.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

#include "zel/core/error.hpp"
#include "zel/core/float_text.hpp"
#include "zel/core/parallel.hpp"

namespace zel {
namespace {

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
    // Draw every threshold first, then walk the amplitudes once in index order, handing out
    // outcomes to the thresholds in ascending order.
    std::vector<std::pair<double, std::uint64_t>> draws(shots);
    for (std::uint64_t s = 0; s < shots; ++s) {
        draws[s] = {generator.uniform() * total, s};
    }
    std::sort(draws.begin(), draws.end());
    std::vector<std::uint64_t> outcomes(shots);
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
    return outcomes;
}

std::map<std::uint64_t, std::uint64_t> sample_counts(const ZarnikState& state, std::uint64_t shots,
                                                     random::Generator& generator) {
    std::map<std::uint64_t, std::uint64_t> counts;
    for (const std::uint64_t outcome : sample(state, shots, generator)) {
        ++counts[outcome];
    }
    return counts;
}

std::string bitstring(std::uint64_t index, std::uint64_t num_qubits) {
    std::string text(static_cast<std::size_t>(num_qubits), '0');
    for (std::uint64_t q = 0; q < num_qubits && q < 64; ++q) {
        if (((index >> q) & 1U) != 0) {
            text[static_cast<std::size_t>(num_qubits - 1 - q)] = '1';
        }
    }
    return text;
}

}  // namespace zel

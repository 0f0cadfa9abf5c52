#pragma once

// Arithmetic shared by the Pauli-sum products and the adjoint gradients: complex products
// written out in real arithmetic, the factor a flip group puts on one amplitude, and a
// deterministic complex sum.

#include <array>
#include <bit>
#include <complex>
#include <cstddef>
#include <cstdint>

#include "zel/core/gradient.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/state.hpp"

namespace zel::detail {

using GradientAmplitude = std::complex<double>;

// Products written out in real arithmetic: std::complex's operator* checks for infinities and
// NaN (Annex G) and is several times slower in these loops.
inline GradientAmplitude times(GradientAmplitude x, GradientAmplitude y) noexcept {
    return {x.real() * y.real() - x.imag() * y.imag(), x.real() * y.imag() + x.imag() * y.real()};
}

// conj(x) * y.
inline GradientAmplitude conj_times(GradientAmplitude x, GradientAmplitude y) noexcept {
    return {x.real() * y.real() + x.imag() * y.imag(), x.real() * y.imag() - x.imag() * y.real()};
}

inline GradientAmplitude power_of_i(unsigned exponent) noexcept {
    constexpr std::array<GradientAmplitude, 4> POWERS = {
        GradientAmplitude(1.0, 0.0), GradientAmplitude(0.0, 1.0), GradientAmplitude(-1.0, 0.0),
        GradientAmplitude(0.0, -1.0)};
    return POWERS[exponent % 4];
}

// sum_t weight_t (-1)^popcount(source & sign_t): the factor that the group's terms together
// put on the amplitude moved from `source` to `source ^ flip`, added in term order.
inline GradientAmplitude group_factor(const PauliFlipGroup& group, std::uint64_t source) noexcept {
    GradientAmplitude factor(0.0, 0.0);
    for (std::size_t t = 0; t < group.weights.size(); ++t) {
        if (std::popcount(source & group.signs[t]) % 2 == 0) {
            factor += group.weights[t];
        } else {
            factor -= group.weights[t];
        }
    }
    return factor;
}

// A deterministic complex sum over [0, n): `partial(begin, end)` returns the chunk's value.
template <class Partial>
GradientAmplitude complex_sum(std::size_t n, const Partial& partial) {
    std::array<double, 2> totals{};
    parallel::sum_many(n, totals, [&](std::size_t begin, std::size_t end, double* out) {
        const GradientAmplitude value = partial(begin, end);
        out[0] = value.real();
        out[1] = value.imag();
    });
    return {totals[0], totals[1]};
}

// Writes H|psi> into `out` for the groups of a prepared sum whose qubit count both states have
// (checked by the caller).
void apply_groups(const PreparedPauliSum& sum, const ZarnikState& psi, ZarnikState& out);

}  // namespace zel::detail

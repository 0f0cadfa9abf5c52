#pragma once

// A deterministic complex sum for the adjoint gradients, and the product of a prepared Pauli sum
// with a state. The arithmetic they share with the distributed state (complex products written
// out in real arithmetic, the factor a flip group puts on one amplitude, the overlaps' item
// contributions) is in zel/core/detail/reductions.hpp.

#include <array>
#include <bit>
#include <complex>
#include <cstddef>
#include <cstdint>

#include "zel/core/detail/reductions.hpp"
#include "zel/core/gradient.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/state.hpp"

namespace zel::detail {

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

#pragma once

// The per-amplitude arithmetic of the entropy: a log2 written so that a loop of calls vectorises,
// and a masked term per amplitude instead of a branch. Inline, so that the entropy kernel and
// the tests that compare its instruction-set clones compile the same formulas.

#include <bit>
#include <cstddef>
#include <cstdint>

#include "zel/core/parallel.hpp"

namespace zel::detail {

/// Probabilities at or below this contribute nothing to the entropy; log2 is never taken of 0.
constexpr double ENTROPY_PROBABILITY_FLOOR = 1e-12;

/// Independent partial sums per chunk of the entropy.
constexpr std::size_t ENTROPY_LANES = 4;

/// States of at least this many amplitudes take the vectorised entropy loop; smaller ones (one
/// chunk of the sum) a scalar loop that skips negligible probabilities.
constexpr std::uint64_t ENTROPY_VECTOR_FROM = 64;
static_assert(ENTROPY_VECTOR_FROM <= parallel::SUM_CHUNK);

// log2 of a positive, finite double, written so that a loop of calls vectorises (glibc's
// scalar log2 is otherwise the whole cost of the entropy). p = 2^k * m with m in
// [sqrt(1/2), sqrt(2)), found by integer arithmetic on the bits; ln(m) by the classic kernel
// ln(1 + f) = f - (f^2/2 - s (f^2/2 + R(s^2))), s = f / (2 + f), with R the degree-14 even
// minimax polynomial of fdlibm's log (error below 2^-58 on this interval). Exact for powers of
// two (log2(1) is +0.0); within a few units in the last place elsewhere. Any input yields a
// finite value or NaN without trapping, so callers may evaluate it before testing p.
inline double log2_positive(double p) noexcept {
    constexpr std::uint64_t SQRT_HALF_BITS = 0x3FE6A09E667F3BCD;
    constexpr std::uint64_t EXPONENT_FIELD = 0xFFF0000000000000;
    // Offset binary: adding 2^63 turns the signed exponent k into k + 2048 >= 0.
    constexpr std::uint64_t OFFSET = std::uint64_t{1} << 63;
    // A double 2^52 + j holds the small integer j in its low mantissa bits.
    constexpr std::uint64_t TWO_52_BITS = 0x4330000000000000;
    constexpr double TWO_52_PLUS_OFFSET = 4503599627370496.0 + 2048.0;
    constexpr double INV_LN2 = 1.4426950408889634;
    constexpr double LG1 = 6.666666666666735130e-01;
    constexpr double LG2 = 3.999999999940941908e-01;
    constexpr double LG3 = 2.857142874366239149e-01;
    constexpr double LG4 = 2.222219843214978396e-01;
    constexpr double LG5 = 1.818357216161805012e-01;
    constexpr double LG6 = 1.531383769920937332e-01;
    constexpr double LG7 = 1.479819860511658591e-01;
    const auto bits = std::bit_cast<std::uint64_t>(p);
    const std::uint64_t shifted = bits - SQRT_HALF_BITS;
    const double k =
        std::bit_cast<double>(TWO_52_BITS | ((shifted + OFFSET) >> 52)) - TWO_52_PLUS_OFFSET;
    const double f = std::bit_cast<double>(bits - (shifted & EXPONENT_FIELD)) - 1.0;
    const double s = f / (2.0 + f);
    const double z = s * s;
    const double w = z * z;
    // Even and odd coefficients in two chains, for instruction-level parallelism.
    const double even = w * (LG2 + w * (LG4 + w * LG6));
    const double odd = z * (LG1 + w * (LG3 + w * (LG5 + w * LG7)));
    const double half_f_squared = 0.5 * f * f;
    const double ln_m = f - (half_f_squared - s * (half_f_squared + (odd + even)));
    return k + ln_m * INV_LN2;
}

// Contribution -p log2(p) of one amplitude to the entropy: the term when p > FLOOR (infinity
// included), NaN when p is NaN (so that a state holding NaN has a NaN entropy), else +0.0. A
// floating-point compare would keep the loop from vectorising (GCC does not if-convert it under
// -ftrapping-math), so the range test runs on the bit pattern without its sign, which orders
// non-negative doubles like their values and puts every NaN above infinity: the top bit of
// FLOOR - bits is set exactly when |bits| > FLOOR. The term itself is computed for every p
// (log2_positive is harmless on any input) and masked.
inline double entropy_term(double re, double im) noexcept {
    constexpr auto FLOOR_BITS = std::bit_cast<std::uint64_t>(ENTROPY_PROBABILITY_FLOOR);
    constexpr std::uint64_t MAGNITUDE_BITS = 0x7FFFFFFFFFFFFFFF;
    const double p = re * re + im * im;
    const auto bits = std::bit_cast<std::uint64_t>(p) & MAGNITUDE_BITS;
    const std::uint64_t keep = 0 - ((FLOOR_BITS - bits) >> 63);
    const double term = -p * log2_positive(p);
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(term) & keep);
}

}  // namespace zel::detail

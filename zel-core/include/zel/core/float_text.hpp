#pragma once

/// \file
/// Text forms of 64-bit floats used in the console transcript and the exported circuit. All of
/// them are exact: the digits are either the shortest that read back as the same value or the
/// correctly rounded fixed-point expansion of the binary value.

#include <string>

namespace zel {

/// General debug form: positional with at least one digit after the point for zero and for
/// magnitudes in [1e-4, 1e16) ("1.0", "0.5", "-0.0", "0.0001"); otherwise scientific with the
/// shortest mantissa and a bare exponent ("1e-5", "2.5e-7", "1e16"); "NaN", "inf", "-inf".
std::string format_float_debug(double value);

/// Shortest round-trip digits in positional notation, never an exponent, no point for whole
/// numbers ("0.5", "1", "0", "-0", "-0.25", "0.00001"); "NaN", "inf", "-inf".
std::string format_float_plain(double value);

/// Most digits after the point `format_fixed` writes: every digit of the exact binary expansion
/// of the smallest subnormal double, and then some.
inline constexpr int MAX_FIXED_DECIMALS = 1100;

/// Fixed-point text with exactly `decimals` digits after the point (0 to MAX_FIXED_DECIMALS;
/// others throw `InvalidArgument`), rounded to nearest with ties
/// to even on the exact binary value, "-" for negative values including negative zero
/// ("-1.063653"); "NaN", "inf", "-inf".
std::string format_fixed(double value, int decimals);

}  // namespace zel

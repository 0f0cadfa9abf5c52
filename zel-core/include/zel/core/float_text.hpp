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

/// Fixed-point text with exactly `decimals` digits after the point, rounded to nearest with ties
/// to even on the exact binary value, "-" for negative values including negative zero
/// ("-1.063653"); "NaN", "inf", "-inf".
std::string format_fixed(double value, int decimals);

}  // namespace zel

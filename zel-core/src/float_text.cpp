#include "zel/core/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "zel/core/error.hpp"

namespace zel {
namespace {

// "NaN", "inf" or "-inf" for non-finite values; empty for finite ones.
std::string_view non_finite_text(double value) noexcept {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-inf" : "inf";
    }
    return {};
}

std::string shortest(double value, std::chars_format format) {
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, format);
    return std::string(buffer, result.ptr);
}

}  // namespace

std::string format_float_debug(double value) {
    if (const auto special = non_finite_text(value); !special.empty()) {
        return std::string(special);
    }
    const double magnitude = std::fabs(value);
    if (magnitude == 0.0 || (magnitude >= 1e-4 && magnitude < 1e16)) {
        std::string text = shortest(value, std::chars_format::fixed);
        if (text.find('.') == std::string::npos) {
            text += ".0";
        }
        return text;
    }
    // to_chars writes "2.5e-07" / "1e+16"; the debug form has a bare exponent: "2.5e-7", "1e16".
    const std::string text = shortest(value, std::chars_format::scientific);
    const std::size_t e = text.find('e');
    std::string out = text.substr(0, e + 1);
    std::size_t digits = e + 1;
    if (text[digits] == '-') {
        out += '-';
        ++digits;
    } else if (text[digits] == '+') {
        ++digits;
    }
    while (digits + 1 < text.size() && text[digits] == '0') {
        ++digits;
    }
    out.append(text, digits, std::string::npos);
    return out;
}

std::string format_float_plain(double value) {
    if (const auto special = non_finite_text(value); !special.empty()) {
        return std::string(special);
    }
    // From 2^53 on every double is a whole number, and fixed notation would spell out its exact
    // binary value (1e23 as 99999999999999991611392). The text wanted is the shortest round-trip
    // digits followed by as many zeros as the exponent asks for (100000000000000000000000).
    constexpr double WHOLE_NUMBERS_FROM = 0x1p53;
    if (std::fabs(value) < WHOLE_NUMBERS_FROM) {
        return shortest(value, std::chars_format::fixed);
    }
    const std::string scientific = shortest(value, std::chars_format::scientific);
    const std::size_t e = scientific.find('e');
    std::string text;
    for (std::size_t k = 0; k < e; ++k) {
        if (scientific[k] != '.') {
            text += scientific[k];
        }
    }
    const std::size_t first_digit = value < 0 ? 1 : 0;
    std::size_t exponent = 0;
    const char* digits = scientific.data() + e + (scientific[e + 1] == '+' ? 2 : 1);
    std::from_chars(digits, scientific.data() + scientific.size(), exponent);
    // The mantissa holds exponent + 1 integer digits at most, since the value is whole.
    text.append(exponent + 1 - (text.size() - first_digit), '0');
    return text;
}

std::string format_fixed(double value, int decimals) {
    if (const auto special = non_finite_text(value); !special.empty()) {
        return std::string(special);
    }
    // glibc's printf expands the exact binary value and rounds it half to even, and keeps the
    // sign of negative zero, which is the text wanted here.
    if (decimals < 0 || decimals > MAX_FIXED_DECIMALS) {
        throw InvalidArgument("format_fixed: " + std::to_string(decimals) +
                              " decimals, not in [0, " + std::to_string(MAX_FIXED_DECIMALS) + "]");
    }
    const int precision = decimals;
    const int length = std::snprintf(nullptr, 0, "%.*f", precision, value);
    std::string text(static_cast<std::size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, "%.*f", precision, value);
    return text;
}

}  // namespace zel

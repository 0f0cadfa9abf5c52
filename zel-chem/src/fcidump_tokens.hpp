#pragma once

// The lexical helpers of the FCIDUMP reader: blanks, case-blind names, tokens quoted for
// messages, and the tolerance within which two integrals count as the same value.

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

#include "zel/chem/fcidump.hpp"

namespace zel::chem::detail {

inline bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

inline bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

inline std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

/// Text of a token for messages: at most 40 bytes, non-printable bytes as '?'.
inline std::string quoted(std::string_view token) {
    std::string out = "'";
    for (std::size_t k = 0; k < token.size() && k < 40; ++k) {
        const auto c = static_cast<unsigned char>(token[k]);
        out += std::isprint(c) ? static_cast<char>(c) : '?';
    }
    if (token.size() > 40) {
        out += "...";
    }
    return out + "'";
}

/// The shortest text that reads back as `value`.
inline std::string shortest(double value) {
    char buffer[32];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    static_cast<void>(ec);
    return std::string(buffer, ptr);
}

inline bool close(double a, double b) {
    const double diff = std::abs(a - b);
    return diff <= SYMMETRY_TOLERANCE ||
           diff <= SYMMETRY_TOLERANCE * std::max(std::abs(a), std::abs(b));
}

}  // namespace zel::chem::detail

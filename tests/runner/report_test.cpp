// Text of the elapsed time in the final report.

#include "report.hpp"

#include <chrono>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace kvt

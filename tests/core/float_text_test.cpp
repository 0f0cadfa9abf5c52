// Text forms of doubles: the general debug form, the plain shortest form and the
// fixed-point form with ties to even on the exact binary value.

#include "zel/core/float_text.hpp"

#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace zel {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
constexpr double LARGEST = std::numeric_limits<double>::max();
constexpr double SMALLEST_SUBNORMAL = std::numeric_limits<double>::denorm_min();

struct TextCase {
    double value;
    std::string text;
};

TEST(CoreFloatText, DebugFormIsPositionalInRangeElseShortestScientific) {
    const std::vector<TextCase> cases = {
        {1.0, "1.0"},
        {0.5, "0.5"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {-1.5, "-1.5"},
        {0.1, "0.1"},
        {1.0 / 3.0, "0.3333333333333333"},
        {0.0001, "0.0001"},  // lower bound of the positional range, included
        {-0.0001, "-0.0001"},
        {0.00009999, "9.999e-5"},
        {1e-5, "1e-5"},
        {2.5e-7, "2.5e-7"},
        {-2.5e-7, "-2.5e-7"},
        {1e15, "1000000000000000.0"},
        {9999999999999998.0, "9999999999999998.0"},  // largest double below 1e16
        {1e16, "1e16"},                              // upper bound, excluded
        {1.2345678901234568e17, "1.2345678901234568e17"},
        {1e100, "1e100"},
        {LARGEST, "1.7976931348623157e308"},
        {SMALLEST_SUBNORMAL, "5e-324"},
        {NOT_A_NUMBER, "NaN"},
        {-NOT_A_NUMBER, "NaN"},
        {INF, "inf"},
        {-INF, "-inf"},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(format_float_debug(c.value), c.text) << std::hexfloat << c.value;
    }
}

TEST(CoreFloatText, PlainFormIsShortestPositionalWithoutExponent) {
    const std::vector<TextCase> cases = {
        {1.0, "1"},
        {0.0, "0"},
        {-0.0, "-0"},
        {0.5, "0.5"},
        {-0.25, "-0.25"},
        {0.1, "0.1"},
        {1e-5, "0.00001"},
        {2.5e-7, "0.00000025"},
        {1e16, "10000000000000000"},
        {1e21, "1" + std::string(21, '0')},
        {1.5e300, "15" + std::string(299, '0')},
        {LARGEST, "17976931348623157" + std::string(292, '0')},
        {SMALLEST_SUBNORMAL, "0." + std::string(323, '0') + "5"},
        {NOT_A_NUMBER, "NaN"},
        {INF, "inf"},
        {-INF, "-inf"},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(format_float_plain(c.value), c.text) << std::hexfloat << c.value;
    }
}

// Rounding works on the exact binary value: 0.125 and 0.375 are exact ties (to even), 2.675 and
// 0.1 are not what their decimal spelling suggests.
TEST(CoreFloatText, FixedFormRoundsTheExactBinaryValueTiesToEven) {
    struct FixedCase {
        double value;
        int decimals;
        std::string text;
    };
    const std::vector<FixedCase> cases = {
        {0.125, 2, "0.12"},
        {0.375, 2, "0.38"},
        {-0.125, 2, "-0.12"},
        {2.5, 0, "2"},
        {3.5, 0, "4"},
        {0.5, 0, "0"},
        {1.5, 0, "2"},
        {2.675, 2, "2.67"},  // binary value 2.67499999...
        {0.1, 20, "0.10000000000000000555"},
        {-0.0, 6, "-0.000000"},
        {0.0, 6, "0.000000"},
        {-1e-7, 6, "-0.000000"},
        {1e-7, 6, "0.000000"},
        {-1.0636529, 6, "-1.063653"},
        {1.0, 4, "1.0000"},
        {0.99995, 4, "1.0000"},  // binary value 0.999950000000000005...
        {1e20, 2, "100000000000000000000.00"},
        {NOT_A_NUMBER, 6, "NaN"},
        {INF, 4, "inf"},
        {-INF, 6, "-inf"},
    };
    for (const FixedCase& c : cases) {
        EXPECT_EQ(format_fixed(c.value, c.decimals), c.text)
            << std::hexfloat << c.value << " with " << c.decimals;
    }
}

}  // namespace
}  // namespace zel

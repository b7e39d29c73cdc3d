// Decimals as text and as doubles.
#include "base/DecimalNumber.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

namespace {

using base::DecimalNumber;

TEST(DecimalNumber, TextHasTheScalesDigitsAndNoSignOnZero)
{
    struct Case {
        bool negative;
        uint64_t high, low;
        unsigned scale;
        const char* text;
    };
    const Case cases[] = {
        {false, 0, 0, 0, "0"},
        {true, 0, 0, 2, "0.00"},
        {true, 0, 5, 3, "-0.005"},
        {false, 0, 123456, 2, "1234.56"},
        {false, 0, 18446744073709551615ull, 0, "18446744073709551615"},
        {false, 1, 0, 0, "18446744073709551616"},
        // The largest magnitude Jet keeps (96 bits) with the largest scale.
        {true, 0xFFFFFFFF, 18446744073709551615ull, 28, "-7.9228162514264337593543950335"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecimalNumber::text(c.negative, c.high, c.low, c.scale), c.text) << c.text;
}

// The nearest double, as parsing the exact text gives it; dividing the
// magnitude by a power of ten (520215.365841478745 -> 520215.36584147869)
// or by ten digit by digit (1385042.8862064766 -> 1385042.8862064765) did
// not always give it.
TEST(DecimalNumber, ToDoubleIsTheNearestDouble)
{
    struct Case {
        uint64_t high, low;
        unsigned scale;
        double expected;
    };
    const Case cases[] = {
        {0, 520215365841478745ull, 12, 520215.36584147875},
        {0, 13850428862064766ull, 10, 1385042.8862064767},
        {0, (uint64_t(1) << 53) + 1, 0, 9007199254740992.0},   // past the exact fast path
        {0, 1, 22, 1e-22},
        {0, 1, 23, 1e-23},
        {0xFFFFFFFF, 18446744073709551615ull, 28, 7.9228162514264337593543950335},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecimalNumber::toDouble(false, c.high, c.low, c.scale), c.expected) << c.low << "e-" << c.scale;
        EXPECT_EQ(DecimalNumber::toDouble(true, c.high, c.low, c.scale), -c.expected) << c.low << "e-" << c.scale;
    }
    EXPECT_FALSE(std::signbit(DecimalNumber::toDouble(true, 0, 0, 4)));

    std::mt19937_64 random(14);
    for (int i = 0; i < 100000; ++i) {
        const uint64_t high = i % 2 ? 0 : random() % (uint64_t(1) << 32);
        const uint64_t low = i % 4 == 1 ? random() % 1000000000000000000ull : random();
        const unsigned scale = unsigned(random() % 29);
        const std::string text = DecimalNumber::text(false, high, low, scale);
        ASSERT_EQ(DecimalNumber::toDouble(false, high, low, scale), std::strtod(text.c_str(), nullptr)) << text;
    }
}

} // namespace

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "runtime/host_math.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kTwoPi = 6.283185307179586;

uint64_t bitsOf(double x) { return std::bit_cast<uint64_t>(x); }

TEST(HostMath, SignOfBothZerosIsPositiveZeroAndNaNStaysNaN) {
    EXPECT_EQ(bitsOf(muDoubleScalarSign(0.0)), bitsOf(0.0));
    EXPECT_EQ(bitsOf(muDoubleScalarSign(-0.0)), bitsOf(0.0));
    EXPECT_EQ(muDoubleScalarSign(-3.5), -1.0);
    EXPECT_EQ(muDoubleScalarSign(1e-300), 1.0);
    EXPECT_EQ(muDoubleScalarSign(-kInf), -1.0);
    EXPECT_TRUE(std::isnan(muDoubleScalarSign(kNaN)));
}

TEST(HostMath, ModWrapsNegativeValuesIntoTheDivisorsRange) {
    struct Case {
        const char* name;
        double x, y, expected;
    };
    const Case cases[] = {
        {"negative angle", -0.5, kTwoPi, kTwoPi - 0.5},
        {"zero", 0.0, kTwoPi, 0.0},
        {"divisor itself", 120.0, 120.0, 0.0},
        {"just below the divisor", 119.5, 120.0, 119.5},
        {"several turns", 3.0 * kTwoPi + 1.0, kTwoPi, (3.0 * kTwoPi + 1.0) - std::floor((3.0 * kTwoPi + 1.0) / kTwoPi) * kTwoPi},
        // x - floor(x/y)*y rounds to y itself here; the result must stay below y.
        {"tiny negative", -1e-18, kTwoPi, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const double r = muDoubleScalarMod(c.x, c.y);
        EXPECT_EQ(r, c.expected);
        EXPECT_GE(r, 0.0);
        EXPECT_LT(r, c.y);
    }
}

TEST(HostMath, RoundGoesToNearestAndHalvesAwayFromZero) {
    EXPECT_EQ(muDoubleScalarRound(2.4), 2.0);
    EXPECT_EQ(muDoubleScalarRound(-2.6), -3.0);
    EXPECT_EQ(muDoubleScalarRound(2.5), 3.0);
    EXPECT_EQ(muDoubleScalarRound(-2.5), -3.0);
    EXPECT_EQ(muDoubleScalarRound(0.49999999999999994), 0.0);
}

TEST(HostMath, MinAndMaxIgnoreASingleNaN) {
    EXPECT_EQ(muDoubleScalarMin(kNaN, 2.0), 2.0);
    EXPECT_EQ(muDoubleScalarMin(2.0, kNaN), 2.0);
    EXPECT_EQ(muDoubleScalarMax(kNaN, -2.0), -2.0);
    EXPECT_TRUE(std::isnan(muDoubleScalarMax(kNaN, kNaN)));
    EXPECT_EQ(muDoubleScalarMin(-1.0, 3.0), -1.0);
    EXPECT_EQ(muDoubleScalarMax(-1.0, 3.0), 3.0);
}

TEST(HostMath, AbsSinCosAreThePlatformsOwn) {
    EXPECT_EQ(bitsOf(muDoubleScalarAbs(-0.0)), bitsOf(0.0));
    EXPECT_EQ(muDoubleScalarAbs(-2.5), 2.5);
    EXPECT_EQ(muDoubleScalarSin(1.0), std::sin(1.0));
    EXPECT_EQ(muDoubleScalarCos(1.0), std::cos(1.0));
}

}  // namespace

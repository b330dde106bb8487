#include "controllers/integrator_clamp.h"

#include <gtest/gtest.h>

#include <limits>

#include "tests/support/model_fixture.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(IntegratorClamp, StopsIntegratingOnlyTowardsTheLimitThatIsHit) {
    struct Case {
        const char* name;
        bool high;
        bool low;
        double error;
        double expected;
    };
    const Case cases[] = {
        {"free, positive error passes", false, false, 2.5, 2.5},
        {"free, negative error passes", false, false, -2.5, -2.5},
        {"free, NaN passes", false, false, kNaN, kNaN},
        {"high, positive error is clamped", true, false, 1.0, 0.0},
        {"high, negative error passes", true, false, -1.0, -1.0},
        {"high, zero error passes as itself", true, false, -0.0, -0.0},
        {"high, NaN passes", true, false, kNaN, kNaN},
        {"low, negative error is clamped", false, true, -1.0, 0.0},
        {"low, positive error passes", false, true, 1.0, 1.0},
        {"low, zero error passes as itself", false, true, -0.0, -0.0},
        {"low, NaN passes", false, true, kNaN, kNaN},
        {"both, positive error is clamped", true, true, 1.0, 0.0},
        {"both, negative error is clamped", true, true, -1.0, 0.0},
        {"both, NaN is clamped", true, true, kNaN, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, integratorClamp(c.high, c.low, c.error), c.expected);
    }
}

}  // namespace

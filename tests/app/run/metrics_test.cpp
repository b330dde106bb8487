#include "app/run/metrics.h"

#include <gtest/gtest.h>

#include <cmath>

namespace qelsim::run {
namespace {

// A log of reference (column 0) and measured (column 1) every 10 ms from 0 to 1 s.
qelengine::SignalLog makeLog(double (*reference)(double), double (*measured)(double)) {
    qelengine::SignalLog log;
    log.columns = 2;
    for (int row = 0; row <= 100; ++row) {
        const double t = row / 100.0;
        log.time.push_back(t);
        log.values.push_back(reference(t));
        log.values.push_back(measured(t));
    }
    return log;
}

AnalysisConfig pair(double band, std::optional<double> disturbance) {
    AnalysisConfig config;
    config.name = "position";
    config.referenceColumn = 0;
    config.measuredColumn = 1;
    config.band = band;
    config.disturbanceTime = disturbance;
    return config;
}

// Step 0 -> 1 at 0.1 s; the response climbs linearly to 1.2 at 0.32 s, falls linearly to 1 at
// 0.4 s; a disturbance at 0.6 s holds it at 0.9 until 0.65 s. No threshold falls on a row.
double stepReference(double t) { return t >= 0.1 - 1e-9 ? 1.0 : 0.0; }
double stepResponse(double t) {
    if (t < 0.1) return 0.0;
    if (t < 0.32) return 1.2 / 0.22 * (t - 0.1);
    if (t < 0.4) return 1.2 - 2.5 * (t - 0.32);
    if (t > 0.6 && t < 0.655) return 0.9;
    return 1.0;
}

TEST(StepMetrics, FiguresOfAStepAndALoadStep) {
    const StepMetrics m = analyseStep(makeLog(stepReference, stepResponse), pair(0.0, 0.6));
    EXPECT_DOUBLE_EQ(m.stepTime, 0.1);
    EXPECT_EQ(m.initialValue, 0.0);
    EXPECT_EQ(m.targetValue, 1.0);
    EXPECT_DOUBLE_EQ(m.band, 0.02);   // 2 % of the step
    ASSERT_TRUE(m.riseTime.has_value());
    EXPECT_NEAR(*m.riseTime, 0.27 - 0.12, 1e-9);   // first rows past 10 % (0.118 s) and 90 % (0.265 s)
    EXPECT_NEAR(m.overshootPercent, 20.0, 1e-9);
    ASSERT_TRUE(m.settlingTime.has_value());
    EXPECT_NEAR(*m.settlingTime, 0.40 - 0.1, 1e-9);   // 1.02 is passed at 0.392 s
    EXPECT_EQ(m.stepError, 0.0);
    EXPECT_NEAR(m.peakDeviation, 0.1, 1e-12);
    ASSERT_TRUE(m.recoveryTime.has_value());
    EXPECT_NEAR(*m.recoveryTime, 0.66 - 0.6, 1e-9);
    EXPECT_EQ(m.steadyStateError, 0.0);
    EXPECT_EQ(m.finalMeasured, 1.0);
}

double constantReference(double) { return 500.0; }
double slowRise(double t) { return 500.0 * (1.0 - std::exp(-t / 0.1)) - 3.0; }

TEST(StepMetrics, ConstantReferenceStepsFromTheInitialMeasurement) {
    const StepMetrics m = analyseStep(makeLog(constantReference, slowRise), pair(10.0, std::nullopt));
    EXPECT_EQ(m.stepTime, 0.0);
    EXPECT_EQ(m.initialValue, -3.0);
    EXPECT_EQ(m.targetValue, 500.0);
    ASSERT_TRUE(m.settlingTime.has_value());
    // 500 e^(-t/0.1) + 3 <= 10 from t = 0.1 ln(500/7) = 0.427 s: the row at 0.43 s.
    EXPECT_NEAR(*m.settlingTime, 0.43, 1e-9);
    EXPECT_FALSE(m.disturbanceTime.has_value());
    EXPECT_NEAR(m.steadyStateError, 3.0, 0.1);
}

double neverThere(double) { return 0.5; }

TEST(StepMetrics, SignalOutsideTheBandAtTheEndHasNotSettled) {
    const StepMetrics m = analyseStep(makeLog(stepReference, neverThere), pair(0.1, std::nullopt));
    EXPECT_FALSE(m.settlingTime.has_value());
    EXPECT_FALSE(m.riseTime.has_value());
    EXPECT_NEAR(m.steadyStateError, 0.5, 1e-12);
}

}  // namespace
}  // namespace qelsim::run

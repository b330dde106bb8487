// The measurement chain, mostly driven through the single-winding plant (its one current channel
// keeps the cases short); what differs in the dq plant is tested with that plant.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "plants/measurement_chain.h"
#include "tests/plants/plant_harness.h"
#include "tests/support/model_fixture.h"

namespace {

using plantstest::SingleWindingPlant;
using qeltest::SameDouble;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kRadToRev = 0.15915494309189535;
constexpr double kDegToRev = 0.002777777777777778;

// v[i] = i * i over the 120 breakpoints 0..119.
std::vector<double> squares() {
    std::vector<double> values(120);
    for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<double>(i * i);
    return values;
}

TEST(SensorLookup, InterpolatesInsideAndExtrapolatesTheEndSegments) {
    const std::vector<double> table = squares();
    struct Case {
        const char* name;
        double x;
        double expected;
    };
    const Case cases[] = {
        {"interior, a quarter into segment 10", 10.25, 105.25},       // 21 * 0.25 + 100
        {"exactly on breakpoint 37", 37.0, 1369.0},
        {"first breakpoint", 0.0, 0.0},
        {"below the first: first segment extended", -2.0, -2.0},      // (1 - 0) * -2 + 0
        {"last breakpoint: last segment at f = 1", 119.0, 14161.0},
        {"in [119, 120): segment 118-119 extended", 119.5, 14279.5},  // 237 * 1.5 + 13924
        {"far above", 200.0, 33358.0},                                // 237 * 82 + 13924
        {"just below the last breakpoint", 118.5, 14042.5},           // 237 * 0.5 + 13924
        {"NaN", kNaN, kNaN},
        {"+inf", kInf, kInf},
        {"-inf", -kInf, -kInf},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const double result =
            qelsensing::sensorLookup(c.x, qelsensing::kAngleErrorBreakpoints.data(), table.data(), 119);
        EXPECT_PRED_FORMAT2(SameDouble, result, c.expected);
    }
}

TEST(SensorLookup, BinarySearchFindsTheSegmentOfUnevenBreakpoints) {
    const double breakpoints[] = {0.0, 1.0, 4.0, 9.0, 16.0, 25.0};
    const double values[] = {0.0, 10.0, 20.0, 30.0, 40.0, 50.0};
    struct Case {
        double x;
        double expected;
    };
    const Case cases[] = {
        {0.5, 5.0}, {1.0, 10.0}, {2.5, 15.0}, {5.0, 22.0}, {8.0, 28.0}, {12.5, 35.0}, {24.1, 49.0}, {29.5, 55.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_DOUBLE_EQ(qelsensing::sensorLookup(c.x, breakpoints, values, 5), c.expected);
    }
}

TEST(SensorLookup, BreakpointsAreTheIntegersZeroTo119) {
    ASSERT_EQ(qelsensing::kAngleErrorBreakpoints.size(), 120u);
    for (size_t i = 0; i < 120; ++i) EXPECT_EQ(qelsensing::kAngleErrorBreakpoints[i], static_cast<double>(i));
}

// The three sensors' filtered speeds are set apart so that measuredSpeed tells which one is read.
TEST(MeasurementChain, SensorSelectIsTruncatedTowardZero) {
    struct Case {
        const char* name;
        double sensorSelect;
        double expectedSpeed;
    };
    const Case cases[] = {
        {"1", 1.0, 60.0},       {"1.9", 1.9, 60.0},      {"2", 2.0, 120.0}, {"2.5", 2.5, 120.0},
        {"2.999", 2.999, 120.0}, {"3", 3.0, 180.0},      {"0", 0.0, 180.0}, {"0.99", 0.99, 180.0},
        {"-1", -1.0, 180.0},    {"-1.5", -1.5, 180.0},   {"NaN", kNaN, 180.0}, {"+inf", kInf, 180.0},
        {"-inf", -kInf, 180.0}, {"1e300", 1e300, 180.0}, {"4294967297", 4294967297.0, 180.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SingleWindingPlant plant;
        plant.work.rtdw.obsSpeedFilt = 1.0;
        plant.work.rtdw.enc2SpeedFilt = 2.0;
        plant.work.rtdw.enc3SpeedFilt = 3.0;
        plant.args.sensorSelect = c.sensorSelect;
        plant.tick();
        EXPECT_EQ(plant.measuredSpeed, c.expectedSpeed);
        EXPECT_EQ(qelsensing::selectedSensor(c.sensorSelect), static_cast<int>(c.expectedSpeed / 60.0));
    }
}

TEST(MeasurementChain, SelectedAngleAndSpeedGoThroughTheGear) {
    // Sensor 1 delivers the observer angle from before this tick's update.
    SingleWindingPlant plant;
    plant.args.sensorSelect = 1.0;
    plant.args.gearLoadTurns = 3.0;
    plant.args.gearMotorTurns = 4.0;
    plant.work.rtdw.obsAngle = 2.0;       // rev
    plant.work.rtdw.obsSpeedFilt = 8.0;   // rev/s
    plant.work.rtb.obsSpeed = 1000.0;     // left by a previous tick; not added to the angle here
    plant.x[0] = 100.0;
    plant.tick();
    EXPECT_EQ(plant.measuredAngle, 540.0);   // 360 * (3 * 2 / 4)
    EXPECT_EQ(plant.measuredSpeed, 360.0);   // 60 * 8 * 3 / 4
    EXPECT_NE(plant.work.rtdw.obsAngle, 2.0);
}

TEST(MeasurementChain, AngleIsNotWrapped) {
    SingleWindingPlant plant;
    plant.args.sensorSelect = 2.0;
    plant.x[0] = 10.0 / kRadToRev;   // about 10 revolutions
    plant.tick();
    EXPECT_NEAR(plant.measuredAngle, 3600.0, 1e-9);
}

TEST(MeasurementChain, SensorErrorsOnIsTruncatedTowardZeroAndNaNCountsAsOn) {
    // Angle resolution of a quarter revolution: with errors on every sensor angle is a multiple of
    // it; with errors off each is the exact mechanical angle.
    const double thetaM = 1.0;
    const double revolutions = thetaM * kRadToRev;
    struct Case {
        const char* name;
        double sensorErrorsOn;
        bool on;
    };
    const Case cases[] = {
        {"0", 0.0, false},  {"0.5", 0.5, false}, {"-0.9", -0.9, false}, {"1", 1.0, true},  {"-1", -1.0, true},
        {"2.7", 2.7, true}, {"NaN", kNaN, true}, {"+inf", kInf, true},  {"-inf", -kInf, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SingleWindingPlant plant;
        plant.args.angleResolution = 0.25;
        plant.args.sensorErrorsOn = c.sensorErrorsOn;
        plant.x[0] = thetaM;
        plant.tick();
        const double expected = c.on ? 0.25 : revolutions;
        EXPECT_EQ(plant.work.rtb.enc2Angle, expected);
        EXPECT_EQ(plant.work.rtb.enc3Angle, expected);
        EXPECT_EQ(plant.work.rtdw.sens1AngleHold, expected);
        EXPECT_EQ(qelsensing::sensorErrorsEnabled(c.sensorErrorsOn), c.on);
    }
}

TEST(MeasurementChain, WithErrorsOffSpeedSinCosAndCurrentStayQuantised) {
    SingleWindingPlant plant;
    plant.args.sensorErrorsOn = 0.5;
    plant.args.speedFilterTau = 1.0;
    plant.args.currentResolution = 0.25;
    plant.x[0] = 0.001;     // 1.59e-4 rev in one tick: 1.59 rev/s, nearest multiple 2.44140625
    plant.x[1] = 1.26;
    plant.tick();
    EXPECT_EQ(plant.work.rtb.enc3SpeedFiltDot, 2.44140625);
    // sin(1.59e-4) is 0.33 of 2^-11 and rounds to 0; cos rounds to 1.
    EXPECT_EQ(plant.work.rtb.obsError, 0.0);
    EXPECT_EQ(plant.measuredCurrent, 1.25);
    // Sensor 2's speed is not quantised.
    EXPECT_EQ(plant.work.rtb.enc2SpeedFiltDot, 0.001 * kRadToRev / 0.0001);
}

TEST(MeasurementChain, AtZeroAngleWithErrorsOnSensorsTwoAndThreeReadZeroAndSensorOneTheTableError) {
    SingleWindingPlant plant;
    plant.args.sensorErrorsOn = 1.0;
    plant.args.angleResolution = 1.0 / 4096.0;
    plant.args.encoderErrorAmplitude = 7.0;
    plant.args.angleErrorTable[0] = 9.0;   // degrees: 0.025 rev, 102.4 steps of 1/4096
    plant.args.angleErrorTable[1] = 50.0;
    plant.tick();
    EXPECT_PRED_FORMAT2(SameDouble, plant.work.rtb.enc2Angle, 0.0);
    EXPECT_PRED_FORMAT2(SameDouble, plant.work.rtb.enc3Angle, 0.0);
    EXPECT_EQ(plant.work.rtdw.sens1AngleHold, 102.0 / 4096.0);
}

TEST(MeasurementChain, SensorAnglesWithErrorsFollowTheirErrorModels) {
    // Against the error models in degrees: sensor 2 amplitude * (sin 2θ + 0.1 sin 40θ), sensor 3
    // sin 2θ, sensor 1 the table; a fine resolution leaves them visible.
    const double resolution = std::ldexp(1.0, -40);
    SingleWindingPlant plant;
    plant.args.sensorErrorsOn = 1.0;
    plant.args.angleResolution = resolution;
    plant.args.encoderErrorAmplitude = 5.0;
    for (size_t i = 0; i < 120; ++i) plant.args.angleErrorTable[i] = 0.5 * static_cast<double>(i);
    const double thetaM = 0.3;
    plant.x[0] = thetaM;
    plant.tick();
    const double revolutions = thetaM * kRadToRev;
    const double enc2Degrees = 5.0 * (std::sin(2.0 * thetaM) + 0.1 * std::sin(40.0 * thetaM));
    const double enc3Degrees = std::sin(2.0 * thetaM);
    const double sens1Degrees = 0.5 * (120.0 * revolutions);   // the table is linear in its index
    EXPECT_NEAR(plant.work.rtb.enc2Angle, revolutions + enc2Degrees / 360.0, 1e-11);
    EXPECT_NEAR(plant.work.rtb.enc3Angle, revolutions + enc3Degrees / 360.0, 1e-11);
    EXPECT_NEAR(plant.work.rtdw.sens1AngleHold, revolutions + sens1Degrees / 360.0, 1e-11);
}

TEST(MeasurementChain, NegativeAngleIndexesTheTableByItsPositionInTheRevolution) {
    // -0.5 rad is 110.45 / 120 of a revolution into the previous one: segment 110-111.
    SingleWindingPlant plant;
    plant.args.sensorErrorsOn = 1.0;
    const double resolution = std::ldexp(1.0, -30);
    plant.args.angleResolution = resolution;
    plant.args.angleErrorTable[110] = 36.0;
    plant.args.angleErrorTable[111] = 36.0;
    plant.x[0] = -0.5;
    plant.tick();
    const double revolutions = -0.5 * kRadToRev;
    const double expected = std::round((36.0 * kDegToRev + revolutions) / resolution) * resolution;
    EXPECT_EQ(plant.work.rtdw.sens1AngleHold, expected);
}

TEST(MeasurementChain, TablePositionStaysInZeroTo120ForNegativeAngles) {
    // With table value = index the error equals the position (the end segments extend the same
    // line), so sens1AngleHold - N is position / 360 and must lie in [0, 1/3).
    SingleWindingPlant plant;
    plant.args.sensorErrorsOn = 1.0;
    plant.args.angleResolution = std::ldexp(1.0, -40);
    for (size_t i = 0; i < 120; ++i) plant.args.angleErrorTable[i] = static_cast<double>(i);
    for (double thetaM = -40.0; thetaM < 0.0; thetaM += 0.0137) {
        plant.x[0] = thetaM;
        plant.tick();
        const double errorRevolutions = plant.work.rtdw.sens1AngleHold - thetaM * kRadToRev;
        ASSERT_GE(errorRevolutions, -1e-9) << "thetaM " << thetaM;
        ASSERT_LT(errorRevolutions, 120.0 * kDegToRev + 1e-9) << "thetaM " << thetaM;
    }
}

TEST(MeasurementChain, ObserverErrorHasTheSignOfTheSensorOffset) {
    // Observer at 0; the sensor about 0.01 rev ahead or behind. sin(0.01) is 20.48 steps of 2^-11,
    // so sq = ±20 / 2048 and obsError = ±20 / 2048 * 1440000.
    struct Case {
        const char* name;
        double thetaM;
        double expectedError;
    };
    const Case cases[] = {{"ahead", 0.0628, 14062.5}, {"behind", -0.0628, -14062.5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SingleWindingPlant plant;
        plant.x[0] = c.thetaM;
        plant.tick();
        EXPECT_EQ(plant.work.rtb.obsError, c.expectedError);
        EXPECT_EQ(plant.work.rtb.obsSpeed, c.expectedError * 0.0014);
        EXPECT_EQ(plant.work.rtdw.obsSpeedInt, c.expectedError * 0.0001);
        EXPECT_EQ(plant.work.rtdw.obsAngle, c.expectedError * 0.0014 * 0.0001);
    }
}

TEST(MeasurementChain, ObserverLocksOntoAFixedAngle) {
    SingleWindingPlant plant;
    plant.args.sensorSelect = 1.0;
    plant.x[0] = 2.0;
    for (int k = 0; k < 2000; ++k) plant.tick();
    const double revolutions = 2.0 * kRadToRev;
    // The quantised sine and cosine leave at most about 2^-11 rev of offset.
    EXPECT_NEAR(plant.work.rtdw.obsAngle, revolutions, 1e-3);
    EXPECT_NEAR(plant.measuredAngle, 360.0 * revolutions, 0.36);
    EXPECT_NEAR(plant.work.rtdw.obsSpeedFilt, 0.0, 1e-3);
}

TEST(MeasurementChain, ObserverTracksAConstantSpeedAcrossManyRevolutions) {
    SingleWindingPlant plant;
    plant.args.sensorSelect = 1.0;
    plant.args.speedFilterTau = 0.01;
    const double omega = 100.0;   // rad/s: 15.9 rev/s, 8 revolutions in 0.5 s
    for (int k = 0; k < 5000; ++k) {
        plant.x[0] = omega * (k * 1e-4);
        plant.tick();
    }
    const double revolutionsPerSecond = omega * kRadToRev;
    EXPECT_NEAR(plant.work.rtdw.obsSpeedFilt, revolutionsPerSecond, 0.05);
    EXPECT_NEAR(plant.measuredSpeed, 60.0 * revolutionsPerSecond, 3.0);
    EXPECT_NEAR(plant.work.rtdw.obsAngle, plant.x[0] * kRadToRev, 2e-3);
}

TEST(MeasurementChain, FilterWithTauOfOneTickTakesThePreviousTicksInput) {
    SingleWindingPlant plant;
    plant.args.sensorSelect = 2.0;
    plant.args.speedFilterTau = 0.0001;
    const double angles[] = {0.0, 0.01, 0.05, 0.06, 0.02, 0.02};
    double previousRevolutions = 0.0;
    double previousQuotient = 0.0;
    for (double thetaM : angles) {
        SCOPED_TRACE(thetaM);
        plant.x[0] = thetaM;
        plant.tick();
        // Read at this tick: the filter state after the previous tick's update.
        EXPECT_NEAR(plant.measuredSpeed, 60.0 * previousQuotient, 1e-9);
        const double revolutions = thetaM * kRadToRev;
        previousQuotient = (revolutions - previousRevolutions) / 0.0001;
        previousRevolutions = revolutions;
        EXPECT_NEAR(plant.work.rtdw.enc2SpeedFilt, previousQuotient, 1e-12);
    }
}

TEST(MeasurementChain, SpeedFiltersSettleAtTheSensorSpeeds) {
    // 100 rad/s = 15.9155 rev/s; sensor 3 sees the nearest multiple of 2.44140625: 7 of them.
    const double omega = 100.0;
    struct Case {
        const char* name;
        double sensorSelect;
        double expectedRevolutionsPerSecond;
    };
    const Case cases[] = {{"sensor 2", 2.0, omega * kRadToRev}, {"sensor 3", 3.0, 7.0 * 2.44140625}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SingleWindingPlant plant;
        plant.args.sensorSelect = c.sensorSelect;
        plant.args.speedFilterTau = 1e-3;
        plant.args.gearLoadTurns = 1.0;
        plant.args.gearMotorTurns = 2.0;
        for (int k = 0; k < 3000; ++k) {
            plant.x[0] = omega * (k * 1e-4);
            plant.tick();
        }
        const double filtered = c.sensorSelect == 2.0 ? plant.work.rtdw.enc2SpeedFilt : plant.work.rtdw.enc3SpeedFilt;
        EXPECT_NEAR(filtered, c.expectedRevolutionsPerSecond, 1e-9);
        EXPECT_NEAR(plant.measuredSpeed, 60.0 * c.expectedRevolutionsPerSecond / 2.0, 1e-6);
    }
}

TEST(MeasurementChain, Sensor3DifferenceOfQuantisedAnglesIsAlreadyOnTheSpeedGrid) {
    // With errors on and 1/4096 rev resolution one step per tick is exactly 2.44140625 rev/s.
    SingleWindingPlant plant;
    plant.args.sensorErrorsOn = 1.0;
    plant.args.angleResolution = 1.0 / 4096.0;
    plant.args.speedFilterTau = 1.0;
    for (double thetaM : {0.5, 0.5031, 0.5123, 0.4987}) {
        SCOPED_TRACE(thetaM);
        const double previous = plant.work.rtb.enc3Angle;
        plant.x[0] = thetaM;
        plant.tick();
        const double quotient = (plant.work.rtb.enc3Angle - previous) / 0.0001;
        const double steps = quotient / 2.44140625;
        EXPECT_NEAR(steps, std::round(steps), 1e-6);
    }
}

TEST(MeasurementChain, CurrentIsQuantisedToTheResolutionAndHeldUnquantised) {
    struct Case {
        const char* name;
        double current;
        double resolution;
        double expected;
    };
    const Case cases[] = {
        {"rounds down", 1.26, 0.25, 1.25},          {"negative rounds away", -1.38, 0.25, -1.5},
        {"half step away from zero", 0.125, 0.25, 0.25}, {"negative half step", -0.125, 0.25, -0.25},
        {"zero resolution gives NaN", 1.0, 0.0, kNaN},   {"NaN current", kNaN, 0.25, kNaN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SingleWindingPlant plant;
        plant.args.currentResolution = c.resolution;
        plant.x[1] = c.current;
        plant.tick();
        EXPECT_PRED_FORMAT2(SameDouble, plant.measuredCurrent, c.expected);
        EXPECT_PRED_FORMAT2(SameDouble, plant.work.rtdw.iHold, c.current);
    }
}

TEST(MeasurementChain, UpdateAdvancesIntegratorsByOneTickAndTakesThePreviousAngles) {
    SingleWindingPlant plant;
    plant.host().majorStep({0, 1, plantstest::kSensorTask});
    plant.work.rtb = {0.25, 0.5, 0.0, 0.0, 0.0, 10.0, 20.0, 30.0, 40.0, 50.0};
    plant.work.rtdw.obsAngle = 1.0;
    plant.work.rtdw.obsSpeedFilt = 2.0;
    plant.work.rtdw.enc2SpeedFilt = 3.0;
    plant.work.rtdw.enc3SpeedFilt = 4.0;
    plant.work.rtdw.obsSpeedInt = 5.0;
    plant.update();
    EXPECT_EQ(plant.work.rtdw.obsAngle, 30.0 * 0.0001 + 1.0);
    EXPECT_EQ(plant.work.rtdw.obsSpeedFilt, 40.0 * 0.0001 + 2.0);
    EXPECT_EQ(plant.work.rtdw.enc2SpeedFilt, 50.0 * 0.0001 + 3.0);
    EXPECT_EQ(plant.work.rtdw.enc3SpeedFilt, 10.0 * 0.0001 + 4.0);
    EXPECT_EQ(plant.work.rtdw.enc3PrevAngle, 0.5);
    EXPECT_EQ(plant.work.rtdw.obsSpeedInt, 20.0 * 0.0001 + 5.0);
    EXPECT_EQ(plant.work.rtdw.enc2PrevAngle, 0.25);
}

TEST(MeasurementChain, BadParametersPropagateAsIeeeValues) {
    SingleWindingPlant plant;
    plant.args.sensorErrorsOn = 1.0;
    plant.args.angleResolution = 0.0;
    plant.args.speedFilterTau = 0.0;
    plant.x[0] = 0.3;
    plant.tick();
    EXPECT_TRUE(std::isnan(plant.work.rtb.enc2Angle));
    EXPECT_TRUE(std::isnan(plant.work.rtb.enc3Angle));
    EXPECT_TRUE(std::isnan(plant.work.rtdw.sens1AngleHold));
    EXPECT_TRUE(std::isnan(plant.measuredAngle));
    EXPECT_FALSE(std::isfinite(plant.work.rtb.obsSpeedFiltDot));
}

}  // namespace

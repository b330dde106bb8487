#include "controllers/Qel_Lib_wexa_velocity_controller_sub.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "tests/controllers/controller_checks.h"
#include "tests/support/model_fixture.h"

using namespace Qel_Lib_wexa_velocity_controller_sub;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Inputs {
    double speedReference = 0.0, currentFeedForward = 0.0, speedMeasured = 0.0, currentMeasured = 0.0;
};

struct Parameters {
    double speedGain = 1.0, currentGain = 1.0, speedIntegralTime = 1.0, currentIntegralTime = 1.0;
    double speedScaleDenominator = 1.0, speedScaleNumerator = 1.0;
};

// Rates 1e-5 s, 1e-4 s and constant run on the top model's tasks 1, 2 and an always-due id 3.
class VelocityController : public ::testing::Test {
protected:
    void SetUp() override {
        modelInitialize(host.block(), 1, 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 0, nullptr, nullptr,
                        0, -1);
        host.majorStep({1, 2});
    }

    void outputs(const Inputs& in, const Parameters& p = {}) {
        modelOutputs(&work.instance, in.speedReference, in.currentFeedForward, in.speedMeasured, in.currentMeasured,
                     &output, &work.rtb, &work.rtdw, p.speedGain, p.currentGain, p.speedIntegralTime,
                     p.currentIntegralTime, p.speedScaleDenominator, p.speedScaleNumerator);
    }
    void update() { modelUpdate(&work.instance, &work.rtb, &work.rtdw); }

    qeltest::ModelFixture host{kModelName};
    WorkRecord work;
    double output = -7.0;
};

TEST_F(VelocityController, ParameterSetupDerivesTheLimits) {
    modelParameterSetup(&work.rtb, 2.0, 10.0);
    EXPECT_EQ(work.rtb.speedUpperLimit, 6.0);
    EXPECT_EQ(work.rtb.speedLowerLimit, -6.0);
    EXPECT_EQ(work.rtb.outputLimit, 9.5);
}

TEST_F(VelocityController, OneComputingStep) {
    struct Case {
        const char* name;
        double currentLimitBase, outputLimitBase;
        Rtdw state;
        Inputs in;
        Parameters p;
        double expectedOutput, expectedCurrentInput, expectedSpeedInput;
        bool expectedHigh, expectedLow;
    };
    // Bases 2 and 10: speed-loop output limited to ±6, output to ±9.5. A speed of 60 rev/min
    // scales to exactly 1 (60 × 0.016666666666666666 rounds to 1), 600 to 10, 285 to 4.75.
    const Case cases[] = {
        // e_speed = 2 - 1; u_speed = (0.25 / 0.5 + 1) × 2 = 3; e_cur = 0.5 + 3 - 0.25
        {"cascade", 2, 10, {0.25, 0, false, false}, {120, 0.5, 60, 0.25}, {.speedGain = 2, .speedIntegralTime = 0.5},
         3.25, 3.25, 1.0, false, false},
        // 120 × 1/60 × 3 / 2 - 60 × 1/60 × 3 / 2 = 3 - 1.5
        {"scaling ratio on both speeds", 2, 10, {}, {120, 0, 60, 0},
         {.speedScaleDenominator = 2, .speedScaleNumerator = 3}, 1.5, 1.5, 1.5, false, false},
        // u_speed = 10 is limited to 6; the feed-forward 1 comes on top
        // (100 × 1/60 × 0.3) / 0.7 - (37 × 1/60 × 0.3) / 0.7 = 0.45; dividing before multiplying
        // would round to 0.4500000000000001
        {"ratio applied as written, numerator first", 2, 10, {}, {100, 0, 37, 0},
         {.speedScaleDenominator = 0.7, .speedScaleNumerator = 0.3}, 0.45, 0.45, 0.45, false, false},
        {"speed loop above its limit, feed-forward after the limit", 2, 10, {}, {600, 1, 0, 0}, {}, 7.0, 7.0, 10.0,
         true, false},
        {"speed loop equal to its limit sets no flag", 2, 10, {}, {360, 0, 0, 0}, {}, 6.0, 6.0, 6.0, false, false},
        {"speed loop below its limit", 2, 10, {}, {-600, 0, 0, 0}, {}, -6.0, -6.0, -10.0, false, true},
        // u_cur = 5 × 2 = 10 > 9.5 with e_cur = 5 > 0
        {"output saturated high, error driving further", 2, 10, {}, {300, 0, 0, 0}, {.currentGain = 2}, 9.5, 0.0,
         5.0, true, false},
        // u_cur = 12 - 1 = 11 > 9.5 with e_cur = -1
        {"output saturated high, error leading back", 2, 10, {0, 12, false, false}, {0, 0, 0, 1}, {}, 9.5, -1.0, 0.0,
         true, false},
        {"output saturated low, error driving further", 2, 10, {}, {-300, 0, 0, 0}, {.currentGain = 2}, -9.5, 0.0,
         -5.0, false, true},
        {"output equal to its limit is not saturated", 2, 10, {}, {285, 0, 0, 0}, {.currentGain = 2}, 9.5, 4.75,
         4.75, false, false},
        {"previous high flag stops a positive speed error", 2, 10, {0, 0, true, false}, {60, 0, 0, 0}, {}, 1.0, 1.0,
         0.0, false, false},
        {"previous high flag passes a negative speed error", 2, 10, {0, 0, true, false}, {-60, 0, 0, 0}, {}, -1.0,
         -1.0, -1.0, false, false},
        {"previous low flag stops a negative speed error", 2, 10, {0, 0, false, true}, {-60, 0, 0, 0}, {}, -1.0, -1.0,
         0.0, false, false},
        {"previous low flag passes a positive speed error", 2, 10, {0, 0, false, true}, {60, 0, 0, 0}, {}, 1.0, 1.0,
         1.0, false, false},
        {"both previous flags stop a positive speed error", 2, 10, {0, 0, true, true}, {60, 0, 0, 0}, {}, 1.0, 1.0,
         0.0, false, false},
        {"both previous flags stop a negative speed error", 2, 10, {0, 0, true, true}, {-60, 0, 0, 0}, {}, -1.0, -1.0,
         0.0, false, false},
        // speed loop at -6 (low) while e_cur = 20 - 6 = 14 saturates the output (high)
        {"speed loop low and output high set both flags", 2, 10, {}, {-600, 20, 0, 0}, {}, 9.5, 0.0, -10.0, true,
         true},
        {"NaN speed reference passes everything and sets no flag", 2, 10, {}, {kNaN, 0, 0, 0}, {}, kNaN, kNaN, kNaN,
         false, false},
        {"NaN current measurement", 2, 10, {}, {60, 0, 0, kNaN}, {}, kNaN, kNaN, 1.0, false, false},
        // outputLimit -9.5: y = Sign(3) × -9.5, and 3 > y counts as saturated high
        {"negative output limit base", 2, -10, {}, {180, 0, 0, 0}, {}, -9.5, 0.0, 3.0, true, false},
        // limits swap: upper -6, lower 6; 3 > -6 gives the upper one
        {"negative current limit base, sum above the upper limit", -2, 10, {}, {180, 0, 0, 0}, {}, -6.0, -6.0, 3.0,
         true, false},
        {"negative current limit base, sum below both", -2, 10, {}, {-600, 0, 0, 0}, {}, 6.0, 6.0, -10.0, false,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        modelParameterSetup(&work.rtb, c.currentLimitBase, c.outputLimitBase);
        work.rtdw = c.state;

        outputs(c.in, c.p);

        EXPECT_PRED_FORMAT2(qeltest::SameDouble, output, c.expectedOutput);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtb.currentIntegratorInput, c.expectedCurrentInput);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtb.speedIntegratorInput, c.expectedSpeedInput);
        EXPECT_EQ(work.rtb.saturatedHigh, c.expectedHigh);
        EXPECT_EQ(work.rtb.saturatedLow, c.expectedLow);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtb.measuredCopy, c.in.currentMeasured);
    }
}

TEST_F(VelocityController, FirstStepFromRestIntegratesTheSpeedError) {
    modelParameterSetup(&work.rtb, 1e6, 1e6);
    outputs({.speedReference = 60});
    EXPECT_EQ(output, 1.0);   // e_speed = 1, i_ref = 1
    update();
    EXPECT_EQ(work.rtdw.speedIntegratorState, 1e-4);
    EXPECT_EQ(work.rtdw.currentIntegratorState, 1e-4);
}

TEST_F(VelocityController, SpeedIntegratorClampingLagsTheSaturationByOneStep) {
    modelParameterSetup(&work.rtb, 2.0, 10.0);
    const Parameters p = {.currentGain = 2};

    // e_speed = 5, u_cur = 10: the output saturates, but the speed error of this step integrates.
    outputs({.speedReference = 300}, p);
    EXPECT_EQ(output, 9.5);
    EXPECT_EQ(work.rtb.speedIntegratorInput, 5.0);
    EXPECT_TRUE(work.rtb.saturatedHigh);
    update();
    EXPECT_EQ(work.rtdw.speedIntegratorState, 5e-4);
    EXPECT_EQ(work.rtdw.currentIntegratorState, 0.0);
    EXPECT_TRUE(work.rtdw.saturatedHighPrev);

    // A 1e-5 s step in between changes nothing.
    host.majorStep({1});
    outputs({.speedReference = -600}, p);
    update();
    EXPECT_EQ(output, 9.5);
    EXPECT_TRUE(work.rtdw.saturatedHighPrev);

    // Next computing step: u_speed = 5e-4 + 5, u_cur = 10.001; the flag now stops the speed error.
    host.majorStep({1, 2});
    outputs({.speedReference = 300}, p);
    EXPECT_EQ(output, 9.5);
    EXPECT_EQ(work.rtb.speedIntegratorInput, 0.0);
    update();
    EXPECT_EQ(work.rtdw.speedIntegratorState, 5e-4);

    // A negative speed error leads back: it passes, and the output leaves saturation.
    // u_speed = 5e-4 - 1 = -0.9995; u_cur = -1.999; current state -0.9995 × 1e-4.
    outputs({.speedReference = -60}, p);
    EXPECT_EQ(output, -1.999);
    EXPECT_EQ(work.rtb.speedIntegratorInput, -1.0);
    EXPECT_FALSE(work.rtb.saturatedHigh);
    update();
    EXPECT_EQ(work.rtdw.speedIntegratorState, 4e-4);
    EXPECT_EQ(work.rtdw.currentIntegratorState, -9.995e-05);
    EXPECT_FALSE(work.rtdw.saturatedHighPrev);
}

TEST_F(VelocityController, UpdateCarriesEachFlagToTheNextStep) {
    modelParameterSetup(&work.rtb, 2.0, 10.0);
    outputs({.speedReference = -600});   // speed loop below its limit only
    update();
    EXPECT_FALSE(work.rtdw.saturatedHighPrev);
    EXPECT_TRUE(work.rtdw.saturatedLowPrev);

    outputs({.speedReference = 600});   // speed loop above its limit only
    update();
    EXPECT_TRUE(work.rtdw.saturatedHighPrev);
    EXPECT_FALSE(work.rtdw.saturatedLowPrev);
}

TEST_F(VelocityController, CallsThatAreNotSampleHitsChangeNothing) {
    struct Case {
        const char* name;
        void (*setHost)(qeltest::ModelFixture&);
    };
    const Case cases[] = {
        {"1e-5 s hit only", [](qeltest::ModelFixture& h) { h.majorStep({1}); }},
        {"no hit", [](qeltest::ModelFixture& h) { h.majorStep({}); }},
        {"minor time step", [](qeltest::ModelFixture& h) { h.minorStep(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        modelParameterSetup(&work.rtb, 2.0, 10.0);
        outputs({600, 20, 0, 0.5});   // sets both flags
        update();
        const auto rtbBefore = qeltest::bytesOf(work.rtb);
        const auto rtdwBefore = qeltest::bytesOf(work.rtdw);
        const double outputBefore = output;

        c.setHost(host);
        outputs({-60, 1, 30, 2}, {.speedGain = 3});
        update();

        EXPECT_EQ(qeltest::bytesOf(work.rtb), rtbBefore);
        EXPECT_EQ(qeltest::bytesOf(work.rtdw), rtdwBefore);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, output, outputBefore);
    }
}

TEST_F(VelocityController, SystemInitializeAndResetClearTheStatesOnly) {
    for (void (*reset)(Rtdw*) : {&modelSystemInitialize, &modelSystemReset}) {
        modelParameterSetup(&work.rtb, 2.0, 10.0);
        work.rtdw.speedIntegratorState = 1.5;
        work.rtdw.currentIntegratorState = -2.5;
        work.rtdw.saturatedHighPrev = true;
        work.rtdw.saturatedLowPrev = true;
        const auto rtbBefore = qeltest::bytesOf(work.rtb);
        reset(&work.rtdw);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtdw.speedIntegratorState, 0.0);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtdw.currentIntegratorState, 0.0);
        EXPECT_FALSE(work.rtdw.saturatedHighPrev);
        EXPECT_FALSE(work.rtdw.saturatedLowPrev);
        EXPECT_EQ(qeltest::bytesOf(work.rtb), rtbBefore);
    }
}

TEST(VelocityControllerLifecycle, InitializeClearsGarbageAnnouncesTheStartAndPublishesTheMap) {
    qeltest::ModelFixture host(kModelName);
    WorkRecord work;
    std::memset(static_cast<void*>(&work), 0xA5, sizeof work);
    qelhost::pluginEvents().clear();

    modelInitialize(host.block(), 1, 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 4, nullptr, nullptr, 0,
                    -1);

    EXPECT_EQ(qeltest::bytesOf(work.rtb), std::vector<unsigned char>(sizeof(Rtb), 0));
    EXPECT_EQ(qeltest::bytesOf(work.rtdw), std::vector<unsigned char>(sizeof(Rtdw), 0));
    ASSERT_EQ(qelhost::pluginEvents().size(), 1u);
    EXPECT_EQ(qelhost::pluginEvents()[0].block, host.block());
    EXPECT_EQ(qelhost::pluginEvents()[0].modelName, "Qel_Lib_wexa_velocity_controller_sub");
    EXPECT_EQ(qelhost::pluginEvents()[0].eventName, "START_OF_SIM_MODEL_MODELREF_ACCEL_EVENT");

    // Current integrator first, then the speed integrator, then the two flags as "upperLimit"
    // and "lowerLimit" of the one group; twelve systems on rate 1's task, the last on rate 0's.
    qeltest::expectMap(work.instance.mapInfo,
                       {.states = {{&work.rtdw.currentIntegratorState, 0, -1, 0},
                                   {&work.rtdw.speedIntegratorState, 0, -1, 0},
                                   {&work.rtdw.saturatedHighPrev, 1, 0, 0},
                                   {&work.rtdw.saturatedLowPrev, 1, 0, 1}},
                        .sampleTimeTask = 1,
                        .systemTids = {4, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1},
                        .limitGroup = true,
                        .checksum = {0x54E4DD6F, 0xDD6B01A0, 0xAD86A2DA, 0x5305ACEE}});
}

TEST(VelocityControllerLifecycle, TerminateSendsOneTerminatingEventAndChangesNothing) {
    qeltest::ModelFixture host(kModelName);
    WorkRecord work;
    modelInitialize(host.block(), 1, 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 0, nullptr, nullptr, 0,
                    -1);
    const auto before = qeltest::bytesOf(work);
    qelhost::pluginEvents().clear();

    modelTerminate(&work.instance);

    ASSERT_EQ(qelhost::pluginEvents().size(), 1u);
    EXPECT_EQ(qelhost::pluginEvents()[0].block, host.block());
    EXPECT_EQ(qelhost::pluginEvents()[0].modelName, "Qel_Lib_wexa_velocity_controller_sub");
    EXPECT_EQ(qelhost::pluginEvents()[0].eventName, "SIMSTATUS_TERMINATING_MODELREF_ACCEL_EVENT");
    EXPECT_EQ(qeltest::bytesOf(work), before);
}

}  // namespace

#include "controllers/Qel_Lib_wexa_position_controller_sub.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "tests/controllers/controller_checks.h"
#include "tests/support/model_fixture.h"

using namespace Qel_Lib_wexa_position_controller_sub;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Inputs {
    double positionReference = 0.0, speedFeedForward = 0.0, currentFeedForward = 0.0;
    double positionMeasured = 0.0, speedMeasured = 0.0, currentMeasured = 0.0;
};

struct Parameters {
    double speedGain = 1.0, currentGain = 1.0, positionGain = 1.0, speedIntegralTime = 1.0,
           currentIntegralTime = 1.0, speedScaleDenominator = 1.0, speedScaleNumerator = 1.0;
};

// Rates 1e-5 s, 1e-4 s and constant run on the top model's tasks 1, 2 and an always-due id 3.
class PositionController : public ::testing::Test {
protected:
    void SetUp() override {
        modelInitialize(host.block(), 1, 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 0, nullptr, nullptr,
                        0, -1);
        host.majorStep({1, 2});
    }

    void outputs(const Inputs& in, const Parameters& p = {}) {
        modelOutputs(&work.instance, in.positionReference, in.speedFeedForward, in.currentFeedForward,
                     in.positionMeasured, in.speedMeasured, in.currentMeasured, &output, &work.rtb, &work.rtdw,
                     p.speedGain, p.currentGain, p.positionGain, p.speedIntegralTime, p.currentIntegralTime,
                     p.speedScaleDenominator, p.speedScaleNumerator);
    }
    void update() { modelUpdate(&work.instance, &work.rtb, &work.rtdw); }

    qeltest::ModelFixture host{kModelName};
    WorkRecord work;
    double output = -7.0;
};

TEST_F(PositionController, ParameterSetupDerivesTheLimits) {
    modelParameterSetup(&work.rtb, 2.0, 10.0);
    EXPECT_EQ(work.rtb.speedUpperLimit, 6.0);
    EXPECT_EQ(work.rtb.speedLowerLimit, -6.0);
    EXPECT_EQ(work.rtb.outputLimit, 9.5);
}

TEST_F(PositionController, OneComputingStep) {
    struct Case {
        const char* name;
        Rtdw state;
        Inputs in;
        Parameters p;
        double expectedOutput, expectedCurrentInput, expectedSpeedInput;
        bool expectedHigh, expectedLow;
    };
    // Bases 2 and 10: speed-loop output limited to ±6, output to ±9.5. Positions scale by
    // 0.002777777777777778 (360° → 1, 180° → 0.5, 1710° → 4.75, 3600° → 10, all exact), speeds by
    // 0.016666666666666666 (60 rev/min → 1). With unit gains the speed error reaches the output.
    const Case cases[] = {
        {"a position error of 360° gives a speed error of 1", {}, {.positionReference = 360}, {}, 1.0, 1.0, 1.0,
         false, false},
        // (1 - 0.5) × 4
        {"position gain multiplies the position difference", {}, {.positionReference = 360, .positionMeasured = 180},
         {.positionGain = 4}, 2.0, 2.0, 2.0, false, false},
        // 60 × 1/60 + (720 × 1/360 × 2) × 1 - 60 × 1/60 × 2 = 1 + 4 - 2
        {"ratio scales positions and measured speed, not the feed-forward", {},
         {.positionReference = 720, .speedFeedForward = 60, .speedMeasured = 60}, {.speedScaleNumerator = 2}, 3.0,
         3.0, 3.0, false, false},
        // 1 + 2 / 2 - 1 / 2
        {"ratio divides by the denominator", {}, {.positionReference = 720, .speedFeedForward = 60, .speedMeasured = 60},
         {.speedScaleDenominator = 2}, 1.5, 1.5, 1.5, false, false},
        // (1000 - 370)° and 130 rev/min with the ratio 0.3 / 0.7 applied numerator first; dividing
        // first would round to -0.17857142857142871
        {"ratio applied as written, numerator first", {},
         {.positionReference = 1000, .positionMeasured = 370, .speedMeasured = 130},
         {.speedScaleDenominator = 0.7, .speedScaleNumerator = 0.3}, -0.1785714285714285, -0.1785714285714285,
         -0.1785714285714285, false, false},
        // 120 × 1/60 - 60 × 1/60
        {"position gain 0 leaves feed-forward less measured speed", {},
         {.positionReference = 720, .speedFeedForward = 120, .speedMeasured = 60}, {.positionGain = 0}, 1.0, 1.0,
         1.0, false, false},
        // u_speed = (0.25 / 0.5 + 1) × 2 = 3; e_cur = 3 - 0.25
        {"speed PI sum and measured current", {0.25, 0, false, false},
         {.positionReference = 360, .currentMeasured = 0.25}, {.speedGain = 2, .speedIntegralTime = 0.5}, 2.75, 2.75,
         1.0, false, false},
        {"speed loop above its limit, feed-forward after the limit", {},
         {.positionReference = 3600, .currentFeedForward = 1}, {}, 7.0, 7.0, 10.0, true, false},
        {"speed loop below its limit", {}, {.positionReference = -3600}, {}, -6.0, -6.0, -10.0, false, true},
        {"output saturated high, error driving further", {}, {.positionReference = 1800}, {.currentGain = 2}, 9.5, 0.0,
         5.0, true, false},
        {"output saturated low, error driving further", {}, {.positionReference = -1800}, {.currentGain = 2}, -9.5,
         0.0, -5.0, false, true},
        {"output equal to its limit is not saturated", {}, {.positionReference = 1710}, {.currentGain = 2}, 9.5, 4.75,
         4.75, false, false},
        {"previous high flag stops a positive speed error", {0, 0, true, false}, {.positionReference = 360}, {}, 1.0,
         1.0, 0.0, false, false},
        {"previous high flag passes a negative speed error", {0, 0, true, false}, {.positionReference = -360}, {},
         -1.0, -1.0, -1.0, false, false},
        {"previous low flag stops a negative speed error", {0, 0, false, true}, {.positionReference = -360}, {}, -1.0,
         -1.0, 0.0, false, false},
        {"both previous flags stop a negative speed error", {0, 0, true, true}, {.positionReference = -360}, {}, -1.0,
         -1.0, 0.0, false, false},
        {"speed loop low and output high set both flags", {}, {.positionReference = -3600, .currentFeedForward = 20},
         {}, 9.5, 0.0, -10.0, true, true},
        {"NaN position passes everything and sets no flag", {}, {.positionReference = kNaN}, {}, kNaN, kNaN, kNaN,
         false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        modelParameterSetup(&work.rtb, 2.0, 10.0);
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

TEST_F(PositionController, SaturationFlagStopsTheNextPositiveSpeedError) {
    modelParameterSetup(&work.rtb, 2.0, 10.0);

    // 3600° drives u_speed = 10 above the limit 6: i_ref = 6 and the high flag is set.
    outputs({.positionReference = 3600});
    EXPECT_EQ(output, 6.0);
    EXPECT_EQ(work.rtb.speedIntegratorInput, 10.0);
    update();
    EXPECT_EQ(work.rtdw.speedIntegratorState, 1e-3);   // 10 × 1e-4
    EXPECT_EQ(work.rtdw.currentIntegratorState, 6.000000000000001e-4);   // 6 × 1e-4 rounds up
    EXPECT_TRUE(work.rtdw.saturatedHighPrev);

    // A 1e-5 s step in between changes nothing.
    host.majorStep({1});
    outputs({.positionReference = -3600});
    update();
    EXPECT_EQ(output, 6.0);
    EXPECT_EQ(work.rtdw.speedIntegratorState, 1e-3);

    host.majorStep({1, 2});
    outputs({.positionReference = 3600});
    EXPECT_EQ(work.rtb.speedIntegratorInput, 0.0);
    update();
    EXPECT_EQ(work.rtdw.speedIntegratorState, 1e-3);
    EXPECT_EQ(work.rtdw.currentIntegratorState, 1.2000000000000001e-3);   // twice 6 × 1e-4
}

TEST_F(PositionController, UpdateCarriesEachFlagToTheNextStep) {
    modelParameterSetup(&work.rtb, 2.0, 10.0);
    outputs({.positionReference = -3600});   // speed loop below its limit only
    update();
    EXPECT_FALSE(work.rtdw.saturatedHighPrev);
    EXPECT_TRUE(work.rtdw.saturatedLowPrev);

    outputs({.positionReference = 3600});   // speed loop above its limit only
    update();
    EXPECT_TRUE(work.rtdw.saturatedHighPrev);
    EXPECT_FALSE(work.rtdw.saturatedLowPrev);
}

TEST_F(PositionController, CallsThatAreNotSampleHitsChangeNothing) {
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
        outputs({.positionReference = -3600, .currentFeedForward = 20, .currentMeasured = 0.5});
        update();
        const auto rtbBefore = qeltest::bytesOf(work.rtb);
        const auto rtdwBefore = qeltest::bytesOf(work.rtdw);
        const double outputBefore = output;

        c.setHost(host);
        outputs({90, 30, 1, 10, 60, 2}, {.speedGain = 3});
        update();

        EXPECT_EQ(qeltest::bytesOf(work.rtb), rtbBefore);
        EXPECT_EQ(qeltest::bytesOf(work.rtdw), rtdwBefore);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, output, outputBefore);
    }
}

TEST_F(PositionController, SystemInitializeAndResetClearTheStatesOnly) {
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

TEST(PositionControllerLifecycle, InitializeClearsGarbageAnnouncesTheStartAndPublishesTheMap) {
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
    EXPECT_EQ(qelhost::pluginEvents()[0].modelName, "Qel_Lib_wexa_position_controller_sub");
    EXPECT_EQ(qelhost::pluginEvents()[0].eventName, "START_OF_SIM_MODEL_MODELREF_ACCEL_EVENT");

    qeltest::expectMap(work.instance.mapInfo,
                       {.states = {{&work.rtdw.currentIntegratorState, 0, -1, 0},
                                   {&work.rtdw.speedIntegratorState, 0, -1, 0},
                                   {&work.rtdw.saturatedHighPrev, 1, 0, 0},
                                   {&work.rtdw.saturatedLowPrev, 1, 0, 1}},
                        .sampleTimeTask = 1,
                        .systemTids = {4, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1},
                        .limitGroup = true,
                        .checksum = {0xF36D3F7D, 0x655C4531, 0x54503132, 0xB86578A4}});
}

TEST(PositionControllerLifecycle, TerminateSendsOneTerminatingEventAndChangesNothing) {
    qeltest::ModelFixture host(kModelName);
    WorkRecord work;
    modelInitialize(host.block(), 1, 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 0, nullptr, nullptr, 0,
                    -1);
    const auto before = qeltest::bytesOf(work);
    qelhost::pluginEvents().clear();

    modelTerminate(&work.instance);

    ASSERT_EQ(qelhost::pluginEvents().size(), 1u);
    EXPECT_EQ(qelhost::pluginEvents()[0].block, host.block());
    EXPECT_EQ(qelhost::pluginEvents()[0].modelName, "Qel_Lib_wexa_position_controller_sub");
    EXPECT_EQ(qelhost::pluginEvents()[0].eventName, "SIMSTATUS_TERMINATING_MODELREF_ACCEL_EVENT");
    EXPECT_EQ(qeltest::bytesOf(work), before);
}

}  // namespace

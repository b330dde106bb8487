#include "controllers/Qel_Lib_wexa_position_controller_dq_sub.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

#include "tests/controllers/controller_checks.h"
#include "tests/support/model_fixture.h"

using namespace Qel_Lib_wexa_position_controller_dq_sub;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Inputs {
    double positionReference = 0.0, speedFeedForward = 0.0, currentFeedForward = 0.0;
    double positionMeasured = 0.0, speedMeasured = 0.0;
    double phaseCurrents[3] = {0.0, 0.0, 0.0};
    double electricalAngle = 0.0;
};

struct Parameters {
    double speedGain = 1.0, currentGain = 1.0, positionGain = 1.0, couplingFactorB = 1.0, speedIntegralTime = 1.0,
           currentIntegralTime = 1.0, speedScaleDenominator = 1.0, speedScaleNumerator = 1.0,
           outputLimitBase = 10.0;
    double couplingFactorA = 1.0, currentLimitBase = 2.0;   // parameter call only
};

class PositionControllerDq : public ::testing::Test {
protected:
    void SetUp() override {
        modelInitialize(host.block(), 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 0, nullptr, nullptr, 0,
                        -1);
    }

    void setup(const Parameters& p) {
        modelParameterSetup(&work.rtb, p.couplingFactorA, p.currentLimitBase, p.outputLimitBase);
    }
    void outputs(const Inputs& in, const Parameters& p) {
        modelOutputs(in.positionReference, in.speedFeedForward, in.currentFeedForward, in.positionMeasured,
                     in.speedMeasured, in.phaseCurrents, in.electricalAngle, phaseOutputs, &work.rtb, &work.rtdw,
                     p.speedGain, p.currentGain, p.positionGain, p.couplingFactorB, p.speedIntegralTime,
                     p.currentIntegralTime, p.speedScaleDenominator, p.speedScaleNumerator, p.outputLimitBase);
    }
    void update() { modelUpdate(&work.rtb, &work.rtdw); }

    qeltest::ModelFixture host{kModelName};
    WorkRecord work;
    double phaseOutputs[3] = {-7.0, -7.0, -7.0};
};

TEST_F(PositionControllerDq, ParameterSetupDerivesLimitsAndCouplingFactor) {
    modelParameterSetup(&work.rtb, 2.0, 2.0, 10.0);
    EXPECT_EQ(work.rtb.speedUpperLimit, 6.0);
    EXPECT_EQ(work.rtb.speedLowerLimit, -6.0);
    EXPECT_EQ(work.rtb.couplingFactorScaled, 0.3183098861837907);   // 2 × 0.15915494309189535
    EXPECT_EQ(work.rtb.outputLimitQ, 9.5);
    EXPECT_EQ(work.rtb.outputLimitD, 9.5);
}

TEST_F(PositionControllerDq, OneStep) {
    struct Case {
        const char* name;
        Rtdw state;
        Inputs in;
        Parameters p;
        double expectedOutputs[3];
        double expectedInputQ, expectedInputD, expectedSpeedInput;
        bool expectedHigh, expectedLow;
    };
    // Speed-loop limit ±6 (base 2), axis limits 0.95 × the output limit base. Zero currents at
    // angle 0 measure nothing. A q output v centres to (0, 0.866 v, -0.866 v), a d output v to
    // (0.75 v, -0.75 v, -0.75 v); there is no output gain. A measured speed adds a small
    // decoupling term to the d output even with a zero d state.
    const Case cases[] = {
        {"zero inputs give zero outputs", {}, {}, {}, {0.0, 0.0, 0.0}, 0.0, 0.0, 0.0, false, false},
        // 360° → e_speed 1, q reference 1 × 1 × 2/3; 0.866 × 0.6666666666666666 = 0.5773502691896257
        {"a position error of 360° gives a speed error of 1", {}, {.positionReference = 360}, {},
         {0.0, 0.5773502691896257, -0.5773502691896257}, 0.6666666666666666, 0.0, 1.0, false, false},
        // 60 × 1/60 + 720 × 1/360 × 2 - 60 × 1/60 × 2 = 1 + 4 - 2; q reference 2; the measured
        // speed gives w = 1/60 × 2 × 2 × 2π/60 × 1 × 2 × 1/(2π) = 0.0022222222222222222
        {"ratio scales positions and measured speed, not the feed-forward", {},
         {.positionReference = 720, .speedFeedForward = 60, .speedMeasured = 60}, {.speedScaleNumerator = 2},
         {-0.0033333333333331883, 1.7320508075688772, -1.7320508075688772}, 2.0, 0.0, 3.0, false, false},
        {"position gain 0 leaves feed-forward less measured speed", {},
         {.positionReference = 720, .speedFeedForward = 120, .speedMeasured = 60}, {.positionGain = 0},
         {-0.0002777777777778212, 0.5773502691896257, -0.5773502691896257}, 0.6666666666666666, 0.0, 1.0, false,
         false},
        // v_q = 0.8 and v_d = -0.45 rotated by 0.7 rad, spread and centred
        {"both axes at an arbitrary angle", {0, 0.8, -0.45, false, false}, {.electricalAngle = 0.7}, {},
         {-0.7840844575700012, 0.7840844575700012, 0.22640602949451427}, 0.0, 0.0, 0.0, false, false},
        // unscaled currents: α = 2/3 + 1/6 + 1/6 = 0.9999999999999999 as rounded, β = 0; e_d = -α
        {"measured current in the d axis, unscaled", {}, {.phaseCurrents = {1, -0.5, -0.5}}, {},
         {-0.7499999999999999, 0.7499999999999999, 0.7499999999999999}, 0.0, -0.9999999999999999, 0.0, false,
         false},
        // 7200° → 20 × 2/3 limited to 6, plus the feed-forward 1
        {"speed loop above its limit, feed-forward after the limit", {},
         {.positionReference = 7200, .currentFeedForward = 1}, {}, {0.0, 6.06217782649107, -6.06217782649107}, 7.0,
         0.0, 20.0, true, false},
        {"speed loop below its limit", {}, {.positionReference = -7200}, {},
         {0.0, -5.196152422706632, 5.196152422706632}, -6.0, 0.0, -20.0, false, true},
        {"q axis saturated high sets the high flag", {}, {.currentFeedForward = 5},
         {.currentGain = 2, .outputLimitBase = 1}, {0.0, 0.8227241335952167, -0.8227241335952167}, 0.0, 0.0, 0.0,
         true, false},
        {"d axis saturation alone sets no flag", {0, 0, 2, false, false}, {}, {.outputLimitBase = 1},
         {0.7124999999999999, -0.7124999999999999, -0.7124999999999999}, 0.0, 0.0, 0.0, false, false},
        {"previous high flag stops a positive speed error", {0, 0, 0, true, false}, {.positionReference = 360}, {},
         {0.0, 0.5773502691896257, -0.5773502691896257}, 0.6666666666666666, 0.0, 0.0, false, false},
        {"previous high flag passes a negative speed error", {0, 0, 0, true, false}, {.positionReference = -360}, {},
         {0.0, -0.5773502691896257, 0.5773502691896257}, -0.6666666666666666, 0.0, -1.0, false, false},
        {"previous low flag stops a negative speed error", {0, 0, 0, false, true}, {.positionReference = -360}, {},
         {0.0, -0.5773502691896257, 0.5773502691896257}, -0.6666666666666666, 0.0, 0.0, false, false},
        {"both previous flags stop a positive speed error", {0, 0, 0, true, true}, {.positionReference = 360}, {},
         {0.0, 0.5773502691896257, -0.5773502691896257}, 0.6666666666666666, 0.0, 0.0, false, false},
        // v_q = v_d = 0.95; centred a and c lie beyond ±1 and are clamped to exactly ±1
        {"phase values beyond the output limit base are clamped", {0, 2, 2, false, false}, {},
         {.outputLimitBase = 1}, {1.0, 0.5215862003928251, -1.0}, 0.0, 0.0, 0.0, true, false},
        // v_meas = 1900 × 1/60 × 0.3 / 0.7; p_ref = 300 × 1/360 × 0.3 / 0.7;
        // e_speed = p_ref - v_meas = -13.214285714285715; i_q,ref = e_speed × 0.5 × 2/3. With current
        // gain 0, v_d = -w, w = 1/60 × v_meas × 0.3 / 0.7 × 2π/60 × 2.3 × i_q,ref × 3.3/(2π)
        // = -0.05401451652089407 (the reference without the feed-forward).
        {"decoupling term takes the measured speed scaled twice", {},
         {.positionReference = 300, .currentFeedForward = 1.5, .speedMeasured = 1900},
         {.speedGain = 0.5, .currentGain = 0, .couplingFactorB = 2.3, .speedScaleDenominator = 0.7,
          .speedScaleNumerator = 0.3, .outputLimitBase = 1e9, .couplingFactorA = 3.3, .currentLimitBase = 1e6},
         {0.040510887390670554, -0.040510887390670554, -0.040510887390670554}, -2.904761904761905, 0.0,
         -13.214285714285715, false, false},
        {"NaN position reaches every phase and sets no flag", {}, {.positionReference = kNaN}, {}, {kNaN, kNaN, kNaN},
         kNaN, 0.0, kNaN, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        setup(c.p);
        work.rtdw = c.state;

        outputs(c.in, c.p);

        for (int k = 0; k < 3; ++k) {
            SCOPED_TRACE(testing::Message() << "phase " << k);
            EXPECT_PRED_FORMAT2(qeltest::SameDouble, phaseOutputs[k], c.expectedOutputs[k]);
        }
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtb.integratorInputQ, c.expectedInputQ);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtb.integratorInputD, c.expectedInputD);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtb.speedIntegratorInput, c.expectedSpeedInput);
        EXPECT_EQ(work.rtb.saturatedHigh, c.expectedHigh);
        EXPECT_EQ(work.rtb.saturatedLow, c.expectedLow);
    }
}

TEST_F(PositionControllerDq, BalancedCurrentsMeasureTheirAmplitudeInTheDAxisAtAnyAngle) {
    // Without the 2/3 input scaling the transform gives d = 1 and q = 0, up to rounding.
    const Parameters p = {.currentIntegralTime = 1e9};
    for (double angle : {0.3, 1.0, 2.5, -1.2, 10.0}) {
        SCOPED_TRACE(testing::Message() << "angle " << angle);
        SetUp();
        setup(p);
        Inputs in = {.electricalAngle = angle};
        in.phaseCurrents[0] = std::cos(angle);
        in.phaseCurrents[1] = std::cos(angle - 2.0 * std::numbers::pi / 3.0);
        in.phaseCurrents[2] = std::cos(angle + 2.0 * std::numbers::pi / 3.0);

        outputs(in, p);

        EXPECT_NEAR(work.rtb.integratorInputD, -1.0, 1e-15);
        EXPECT_NEAR(work.rtb.integratorInputQ, 0.0, 1e-15);
    }
}

TEST_F(PositionControllerDq, UpdateIntegratesAtEveryCall) {
    const Parameters p;
    setup(p);
    const Inputs in = {.positionReference = 360};

    outputs(in, p);
    update();
    EXPECT_EQ(work.rtdw.speedIntegratorState, 1e-4);
    EXPECT_EQ(work.rtdw.integratorStateQ, 6.666666666666667e-05);   // 0.6666666666666666 × 1e-4
    EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtdw.integratorStateD, 0.0);

    // No rate test: a minor time step computes all the same.
    host.minorStep();
    outputs(in, p);
    EXPECT_EQ(work.rtb.integratorInputQ, 0.6667333333333333);   // (1e-4 + 1) × 2/3
    EXPECT_EQ(phaseOutputs[1], 0.5774657392434636);
    update();
    EXPECT_EQ(work.rtdw.speedIntegratorState, 2e-4);
    EXPECT_EQ(work.rtdw.integratorStateQ, 0.00013334000000000002);
}

TEST_F(PositionControllerDq, QAxisSaturationStopsTheNextPositiveSpeedError) {
    const Parameters p = {.currentGain = 2, .outputLimitBase = 1};
    setup(p);

    outputs({.positionReference = 360, .currentFeedForward = 5}, p);
    EXPECT_EQ(work.rtb.speedIntegratorInput, 1.0);
    EXPECT_TRUE(work.rtb.saturatedHigh);
    update();
    EXPECT_EQ(work.rtdw.speedIntegratorState, 1e-4);
    EXPECT_TRUE(work.rtdw.saturatedHighPrev);

    outputs({.positionReference = 360, .currentFeedForward = 5}, p);
    EXPECT_EQ(work.rtb.speedIntegratorInput, 0.0);
    update();
    EXPECT_EQ(work.rtdw.speedIntegratorState, 1e-4);

    outputs({.positionReference = -360, .currentFeedForward = 5}, p);
    EXPECT_EQ(work.rtb.speedIntegratorInput, -1.0);
    update();
    EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtdw.speedIntegratorState, 0.0);
}

TEST_F(PositionControllerDq, UpdateCarriesEachFlagToTheNextStep) {
    const Parameters p;
    setup(p);
    outputs({.positionReference = -7200}, p);   // speed loop below its limit only
    update();
    EXPECT_FALSE(work.rtdw.saturatedHighPrev);
    EXPECT_TRUE(work.rtdw.saturatedLowPrev);

    outputs({.positionReference = 7200}, p);   // speed loop above its limit only
    update();
    EXPECT_TRUE(work.rtdw.saturatedHighPrev);
    EXPECT_FALSE(work.rtdw.saturatedLowPrev);
}

TEST_F(PositionControllerDq, SystemInitializeAndResetClearTheStatesOnly) {
    for (void (*reset)(Rtdw*) : {&modelSystemInitialize, &modelSystemReset}) {
        setup({});
        work.rtdw.speedIntegratorState = 1.5;
        work.rtdw.integratorStateQ = -2.5;
        work.rtdw.integratorStateD = 3.5;
        work.rtdw.saturatedHighPrev = true;
        work.rtdw.saturatedLowPrev = true;
        const auto rtbBefore = qeltest::bytesOf(work.rtb);
        reset(&work.rtdw);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtdw.speedIntegratorState, 0.0);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtdw.integratorStateQ, 0.0);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtdw.integratorStateD, 0.0);
        EXPECT_FALSE(work.rtdw.saturatedHighPrev);
        EXPECT_FALSE(work.rtdw.saturatedLowPrev);
        EXPECT_EQ(qeltest::bytesOf(work.rtb), rtbBefore);
    }
}

TEST(PositionControllerDqLifecycle, InitializeClearsGarbageAnnouncesTheStartAndPublishesTheMap) {
    qeltest::ModelFixture host(kModelName);
    WorkRecord work;
    std::memset(static_cast<void*>(&work), 0xA5, sizeof work);
    qelhost::pluginEvents().clear();

    modelInitialize(host.block(), 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 5, nullptr, nullptr, 0, -1);

    EXPECT_EQ(qeltest::bytesOf(work.rtb), std::vector<unsigned char>(sizeof(Rtb), 0));
    EXPECT_EQ(qeltest::bytesOf(work.rtdw), std::vector<unsigned char>(sizeof(Rtdw), 0));
    EXPECT_EQ(work.instance.globalTid[0], 2);
    EXPECT_EQ(work.instance.globalTid[1], 3);
    ASSERT_EQ(qelhost::pluginEvents().size(), 1u);
    EXPECT_EQ(qelhost::pluginEvents()[0].block, host.block());
    EXPECT_EQ(qelhost::pluginEvents()[0].modelName, "Qel_Lib_wexa_position_controller_dq_sub");
    EXPECT_EQ(qelhost::pluginEvents()[0].eventName, "START_OF_SIM_MODEL_MODELREF_ACCEL_EVENT");

    // Every system after the context runs on rate 0's task.
    qeltest::expectMap(work.instance.mapInfo,
                       {.states = {{&work.rtdw.integratorStateQ, 0, -1, 0},
                                   {&work.rtdw.integratorStateD, 0, -1, 0},
                                   {&work.rtdw.speedIntegratorState, 0, -1, 0},
                                   {&work.rtdw.saturatedHighPrev, 1, 0, 0},
                                   {&work.rtdw.saturatedLowPrev, 1, 0, 1}},
                        .sampleTimeTask = 0,
                        .systemTids = {5, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},
                        .limitGroup = true,
                        .checksum = {0x345D48DB, 0xDABD3AA0, 0x74C562DB, 0x96623882}});
}

TEST(PositionControllerDqLifecycle, TerminateSendsOneTerminatingEventAndChangesNothing) {
    qeltest::ModelFixture host(kModelName);
    WorkRecord work;
    modelInitialize(host.block(), 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 0, nullptr, nullptr, 0, -1);
    const auto before = qeltest::bytesOf(work);
    qelhost::pluginEvents().clear();

    modelTerminate(&work.instance);

    ASSERT_EQ(qelhost::pluginEvents().size(), 1u);
    EXPECT_EQ(qelhost::pluginEvents()[0].block, host.block());
    EXPECT_EQ(qelhost::pluginEvents()[0].modelName, "Qel_Lib_wexa_position_controller_dq_sub");
    EXPECT_EQ(qelhost::pluginEvents()[0].eventName, "SIMSTATUS_TERMINATING_MODELREF_ACCEL_EVENT");
    EXPECT_EQ(qeltest::bytesOf(work), before);
}

}  // namespace

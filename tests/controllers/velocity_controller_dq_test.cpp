#include "controllers/Qel_Lib_wexa_velocity_controller_dq_sub.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

#include "tests/controllers/controller_checks.h"
#include "tests/support/model_fixture.h"

using namespace Qel_Lib_wexa_velocity_controller_dq_sub;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Inputs {
    double speedReference = 0.0, currentFeedForward = 0.0, speedMeasured = 0.0;
    double phaseCurrents[3] = {0.0, 0.0, 0.0};
    double electricalAngle = 0.0;
};

struct Parameters {
    double speedGain = 1.0, currentGain = 1.0, couplingFactorB = 1.0, speedIntegralTime = 1.0,
           currentIntegralTime = 1.0, speedScaleDenominator = 1.0, speedScaleNumerator = 1.0,
           outputLimitBase = 10.0;
    double couplingFactorA = 1.0, currentLimitBase = 2.0;   // parameter call only
};

// Rates 1e-5 s, 1e-4 s and constant run on the top model's tasks 1, 2 and an always-due id 3.
class VelocityControllerDq : public ::testing::Test {
protected:
    void SetUp() override {
        modelInitialize(host.block(), 1, 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 0, nullptr, nullptr,
                        0, -1);
        host.majorStep({1, 2});
    }

    void setup(const Parameters& p) {
        modelParameterSetup(&work.rtb, p.couplingFactorA, p.currentLimitBase, p.outputLimitBase);
    }
    void outputs(const Inputs& in, const Parameters& p) {
        modelOutputs(&work.instance, in.speedReference, in.currentFeedForward, in.speedMeasured, in.phaseCurrents,
                     in.electricalAngle, phaseOutputs, &work.rtb, &work.rtdw, p.speedGain, p.currentGain,
                     p.couplingFactorB, p.speedIntegralTime, p.currentIntegralTime, p.speedScaleDenominator,
                     p.speedScaleNumerator, p.outputLimitBase);
    }
    void update() { modelUpdate(&work.instance, &work.rtb, &work.rtdw); }

    qeltest::ModelFixture host{kModelName};
    WorkRecord work;
    double phaseOutputs[3] = {-7.0, -7.0, -7.0};
};

TEST_F(VelocityControllerDq, ParameterSetupDerivesLimitsAndCouplingFactor) {
    modelParameterSetup(&work.rtb, 2.0, 2.0, 10.0);
    EXPECT_EQ(work.rtb.speedUpperLimit, 6.0);
    EXPECT_EQ(work.rtb.speedLowerLimit, -6.0);
    EXPECT_EQ(work.rtb.couplingFactorScaled, 0.3183098861837907);   // 2 × 0.15915494309189535
    EXPECT_EQ(work.rtb.outputLimitQ, 9.5);
    EXPECT_EQ(work.rtb.outputLimitD, 9.5);
}

TEST_F(VelocityControllerDq, OneComputingStep) {
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
    // angle 0 measure nothing, so the q output is (feed-forward + limited speed sum) × gain
    // and the d output the d state. A q output v centres to (0, 0.866 v, -0.866 v), a d output v
    // to (0.75 v, -0.75 v, -0.75 v); the outputs are 1.35 times those.
    const Case cases[] = {
        {"zero inputs give zero outputs", {}, {}, {}, {0.0, 0.0, 0.0}, 0.0, 0.0, 0.0, false, false},
        // e_speed = 1, u_speed = 1 × 1 × 2/3 = 0.6666666666666666 is the q reference
        {"speed sum times two thirds is the q reference", {}, {.speedReference = 60}, {},
         {0.0, 0.7794228634059948, -0.7794228634059948}, 0.6666666666666666, 0.0, 1.0, false, false},
        // u_speed = 20 × 2/3 is limited to 6; the feed-forward 1 comes on top: v_q = 7
        {"speed loop above its limit, feed-forward after the limit", {},
         {.speedReference = 1200, .currentFeedForward = 1}, {}, {0.0, 8.183940065762945, -8.183940065762945}, 7.0,
         0.0, 20.0, true, false},
        {"speed loop below its limit", {}, {.speedReference = -1200}, {},
         {0.0, -7.014805770653954, 7.014805770653954}, -6.0, 0.0, -20.0, false, true},
        // v_q = 0.8 and v_d = -0.45 rotated by 0.7 rad, spread, centred, times 1.35
        {"both axes at an arbitrary angle", {0, 0.8, -0.45, false, false}, {.electricalAngle = 0.7}, {},
         {-1.0585140177195018, 1.0585140177195018, 0.3056481398175943}, 0.0, 0.0, 0.0, false, false},
        // (1, -0.5, -0.5) × 2/3 then the transform: α = 0.6666666666666667, β = 0; e_d = -α
        {"measured current in the d axis", {}, {.phaseCurrents = {1, -0.5, -0.5}}, {}, {-0.675, 0.675, 0.675}, 0.0,
         -0.6666666666666667, 0.0, false, false},
        // u_q = 5 × 2 = 10 > 0.95 with e_q = 5 > 0
        {"q axis saturated high sets the high flag", {}, {.currentFeedForward = 5},
         {.currentGain = 2, .outputLimitBase = 1}, {0.0, 1.1106775803535427, -1.1106775803535427}, 0.0, 0.0, 0.0,
         true, false},
        // u_d = 2 > 0.95: saturated, e_d = 0 passes as 0, and no flag
        {"d axis saturation alone sets no flag", {0, 0, 2, false, false}, {}, {.outputLimitBase = 1},
         {0.9618749999999999, -0.9618749999999999, -0.9618749999999999}, 0.0, 0.0, 0.0, false, false},
        {"previous high flag stops a positive speed error", {0, 0, 0, true, false}, {.speedReference = 60}, {},
         {0.0, 0.7794228634059948, -0.7794228634059948}, 0.6666666666666666, 0.0, 0.0, false, false},
        {"previous high flag passes a negative speed error", {0, 0, 0, true, false}, {.speedReference = -60}, {},
         {0.0, -0.7794228634059948, 0.7794228634059948}, -0.6666666666666666, 0.0, -1.0, false, false},
        {"previous low flag stops a negative speed error", {0, 0, 0, false, true}, {.speedReference = -60}, {},
         {0.0, -0.7794228634059948, 0.7794228634059948}, -0.6666666666666666, 0.0, 0.0, false, false},
        {"both previous flags stop a positive speed error", {0, 0, 0, true, true}, {.speedReference = 60}, {},
         {0.0, 0.7794228634059948, -0.7794228634059948}, 0.6666666666666666, 0.0, 0.0, false, false},
        // v_q = v_d = 0.95 spread to (0.95, 0.348, -1.298); centred a and c lie beyond ±1
        {"phase values beyond the output limit base are clamped", {0, 2, 2, false, false}, {},
         {.outputLimitBase = 1}, {1.35, 0.7041413705303139, -1.35}, 0.0, 0.0, 0.0, true, false},
        // v_meas = 1900 × 1/60 × 0.3 / 0.7; e_speed = 300 × 1/60 × 0.3 / 0.7 - v_meas = -11.42857142857143;
        // i_q,ref = e_speed × 0.5 × 2/3 = -3.80952380952381. With current gain 0, v_d = -w where
        // w = 1/60 × v_meas × 0.3 / 0.7 × 2π/60 × 2.3 × i_q,ref × 3.3/(2π) = -0.046715257531584065
        // (the reference without the feed-forward); it centres to (0.75 w', -0.75 w', -0.75 w').
        {"decoupling term takes the measured speed scaled twice", {},
         {.speedReference = 300, .currentFeedForward = 1.5, .speedMeasured = 1900},
         {.speedGain = 0.5, .currentGain = 0, .couplingFactorB = 2.3, .speedScaleDenominator = 0.7,
          .speedScaleNumerator = 0.3, .outputLimitBase = 1e9, .couplingFactorA = 3.3, .currentLimitBase = 1e6},
         {0.04729919825072887, -0.04729919825072887, -0.04729919825072887}, -2.30952380952381, 0.0,
         -11.42857142857143, false, false},
        {"zero coupling factor removes the decoupling", {0, 0, 1, false, false},
         {.speedReference = 60, .speedMeasured = 600}, {.couplingFactorB = 0},
         {2.0250000000000004, -7.014805770653954, 7.014805770653954}, -6.0, 0.0, -9.0, false, false},
        {"NaN speed reference reaches every phase and sets no flag", {}, {.speedReference = kNaN}, {},
         {kNaN, kNaN, kNaN}, kNaN, 0.0, kNaN, false, false},
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

TEST_F(VelocityControllerDq, BalancedCurrentsMeasureTwoThirdsInTheDAxisAtAnyAngle) {
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

        EXPECT_NEAR(work.rtb.integratorInputD, -2.0 / 3.0, 1e-15);
        EXPECT_NEAR(work.rtb.integratorInputQ, 0.0, 1e-15);
    }
}

TEST_F(VelocityControllerDq, IntegratesAtEachComputingStepOnly) {
    const Parameters p;
    setup(p);
    const Inputs in = {.speedReference = 60};

    outputs(in, p);
    update();
    EXPECT_EQ(work.rtdw.speedIntegratorState, 1e-4);
    EXPECT_EQ(work.rtdw.integratorStateQ, 6.666666666666667e-05);   // 0.6666666666666666 × 1e-4
    EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtdw.integratorStateD, 0.0);

    host.majorStep({1});
    outputs({.speedReference = -600}, p);
    update();
    EXPECT_EQ(phaseOutputs[1], 0.7794228634059948);
    EXPECT_EQ(work.rtdw.speedIntegratorState, 1e-4);

    // u_speed = (1e-4 + 1) × 2/3 = 0.6667333333333333; u_q adds the state 6.67e-5.
    host.majorStep({1, 2});
    outputs(in, p);
    EXPECT_EQ(work.rtb.integratorInputQ, 0.6667333333333333);
    EXPECT_EQ(phaseOutputs[1], 0.7795787479786759);
    update();
    EXPECT_EQ(work.rtdw.speedIntegratorState, 2e-4);
    EXPECT_EQ(work.rtdw.integratorStateQ, 0.00013334000000000002);
}

TEST_F(VelocityControllerDq, QAxisSaturationStopsTheNextPositiveSpeedError) {
    const Parameters p = {.currentGain = 2, .outputLimitBase = 1};
    setup(p);

    outputs({.speedReference = 60, .currentFeedForward = 5}, p);
    EXPECT_EQ(work.rtb.speedIntegratorInput, 1.0);
    EXPECT_TRUE(work.rtb.saturatedHigh);
    update();
    EXPECT_EQ(work.rtdw.speedIntegratorState, 1e-4);
    EXPECT_TRUE(work.rtdw.saturatedHighPrev);

    outputs({.speedReference = 60, .currentFeedForward = 5}, p);
    EXPECT_EQ(work.rtb.speedIntegratorInput, 0.0);
    update();
    EXPECT_EQ(work.rtdw.speedIntegratorState, 1e-4);

    outputs({.speedReference = -60, .currentFeedForward = 5}, p);
    EXPECT_EQ(work.rtb.speedIntegratorInput, -1.0);
    update();
    EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtdw.speedIntegratorState, 0.0);
}

TEST_F(VelocityControllerDq, UpdateCarriesEachFlagToTheNextStep) {
    const Parameters p;
    setup(p);
    outputs({.speedReference = -1200}, p);   // speed loop below its limit only
    update();
    EXPECT_FALSE(work.rtdw.saturatedHighPrev);
    EXPECT_TRUE(work.rtdw.saturatedLowPrev);

    outputs({.speedReference = 1200}, p);   // speed loop above its limit only
    update();
    EXPECT_TRUE(work.rtdw.saturatedHighPrev);
    EXPECT_FALSE(work.rtdw.saturatedLowPrev);
}

TEST_F(VelocityControllerDq, CallsThatAreNotSampleHitsChangeNothing) {
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
        const Parameters p = {.outputLimitBase = 1};
        setup(p);
        outputs({.speedReference = 1200, .currentFeedForward = 1, .phaseCurrents = {1, -0.5, -0.5}}, p);
        update();
        const auto rtbBefore = qeltest::bytesOf(work.rtb);
        const auto rtdwBefore = qeltest::bytesOf(work.rtdw);
        double outputsBefore[3];
        std::memcpy(outputsBefore, phaseOutputs, sizeof phaseOutputs);

        c.setHost(host);
        outputs({-60, 2, 30, {0.5, 0.5, -1}, 1.0}, {.speedGain = 3});
        update();

        EXPECT_EQ(qeltest::bytesOf(work.rtb), rtbBefore);
        EXPECT_EQ(qeltest::bytesOf(work.rtdw), rtdwBefore);
        EXPECT_EQ(std::memcmp(outputsBefore, phaseOutputs, sizeof phaseOutputs), 0);
    }
}

TEST_F(VelocityControllerDq, SystemInitializeAndResetClearTheStatesOnly) {
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

TEST(VelocityControllerDqLifecycle, InitializeClearsGarbageAnnouncesTheStartAndPublishesTheMap) {
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
    EXPECT_EQ(qelhost::pluginEvents()[0].modelName, "Qel_Lib_wexa_velocity_controller_dq_sub");
    EXPECT_EQ(qelhost::pluginEvents()[0].eventName, "START_OF_SIM_MODEL_MODELREF_ACCEL_EVENT");

    // q and d integrators, the speed integrator, then the two flags of the limit group;
    // eighteen systems on rate 1's task, the last on rate 0's.
    qeltest::expectMap(work.instance.mapInfo,
                       {.states = {{&work.rtdw.integratorStateQ, 0, -1, 0},
                                   {&work.rtdw.integratorStateD, 0, -1, 0},
                                   {&work.rtdw.speedIntegratorState, 0, -1, 0},
                                   {&work.rtdw.saturatedHighPrev, 1, 0, 0},
                                   {&work.rtdw.saturatedLowPrev, 1, 0, 1}},
                        .sampleTimeTask = 1,
                        .systemTids = {4, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1},
                        .limitGroup = true,
                        .checksum = {0x2B10C70A, 0xF2CAB392, 0xA52ABB68, 0xD90A6415}});
}

TEST(VelocityControllerDqLifecycle, TerminateSendsOneTerminatingEventAndChangesNothing) {
    qeltest::ModelFixture host(kModelName);
    WorkRecord work;
    modelInitialize(host.block(), 1, 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 0, nullptr, nullptr, 0,
                    -1);
    const auto before = qeltest::bytesOf(work);
    qelhost::pluginEvents().clear();

    modelTerminate(&work.instance);

    ASSERT_EQ(qelhost::pluginEvents().size(), 1u);
    EXPECT_EQ(qelhost::pluginEvents()[0].block, host.block());
    EXPECT_EQ(qelhost::pluginEvents()[0].modelName, "Qel_Lib_wexa_velocity_controller_dq_sub");
    EXPECT_EQ(qelhost::pluginEvents()[0].eventName, "SIMSTATUS_TERMINATING_MODELREF_ACCEL_EVENT");
    EXPECT_EQ(qeltest::bytesOf(work), before);
}

}  // namespace

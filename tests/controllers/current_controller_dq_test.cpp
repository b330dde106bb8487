#include "controllers/Qel_Lib_wexa_current_controller_dq_sub.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

#include "tests/controllers/controller_checks.h"
#include "tests/support/model_fixture.h"

using namespace Qel_Lib_wexa_current_controller_dq_sub;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kHalfPi = 1.5707963267948966;   // its sine rounds to 1, its cosine is 6.1e-17

struct Inputs {
    double qCurrentReference = 0.0, speedInput = 0.0;
    double phaseCurrents[3] = {0.0, 0.0, 0.0};
    double electricalAngle = 0.0;
};

struct Parameters {
    double proportionalGain = 1.0, couplingFactorB = 1.0, integralTime = 1.0, couplingDivisor = 1.0,
           couplingFactorC = 1.0, phaseLimit = 10.0;
    double couplingFactorA = 1.0, referenceLimitBase = 2.0;   // parameter call only
};

class CurrentControllerDq : public ::testing::Test {
protected:
    void SetUp() override {
        modelInitialize(host.block(), 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 0, nullptr, nullptr, 0,
                        -1);
    }

    void setup(const Parameters& p) {
        modelParameterSetup(&work.rtb, p.couplingFactorA, p.referenceLimitBase, p.phaseLimit);
    }
    void outputs(const Inputs& in, const Parameters& p) {
        modelOutputs(in.qCurrentReference, in.speedInput, in.phaseCurrents, in.electricalAngle, phaseOutputs,
                     &work.rtb, &work.rtdw, p.proportionalGain, p.couplingFactorB, p.integralTime, p.couplingDivisor,
                     p.couplingFactorC, p.phaseLimit);
    }

    qeltest::ModelFixture host{kModelName};
    WorkRecord work;
    double phaseOutputs[3] = {-7.0, -7.0, -7.0};
};

TEST_F(CurrentControllerDq, ParameterSetupDerivesLimitsAndCouplingFactor) {
    modelParameterSetup(&work.rtb, 2.0, 2.0, 10.0);
    EXPECT_EQ(work.rtb.referenceUpperLimit, 6.0);
    EXPECT_EQ(work.rtb.referenceLowerLimit, -6.0);
    EXPECT_EQ(work.rtb.couplingFactorScaled, 0.3183098861837907);   // 2 × 0.15915494309189535
    EXPECT_EQ(work.rtb.outputLimitQ, 9.5);
    EXPECT_EQ(work.rtb.outputLimitD, 9.5);
}

TEST_F(CurrentControllerDq, OneStep) {
    struct Case {
        const char* name;
        double integratorStateQ, integratorStateD;
        Inputs in;
        Parameters p;
        double expectedOutputs[3];
        double expectedInputQ, expectedInputD;
    };
    // Zero currents at angle 0 make both measured components 0, so the axis outputs are
    // (state / 1 + reference) × 1. A d output v alone spreads to (v, -v/2, -v/2) and centres to
    // (0.75 v, -0.75 v, -0.75 v); a q output v to (0, 0.866 v, -0.866 v), already centred. The
    // outputs are 1.35 times the centred values: 1.35 × 0.75 = 1.0125000000000002 and
    // 1.35 × 0.8660254037844386 = 1.1691342951089922.
    const Case cases[] = {
        {"zero inputs give zero outputs", 0, 0, {}, {}, {0.0, 0.0, 0.0}, 0.0, 0.0},
        {"d output alone", 0, 1, {}, {}, {1.0125000000000002, -1.0125000000000002, -1.0125000000000002}, 0.0, 0.0},
        {"speed without q reference adds no decoupling", 0, 1, {.speedInput = 6000}, {},
         {1.0125000000000002, -1.0125000000000002, -1.0125000000000002}, 0.0, 0.0},
        {"q output alone", 1, 0, {}, {}, {0.0, 1.1691342951089922, -1.1691342951089922}, 0.0, 0.0},
        // At π/2 the q output points along -α: (-1, 0.5, 0.5) centres to (-0.75, 0.75, 0.75).
        {"q output alone at a quarter turn", 1, 0, {.electricalAngle = kHalfPi}, {},
         {-1.0125000000000002, 1.0125000000000002, 1.0125000000000002}, 0.0, 0.0},
        // v_q = 0.8 and v_d = -0.45 rotated by 0.7 rad, spread, centred, times 1.35
        {"both axes at an arbitrary angle", 0.8, -0.45, {.electricalAngle = 0.7}, {},
         {-1.0585140177195018, 1.0585140177195018, 0.3056481398175943}, 0.0, 0.0},
        // Currents (1, -0.5, -0.5) scaled by 2/3 give α = 0.6666666666666667 (4/9 + 1/9 + 1/9
        // rounded step by step) and β = 0 exactly: e_d = -α, e_q = 0. v_d = -α centres to
        // (-0.5, 0.5, 0.5), times 1.35.
        {"measured current in the d axis", 0, 0, {.phaseCurrents = {1, -0.5, -0.5}}, {}, {-0.675, 0.675, 0.675},
         0.0, -0.6666666666666667},
        // 7 is limited to 6: v_q = 6 gives (0, 6 × 0.8660254037844386, ...) times 1.35
        {"q reference above its limit", 0, 0, {.qCurrentReference = 7}, {},
         {0.0, 7.014805770653954, -7.014805770653954}, 6.0, 0.0},
        // u_q = 5 × 2 = 10 > 0.95 with e_q = 5 > 0: v_q = 0.95, not integrated
        {"q axis saturated high, error driving further", 0, 0, {.qCurrentReference = 5},
         {.proportionalGain = 2, .phaseLimit = 1}, {0.0, 1.1106775803535427, -1.1106775803535427}, 0.0, 0.0},
        // u_d = -2 - 0.667 < -0.95 with e_d < 0: v_d = -0.95, not integrated
        {"d axis saturated low, error driving further", 0, -2, {.phaseCurrents = {1, -0.5, -0.5}},
         {.phaseLimit = 1}, {-0.9618749999999999, 0.9618749999999999, 0.9618749999999999}, 0.0, 0.0},
        {"d axis saturated low, error leading back", 0, -2, {.phaseCurrents = {-1, 0.5, 0.5}}, {.phaseLimit = 1},
         {-0.9618749999999999, 0.9618749999999999, 0.9618749999999999}, 0.0, 0.6666666666666667},
        // v_q = v_d = 0.95 spread to (0.95, 0.348, -1.298); centred a and c lie beyond ±1
        {"phase values beyond the phase limit are clamped", 2, 2, {}, {.phaseLimit = 1},
         {1.35, 0.7041413705303139, -1.35}, 0.0, 0.0},
        // w = 700 × 1/60 × 0.3 / 7 × 2π/60 × 0.9 × 1.25 × (0.2 / 2π) = 0.0018749999999999995 with
        // gain 0: v_d = -w spreads to (-w, w/2, w/2) and centres to (-0.75 w, 0.75 w, 0.75 w)
        {"decoupling term", 0, 0, {.qCurrentReference = 1.25, .speedInput = 700},
         {.proportionalGain = 0, .couplingFactorB = 0.9, .couplingDivisor = 7, .couplingFactorC = 0.3,
          .couplingFactorA = 0.2},
         {-0.0018984374999999995, 0.0018984374999999995, 0.0018984374999999995}, 1.25, 0.0},
        {"NaN reference reaches every phase", 0, 0, {.qCurrentReference = kNaN}, {}, {kNaN, kNaN, kNaN}, kNaN, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        setup(c.p);
        work.rtdw.integratorStateQ = c.integratorStateQ;
        work.rtdw.integratorStateD = c.integratorStateD;

        outputs(c.in, c.p);

        for (int k = 0; k < 3; ++k) {
            SCOPED_TRACE(testing::Message() << "phase " << k);
            EXPECT_PRED_FORMAT2(qeltest::SameDouble, phaseOutputs[k], c.expectedOutputs[k]);
        }
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtb.integratorInputQ, c.expectedInputQ);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtb.integratorInputD, c.expectedInputD);
    }
}

TEST_F(CurrentControllerDq, BalancedCurrentsMeasureTwoThirdsInTheDAxisAtAnyAngle) {
    // i_a = cos θ, i_b = cos(θ - 2π/3), i_c = cos(θ + 2π/3): the 2/3 input scaling on top of the
    // transform gives d = 2/3 and q = 0, up to rounding. With zero references the integrator
    // inputs are the negated components.
    const Parameters p = {.integralTime = 1e9};
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

TEST_F(CurrentControllerDq, UpdateIntegratesBothAxesAtEveryCall) {
    const Parameters p;
    setup(p);
    const Inputs in = {.qCurrentReference = 1.0};

    outputs(in, p);
    EXPECT_EQ(phaseOutputs[1], 1.1691342951089922);   // v_q = 1
    modelUpdate(&work.rtb, &work.rtdw);
    EXPECT_EQ(work.rtdw.integratorStateQ, 1e-4);
    EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtdw.integratorStateD, 0.0);

    // No rate test: a minor time step computes all the same.
    host.minorStep();
    outputs(in, p);
    EXPECT_EQ(phaseOutputs[1], 1.169251208538503);   // v_q = 1.0001
    EXPECT_EQ(phaseOutputs[2], -1.169251208538503);
    modelUpdate(&work.rtb, &work.rtdw);
    EXPECT_EQ(work.rtdw.integratorStateQ, 2e-4);
    EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtdw.integratorStateD, 0.0);
}

TEST_F(CurrentControllerDq, SystemInitializeAndResetClearTheIntegratorsOnly) {
    for (void (*reset)(Rtdw*) : {&modelSystemInitialize, &modelSystemReset}) {
        setup({});
        work.rtdw.integratorStateQ = 1.5;
        work.rtdw.integratorStateD = -2.5;
        const auto rtbBefore = qeltest::bytesOf(work.rtb);
        reset(&work.rtdw);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtdw.integratorStateQ, 0.0);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtdw.integratorStateD, 0.0);
        EXPECT_EQ(qeltest::bytesOf(work.rtb), rtbBefore);
    }
}

TEST(CurrentControllerDqLifecycle, InitializeClearsGarbageAnnouncesTheStartAndPublishesTheMap) {
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
    EXPECT_EQ(qelhost::pluginEvents()[0].modelName, "Qel_Lib_wexa_current_controller_dq_sub");
    EXPECT_EQ(qelhost::pluginEvents()[0].eventName, "START_OF_SIM_MODEL_MODELREF_ACCEL_EVENT");

    // Every system after the context runs on rate 0's task.
    qeltest::expectMap(work.instance.mapInfo,
                       {.states = {{&work.rtdw.integratorStateQ, 0, -1, 0}, {&work.rtdw.integratorStateD, 0, -1, 0}},
                        .sampleTimeTask = 0,
                        .systemTids = {5, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},
                        .limitGroup = false,
                        .checksum = {0xD8030978, 0xA7AECE6F, 0xD74BD263, 0x9C409DC2}});
}

TEST(CurrentControllerDqLifecycle, TerminateSendsOneTerminatingEventAndChangesNothing) {
    qeltest::ModelFixture host(kModelName);
    WorkRecord work;
    modelInitialize(host.block(), 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 0, nullptr, nullptr, 0, -1);
    const auto before = qeltest::bytesOf(work);
    qelhost::pluginEvents().clear();

    modelTerminate(&work.instance);

    ASSERT_EQ(qelhost::pluginEvents().size(), 1u);
    EXPECT_EQ(qelhost::pluginEvents()[0].block, host.block());
    EXPECT_EQ(qelhost::pluginEvents()[0].modelName, "Qel_Lib_wexa_current_controller_dq_sub");
    EXPECT_EQ(qelhost::pluginEvents()[0].eventName, "SIMSTATUS_TERMINATING_MODELREF_ACCEL_EVENT");
    EXPECT_EQ(qeltest::bytesOf(work), before);
}

}  // namespace

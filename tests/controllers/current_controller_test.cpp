#include "controllers/Qel_Lib_wexa_current_controller_sub.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "tests/controllers/controller_checks.h"
#include "tests/support/model_fixture.h"

using namespace Qel_Lib_wexa_current_controller_sub;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Rates 1e-5 s, 1e-4 s and constant run on the top model's tasks 1, 2 and an always-due id 3.
class CurrentController : public ::testing::Test {
protected:
    void SetUp() override {
        modelInitialize(host.block(), 1, 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 0, nullptr, nullptr,
                        0, -1);
        host.majorStep({1, 2});
    }

    void outputs(double reference, double measured, double gain, double integralTime) {
        modelOutputs(&work.instance, reference, measured, &output, &work.rtb, &work.rtdw, gain, integralTime);
    }
    void update() { modelUpdate(&work.instance, &work.rtb, &work.rtdw); }

    qeltest::ModelFixture host{kModelName};
    WorkRecord work;
    double output = -7.0;
};

TEST_F(CurrentController, ParameterSetupDerivesTheLimits) {
    modelParameterSetup(&work.rtb, 2.0, 10.0);
    EXPECT_EQ(work.rtb.referenceUpperLimit, 6.0);
    EXPECT_EQ(work.rtb.referenceLowerLimit, -6.0);
    EXPECT_EQ(work.rtb.outputLimit, 9.5);   // 0.95 × 10 rounds to 9.5
}

TEST_F(CurrentController, OneComputingStep) {
    struct Case {
        const char* name;
        double referenceLimitBase, outputLimitBase;   // limits ±3 × base and 0.95 × base
        double integratorState;
        double reference, measured, gain, integralTime;
        double expectedOutput, expectedIntegratorInput;
    };
    // With bases 2 and 10: reference limited to ±6, output to ±9.5.
    const Case cases[] = {
        // e = 1.5 - 0.5 = 1; u = (0.25 / 0.5 + 1) × 2 = 3
        {"PI law", 2, 10, 0.25, 1.5, 0.5, 2, 0.5, 3.0, 1.0},
        {"reference above the upper limit is limited", 2, 10, 0, 7, 0, 1, 1, 6.0, 6.0},
        {"reference equal to the upper limit passes", 2, 10, 0, 6, 1, 1, 1, 5.0, 5.0},
        {"reference below the lower limit is limited", 2, 10, 0, -7, 0, 1, 1, -6.0, -6.0},
        {"reference equal to the lower limit passes", 2, 10, 0, -6, -1, 1, 1, -5.0, -5.0},
        // u = 10 > 9.5 and e = 5 > 0: saturated, not integrated
        {"saturated high, error driving further", 2, 10, 0, 5, 0, 2, 1, 9.5, 0.0},
        // u = (12 / 1 - 1) × 1 = 11 > 9.5 but e = -1 leads out of saturation
        {"saturated high, error leading back", 2, 10, 12, 0, 1, 1, 1, 9.5, -1.0},
        {"saturated low, error driving further", 2, 10, 0, -5, 0, 2, 1, -9.5, 0.0},
        {"saturated low, error leading back", 2, 10, -12, 0, -1, 1, 1, -9.5, 1.0},
        // u = 4.75 × 2 = 9.5 exactly: not saturated, integrated
        {"output equal to the upper limit", 2, 10, 0, 4.75, 0, 2, 1, 9.5, 4.75},
        {"output equal to the lower limit", 2, 10, 0, -4.75, 0, 2, 1, -9.5, -4.75},
        {"NaN reference passes unlimited and unsaturated", 2, 10, 0, kNaN, 0, 1, 1, kNaN, kNaN},
        {"NaN measurement", 2, 10, 0, 1, kNaN, 1, 1, kNaN, kNaN},
        // 0 / 0 is NaN in the sum only: nothing compares true, the error is integrated
        {"zero integral time with zero state", 2, 10, 0, 1, 0, 1, 0, kNaN, 1.0},
        // 0.5 / 0 = inf > 9.5: saturated high with e = 1 > 0
        {"zero integral time with a state", 2, 10, 0.5, 1, 0, 1, 0, 9.5, 0.0},
        // outputLimit -9.5: |3| > -9.5, y = Sign(3) × -9.5 and 3 > y counts as saturated high
        {"negative output limit base", 2, -10, 0, 3, 0, 1, 1, -9.5, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        modelParameterSetup(&work.rtb, c.referenceLimitBase, c.outputLimitBase);
        work.rtdw.integratorState = c.integratorState;

        outputs(c.reference, c.measured, c.gain, c.integralTime);

        EXPECT_PRED_FORMAT2(qeltest::SameDouble, output, c.expectedOutput);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtb.integratorInput, c.expectedIntegratorInput);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtb.measuredCopy, c.measured);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtdw.integratorState, c.integratorState);
    }
}

TEST_F(CurrentController, IntegratesAtEachComputingStepOnly) {
    modelParameterSetup(&work.rtb, 1e6, 1e6);

    // Gain 1, integral time 1, constant error 1.
    outputs(1.0, 0.0, 1.0, 1.0);
    EXPECT_EQ(output, 1.0);
    update();
    EXPECT_EQ(work.rtdw.integratorState, 1e-4);

    // A 1e-5 s step between two 1e-4 s steps.
    host.majorStep({1});
    outputs(1.0, 0.0, 1.0, 1.0);
    update();
    EXPECT_EQ(output, 1.0);
    EXPECT_EQ(work.rtdw.integratorState, 1e-4);

    host.majorStep({1, 2});
    outputs(1.0, 0.0, 1.0, 1.0);
    EXPECT_EQ(output, 1.0001);   // 1e-4 / 1 + 1
    update();
    EXPECT_EQ(work.rtdw.integratorState, 2e-4);

    outputs(1.0, 0.0, 1.0, 1.0);
    EXPECT_EQ(output, 1.0002);
    update();
    EXPECT_EQ(work.rtdw.integratorState, 3.0000000000000003e-4);   // 1e-4 + 2e-4 rounds above 3e-4
}

TEST_F(CurrentController, CallsThatAreNotSampleHitsChangeNothing) {
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
        outputs(1.5, 0.5, 2.0, 0.5);
        update();
        const auto rtbBefore = qeltest::bytesOf(work.rtb);
        const auto rtdwBefore = qeltest::bytesOf(work.rtdw);
        const double outputBefore = output;

        c.setHost(host);
        outputs(-3.0, 4.0, 5.0, 0.25);
        update();

        EXPECT_EQ(qeltest::bytesOf(work.rtb), rtbBefore);
        EXPECT_EQ(qeltest::bytesOf(work.rtdw), rtdwBefore);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, output, outputBefore);
    }
}

TEST_F(CurrentController, SystemInitializeAndResetClearTheIntegratorOnly) {
    for (void (*reset)(Rtdw*) : {&modelSystemInitialize, &modelSystemReset}) {
        modelParameterSetup(&work.rtb, 2.0, 10.0);
        work.rtdw.integratorState = 5.0;
        const auto rtbBefore = qeltest::bytesOf(work.rtb);
        reset(&work.rtdw);
        EXPECT_PRED_FORMAT2(qeltest::SameDouble, work.rtdw.integratorState, 0.0);
        EXPECT_EQ(qeltest::bytesOf(work.rtb), rtbBefore);
    }
}

TEST(CurrentControllerLifecycle, InitializeClearsGarbageAnnouncesTheStartAndPublishesTheMap) {
    qeltest::ModelFixture host(kModelName);
    WorkRecord work;
    std::memset(static_cast<void*>(&work), 0xA5, sizeof work);
    int context = 0;
    qelhost::pluginEvents().clear();

    modelInitialize(host.block(), 1, 2, 3, &work.instance, &work.rtb, &work.rtdw, &context, 7, nullptr, nullptr, 0,
                    -1);

    EXPECT_EQ(qeltest::bytesOf(work.rtb), std::vector<unsigned char>(sizeof(Rtb), 0));
    EXPECT_EQ(qeltest::bytesOf(work.rtdw), std::vector<unsigned char>(sizeof(Rtdw), 0));
    EXPECT_EQ(work.instance.hostLink, host.block());
    EXPECT_EQ(work.instance.globalTid[0], 1);
    EXPECT_EQ(work.instance.globalTid[1], 2);
    EXPECT_EQ(work.instance.globalTid[2], 3);
    ASSERT_EQ(qelhost::pluginEvents().size(), 1u);
    EXPECT_EQ(qelhost::pluginEvents()[0].block, host.block());
    EXPECT_EQ(qelhost::pluginEvents()[0].modelName, "Qel_Lib_wexa_current_controller_sub");
    EXPECT_EQ(qelhost::pluginEvents()[0].eventName, "START_OF_SIM_MODEL_MODELREF_ACCEL_EVENT");
    EXPECT_EQ(work.instance.systemRan[0], &context);

    // System-task table: the context task id, seven times rate 1's task id, then rate 0's.
    qeltest::expectMap(work.instance.mapInfo, {.states = {{&work.rtdw.integratorState, 0, -1, 0}},
                                               .sampleTimeTask = 1,
                                               .systemTids = {7, 2, 2, 2, 2, 2, 2, 2, 1},
                                               .limitGroup = false,
                                               .checksum = {0x13EE8852, 0x6D795BF2, 0xBDC6662A, 0xB5D4D27B}});
}

TEST(CurrentControllerLifecycle, TerminateSendsOneTerminatingEventAndChangesNothing) {
    qeltest::ModelFixture host(kModelName);
    WorkRecord work;
    modelInitialize(host.block(), 1, 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 0, nullptr, nullptr, 0,
                    -1);
    const auto before = qeltest::bytesOf(work);
    qelhost::pluginEvents().clear();

    modelTerminate(&work.instance);

    ASSERT_EQ(qelhost::pluginEvents().size(), 1u);
    EXPECT_EQ(qelhost::pluginEvents()[0].block, host.block());
    EXPECT_EQ(qelhost::pluginEvents()[0].modelName, "Qel_Lib_wexa_current_controller_sub");
    EXPECT_EQ(qelhost::pluginEvents()[0].eventName, "SIMSTATUS_TERMINATING_MODELREF_ACCEL_EVENT");
    EXPECT_EQ(qeltest::bytesOf(work), before);
}

}  // namespace

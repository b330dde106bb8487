#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/block_structure.h"
#include "plants/Qel_Lib_motor_sub.h"
#include "tests/plants/plant_harness.h"
#include "tests/support/model_fixture.h"

namespace {

using namespace Qel_Lib_motor_sub;
using plantstest::SingleWindingPlant;

TEST(MotorSub, InitializeZeroesTheRecordsAndPublishesTheStates) {
    qeltest::ModelFixture host(kModelName);
    WorkRecord work;
    std::memset(static_cast<void*>(&work), 0xFF, sizeof work);
    double x[3] = {1.0, 2.0, 3.0};
    int context = 0;
    qelhost::pluginEvents().clear();

    modelInitialize(host.block(), 5, 6, 7, 8, &work.instance, &work.rtb, &work.rtdw, x, &context, 9, nullptr,
                    nullptr, 0, -1);

    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&work);
    for (size_t i = 0; i < sizeof(Rtb) + sizeof(Rtdw); ++i) ASSERT_EQ(bytes[i], 0u) << "byte " << i;
    ASSERT_EQ(qelhost::pluginEvents().size(), 1u);
    EXPECT_EQ(qelhost::pluginEvents()[0].modelName, "Qel_Lib_motor_sub");
    EXPECT_EQ(qelhost::pluginEvents()[0].eventName, "START_OF_SIM_MODEL_MODELREF_ACCEL_EVENT");
    EXPECT_EQ(work.instance.globalTid[0], 5);
    EXPECT_EQ(work.instance.globalTid[3], 8);

    const ModelMapInfo& info = work.instance.mapInfo;
    const ModelMapStatic& map = *info.staticMap;
    const Rtdw& d = work.rtdw;
    const void* expectedAddresses[] = {&x[0],          &x[1],           &x[2],           &d.enc3PrevAngle, &d.obsSpeedInt,
                                       &d.obsAngle,    &d.enc2PrevAngle, &d.enc3SpeedFilt, &d.obsSpeedFilt, &d.enc2SpeedFilt};
    ASSERT_EQ(map.numStates, 10u);
    for (uint32_t i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        const bool continuous = i < 3;
        EXPECT_EQ(info.addressTable[i], expectedAddresses[i]);
        EXPECT_EQ(map.states[i].continuous, continuous ? 1 : 0);
        EXPECT_EQ(map.states[i].contStateStart, continuous ? static_cast<int32_t>(i) : -1);
        EXPECT_EQ(std::string(map.states[i].stateName), continuous ? "" : "DSTATE");
        EXPECT_EQ(map.states[i].sampleTimeIndex, continuous ? 0 : 1);
        EXPECT_EQ(map.states[i].dataTypeIndex, 0);
    }
    EXPECT_EQ(map.states[10].blockPath, nullptr);
    EXPECT_EQ(*map.sampleTimes[0].period, 0.0);
    EXPECT_EQ(map.sampleTimes[0].taskIndex, 0);
    EXPECT_EQ(*map.sampleTimes[1].period, 1e-4);
    EXPECT_EQ(map.sampleTimes[1].taskIndex, 2);
    const uint32_t checksum[] = {0x84C9AD91, 0x63E2CF06, 0x2D60976A, 0x9F550979};
    for (int w = 0; w < 4; ++w) EXPECT_EQ(map.checksum[w], checksum[w]);
    EXPECT_EQ(map.instanceInfo->numSystems, 5u);
    const int32_t expectedSystemTids[] = {9, 5, 5, 5, 5};
    for (int s = 0; s < 5; ++s) EXPECT_EQ(work.instance.systemTid[s], expectedSystemTids[s]);

    modelTerminate(&work.instance);
    ASSERT_EQ(qelhost::pluginEvents().size(), 2u);
    EXPECT_EQ(qelhost::pluginEvents()[1].eventName, "SIMSTATUS_TERMINATING_MODELREF_ACCEL_EVENT");
}

TEST(MotorSub, ZeroStateWithZeroInputsStaysZero) {
    SingleWindingPlant plant;
    plant.args.sensorErrorsOn = 1.0;
    for (int k = 0; k < 5; ++k) {
        SCOPED_TRACE(k);
        plant.tick();
        EXPECT_EQ(plant.measuredAngle, 0.0);
        EXPECT_EQ(plant.measuredSpeed, 0.0);
        EXPECT_EQ(plant.measuredCurrent, 0.0);
        EXPECT_EQ(plant.shaftTorque, 0.0);
        for (double derivative : plant.derivatives()) EXPECT_EQ(derivative, 0.0);
        const auto signals = plantstest::fieldsOf(plant.work.rtb);
        for (size_t i = 0; i < signals.size(); ++i) EXPECT_EQ(signals[i], 0.0) << "rtb " << i;
        const auto work = plantstest::fieldsOf(plant.work.rtdw);
        for (size_t i = 0; i < work.size(); ++i) EXPECT_EQ(work[i], 0.0) << "rtdw " << i;
    }
}

TEST(MotorSub, DerivativesAreInStateOrder) {
    SingleWindingPlant plant;
    plant.armatureVoltage = 10.0;
    plant.x[1] = 4.0;    // iArm
    plant.x[2] = 2.0;    // omegaM
    plant.args.motorConstant = 0.5;
    plant.args.resistance = 0.5;
    plant.args.inductance = 0.25;
    plant.args.inertia = 0.25;
    plant.outputs();
    const std::array<double, 3> dX = plant.derivatives();
    EXPECT_EQ(dX[0], 2.0);                         // omegaM
    EXPECT_EQ(dX[1], 28.0);                        // (10 - 2 * 0.5 - 4 * 0.5) / 0.25
    EXPECT_EQ(dX[2], 8.0);                         // 4 * 0.5 / 0.25
}

TEST(MotorSub, FrictionActsAgainstTheSpeedAndVanishesAtStandstill) {
    // Te = 2 * 0.5 = 1 N·m, inertia 0.5; viscous 0.5, Coulomb 5 (more than Te).
    struct Case {
        const char* name;
        double omega;
        double loadTorque;
        double expectedOmegaMDot;
    };
    const Case cases[] = {
        {"standstill: torque below Coulomb friction still accelerates", 0.0, 0.0, 2.0},
        {"standstill at -0.0", -0.0, 0.0, 2.0},
        {"standstill with load", 0.0, 3.0, -4.0},   // (1 - 3) / 0.5
        {"forward", 1.0, 0.0, -9.0},                // (1 - 5.5) / 0.5
        {"backward", -1.0, 0.0, 13.0},              // (1 + 5.5) / 0.5
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SingleWindingPlant plant;
        plant.args.inertia = 0.5;
        plant.args.motorConstant = 0.5;
        plant.args.viscousFriction = 0.5;
        plant.args.coulombFriction = 5.0;
        plant.x[1] = 2.0;
        plant.x[2] = c.omega;
        plant.loadTorque = c.loadTorque;
        plant.outputs();
        EXPECT_EQ(plant.derivatives()[2], c.expectedOmegaMDot);
    }
}

TEST(MotorSub, GearScalesShaftTorqueAndLoadTorqueInOppositeDirections) {
    SingleWindingPlant plant;
    plant.args.motorConstant = 0.5;
    plant.args.inertia = 0.5;
    plant.args.gearMotorTurns = 3.0;
    plant.args.gearLoadTurns = 2.0;
    plant.args.gearEfficiency = 0.5;
    plant.x[1] = 4.0;          // Te = 2
    plant.loadTorque = 3.0;    // at the motor: 3 * 2 / 3 / 0.5 = 4
    plant.outputs();
    EXPECT_EQ(plant.shaftTorque, 1.5);   // 3 * 2 / 2 * 0.5
    EXPECT_EQ(plant.derivatives()[2], -4.0);
}

TEST(MotorSub, SettlesAtVoltageOverMotorConstantWithoutLoadOrFriction) {
    SingleWindingPlant plant;
    plant.armatureVoltage = 12.0;
    plant.args.motorConstant = 0.1;
    plant.args.resistance = 1.0;
    plant.args.inductance = 1e-3;
    plant.args.inertia = 1e-3;   // mechanical time constant J R / k^2 = 0.1 s
    plant.host().minorStep();
    const double dt = 1e-5;
    for (int k = 0; k < 200000; ++k) {
        plant.outputs();
        const std::array<double, 3> dX = plant.derivatives();
        for (int i = 0; i < 3; ++i) plant.x[i] += dt * dX[i];
    }
    EXPECT_NEAR(plant.x[2], 120.0, 1e-5);
    EXPECT_NEAR(plant.x[1], 0.0, 1e-6);
}

TEST(MotorSub, CallsWithoutASensorTickLeaveSampledOutputsAndWorkUnchanged) {
    struct Case {
        const char* name;
        bool major;
    };
    const Case cases[] = {{"minor step", false}, {"major step, only the 1e-5 s rate hit", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SingleWindingPlant plant;
        plant.args.sensorSelect = 2.0;
        plant.x[0] = 0.7;
        plant.x[1] = 1.3;
        plant.x[2] = 4.0;
        plant.tick();
        plant.tick();
        const double angle = plant.measuredAngle;
        const double speed = plant.measuredSpeed;
        const double current = plant.measuredCurrent;
        const Rtb rtb = plant.work.rtb;
        const Rtdw rtdw = plant.work.rtdw;

        if (c.major) {
            plant.host().majorStep({0, 1});
        } else {
            plant.host().minorStep();
        }
        plant.x[0] = 1.9;
        plant.x[1] = -2.2;
        plant.outputs();
        plant.update();

        EXPECT_EQ(plant.measuredAngle, angle);
        EXPECT_EQ(plant.measuredSpeed, speed);
        EXPECT_EQ(plant.measuredCurrent, current);
        EXPECT_EQ(std::memcmp(&plant.work.rtdw, &rtdw, sizeof rtdw), 0);
        EXPECT_EQ(plant.work.rtb.enc2Angle, rtb.enc2Angle);
        EXPECT_EQ(plant.work.rtb.enc3Angle, rtb.enc3Angle);
        EXPECT_EQ(plant.work.rtb.enc3SpeedFiltDot, rtb.enc3SpeedFiltDot);
        EXPECT_EQ(plant.work.rtb.obsError, rtb.obsError);
        EXPECT_EQ(plant.work.rtb.obsSpeed, rtb.obsSpeed);
        EXPECT_EQ(plant.work.rtb.obsSpeedFiltDot, rtb.obsSpeedFiltDot);
        EXPECT_EQ(plant.work.rtb.enc2SpeedFiltDot, rtb.enc2SpeedFiltDot);
        // The plant part runs in every call.
        EXPECT_EQ(plant.shaftTorque, -2.2 * 0.5);
        EXPECT_NE(plant.work.rtb.iArmDot, rtb.iArmDot);
    }
}

TEST(MotorSub, SystemInitializeAndResetClearStatesAndIntegratorsButKeepHoldsAndSignals) {
    using Entry = void (*)(Rtdw*, double*);
    struct Case {
        const char* name;
        Entry entry;
    };
    const Case cases[] = {{"system initialize", &modelSystemInitialize}, {"system reset", &modelSystemReset}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        plantstest::FieldsOf<Rtb> signalsBefore;
        plantstest::FieldsOf<Rtdw> workBefore;
        for (int i = 0; i < 10; ++i) signalsBefore[i] = 100.0 + i;
        for (int i = 0; i < 11; ++i) workBefore[i] = 200.0 + i;
        Rtb rtb = plantstest::recordOf<Rtb>(signalsBefore);
        Rtdw rtdw = plantstest::recordOf<Rtdw>(workBefore);
        double x[3] = {1.0, 2.0, 3.0};

        c.entry(&rtdw, x);

        const auto signals = plantstest::fieldsOf(rtb);
        const auto work = plantstest::fieldsOf(rtdw);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(x[i], 0.0) << "x " << i;
        for (int i = 0; i < 7; ++i) EXPECT_EQ(work[i], 0.0) << "rtdw " << i;
        for (int i = 7; i < 11; ++i) EXPECT_EQ(work[i], 200.0 + i) << "rtdw " << i;
        for (int i = 0; i < 10; ++i) EXPECT_EQ(signals[i], 100.0 + i) << "rtb " << i;
    }
}

}  // namespace

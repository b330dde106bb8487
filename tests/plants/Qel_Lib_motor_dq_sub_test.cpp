#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "host/block_structure.h"
#include "plants/Qel_Lib_motor_dq_sub.h"
#include "tests/plants/plant_harness.h"
#include "tests/support/model_fixture.h"

namespace {

using namespace Qel_Lib_motor_dq_sub;
using plantstest::DqPlant;
using qeltest::SameDouble;

constexpr double kTwoPi = 6.283185307179586;
constexpr double kOneOverTwoPi = 0.15915494309189535;

TEST(MotorDq, InitializeZeroesTheRecordsAndPublishesTheStates) {
    qeltest::ModelFixture host(kModelName);
    WorkRecord work;
    std::memset(static_cast<void*>(&work), 0xFF, sizeof work);
    double x[4] = {1.0, 2.0, 3.0, 4.0};
    int context = 0;
    qelhost::pluginEvents().clear();

    modelInitialize(host.block(), 5, 6, 7, 8, &work.instance, &work.rtb, &work.rtdw, x, &context, 9, nullptr,
                    nullptr, 0, -1);

    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&work);
    for (size_t i = 0; i < sizeof(Rtb) + sizeof(Rtdw); ++i) ASSERT_EQ(bytes[i], 0u) << "byte " << i;
    ASSERT_EQ(qelhost::pluginEvents().size(), 1u);
    EXPECT_EQ(qelhost::pluginEvents()[0].modelName, "Qel_Lib_motor_dq_sub");
    EXPECT_EQ(qelhost::pluginEvents()[0].eventName, "START_OF_SIM_MODEL_MODELREF_ACCEL_EVENT");

    const ModelMapInfo& info = work.instance.mapInfo;
    const ModelMapStatic& map = *info.staticMap;
    const Rtdw& d = work.rtdw;
    struct Entry {
        const void* address;
        int32_t contStateStart;   // -1: a member of rtdw
    };
    const Entry entries[] = {
        {&x[0], 0},
        {&x[3], 3},
        {&d.enc3PrevAngle, -1},
        {&d.obsSpeedInt, -1},
        {&d.obsAngle, -1},
        {&d.enc2PrevAngle, -1},
        {&x[2], 2},
        {&x[1], 1},
        {&d.enc3SpeedFilt, -1},
        {&d.obsSpeedFilt, -1},
        {&d.enc2SpeedFilt, -1},
    };
    ASSERT_EQ(map.numStates, 11u);
    for (uint32_t i = 0; i < 11; ++i) {
        SCOPED_TRACE(i);
        const bool continuous = entries[i].contStateStart >= 0;
        EXPECT_EQ(info.addressTable[i], entries[i].address);
        EXPECT_EQ(map.states[i].contStateStart, entries[i].contStateStart);
        EXPECT_EQ(map.states[i].continuous, continuous ? 1 : 0);
        EXPECT_EQ(std::string(map.states[i].stateName), continuous ? "" : "DSTATE");
        EXPECT_EQ(map.states[i].sampleTimeIndex, continuous ? 0 : 1);
    }
    EXPECT_EQ(map.states[11].blockPath, nullptr);
    EXPECT_EQ(*map.sampleTimes[1].period, 1e-4);
    EXPECT_EQ(map.sampleTimes[1].taskIndex, 2);
    const uint32_t checksum[] = {0x0CF495C6, 0x254FAB05, 0x5D3F13D4, 0x805C8460};
    for (int w = 0; w < 4; ++w) EXPECT_EQ(map.checksum[w], checksum[w]);
    const int32_t expectedSystemTids[] = {9, 5, 5, 5, 5};
    for (int s = 0; s < 5; ++s) EXPECT_EQ(work.instance.systemTid[s], expectedSystemTids[s]);
}

TEST(MotorDq, ZeroStateWithZeroInputsStaysZero) {
    DqPlant plant;
    plant.args.sensorErrorsOn = 1.0;
    for (int k = 0; k < 5; ++k) {
        SCOPED_TRACE(k);
        plant.tick();
        EXPECT_EQ(plant.measuredAngle, 0.0);
        EXPECT_EQ(plant.measuredSpeed, 0.0);
        for (double current : plant.measuredCurrent) EXPECT_EQ(current, 0.0);
        EXPECT_EQ(plant.shaftTorque, 0.0);
        EXPECT_EQ(plant.electricalAngle, 0.0);
        for (double derivative : plant.derivatives()) EXPECT_EQ(derivative, 0.0);
        for (double signal : plantstest::fieldsOf(plant.work.rtb)) EXPECT_EQ(signal, 0.0);
        for (double field : plantstest::fieldsOf(plant.work.rtdw)) EXPECT_EQ(field, 0.0);
    }
}

TEST(MotorDq, DerivativesAreInStateOrderWithIqBeforeId) {
    // thetaM 0, no voltage; id 2, iq 0, omegaM 1 with one pole pair. The q-axis cross-coupling
    // carries 1/(2π): iqDot = -(2 * 0.5 * 1/(2π) * 1) / 0.5.
    DqPlant plant;
    plant.args.polePairs = 1.0;
    plant.args.inductance = 0.5;
    plant.args.resistance = 0.25;
    plant.args.fluxLinkage = 0.0;
    plant.args.inertia = 0.125;
    plant.loadTorque = 1.0;
    plant.x[2] = 2.0;   // id
    plant.x[3] = 1.0;   // omegaM
    plant.outputs();
    const std::array<double, 4> dX = plant.derivatives();
    EXPECT_EQ(dX[0], 1.0);                      // omegaM
    EXPECT_EQ(dX[1], -2.0 * kOneOverTwoPi);     // iqDot
    EXPECT_EQ(dX[2], -1.0);                     // idDot: -2 * 0.25 / 0.5
    EXPECT_EQ(dX[3], -8.0);                     // omegaMDot: -1 / 0.125
}

TEST(MotorDq, FrictionActsAgainstTheSpeedAndVanishesAtStandstill) {
    // Te = iq * flux * polePairs = 0.5 * 0.5 * 2 = 0.5 N·m; inertia 0.25; viscous 0.5, Coulomb 2.
    struct Case {
        const char* name;
        double omega;
        double expectedOmegaMDot;
    };
    const Case cases[] = {
        {"standstill: torque below Coulomb friction still accelerates", 0.0, 2.0},
        {"forward", 1.0, -8.0},    // (0.5 - 2.5) / 0.25
        {"backward", -1.0, 12.0},  // (0.5 + 2.5) / 0.25
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DqPlant plant;
        plant.args.inertia = 0.25;
        plant.args.fluxLinkage = 0.5;
        plant.args.polePairs = 2.0;
        plant.args.viscousFriction = 0.5;
        plant.args.coulombFriction = 2.0;
        plant.x[1] = 0.5;
        plant.x[3] = c.omega;
        plant.outputs();
        EXPECT_EQ(plant.derivatives()[3], c.expectedOmegaMDot);
    }
}

TEST(MotorDq, GearScalesShaftTorqueAndLoadTorqueInOppositeDirections) {
    DqPlant plant;
    plant.args.fluxLinkage = 0.5;
    plant.args.polePairs = 2.0;
    plant.args.inertia = 0.5;
    plant.args.gearMotorTurns = 3.0;
    plant.args.gearLoadTurns = 2.0;
    plant.args.gearEfficiency = 0.5;
    plant.x[1] = 2.0;          // Te = 2 * 0.5 * 2 = 2
    plant.loadTorque = 3.0;    // at the motor: 3 * 2 / 3 / 0.5 = 4
    plant.outputs();
    EXPECT_EQ(plant.shaftTorque, 1.5);
    EXPECT_EQ(plant.derivatives()[3], -4.0);
}

TEST(MotorDq, CommonModeVoltageDrivesNoCurrent) {
    DqPlant plant;
    plant.phaseVoltage = {5.0, 5.0, 5.0};
    plant.outputs();
    EXPECT_EQ(plant.work.rtb.iqDot, 0.0);
    EXPECT_NEAR(plant.work.rtb.idDot, 0.0, 1e-14);
}

TEST(MotorDq, BalancedVoltagesMapOntoTheRotorAxes) {
    // Unit-amplitude three-phase voltages at angle phi: the amplitude-invariant transforms give
    // vd = cos(phi - thetaE) and vq = sin(phi - thetaE).
    const double thetaE = 0.8;   // thetaM 0.4, two pole pairs
    struct Case {
        const char* name;
        double phi;
        double expectedVd;
        double expectedVq;
    };
    const Case cases[] = {
        {"on the d axis", thetaE, 1.0, 0.0},
        {"on the q axis", thetaE + kTwoPi / 4.0, 0.0, 1.0},
        {"opposite the d axis", thetaE + kTwoPi / 2.0, -1.0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DqPlant plant;
        plant.args.inductance = 0.25;
        plant.x[0] = 0.4;
        plant.phaseVoltage = {std::cos(c.phi), std::cos(c.phi - kTwoPi / 3.0), std::cos(c.phi + kTwoPi / 3.0)};
        plant.outputs();
        EXPECT_NEAR(plant.work.rtb.idDot, c.expectedVd / 0.25, 1e-12);
        EXPECT_NEAR(plant.work.rtb.iqDot, c.expectedVq / 0.25, 1e-12);
    }
}

TEST(MotorDq, PhaseCurrentsComeFromTheRotorCurrentsAndAreQuantised) {
    {
        SCOPED_TRACE("iq 1 at angle 0: exact");
        DqPlant plant;
        plant.args.currentResolution = 0.25;
        plant.x[1] = 1.0;
        plant.tick();
        EXPECT_EQ(plant.work.rtdw.iaHold, 0.0);
        EXPECT_EQ(plant.work.rtdw.ibHold, 0.8660254037844386);
        EXPECT_EQ(plant.work.rtdw.icHold, -0.8660254037844386);
        EXPECT_EQ(plant.measuredCurrent[0], 0.0);
        EXPECT_EQ(plant.measuredCurrent[1], 0.75);
        EXPECT_EQ(plant.measuredCurrent[2], -0.75);
    }
    {
        SCOPED_TRACE("id 1 at electrical angle 0.8: a balanced set in phase with the rotor");
        DqPlant plant;
        plant.args.currentResolution = std::ldexp(1.0, -30);
        plant.x[0] = 0.4;
        plant.x[2] = 1.0;
        plant.tick();
        const double expected[] = {std::cos(0.8), std::cos(0.8 - kTwoPi / 3.0), std::cos(0.8 + kTwoPi / 3.0)};
        const double holds[] = {plant.work.rtdw.iaHold, plant.work.rtdw.ibHold, plant.work.rtdw.icHold};
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(holds[k], expected[k], 1e-12) << "phase " << k;
            EXPECT_NEAR(plant.measuredCurrent[k], expected[k], 1e-9) << "phase " << k;
        }
    }
}

TEST(MotorDq, ElectricalAngleIsWrappedIntoZeroToTwoPi) {
    struct Case {
        const char* name;
        double thetaM;
        double polePairs;
        double expected;
    };
    const Case cases[] = {
        {"zero", 0.0, 1.0, 0.0},
        {"negative", -0.5, 1.0, kTwoPi - 0.5},
        {"above one turn", 7.0, 1.0, 7.0 - kTwoPi},
        {"pole pairs multiply", 2.0, 2.0, 4.0},
        {"NaN angle", std::nan(""), 1.0, std::nan("")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DqPlant plant;
        plant.args.polePairs = c.polePairs;
        plant.x[0] = c.thetaM;
        plant.outputs();
        EXPECT_PRED_FORMAT2(SameDouble, plant.electricalAngle, c.expected);
    }

    DqPlant plant;
    plant.args.polePairs = 3.0;
    for (double thetaM = -50.0; thetaM < 0.0; thetaM += 0.00731) {
        plant.x[0] = thetaM;
        plant.outputs();
        ASSERT_GE(plant.electricalAngle, 0.0) << "thetaM " << thetaM;
        ASSERT_LT(plant.electricalAngle, kTwoPi) << "thetaM " << thetaM;
    }
}

TEST(MotorDq, CallsWithoutASensorTickChangeOnlyTorqueAndElectricalAngle) {
    struct Case {
        const char* name;
        bool major;
    };
    const Case cases[] = {{"minor step", false}, {"major step, only the 1e-5 s rate hit", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DqPlant plant;
        plant.args.sensorSelect = 1.0;
        plant.x[0] = 0.7;
        plant.x[1] = 1.3;
        plant.x[2] = -0.4;
        plant.x[3] = 4.0;
        plant.tick();
        plant.tick();
        const double angle = plant.measuredAngle;
        const double speed = plant.measuredSpeed;
        const std::array<double, 3> current = plant.measuredCurrent;
        const double torque = plant.shaftTorque;
        const double electrical = plant.electricalAngle;
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
        EXPECT_NE(plant.shaftTorque, torque);
        EXPECT_NE(plant.electricalAngle, electrical);
        EXPECT_EQ(plant.electricalAngle, 3.8);   // 1.9 * 2, below 2π
    }
}

TEST(MotorDq, SystemInitializeAndResetClearStatesAndIntegratorsButKeepHoldsAndSignals) {
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
        for (int i = 0; i < 11; ++i) signalsBefore[i] = 100.0 + i;
        for (int i = 0; i < 13; ++i) workBefore[i] = 200.0 + i;
        Rtb rtb = plantstest::recordOf<Rtb>(signalsBefore);
        Rtdw rtdw = plantstest::recordOf<Rtdw>(workBefore);
        double x[4] = {1.0, 2.0, 3.0, 4.0};

        c.entry(&rtdw, x);

        const auto signals = plantstest::fieldsOf(rtb);
        const auto work = plantstest::fieldsOf(rtdw);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(x[i], 0.0) << "x " << i;
        for (int i = 0; i < 7; ++i) EXPECT_EQ(work[i], 0.0) << "rtdw " << i;
        for (int i = 7; i < 13; ++i) EXPECT_EQ(work[i], 200.0 + i) << "rtdw " << i;
        for (int i = 0; i < 11; ++i) EXPECT_EQ(signals[i], 100.0 + i) << "rtb " << i;
    }
}

}  // namespace

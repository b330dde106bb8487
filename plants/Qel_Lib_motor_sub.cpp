#include "plants/Qel_Lib_motor_sub.h"

#include <cstring>
#include <iterator>

#include "plants/gear_mechanics.h"
#include "plants/measurement_chain.h"

namespace Qel_Lib_motor_sub {

namespace {

enum State { kThetaM = 0, kIArm = 1, kOmegaM = 2 };

constexpr MapStateInfo kMapStates[] = {
    {true, kThetaM, 0, 0, -1, 0},
    {true, kIArm, 0, 0, -1, 0},
    {true, kOmegaM, 0, 0, -1, 0},
    {false, offsetof(Rtdw, enc3PrevAngle), 0, 1, -1, 0},
    {false, offsetof(Rtdw, obsSpeedInt), 0, 1, -1, 0},
    {false, offsetof(Rtdw, obsAngle), 0, 1, -1, 0},
    {false, offsetof(Rtdw, enc2PrevAngle), 0, 1, -1, 0},
    {false, offsetof(Rtdw, enc3SpeedFilt), 0, 1, -1, 0},
    {false, offsetof(Rtdw, obsSpeedFilt), 0, 1, -1, 0},
    {false, offsetof(Rtdw, enc2SpeedFilt), 0, 1, -1, 0},
};
static_assert(std::size(kMapStates) == 10);
constexpr MapSampleTimeInfo kMapSampleTimes[] = {{0.0, 0}, {1e-4, 2}};
constexpr uint8_t kSystemTaskRates[] = {0, 0, 0, 0};
const ModelMapDescription kMapDescription = {
    kMapStates, kMapSampleTimes, 1, false, kSystemTaskRates, {0x84C9AD91, 0x63E2CF06, 0x2D60976A, 0x9F550979}};

void setInitialConditions(Rtdw* rtdw, double* x) {
    x[kThetaM] = 0.0;
    x[kIArm] = 0.0;
    x[kOmegaM] = 0.0;
    qelsensing::sensingInitialConditions(rtdw);
}

}  // namespace

void modelInitialize(SimStruct* hostLink, int32_t g0, int32_t g1, int32_t g2, int32_t g3, Instance* instance, Rtb* rtb,
                     Rtdw* rtdw, double* x, void* context, int32_t contextTid, const void*, const char*, int32_t,
                     int32_t) {
    beginModelInstance(instance, hostLink, {g0, g1, g2, g3}, kModelName);
    std::memset(static_cast<void*>(rtb), 0, sizeof *rtb);
    std::memset(static_cast<void*>(rtdw), 0, sizeof *rtdw);
    static ModelMap map(kMapDescription);
    map.fill(mapViewOf(instance), rtdw, x, context, contextTid);
}

void modelSystemInitialize(Rtdw* rtdw, double* x) { setInitialConditions(rtdw, x); }

void modelSystemReset(Rtdw* rtdw, double* x) { setInitialConditions(rtdw, x); }

void modelOutputs(Instance* instance, double armatureVoltage, double loadTorque, double* measuredAngle,
                  double* measuredSpeed, double* measuredCurrent, double* shaftTorque, Rtb* rtb, Rtdw* rtdw,
                  const double* x, double sensorSelect, double currentResolution, double angleResolution,
                  double inertia, double inductance, double resistance, double coulombFriction,
                  double viscousFriction, double motorConstant, double speedFilterTau, const double* angleErrorTable,
                  double gearLoadTurns, double gearEfficiency, double gearMotorTurns, double encoderErrorAmplitude,
                  double sensorErrorsOn) {
    const double thetaM = x[kThetaM];
    const double iArm = x[kIArm];

    const double electromagneticTorque = iArm * motorConstant;
    rtb->omegaMSignal = x[kOmegaM];
    rtb->iArmDot = (armatureVoltage - rtb->omegaMSignal * motorConstant - iArm * resistance) / inductance;
    *shaftTorque = qelmechanics::shaftTorque(electromagneticTorque, gearLoadTurns, gearEfficiency, gearMotorTurns);
    rtb->omegaMDot =
        qelmechanics::rotorAcceleration(electromagneticTorque, rtb->omegaMSignal, loadTorque, gearLoadTurns,
                                        gearEfficiency, gearMotorTurns, coulombFriction, viscousFriction, inertia);

    if (!rateIsDue(instance, qelsensing::kSensorTickRate)) return;
    const qelsensing::SensingParameters sensing = {
        sensorSelect,    currentResolution, angleResolution,       speedFilterTau, angleErrorTable,
        gearLoadTurns,   gearMotorTurns,    encoderErrorAmplitude, sensorErrorsOn};
    qelsensing::sensingStep(thetaM, sensing, rtb, rtdw, measuredAngle, measuredSpeed);
    rtdw->iHold = iArm;
    *measuredCurrent = qelsensing::quantise(rtdw->iHold, currentResolution);
}

void modelParameterSetup() {}

void modelUpdate(Instance* instance, Rtb* rtb, Rtdw* rtdw) {
    if (!rateIsDue(instance, qelsensing::kSensorTickRate)) return;
    qelsensing::sensingUpdate(rtb, rtdw);
}

void modelDerivatives(const Rtb* rtb, double* dX) {
    dX[kThetaM] = rtb->omegaMSignal;
    dX[kIArm] = rtb->iArmDot;
    dX[kOmegaM] = rtb->omegaMDot;
}

void modelTerminate(Instance* instance) { endModelInstance(instance, kModelName); }

}  // namespace Qel_Lib_motor_sub

#include "plants/Qel_Lib_motor_dq_sub.h"

#include <cstring>
#include <iterator>

#include "plants/gear_mechanics.h"
#include "plants/measurement_chain.h"
#include "runtime/host_math.h"

namespace Qel_Lib_motor_dq_sub {

namespace {

// Amplitude-invariant Clarke transform.
constexpr double kClarkeAlphaA = 0.6666666666666666;
constexpr double kClarkeAlphaB = -0.3333333333333333;
constexpr double kClarkeAlphaC = -0.3333333333333333;
constexpr double kClarkeBetaB = 0.5773502691896257;
constexpr double kClarkeBetaC = -0.5773502691896257;
// The cross-coupling terms carry 1/(2π); the back-EMF term does not.
constexpr double kCrossCoupling = 0.15915494309189535;
constexpr double kElectricalWrap = 6.283185307179586;
constexpr double kInverseClarkeAlpha = -0.5;
constexpr double kInverseClarkeBetaB = 0.8660254037844386;
constexpr double kInverseClarkeBetaC = -0.8660254037844386;

enum State { kThetaM = 0, kIq = 1, kId = 2, kOmegaM = 3 };

constexpr MapStateInfo kMapStates[] = {
    {true, kThetaM, 0, 0, -1, 0},
    {true, kOmegaM, 0, 0, -1, 0},
    {false, offsetof(Rtdw, enc3PrevAngle), 0, 1, -1, 0},
    {false, offsetof(Rtdw, obsSpeedInt), 0, 1, -1, 0},
    {false, offsetof(Rtdw, obsAngle), 0, 1, -1, 0},
    {false, offsetof(Rtdw, enc2PrevAngle), 0, 1, -1, 0},
    {true, kId, 0, 0, -1, 0},
    {true, kIq, 0, 0, -1, 0},
    {false, offsetof(Rtdw, enc3SpeedFilt), 0, 1, -1, 0},
    {false, offsetof(Rtdw, obsSpeedFilt), 0, 1, -1, 0},
    {false, offsetof(Rtdw, enc2SpeedFilt), 0, 1, -1, 0},
};
static_assert(std::size(kMapStates) == 11);
constexpr MapSampleTimeInfo kMapSampleTimes[] = {{0.0, 0}, {1e-4, 2}};
constexpr uint8_t kSystemTaskRates[] = {0, 0, 0, 0};
const ModelMapDescription kMapDescription = {
    kMapStates, kMapSampleTimes, 1, false, kSystemTaskRates, {0x0CF495C6, 0x254FAB05, 0x5D3F13D4, 0x805C8460}};

void setInitialConditions(Rtdw* rtdw, double* x) {
    x[kThetaM] = 0.0;
    x[kIq] = 0.0;
    x[kId] = 0.0;
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

void modelOutputs(Instance* instance, const double* phaseVoltage, double loadTorque, double* measuredAngle,
                  double* measuredSpeed, double* measuredCurrent, double* shaftTorque, double* electricalAngle, Rtb* rtb,
                  Rtdw* rtdw, const double* x, double sensorSelect, double currentResolution, double angleResolution,
                  double inertia, double inductance, double resistance, double coulombFriction,
                  double viscousFriction, double fluxLinkage, double polePairs, double speedFilterTau,
                  const double* angleErrorTable, double gearLoadTurns, double gearEfficiency, double gearMotorTurns,
                  double encoderErrorAmplitude, double sensorErrorsOn) {
    const double thetaM = x[kThetaM];
    const double iq = x[kIq];
    const double id = x[kId];

    const double vAlpha =
        kClarkeAlphaA * phaseVoltage[0] + kClarkeAlphaB * phaseVoltage[1] + kClarkeAlphaC * phaseVoltage[2];
    const double vBeta = kClarkeBetaB * phaseVoltage[1] + kClarkeBetaC * phaseVoltage[2];

    const double thetaE = thetaM * polePairs;
    const double cosThetaE = muDoubleScalarCos(thetaE);
    const double sinThetaE = muDoubleScalarSin(thetaE);
    const double vd = vAlpha * cosThetaE + vBeta * sinThetaE;
    const double vq = vBeta * cosThetaE - vAlpha * sinThetaE;

    const double electromagneticTorque = iq * fluxLinkage * polePairs;
    rtb->omegaMSignal = x[kOmegaM];
    const double omegaE = rtb->omegaMSignal * polePairs;
    rtb->idDot = (vd + iq * inductance * kCrossCoupling * omegaE - id * resistance) / inductance;
    rtb->iqDot = (vq - (id * inductance * kCrossCoupling + fluxLinkage) * omegaE - iq * resistance) / inductance;
    *shaftTorque = qelmechanics::shaftTorque(electromagneticTorque, gearLoadTurns, gearEfficiency, gearMotorTurns);

    const double iAlpha = id * cosThetaE - iq * sinThetaE;
    const double iBeta = id * sinThetaE + iq * cosThetaE;

    rtb->omegaMDot =
        qelmechanics::rotorAcceleration(electromagneticTorque, rtb->omegaMSignal, loadTorque, gearLoadTurns,
                                        gearEfficiency, gearMotorTurns, coulombFriction, viscousFriction, inertia);

    *electricalAngle = muDoubleScalarMod(thetaE, kElectricalWrap);

    const double ia = iAlpha;
    const double ib = kInverseClarkeAlpha * iAlpha + kInverseClarkeBetaB * iBeta;
    const double ic = kInverseClarkeAlpha * iAlpha + kInverseClarkeBetaC * iBeta;

    if (!rateIsDue(instance, qelsensing::kSensorTickRate)) return;
    const qelsensing::SensingParameters sensing = {
        sensorSelect,    currentResolution, angleResolution,       speedFilterTau, angleErrorTable,
        gearLoadTurns,   gearMotorTurns,    encoderErrorAmplitude, sensorErrorsOn};
    qelsensing::sensingStep(thetaM, sensing, rtb, rtdw, measuredAngle, measuredSpeed);
    rtdw->iaHold = ia;
    rtdw->ibHold = ib;
    rtdw->icHold = ic;
    measuredCurrent[0] = qelsensing::quantise(rtdw->iaHold, currentResolution);
    measuredCurrent[1] = qelsensing::quantise(rtdw->ibHold, currentResolution);
    measuredCurrent[2] = qelsensing::quantise(rtdw->icHold, currentResolution);
}

void modelParameterSetup() {}

void modelUpdate(Instance* instance, Rtb* rtb, Rtdw* rtdw) {
    if (!rateIsDue(instance, qelsensing::kSensorTickRate)) return;
    qelsensing::sensingUpdate(rtb, rtdw);
}

void modelDerivatives(const Rtb* rtb, double* dX) {
    dX[kThetaM] = rtb->omegaMSignal;
    dX[kIq] = rtb->iqDot;
    dX[kId] = rtb->idDot;
    dX[kOmegaM] = rtb->omegaMDot;
}

void modelTerminate(Instance* instance) { endModelInstance(instance, kModelName); }

}  // namespace Qel_Lib_motor_dq_sub

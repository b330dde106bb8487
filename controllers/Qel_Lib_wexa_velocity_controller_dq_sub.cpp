#include "controllers/Qel_Lib_wexa_velocity_controller_dq_sub.h"

#include <cstring>

#include "controllers/speed_current_cascade.h"

namespace Qel_Lib_wexa_velocity_controller_dq_sub {

namespace {

constexpr int kComputingRate = 1;
// Multiplied by the literals, not divided by 60: the two round differently.
constexpr double kSpeedConversion = 0.016666666666666666;
// Applied on top of the transform's own coefficients, so the measured components carry 2/3.
constexpr double kPhaseCurrentGain = 0.6666666666666666;
constexpr double kOutputGain = 1.35;

const MapStateInfo kMapStates[] = {
    {false, offsetof(Rtdw, integratorStateQ), 0, 0, -1, 0},
    {false, offsetof(Rtdw, integratorStateD), 0, 0, -1, 0},
    {false, offsetof(Rtdw, speedIntegratorState), 0, 0, -1, 0},
    {false, offsetof(Rtdw, saturatedHighPrev), 1, 0, 0, 0},
    {false, offsetof(Rtdw, saturatedLowPrev), 1, 0, 0, 1},
};
const MapSampleTimeInfo kMapSampleTimes[] = {{1e-4, 1}};
const uint8_t kSystemTaskRates[] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
const ModelMapDescription kMapDescription = {kMapStates, kMapSampleTimes, 2, true, kSystemTaskRates,
                                             {0x2B10C70A, 0xF2CAB392, 0xA52ABB68, 0xD90A6415}};

}  // namespace

void modelInitialize(SimStruct* hostLink, int32_t g0, int32_t g1, int32_t g2, Instance* instance, Rtb* rtb,
                     Rtdw* rtdw, void* context, int32_t contextTid, const void*, const char*, int32_t, int32_t) {
    beginModelInstance(instance, hostLink, {g0, g1, g2}, kModelName);
    // Whole records, padding included: they are saved byte for byte in the simulation state.
    std::memset(static_cast<void*>(rtb), 0, sizeof *rtb);
    std::memset(static_cast<void*>(rtdw), 0, sizeof *rtdw);
    static ModelMap map(kMapDescription);
    map.fill(mapViewOf(instance), rtdw, nullptr, context, contextTid);
}

void modelSystemInitialize(Rtdw* rtdw) { qelcascade::dqCascadeInitialConditions(rtdw); }

void modelSystemReset(Rtdw* rtdw) { modelSystemInitialize(rtdw); }

void modelOutputs(Instance* instance, double speedReference, double currentFeedForward, double speedMeasured,
                  const double* phaseCurrents, double electricalAngle, double* phaseOutputs, Rtb* rtb, Rtdw* rtdw,
                  double speedGain, double currentGain, double couplingFactorB, double speedIntegralTime,
                  double currentIntegralTime, double speedScaleDenominator, double speedScaleNumerator,
                  double outputLimitBase) {
    if (!rateIsDue(instance, kComputingRate)) return;

    const double speedMeas = speedMeasured * kSpeedConversion * speedScaleNumerator / speedScaleDenominator;
    const double speedError =
        speedReference * kSpeedConversion * speedScaleNumerator / speedScaleDenominator - speedMeas;

    const double scaledA = phaseCurrents[0] * kPhaseCurrentGain;
    const double scaledB = phaseCurrents[1] * kPhaseCurrentGain;
    const double scaledC = phaseCurrents[2] * kPhaseCurrentGain;
    const double alpha = qeldq::clarkeAlpha(scaledA, scaledB, scaledC);
    const double beta = qeldq::clarkeBeta(scaledB, scaledC);

    double clampedPhase[3];
    qelcascade::dqCascadeOutputs(speedError, speedMeas, currentFeedForward, alpha, beta, electricalAngle, clampedPhase,
                                 rtb, rtdw, speedGain, currentGain, couplingFactorB, speedIntegralTime,
                                 currentIntegralTime, speedScaleDenominator, speedScaleNumerator, outputLimitBase);
    for (int k = 0; k < 3; ++k) phaseOutputs[k] = kOutputGain * clampedPhase[k];
}

void modelParameterSetup(Rtb* rtb, double couplingFactorA, double currentLimitBase, double outputLimitBase) {
    qelcascade::dqCascadeParameterSetup(rtb, couplingFactorA, currentLimitBase, outputLimitBase);
}

void modelUpdate(Instance* instance, Rtb* rtb, Rtdw* rtdw) {
    if (!rateIsDue(instance, kComputingRate)) return;
    qelcascade::dqCascadeUpdate(rtb, rtdw);
}

void modelTerminate(Instance* instance) { endModelInstance(instance, kModelName); }

}  // namespace Qel_Lib_wexa_velocity_controller_dq_sub

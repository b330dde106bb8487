#include "controllers/Qel_Lib_wexa_position_controller_dq_sub.h"

#include <cstring>

#include "controllers/speed_current_cascade.h"

namespace Qel_Lib_wexa_position_controller_dq_sub {

namespace {

// Multiplied by the literals, not divided by 360 and 60: the two round differently.
constexpr double kPositionConversion = 0.002777777777777778;
constexpr double kSpeedConversion = 0.016666666666666666;

const MapStateInfo kMapStates[] = {
    {false, offsetof(Rtdw, integratorStateQ), 0, 0, -1, 0},
    {false, offsetof(Rtdw, integratorStateD), 0, 0, -1, 0},
    {false, offsetof(Rtdw, speedIntegratorState), 0, 0, -1, 0},
    {false, offsetof(Rtdw, saturatedHighPrev), 1, 0, 0, 0},
    {false, offsetof(Rtdw, saturatedLowPrev), 1, 0, 0, 1},
};
const MapSampleTimeInfo kMapSampleTimes[] = {{1e-4, 0}};
const uint8_t kSystemTaskRates[] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const ModelMapDescription kMapDescription = {kMapStates, kMapSampleTimes, 2, true, kSystemTaskRates,
                                             {0x345D48DB, 0xDABD3AA0, 0x74C562DB, 0x96623882}};

}  // namespace

void modelInitialize(SimStruct* hostLink, int32_t g0, int32_t g1, Instance* instance, Rtb* rtb, Rtdw* rtdw,
                     void* context, int32_t contextTid, const void*, const char*, int32_t, int32_t) {
    beginModelInstance(instance, hostLink, {g0, g1}, kModelName);
    // Whole records, padding included: they are saved byte for byte in the simulation state.
    std::memset(static_cast<void*>(rtb), 0, sizeof *rtb);
    std::memset(static_cast<void*>(rtdw), 0, sizeof *rtdw);
    static ModelMap map(kMapDescription);
    map.fill(mapViewOf(instance), rtdw, nullptr, context, contextTid);
}

void modelSystemInitialize(Rtdw* rtdw) { qelcascade::dqCascadeInitialConditions(rtdw); }

void modelSystemReset(Rtdw* rtdw) { modelSystemInitialize(rtdw); }

void modelOutputs(double positionReference, double speedFeedForward, double currentFeedForward,
                  double positionMeasured, double speedMeasured, const double* phaseCurrents, double electricalAngle,
                  double* phaseOutputs, Rtb* rtb, Rtdw* rtdw, double speedGain, double currentGain,
                  double positionGain, double couplingFactorB, double speedIntegralTime, double currentIntegralTime,
                  double speedScaleDenominator, double speedScaleNumerator, double outputLimitBase) {
    const double speedMeas = speedMeasured * kSpeedConversion * speedScaleNumerator / speedScaleDenominator;
    const double positionRef = positionReference * kPositionConversion * speedScaleNumerator / speedScaleDenominator;
    const double positionMeas = positionMeasured * kPositionConversion * speedScaleNumerator / speedScaleDenominator;
    // The speed feed-forward is not scaled by the ratio.
    const double speedError =
        speedFeedForward * kSpeedConversion + (positionRef - positionMeas) * positionGain - speedMeas;

    // Unlike the other dq controllers, the currents enter the transform unscaled.
    const double alpha = qeldq::clarkeAlpha(phaseCurrents[0], phaseCurrents[1], phaseCurrents[2]);
    const double beta = qeldq::clarkeBeta(phaseCurrents[1], phaseCurrents[2]);

    double clampedPhase[3];
    qelcascade::dqCascadeOutputs(speedError, speedMeas, currentFeedForward, alpha, beta, electricalAngle, clampedPhase,
                                 rtb, rtdw, speedGain, currentGain, couplingFactorB, speedIntegralTime,
                                 currentIntegralTime, speedScaleDenominator, speedScaleNumerator, outputLimitBase);
    // No output gain in this variant: the clamped values are the outputs.
    for (int k = 0; k < 3; ++k) phaseOutputs[k] = clampedPhase[k];
}

void modelParameterSetup(Rtb* rtb, double couplingFactorA, double currentLimitBase, double outputLimitBase) {
    qelcascade::dqCascadeParameterSetup(rtb, couplingFactorA, currentLimitBase, outputLimitBase);
}

void modelUpdate(Rtb* rtb, Rtdw* rtdw) { qelcascade::dqCascadeUpdate(rtb, rtdw); }

void modelTerminate(Instance* instance) { endModelInstance(instance, kModelName); }

}  // namespace Qel_Lib_wexa_position_controller_dq_sub

#include "controllers/Qel_Lib_wexa_position_controller_sub.h"

#include <cstring>

#include "controllers/speed_current_cascade.h"

namespace Qel_Lib_wexa_position_controller_sub {

namespace {

constexpr int kComputingRate = 1;
// Multiplied by the literals, not divided by 360 and 60: the two round differently.
constexpr double kPositionConversion = 0.002777777777777778;
constexpr double kSpeedConversion = 0.016666666666666666;

const MapStateInfo kMapStates[] = {
    {false, offsetof(Rtdw, currentIntegratorState), 0, 0, -1, 0},
    {false, offsetof(Rtdw, speedIntegratorState), 0, 0, -1, 0},
    {false, offsetof(Rtdw, saturatedHighPrev), 1, 0, 0, 0},
    {false, offsetof(Rtdw, saturatedLowPrev), 1, 0, 0, 1},
};
const MapSampleTimeInfo kMapSampleTimes[] = {{1e-4, 1}};
const uint8_t kSystemTaskRates[] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
const ModelMapDescription kMapDescription = {kMapStates, kMapSampleTimes, 2, true, kSystemTaskRates,
                                             {0xF36D3F7D, 0x655C4531, 0x54503132, 0xB86578A4}};

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

void modelSystemInitialize(Rtdw* rtdw) { qelcascade::cascadeInitialConditions(rtdw); }

void modelSystemReset(Rtdw* rtdw) { modelSystemInitialize(rtdw); }

void modelOutputs(Instance* instance, double positionReference, double speedFeedForward, double currentFeedForward,
                  double positionMeasured, double speedMeasured, double currentMeasured, double* controllerOutput,
                  Rtb* rtb, Rtdw* rtdw, double speedGain, double currentGain, double positionGain,
                  double speedIntegralTime, double currentIntegralTime, double speedScaleDenominator,
                  double speedScaleNumerator) {
    if (!rateIsDue(instance, kComputingRate)) return;

    const double positionRef = positionReference * kPositionConversion * speedScaleNumerator / speedScaleDenominator;
    const double positionMeas = positionMeasured * kPositionConversion * speedScaleNumerator / speedScaleDenominator;
    const double speedMeas = speedMeasured * kSpeedConversion * speedScaleNumerator / speedScaleDenominator;
    // The speed feed-forward is not scaled by the ratio.
    const double speedError =
        speedFeedForward * kSpeedConversion + (positionRef - positionMeas) * positionGain - speedMeas;
    qelcascade::cascadeOutputs(speedError, currentFeedForward, currentMeasured, controllerOutput, rtb, rtdw, speedGain,
                               currentGain, speedIntegralTime, currentIntegralTime);
}

void modelParameterSetup(Rtb* rtb, double currentLimitBase, double outputLimitBase) {
    qelcascade::cascadeParameterSetup(rtb, currentLimitBase, outputLimitBase);
}

void modelUpdate(Instance* instance, Rtb* rtb, Rtdw* rtdw) {
    if (!rateIsDue(instance, kComputingRate)) return;
    qelcascade::cascadeUpdate(rtb, rtdw);
}

void modelTerminate(Instance* instance) { endModelInstance(instance, kModelName); }

}  // namespace Qel_Lib_wexa_position_controller_sub

#include "controllers/Qel_Lib_wexa_current_controller_sub.h"

#include <cstring>

#include "controllers/pi_loop.h"

namespace Qel_Lib_wexa_current_controller_sub {

namespace {

constexpr int kComputingRate = 1;
constexpr double kIntegratorGain = 1e-4;   // the period of the computing rate
constexpr double kIntegratorInitialCondition = 0.0;
constexpr double kReferenceLimitFactor = 3.0;
constexpr double kOutputLimitFactor = 0.95;

const MapStateInfo kMapStates[] = {
    {false, offsetof(Rtdw, integratorState), 0, 0, -1, 0},
};
const MapSampleTimeInfo kMapSampleTimes[] = {{1e-4, 1}};
const uint8_t kSystemTaskRates[] = {1, 1, 1, 1, 1, 1, 1, 0};
const ModelMapDescription kMapDescription = {kMapStates, kMapSampleTimes, 1, false, kSystemTaskRates,
                                             {0x13EE8852, 0x6D795BF2, 0xBDC6662A, 0xB5D4D27B}};

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

void modelSystemInitialize(Rtdw* rtdw) { rtdw->integratorState = kIntegratorInitialCondition; }

void modelSystemReset(Rtdw* rtdw) { rtdw->integratorState = kIntegratorInitialCondition; }

void modelOutputs(Instance* instance, double currentReference, double currentMeasured, double* controllerOutput,
                  Rtb* rtb, Rtdw* rtdw, double proportionalGain, double integralTime) {
    if (!rateIsDue(instance, kComputingRate)) return;

    rtb->measuredCopy = currentMeasured;

    const double reference = limitToRange(currentReference, rtb->referenceUpperLimit, rtb->referenceLowerLimit);
    const double error = reference - rtb->measuredCopy;
    const SaturatedPi loop = saturatedPiStep(rtdw->integratorState, integralTime, error, proportionalGain,
                                             rtb->outputLimit);
    rtb->integratorInput = loop.integratorInput;
    *controllerOutput = loop.output;
}

void modelParameterSetup(Rtb* rtb, double referenceLimitBase, double outputLimitBase) {
    rtb->referenceUpperLimit = kReferenceLimitFactor * referenceLimitBase;
    rtb->referenceLowerLimit = -referenceLimitBase * kReferenceLimitFactor;
    rtb->outputLimit = kOutputLimitFactor * outputLimitBase;
}

void modelUpdate(Instance* instance, Rtb* rtb, Rtdw* rtdw) {
    if (!rateIsDue(instance, kComputingRate)) return;
    rtdw->integratorState = rtb->integratorInput * kIntegratorGain + rtdw->integratorState;
}

void modelTerminate(Instance* instance) { endModelInstance(instance, kModelName); }

}  // namespace Qel_Lib_wexa_current_controller_sub

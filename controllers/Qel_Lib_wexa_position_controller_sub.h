// Position controller: a proportional position term around the speed and current cascade of
// the velocity controller. The scaled position error times positionGain, plus the speed
// feed-forward, less the scaled measured speed, is the speed error; from there a speed PI loop
// (output limited to ±3 × currentLimitBase) feeds a current PI loop (output magnitude limited to
// 0.95 × outputLimitBase), both forward Euler with clamping anti-windup, the speed integrator
// clamped by the combined saturation flags of the previous computing step.
//
// Inputs:  positionReference (deg), speedFeedForward (rev/min), currentFeedForward (A),
//          positionMeasured (deg), speedMeasured (rev/min), currentMeasured (A).
// Output:  controllerOutput, the limited current-loop output; held between computing steps.
// Parameters: speedGain, currentGain, positionGain, speedIntegralTime (s), currentIntegralTime (s),
//   speedScaleDenominator, speedScaleNumerator at every output call; currentLimitBase (A) and
//   outputLimitBase at the parameter call only.
// Rates: 0 = 1e-5 s, 1 = 1e-4 s, 2 = constant. Everything computes at rate 1.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/model_instance.h"

namespace Qel_Lib_wexa_position_controller_sub {

inline constexpr char kModelName[] = "Qel_Lib_wexa_position_controller_sub";

struct Rtb {
    double measuredCopy;
    double currentIntegratorInput;   // written by modelOutputs, consumed by modelUpdate
    double speedIntegratorInput;
    double speedUpperLimit;
    double speedLowerLimit;
    double outputLimit;
    bool saturatedHigh;              // this step: current loop at its upper bound or speed loop above its limit
    bool saturatedLow;
};

struct Rtdw {
    double speedIntegratorState;
    double currentIntegratorState;
    bool saturatedHighPrev;          // the flags of the previous computing step clamp the speed integrator
    bool saturatedLowPrev;
};

using Instance = ModelInstance<4, 14, 3>;

// The layout of the block's work record mdlrefDW.
struct WorkRecord {
    Rtb rtb;
    Rtdw rtdw;
    Instance instance;
};

inline constexpr size_t kMdlrefDWBytes = 488;
static_assert(sizeof(Rtb) == 56);
static_assert(sizeof(WorkRecord) <= kMdlrefDWBytes);  // the host allocates exactly kMdlrefDWBytes

// The last four arguments are always null, null, 0, -1 (no parent) and unused.
void modelInitialize(SimStruct* hostLink, int32_t g0, int32_t g1, int32_t g2, Instance* instance, Rtb* rtb,
                     Rtdw* rtdw, void* context, int32_t contextTid, const void* parentMap, const char* childPath,
                     int32_t childIndex, int32_t contStateStart);
void modelSystemInitialize(Rtdw* rtdw);
void modelSystemReset(Rtdw* rtdw);
void modelOutputs(Instance* instance, double positionReference, double speedFeedForward, double currentFeedForward,
                  double positionMeasured, double speedMeasured, double currentMeasured, double* controllerOutput,
                  Rtb* rtb, Rtdw* rtdw, double speedGain, double currentGain, double positionGain,
                  double speedIntegralTime, double currentIntegralTime, double speedScaleDenominator,
                  double speedScaleNumerator);
void modelParameterSetup(Rtb* rtb, double currentLimitBase, double outputLimitBase);
void modelUpdate(Instance* instance, Rtb* rtb, Rtdw* rtdw);
void modelTerminate(Instance* instance);

}  // namespace Qel_Lib_wexa_position_controller_sub

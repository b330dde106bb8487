// Position controller, dq variant: a proportional position term over the dq speed and current
// cascade of a three-phase machine. The scaled position error times positionGain, plus the
// speed feed-forward, less the scaled measured speed, is the speed error. The speed PI sum, times
// 2/3 and limited to ±3 × currentLimitBase, plus the current feed-forward is the q current
// reference; the d reference is 0.0. The measured phase currents, as they arrive, are
// transformed into the frame of the electrical angle; each axis PI output is limited in
// magnitude to 0.95 × outputLimitBase. A speed-dependent decoupling term is subtracted from the
// d output; the outputs are transformed back into three phase values, centred by min-max
// zero-sequence injection and clamped to ±outputLimitBase. All integrators are forward Euler
// with clamping anti-windup; the speed integrator is clamped by the combined q-axis and
// speed-loop saturation flags of the previous computing step.
//
// Inputs:  positionReference (deg), speedFeedForward (rev/min), currentFeedForward (A),
//          positionMeasured (deg), speedMeasured (rev/min), phaseCurrents[3] (A, phases a, b, c),
//          electricalAngle (rad, used unwrapped).
// Output:  phaseOutputs[3] (phases a, b, c).
// Parameters: speedGain, currentGain, positionGain, couplingFactorB, speedIntegralTime (s),
//   currentIntegralTime (s), speedScaleDenominator, speedScaleNumerator, outputLimitBase at every
//   output call; couplingFactorA, currentLimitBase (A), outputLimitBase at the parameter call.
// Rates: 0 = 1e-4 s, 1 = constant. The model computes at every call; it tests no rate.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/model_instance.h"

namespace Qel_Lib_wexa_position_controller_dq_sub {

inline constexpr char kModelName[] = "Qel_Lib_wexa_position_controller_dq_sub";

struct Rtb {
    double integratorInputQ;       // written by modelOutputs, consumed by modelUpdate
    double integratorInputD;
    double speedIntegratorInput;
    double speedUpperLimit;
    double speedLowerLimit;
    double couplingFactorScaled;
    double outputLimitQ;
    double outputLimitD;
    bool saturatedHigh;            // this step: q loop at its upper bound or speed loop above its limit
    bool saturatedLow;
};

struct Rtdw {
    double speedIntegratorState;
    double integratorStateQ;
    double integratorStateD;
    bool saturatedHighPrev;        // the flags of the previous computing step clamp the speed integrator
    bool saturatedLowPrev;
};

using Instance = ModelInstance<5, 20, 2>;

// The layout of the block's work record mdlrefDW.
struct WorkRecord {
    Rtb rtb;
    Rtdw rtdw;
    Instance instance;
};

inline constexpr size_t kMdlrefDWBytes = 592;
static_assert(sizeof(Rtb) == 72);
static_assert(sizeof(WorkRecord) <= kMdlrefDWBytes);  // the host allocates exactly kMdlrefDWBytes

// The last four arguments are always null, null, 0, -1 (no parent) and unused.
void modelInitialize(SimStruct* hostLink, int32_t g0, int32_t g1, Instance* instance, Rtb* rtb, Rtdw* rtdw,
                     void* context, int32_t contextTid, const void* parentMap, const char* childPath,
                     int32_t childIndex, int32_t contStateStart);
void modelSystemInitialize(Rtdw* rtdw);
void modelSystemReset(Rtdw* rtdw);
// phaseCurrents and phaseOutputs hold three values each.
void modelOutputs(double positionReference, double speedFeedForward, double currentFeedForward,
                  double positionMeasured, double speedMeasured, const double* phaseCurrents, double electricalAngle,
                  double* phaseOutputs, Rtb* rtb, Rtdw* rtdw, double speedGain, double currentGain,
                  double positionGain, double couplingFactorB, double speedIntegralTime, double currentIntegralTime,
                  double speedScaleDenominator, double speedScaleNumerator, double outputLimitBase);
void modelParameterSetup(Rtb* rtb, double couplingFactorA, double currentLimitBase, double outputLimitBase);
void modelUpdate(Rtb* rtb, Rtdw* rtdw);
void modelTerminate(Instance* instance);

}  // namespace Qel_Lib_wexa_position_controller_dq_sub

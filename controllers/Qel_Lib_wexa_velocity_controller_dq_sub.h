// Velocity controller, dq variant: the speed and current cascade for a three-phase machine in
// the rotor frame. The speed PI sum, times 2/3 and limited to ±3 × currentLimitBase, plus the
// feed-forward is the q current reference; the d reference is 0.0. The measured phase currents,
// scaled by 2/3, are transformed into the frame of the electrical angle; each axis PI output is
// limited in magnitude to 0.95 × outputLimitBase. A speed-dependent decoupling term is subtracted
// from the d output; the outputs are transformed back into three phase values, centred by
// min-max zero-sequence injection, clamped to ±outputLimitBase and scaled by 1.35. All
// integrators are forward Euler with clamping anti-windup; the speed integrator is clamped by the
// combined q-axis and speed-loop saturation flags of the previous computing step.
//
// Inputs:  speedReference (rev/min), currentFeedForward (A), speedMeasured (rev/min),
//          phaseCurrents[3] (A, phases a, b, c), electricalAngle (rad, used unwrapped).
// Output:  phaseOutputs[3] (phases a, b, c); held between computing steps.
// Parameters: speedGain, currentGain, couplingFactorB, speedIntegralTime (s),
//   currentIntegralTime (s), speedScaleDenominator, speedScaleNumerator, outputLimitBase at every
//   output call; couplingFactorA, currentLimitBase (A), outputLimitBase at the parameter call.
// Rates: 0 = 1e-5 s, 1 = 1e-4 s, 2 = constant. Everything computes at rate 1.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/model_instance.h"

namespace Qel_Lib_wexa_velocity_controller_dq_sub {

inline constexpr char kModelName[] = "Qel_Lib_wexa_velocity_controller_dq_sub";

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

using Instance = ModelInstance<5, 20, 3>;

// The layout of the block's work record mdlrefDW.
struct WorkRecord {
    Rtb rtb;
    Rtdw rtdw;
    Instance instance;
};

inline constexpr size_t kMdlrefDWBytes = 608;
static_assert(sizeof(Rtb) == 72);
static_assert(sizeof(WorkRecord) <= kMdlrefDWBytes);  // the host allocates exactly kMdlrefDWBytes

// The last four arguments are always null, null, 0, -1 (no parent) and unused.
void modelInitialize(SimStruct* hostLink, int32_t g0, int32_t g1, int32_t g2, Instance* instance, Rtb* rtb,
                     Rtdw* rtdw, void* context, int32_t contextTid, const void* parentMap, const char* childPath,
                     int32_t childIndex, int32_t contStateStart);
void modelSystemInitialize(Rtdw* rtdw);
void modelSystemReset(Rtdw* rtdw);
// phaseCurrents and phaseOutputs hold three values each.
void modelOutputs(Instance* instance, double speedReference, double currentFeedForward, double speedMeasured,
                  const double* phaseCurrents, double electricalAngle, double* phaseOutputs, Rtb* rtb, Rtdw* rtdw,
                  double speedGain, double currentGain, double couplingFactorB, double speedIntegralTime,
                  double currentIntegralTime, double speedScaleDenominator, double speedScaleNumerator,
                  double outputLimitBase);
void modelParameterSetup(Rtb* rtb, double couplingFactorA, double currentLimitBase, double outputLimitBase);
void modelUpdate(Instance* instance, Rtb* rtb, Rtdw* rtdw);
void modelTerminate(Instance* instance);

}  // namespace Qel_Lib_wexa_velocity_controller_dq_sub

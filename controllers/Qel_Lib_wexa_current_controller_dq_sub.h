// Current controller, dq variant: two PI current loops in the rotor frame of a three-phase
// machine. The measured phase currents, scaled by 2/3, are transformed into the frame rotating
// with the electrical angle; the q loop follows the reference limited to ±3 × referenceLimitBase,
// the d loop the reference 0.0. Each axis output is limited in magnitude to 0.95 × phaseLimit,
// with clamping anti-windup on its forward-Euler integrator. A speed-dependent decoupling term
// is subtracted from the d output; the two outputs are transformed back into three phase
// values, centred by min-max zero-sequence injection, clamped to ±phaseLimit and scaled by 1.35.
//
// Inputs:  qCurrentReference (A), speedInput (rev/min), phaseCurrents[3] (A, phases a, b, c),
//          electricalAngle (rad, used unwrapped).
// Output:  phaseOutputs[3] (phases a, b, c).
// Parameters: proportionalGain, couplingFactorB, integralTime (s), couplingDivisor,
//   couplingFactorC, phaseLimit at every output call; couplingFactorA, referenceLimitBase (A) and
//   phaseLimit at the parameter call.
// Rates: 0 = 1e-4 s, 1 = constant. The model computes at every call; it tests no rate.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/model_instance.h"

namespace Qel_Lib_wexa_current_controller_dq_sub {

inline constexpr char kModelName[] = "Qel_Lib_wexa_current_controller_dq_sub";

struct Rtb {
    double integratorInputQ;       // written by modelOutputs, consumed by modelUpdate
    double integratorInputD;
    double referenceUpperLimit;
    double referenceLowerLimit;
    double couplingFactorScaled;
    double outputLimitQ;
    double outputLimitD;
};

struct Rtdw {
    double integratorStateQ;
    double integratorStateD;
};

using Instance = ModelInstance<2, 15, 2>;

// The layout of the block's work record mdlrefDW.
struct WorkRecord {
    Rtb rtb;
    Rtdw rtdw;
    Instance instance;
};

inline constexpr size_t kMdlrefDWBytes = 432;
static_assert(sizeof(Rtb) == 56);
static_assert(sizeof(WorkRecord) <= kMdlrefDWBytes);  // the host allocates exactly kMdlrefDWBytes

// The last four arguments are always null, null, 0, -1 (no parent) and unused.
void modelInitialize(SimStruct* hostLink, int32_t g0, int32_t g1, Instance* instance, Rtb* rtb, Rtdw* rtdw,
                     void* context, int32_t contextTid, const void* parentMap, const char* childPath,
                     int32_t childIndex, int32_t contStateStart);
void modelSystemInitialize(Rtdw* rtdw);
void modelSystemReset(Rtdw* rtdw);
// phaseCurrents and phaseOutputs hold three values each.
void modelOutputs(double qCurrentReference, double speedInput, const double* phaseCurrents, double electricalAngle,
                  double* phaseOutputs, Rtb* rtb, Rtdw* rtdw, double proportionalGain, double couplingFactorB,
                  double integralTime, double couplingDivisor, double couplingFactorC, double phaseLimit);
void modelParameterSetup(Rtb* rtb, double couplingFactorA, double referenceLimitBase, double phaseLimit);
void modelUpdate(Rtb* rtb, Rtdw* rtdw);
void modelTerminate(Instance* instance);

}  // namespace Qel_Lib_wexa_current_controller_dq_sub

// Current controller: a discrete PI controller for one current, the innermost loop of the cascade.
// It limits the reference to ±3 × referenceLimitBase, applies a PI law with a forward-Euler
// integrator, limits the output magnitude to 0.95 × outputLimitBase and stops integrating while
// the output is saturated and the error drives it further (clamping anti-windup).
//
// Inputs:  currentReference, currentMeasured (A).
// Output:  controllerOutput, the saturated PI output (the unit of the plant's voltage input).
// Parameters: proportionalGain, integralTime (s) at every output call; referenceLimitBase and
//   outputLimitBase (A, V) at the parameter call only.
// Rates: 0 = 1e-5 s, 1 = 1e-4 s, 2 = constant. Everything computes at rate 1.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/model_instance.h"

namespace Qel_Lib_wexa_current_controller_sub {

inline constexpr char kModelName[] = "Qel_Lib_wexa_current_controller_sub";

struct Rtb {
    double measuredCopy;
    double integratorInput;      // written by modelOutputs, consumed by modelUpdate
    double referenceUpperLimit;
    double referenceLowerLimit;
    double outputLimit;
};

struct Rtdw {
    double integratorState;
};

using Instance = ModelInstance<1, 9, 3>;

// The layout of the block's work record mdlrefDW.
struct WorkRecord {
    Rtb rtb;
    Rtdw rtdw;
    Instance instance;
};

inline constexpr size_t kMdlrefDWBytes = 328;
static_assert(sizeof(Rtb) == 40);
static_assert(sizeof(WorkRecord) <= kMdlrefDWBytes);  // the host allocates exactly kMdlrefDWBytes

// The last four arguments are always null, null, 0, -1 (no parent) and unused.
void modelInitialize(SimStruct* hostLink, int32_t g0, int32_t g1, int32_t g2, Instance* instance, Rtb* rtb,
                     Rtdw* rtdw, void* context, int32_t contextTid, const void* parentMap, const char* childPath,
                     int32_t childIndex, int32_t contStateStart);
void modelSystemInitialize(Rtdw* rtdw);
void modelSystemReset(Rtdw* rtdw);
void modelOutputs(Instance* instance, double currentReference, double currentMeasured, double* controllerOutput,
                  Rtb* rtb, Rtdw* rtdw, double proportionalGain, double integralTime);
void modelParameterSetup(Rtb* rtb, double referenceLimitBase, double outputLimitBase);
void modelUpdate(Instance* instance, Rtb* rtb, Rtdw* rtdw);
void modelTerminate(Instance* instance);

}  // namespace Qel_Lib_wexa_current_controller_sub

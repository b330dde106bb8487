// The run-time methods: thin adapters that locate the block's work record, fetch inputs, output
// buffers and model arguments from the host, decide from the task id what is to be computed, and
// call the model's entry functions through the table.
#pragma once

#include "frame/block_table.h"
#include "frame/host_interface.h"

namespace qelframe {

inline constexpr int kConstantRateTid = -2;   // the host's constant-rate call: nothing is computed
inline constexpr int kParameterTid = -5;      // the host's parameter call: modelParameterSetup only

// The sample-hit test of the block's first sample time, as the plants apply it to their output
// and update calls. In a minor time step it passes for outputs and fails for the update.
bool blockRateHit(const SimStruct* block, bool forUpdate);

void mdlSetupRuntimeResources(const BlockTable& table, SimStruct* block);
void mdlStart(const BlockTable& table, SimStruct* block);
void mdlOutputs(const BlockTable& table, SimStruct* block, int tid);
void mdlUpdate(const BlockTable& table, SimStruct* block, int tid);
void mdlDerivatives(const BlockTable& table, SimStruct* block);
void mdlTerminate(const BlockTable& table, SimStruct* block);
void mdlCleanupRuntimeResources(const BlockTable& table, SimStruct* block);
void systemInitialize(const BlockTable& table, SimStruct* block);
void systemReset(const BlockTable& table, SimStruct* block);
void periodicOutputUpdate(const BlockTable& table, SimStruct* block, int k);

}  // namespace qelframe

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
inline bool blockRateHit(const SimStruct* block, bool forUpdate) {
    const SimStruct* counted = block->parent != nullptr ? block->parent : block;
    if (counted->sizes[kSizeNumSampleTimes] < 1 || block->sampleTimeTaskIds == nullptr) return true;
    const int task = block->sampleTimeTaskIds[0];
    const SimStruct* root = block->root != nullptr ? block->root : block;
    if (task < 0 || task >= root->sizes[kSizeNumSampleTimes]) return true;
    const ModelInfo* info = block->mdlInfo != nullptr ? block->mdlInfo : root->mdlInfo;
    if (info->majorTimeStep == 1) return info->sampleHits[task] != 0;
    return !forUpdate;
}

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

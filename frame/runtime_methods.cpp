#include "frame/runtime_methods.h"

#include "frame/host_services.h"

namespace qelframe {

namespace {

// What one call hands the model: pointers into host memory, valid during this call only.
struct CallData {
    const double* u[kMaxPorts] = {};
    double* y[kMaxPorts] = {};
    const double* a[kMaxArguments] = {};
};

// Inputs through the checked access (which raises for a missing one), then the output buffers.
bool fetchPorts(const BlockTable& table, SimStruct* block, CallData* call) {
    for (size_t p = 0; p < table.inputs.size(); ++p) {
        call->u[p] = checkedInputData(block, static_cast<int>(p));
        if (call->u[p] == nullptr) return false;
    }
    for (size_t p = 0; p < table.outputs.size(); ++p) call->y[p] = block->outputs[p].data;
    return true;
}

// Model argument k through dispatcher code 51. A host that answers 0, or hands back no data,
// cannot supply it.
bool fetchArgument(SimStruct* block, int k, CallData* call) {
    const double* data = nullptr;
    if (dispatch(block, kHostCodeArgument, k, &data) == 0 || data == nullptr) return false;
    call->a[k] = data;
    return true;
}

}  // namespace

bool blockRateHit(const SimStruct* block, bool forUpdate) {
    const SimStruct* counted = block->parent != nullptr ? block->parent : block;
    const int numSampleTimes = counted->sizes[kSizeNumSampleTimes];
    const SimStruct* root = block->root != nullptr ? block->root : block;
    const int numRootSampleTimes = root->sizes[kSizeNumSampleTimes];
    if (numSampleTimes < 1 || block->sampleTimeTaskIds == nullptr) return true;
    const int task = block->sampleTimeTaskIds[0];
    if (task < 0 || task >= numRootSampleTimes) return true;
    const ModelInfo* info = block->mdlInfo != nullptr ? block->mdlInfo : root->mdlInfo;
    if (info->majorTimeStep == 1) return info->sampleHits[task] != 0;
    return !forUpdate;
}

void mdlSetupRuntimeResources(const BlockTable& table, SimStruct* block) {
    void* workRecord = workRecordOf(block);
    if (workRecord == nullptr) return;

    void* context = nullptr;
    dispatch(block, kHostCodeContext, 0, &context);
    int contextTid = 0;
    dispatch(block, kHostCodeContextTid, 0, &contextTid);
    if (contextTid == kConstantRateTid) contextTid = 0;

    // Asked from the last (constant) rate down to rate 0.
    int32_t globalTid[kMaxRates] = {};
    const int numRates = static_cast<int>(table.sampleTimes.size());
    for (int k = numRates - 1; k >= 0; --k)
        globalTid[k] = slmrGetTopTidFromMdlRefChildTid(block, k, k == numRates - 1 ? 1 : 0);

    table.entry.initialize(block, globalTid, workRecord, block->contStates, context, contextTid);
    dispatch(block, kHostCodeModelMap, 0, table.entry.mapInfo(workRecord));
}

void mdlStart(const BlockTable&, SimStruct*) {}

void mdlCleanupRuntimeResources(const BlockTable&, SimStruct*) {}

void mdlOutputs(const BlockTable& table, SimStruct* block, int tid) {
    void* workRecord = workRecordOf(block);
    if (workRecord == nullptr) return;
    CallData call;
    if (!fetchPorts(table, block, &call)) return;
    if (!hasDispatcher(block)) return;
    for (int k = 0; k < table.numArguments; ++k)
        if (!fetchArgument(block, k, &call)) return;

    if (tid == kParameterTid) table.entry.parameterSetup(workRecord, call.a);
    if (tid == kConstantRateTid || tid == kParameterTid) return;
    if (table.isPlant && !blockRateHit(block, false)) return;
    table.entry.outputs(workRecord, call.u, call.y, block->contStates, call.a);
}

void mdlUpdate(const BlockTable& table, SimStruct* block, int tid) {
    void* workRecord = workRecordOf(block);
    if (workRecord == nullptr) return;
    // The controllers update whatever the tid; their models test their own rates.
    if (table.isPlant && (tid == kConstantRateTid || !blockRateHit(block, true))) return;
    table.entry.update(workRecord);
}

void mdlDerivatives(const BlockTable& table, SimStruct* block) {
    const void* workRecord = workRecordOf(block);
    if (workRecord == nullptr || table.entry.derivatives == nullptr) return;
    table.entry.derivatives(workRecord, block->dX);
}

void mdlTerminate(const BlockTable& table, SimStruct* block) {
    void* workRecord = workRecordOf(block);
    if (workRecord == nullptr) return;
    table.entry.terminate(workRecord);
}

void systemInitialize(const BlockTable& table, SimStruct* block) {
    void* workRecord = workRecordOf(block);
    if (workRecord == nullptr) return;
    table.entry.systemInitialize(workRecord, block->contStates);
}

void systemReset(const BlockTable& table, SimStruct* block) {
    void* workRecord = workRecordOf(block);
    if (workRecord == nullptr) return;
    table.entry.systemReset(workRecord, block->contStates);
}

void periodicOutputUpdate(const BlockTable& table, SimStruct* block, int k) {
    void* workRecord = workRecordOf(block);
    if (workRecord == nullptr) return;
    CallData call;
    if (!fetchPorts(table, block, &call)) return;
    if (!hasDispatcher(block)) return;
    for (int argument : table.outputArguments)
        if (!fetchArgument(block, argument, &call)) return;
    if (k != 0) return;
    table.entry.outputs(workRecord, call.u, call.y, block->contStates, call.a);
    table.entry.update(workRecord);
}

}  // namespace qelframe

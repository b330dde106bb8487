#include "frame/runtime_methods.h"

#include <algorithm>

#include "frame/host_services.h"

namespace qelframe {

namespace {

// What one call hands the model: pointers into host memory, valid during this call only. Filled
// as far as the table's ports and arguments go; nothing beyond is read.
struct CallData {
    const double* u[kMaxPorts];
    double* y[kMaxPorts];
    const double* a[kMaxArguments];
};

// Inputs through the checked access (which raises for a missing one), then the output buffers.
// An input whose port exists and has data is taken directly; any other goes to the checked access
// for its error.
inline bool fetchPorts(const BlockTable& table, SimStruct* block, CallData* call) {
    const size_t numInputs = table.inputs.size();
    const InputPortRecord* inputs = block->inputs;
    const size_t hostInputs = inputs != nullptr ? static_cast<size_t>(std::max(block->sizes[kSizeNumInputPorts], 0)) : 0;
    for (size_t p = 0; p < numInputs; ++p) {
        const double* data = p < hostInputs ? inputs[p].data : nullptr;
        if (data == nullptr) data = checkedInputData(block, static_cast<int>(p));
        if (data == nullptr) return false;
        call->u[p] = data;
    }
    const size_t numOutputs = table.outputs.size();
    const OutputPortRecord* outputs = block->outputs;
    for (size_t p = 0; p < numOutputs; ++p) call->y[p] = outputs[p].data;
    return true;
}

// Model argument k through dispatcher code 51, straight into its place. A host that answers 0,
// or hands back no data, cannot supply it.
inline bool fetchArgument(ssDispatcherFn dispatcher, SimStruct* block, int k, CallData* call) {
    call->a[k] = nullptr;
    return dispatcher(block, kHostCodeArgument, k, &call->a[k]) != 0 && call->a[k] != nullptr;
}

}  // namespace

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
    const ssDispatcherFn dispatcher = block->dispatcher;
    if (dispatcher == nullptr) return;
    const int numArguments = table.numArguments;
    for (int k = 0; k < numArguments; ++k)
        if (!fetchArgument(dispatcher, block, k, &call)) return;

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
    const ssDispatcherFn dispatcher = block->dispatcher;
    if (dispatcher == nullptr) return;
    // The arguments modelOutputs does not use stay null.
    std::fill_n(call.a, table.numArguments, nullptr);
    for (int argument : table.outputArguments)
        if (!fetchArgument(dispatcher, block, argument, &call)) return;
    if (k != 0) return;
    table.entry.outputs(workRecord, call.u, call.y, block->contStates, call.a);
    table.entry.update(workRecord);
}

}  // namespace qelframe

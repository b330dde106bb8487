// The host's simulation-target services as the plug-ins import them: registration, task-id
// mapping, plugin events, fixed point. A block structure the plug-in made itself (the command
// line's sizes call) has no host bookkeeping; the services then only do what touches the structure.
#include "host/block_structure.h"

#define QEL_HOST_EXPORT __attribute__((visibility("default")))

using qelhost::BlockStructure;
using qelhost::RegistrationCall;

namespace {

BlockStructure* ownerOf(SimStruct* block) { return block != nullptr ? BlockStructure::ownerOf(block) : nullptr; }

void record(SimStruct* block, RegistrationCall call) {
    if (BlockStructure* owner = ownerOf(block)) owner->recordRegistration(std::move(call));
}

}  // namespace

extern "C" {

QEL_HOST_EXPORT void slmrInitializeIOPortDataVectors(SimStruct* block, int numInputs, int numOutputs) {
    record(block, {"slmrInitializeIOPortDataVectors", {numInputs, numOutputs}, {}, 1});
}

QEL_HOST_EXPORT void slmrRegisterSystemInitializeMethod(SimStruct* block, ssMethod method) {
    if (block == nullptr) return;
    block->methods.systemInitialize = method;
    record(block, {"slmrRegisterSystemInitializeMethod", {method != nullptr ? 1 : 0}, {}, 1});
}

QEL_HOST_EXPORT void slmrRegisterSystemResetMethod(SimStruct* block, ssMethod method) {
    if (block == nullptr) return;
    block->methods.systemReset = method;
    record(block, {"slmrRegisterSystemResetMethod", {method != nullptr ? 1 : 0}, {}, 1});
}

QEL_HOST_EXPORT void slmrRegisterPeriodicOutputUpdateMethod(SimStruct* block, ssIntMethod method) {
    if (block == nullptr) return;
    block->methods.periodicOutputUpdate = method;
    record(block, {"slmrRegisterPeriodicOutputUpdateMethod", {method != nullptr ? 1 : 0}, {}, 1});
}

QEL_HOST_EXPORT int slmrGetTopTidFromMdlRefChildTid(SimStruct* block, int childTid, int constantRate) {
    BlockStructure* owner = ownerOf(block);
    const int topTid = owner != nullptr ? owner->topTidOf(childTid, constantRate != 0) : -1;
    record(block, {"slmrGetTopTidFromMdlRefChildTid", {childTid, constantRate}, {}, topTid});
    return topTid;
}

QEL_HOST_EXPORT void slmrModelRefRegisterSimStateChecksum(SimStruct* block, const char* modelName, const uint32_t* checksum) {
    if (BlockStructure* owner = ownerOf(block)) owner->recordChecksum(modelName, checksum);
}

QEL_HOST_EXPORT int slmrRunPluginEvent(SimStruct* block, const char* modelName, const char* eventName) {
    qelhost::pluginEvents().push_back({block, modelName != nullptr ? modelName : "", eventName != nullptr ? eventName : ""});
    return 1;
}

QEL_HOST_EXPORT void ssFxpSetU32BitRegionCompliant(SimStruct* block, int value) {
    if (BlockStructure* owner = ownerOf(block)) {
        owner->recordFxpCompliant(value);
        owner->recordRegistration({"ssFxpSetU32BitRegionCompliant", {value}, {}, 1});
    }
}

}  // extern "C"

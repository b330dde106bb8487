// The host's simulation-target services as the plug-ins import them: registration, task-id
// mapping, plugin events, fixed point.
#include "host/block_structure.h"

#define QEL_HOST_EXPORT __attribute__((visibility("default")))

using qelhost::BlockStructure;

namespace {

BlockStructure* ownerOf(SimStruct* block) { return static_cast<BlockStructure*>(block->hostPrivate); }

}  // namespace

extern "C" {

QEL_HOST_EXPORT void slmrInitializeIOPortDataVectors(SimStruct*, int, int) {}

QEL_HOST_EXPORT void slmrRegisterSystemInitializeMethod(SimStruct* block, ssMethod method) {
    block->methods.systemInitialize = method;
}

QEL_HOST_EXPORT void slmrRegisterSystemResetMethod(SimStruct* block, ssMethod method) {
    block->methods.systemReset = method;
}

QEL_HOST_EXPORT void slmrRegisterPeriodicOutputUpdateMethod(SimStruct* block, ssIntMethod method) {
    block->methods.periodicOutputUpdate = method;
}

QEL_HOST_EXPORT int slmrGetTopTidFromMdlRefChildTid(SimStruct* block, int childTid, int constantRate) {
    BlockStructure* owner = ownerOf(block);
    return owner != nullptr ? owner->topTidOf(childTid, constantRate != 0) : -1;
}

QEL_HOST_EXPORT void slmrModelRefRegisterSimStateChecksum(SimStruct*, const char*, const uint32_t*) {}

QEL_HOST_EXPORT int slmrRunPluginEvent(SimStruct* block, const char* modelName, const char* eventName) {
    qelhost::pluginEvents().push_back({block, modelName, eventName});
    return 1;
}

QEL_HOST_EXPORT void ssFxpSetU32BitRegionCompliant(SimStruct*, int) {}

}  // extern "C"

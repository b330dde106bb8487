// The record every model runs in, one per block: the host link, the instance's part of the signal
// and state map, and the top model's task id of every model rate (globalTid). It lives at the end
// of the block's work record mdlrefDW, after the model's rtb and rtdw records; the host allocates
// and frees that memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "frame/host_interface.h"
#include "runtime/model_map.h"

template <size_t NumStates, size_t NumSystems, size_t NumRates>
struct ModelInstance {
    SimStruct* hostLink;
    ModelMapInfo mapInfo;
    void* instanceRecord[3];
    void* addressTable[NumStates];
    const void* varDimsTable[1];
    const void* perStateTable[NumStates];
    void* systemRan[NumSystems];
    int32_t systemTid[NumSystems];
    int32_t globalTid[NumRates];

    static constexpr size_t kNumRates = NumRates;
};

// The per-instance tables of the map, whatever the model's sizes.
struct ModelMapInstanceView {
    ModelMapInfo* info;
    void** instanceRecord;
    std::span<void*> addressTable;
    const void** varDimsTable;
    std::span<const void*> perStateTable;
    std::span<void*> systemRan;
    std::span<int32_t> systemTid;
    std::span<int32_t> globalTid;
};

template <class Instance>
ModelMapInstanceView mapViewOf(Instance* instance) {
    return {&instance->mapInfo, instance->instanceRecord, instance->addressTable,
            instance->varDimsTable, instance->perStateTable, instance->systemRan,
            instance->systemTid, instance->globalTid};
}

// True when the top-model task behind global task id `globalTid` has a sample hit in this call.
bool rateIsDueForTask(const SimStruct* hostLink, int32_t globalTid);

template <class Instance>
inline bool rateIsDue(const Instance* instance, int rate) {
    return rateIsDueForTask(instance->hostLink, instance->globalTid[rate]);
}

// The constant part of one model's map, built once per plug-in from its description.
class ModelMap {
public:
    explicit ModelMap(const ModelMapDescription& description);
    ModelMap(const ModelMap&) = delete;
    ModelMap& operator=(const ModelMap&) = delete;

    const ModelMapStatic& staticMap() const { return static_; }
    const ModelMapDescription& description() const { return description_; }
    // The process-wide system-ran flags, shared by every instance of the plug-in.
    std::span<int32_t> systemRanFlags() { return {systemRanFlags_, description_.systemTaskRates.size() + 1}; }

    // Fills the instance's map tables; `rtdw` holds the discrete states, `x` the continuous ones.
    void fill(const ModelMapInstanceView& view, void* rtdw, double* x, void* context, int32_t contextTid);

private:
    static constexpr size_t kMaxStates = 16;
    static constexpr size_t kMaxSampleTimes = 4;
    static constexpr size_t kMaxSystems = 32;

    ModelMapDescription description_;
    ModelMapStateEntry states_[kMaxStates + 1] = {};
    double periods_[kMaxSampleTimes] = {};
    double offsets_[kMaxSampleTimes] = {};
    ModelMapSampleTime sampleTimes_[kMaxSampleTimes] = {};
    int32_t systemRanFlags_[kMaxSystems] = {};
    ModelMapInstanceInfo instanceInfo_ = {};
    ModelMapStatic static_ = {};
};

// The steps of modelInitialize that every model shares. The model zeroes its own records between
// beginModelInstance and ModelMap::fill.
template <class Instance>
void beginModelInstance(Instance* instance, SimStruct* hostLink, const int32_t (&globalTid)[Instance::kNumRates],
                        const char* modelName) {
    std::memset(static_cast<void*>(instance), 0, sizeof *instance);
    for (size_t k = 0; k < Instance::kNumRates; ++k) instance->globalTid[k] = globalTid[k];
    instance->hostLink = hostLink;
    slmrRunPluginEvent(hostLink, modelName, "START_OF_SIM_MODEL_MODELREF_ACCEL_EVENT");
}

template <class Instance>
void endModelInstance(Instance* instance, const char* modelName) {
    slmrRunPluginEvent(instance->hostLink, modelName, "SIMSTATUS_TERMINATING_MODELREF_ACCEL_EVENT");
}

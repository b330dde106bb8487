#include "runtime/model_instance.h"

namespace {

const char kBlockPath[] = "Block_in_protected_model";
const char kEmptyText[] = "";

const ModelMapDataType kDataTypes[] = {
    {"double", "real_T", 0, 0, 8, 0, 0, nullptr},
    {"unsigned char", "boolean_T", 0, 0, 1, 8, 0, nullptr},
};
const ModelMapDimension kDimensions[] = {{0, 0, 2}};
const uint32_t kDimensionArray[] = {1, 1};
const ModelMapFixedPoint kFixedPoints[] = {{nullptr, nullptr, 2, 0, 0, 0}};
const ModelMapElement kElements[] = {{nullptr, 0, 0, 0, 0}};
const ModelMapContext kContext = {0, kEmptyText, 0, 0};
// The two saturation flags of the cascade controllers form one unnamed group.
const ModelMapHierarchyEntry kLimitGroup[] = {{kEmptyText, 2, 0}, {"upperLimit", 0, -1}, {"lowerLimit", 0, -1}};
const int32_t kLimitGroupChildren[] = {1, 2};
const uint64_t kEmptyTable[1] = {};

}  // namespace

ModelMap::ModelMap(const ModelMapDescription& description) : description_(description) {
    const size_t numStates = description.states.size();
    for (size_t i = 0; i < numStates; ++i) {
        const MapStateInfo& config = description.states[i];
        ModelMapStateEntry& entry = states_[i];
        entry.addressIndex = static_cast<uint32_t>(i);
        entry.contStateStart = config.continuous ? static_cast<int32_t>(config.index) : -1;
        entry.blockPath = kBlockPath;
        entry.stateName = config.continuous ? kEmptyText : "DSTATE";
        entry.pathAlias = kEmptyText;
        entry.dataTypeIndex = config.dataTypeIndex;
        entry.sampleTimeIndex = config.sampleTimeIndex;
        entry.continuous = config.continuous ? 1 : 0;
        entry.hierarchyIndex = config.hierarchyIndex;
        entry.elementIndex = config.elementIndex;
    }
    // Terminating entry: a reader walking the table stops at the null texts.
    states_[numStates] = {0, -1, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0, 0, -1, 0};

    for (size_t k = 0; k < description.sampleTimes.size(); ++k) {
        periods_[k] = description.sampleTimes[k].period;
        offsets_[k] = 0.0;
        sampleTimes_[k] = {&periods_[k], &offsets_[k], description.sampleTimes[k].taskIndex, 0};
    }

    instanceInfo_.numSystems = description.systemTaskRates.size() + 1;
    instanceInfo_.systemRanFlags = systemRanFlags_;
    instanceInfo_.context = &kContext;
    instanceInfo_.numHierarchyEntries = description.hasLimitGroup ? 3 : 0;
    instanceInfo_.hierarchy = description.hasLimitGroup ? kLimitGroup : nullptr;
    instanceInfo_.childIndices = description.hasLimitGroup ? kLimitGroupChildren : nullptr;

    static_.states = states_;
    static_.numStates = static_cast<uint32_t>(numStates);
    static_.dataTypes = kDataTypes;
    static_.dimensions = kDimensions;
    static_.fixedPoints = kFixedPoints;
    static_.elements = kElements;
    static_.sampleTimes = sampleTimes_;
    static_.dimensionArray = kDimensionArray;
    static_.targetType = "float";
    for (int w = 0; w < 4; ++w) static_.checksum[w] = description.checksum[w];
    static_.instanceInfo = &instanceInfo_;
    static_.fixed0 = 0;
    static_.fixed1 = 1;
    static_.emptyTable = kEmptyTable;
    static_.fixed2 = 0;
    static_.fixedMinusOne = -1;
    static_.fixed3 = 0;
}

void ModelMap::fill(const ModelMapInstanceView& view, void* rtdw, double* x, void* context, int32_t contextTid) {
    ModelMapInfo& info = *view.info;
    info.version = 1;
    info.staticMap = &static_;

    for (size_t i = 0; i < description_.states.size(); ++i) {
        const MapStateInfo& config = description_.states[i];
        view.addressTable[i] = config.continuous ? static_cast<void*>(x + config.index)
                                               : static_cast<void*>(static_cast<unsigned char*>(rtdw) + config.index);
    }
    info.addressTable = view.addressTable.data();

    view.varDimsTable[0] = nullptr;
    info.varDimsTable = view.varDimsTable;
    info.path = nullptr;
    info.fullPath = nullptr;

    for (const void*& entry : view.perStateTable) entry = nullptr;
    info.perStateTable = view.perStateTable.data();

    info.instanceRecord = view.instanceRecord;
    info.childMaps = nullptr;
    info.numChildMaps = 0;
    info.contStateStart = 0;

    for (void*& entry : view.systemRan) entry = nullptr;
    view.systemRan[0] = context;
    view.systemTid[0] = contextTid;
    for (size_t s = 0; s < description_.systemTaskRates.size(); ++s)
        view.systemTid[s + 1] = view.globalTid[description_.systemTaskRates[s]];

    for (int32_t& flag : systemRanFlags()) flag = 0;

    view.instanceRecord[0] = view.systemRan.data();
    view.instanceRecord[1] = view.systemTid.data();
    view.instanceRecord[2] = view.globalTid.data();
}

// The signal and state map: how the host finds, names, types and reads a block's states while
// it runs. A constant part per model (ModelMapStatic, built once per plug-in from the model's
// ModelMapDescription) and a per-instance part (ModelMapInfo and its small tables) that lives in
// the ModelInstance and is filled by modelInitialize.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" {

struct ModelMapDataType {
    const char* nativeName;
    const char* platformName;
    uint16_t numElements;
    uint16_t elementIndex;
    uint16_t size;
    uint8_t typeId;
    uint8_t flags;              // complex, pointer: both 0
    const void* reserved;
};

struct ModelMapDimension {
    int32_t orientation;        // 0 = scalar
    int32_t dimArrayIndex;
    int32_t numDims;
};

struct ModelMapFixedPoint {
    const double* slope;
    const double* bias;
    int32_t scalingCode;        // 2
    int32_t wordLength;
    int32_t exponent;
    uint8_t isSigned;
};

struct ModelMapElement {
    const char* name;
    int32_t offset;
    int32_t dataTypeIndex;
    int32_t dimensionIndex;
    int32_t fixedPointIndex;
};

struct ModelMapSampleTime {
    const double* period;
    const double* offset;
    int8_t taskIndex;
    uint8_t samplingMode;
};

struct ModelMapStateEntry {
    uint32_t addressIndex;
    int32_t contStateStart;     // -1 for a discrete state
    const char* blockPath;
    const char* stateName;
    const char* pathAlias;
    uint16_t workIndex;
    uint16_t dataTypeIndex;
    uint16_t dimensionIndex;
    uint16_t fixedPointIndex;
    uint8_t sampleTimeIndex;
    uint8_t continuous;
    int32_t hierarchyIndex;     // -1 for none
    uint32_t elementIndex;
};

struct ModelMapHierarchyEntry {
    const char* name;
    int32_t numChildren;
    int32_t firstChild;         // index into the child-index array, -1 for none
};

struct ModelMapContext {
    int64_t zero0;
    const char* emptyText;
    int64_t zero1;
    int64_t zero2;
};

struct ModelMapInstanceInfo {
    uint64_t numSystems;
    int32_t* systemRanFlags;    // process-wide, shared by every instance of the plug-in
    const ModelMapContext* context;
    uint64_t zero0;
    uint64_t zero1;
    uint64_t numHierarchyEntries;
    const ModelMapHierarchyEntry* hierarchy;
    const int32_t* childIndices;
};

struct ModelMapStatic {
    const void* signals;
    uint32_t numSignals;
    const void* rootInputs;
    uint32_t numRootInputs;
    const void* rootOutputs;
    uint32_t numRootOutputs;
    const void* blockParameters;
    uint32_t numBlockParameters;
    const void* modelParameters;
    uint32_t numModelParameters;
    const ModelMapStateEntry* states;
    uint32_t numStates;
    const ModelMapDataType* dataTypes;
    const ModelMapDimension* dimensions;
    const ModelMapFixedPoint* fixedPoints;
    const ModelMapElement* elements;
    const ModelMapSampleTime* sampleTimes;
    const uint32_t* dimensionArray;
    const char* targetType;     // "float"
    uint32_t checksum[4];
    const ModelMapInstanceInfo* instanceInfo;
    uint64_t fixed0;            // 0
    uint64_t fixed1;            // 1
    const void* emptyTable;
    uint64_t fixed2;            // 0
    int64_t fixedMinusOne;      // -1
    uint64_t fixed3;            // 0
};

struct ModelMapInfo {
    uint8_t version;            // 1
    const ModelMapStatic* staticMap;
    const char* path;
    const char* fullPath;
    void* const* addressTable;
    const void* childMaps;
    int32_t numChildMaps;
    int32_t contStateStart;
    void* const* instanceRecord;    // system-ran table, system-task table, global task ids
    const void* const* varDimsTable;
    const void* reserved;
    const void* const* perStateTable;
};

}  // extern "C"

// What a model says about its map; the runtime turns it into the constant tables above.
struct MapStateInfo {
    bool continuous;            // true: continuous state `index`; false: rtdw member at byte `index`
    uint32_t index;
    uint16_t dataTypeIndex;     // 0 double, 1 boolean
    uint8_t sampleTimeIndex;
    int32_t hierarchyIndex;     // -1 for none
    uint32_t elementIndex;
};

struct MapSampleTimeInfo {
    double period;
    int8_t taskIndex;
};

struct ModelMapDescription {
    std::span<const MapStateInfo> states;
    std::span<const MapSampleTimeInfo> sampleTimes;
    uint16_t numDataTypes;      // 1: double; 2: double and boolean
    bool hasLimitGroup;         // the "upperLimit"/"lowerLimit" hierarchy of the cascade controllers
    // Entries 1..n-1 of the system-task table, as the model rate whose global task id they take.
    std::span<const uint8_t> systemTaskRates;
    uint32_t checksum[4];
};

#include "frame/registration.h"

#include "frame/block_methods.h"
#include "frame/host_services.h"
#include "frame/sim_state.h"

namespace qelframe {

namespace {

constexpr int kDataTypeDouble = 0;
constexpr uint8_t kInputOptimReusable = 1;      // width-3 inputs
constexpr uint8_t kInputOptimNotReusable = 3;   // width-1 inputs

// The host's unit identifier for a port without unit; false when the host refuses or cannot answer.
bool registerEmptyUnit(SimStruct* block, int* unitId) {
    if (!hasDispatcher(block)) return false;
    // Unanswered counts as refused.
    UnitRegistration unit = {"", kHostRefused};
    dispatch(block, kHostCodeUnits, 0, &unit);
    if (unit.result == kHostRefused) return false;
    *unitId = unit.result;
    return true;
}

bool registerInputPorts(const BlockTable& table, SimStruct* block) {
    const int numInputs = static_cast<int>(table.inputs.size());
    if (block->registerNumInputPorts == nullptr || block->registerNumInputPorts(block, numInputs) == 0) return false;
    if (numInputs > 0 && block->inputs == nullptr) return false;
    for (int p = 0; p < numInputs; ++p) {
        const BlockPort& declared = table.inputs[p];
        if (setInputPortWidth(block, p, declared.width) == 0) return false;
        int setup = 0;
        dispatch(block, kHostCodeInputPortSetup, p, &setup);
        InputPortRecord& input = block->inputs[p];
        input.frameData = 0;
        if (!isSizesOnly(block)) {
            input.dataTypeId = kDataTypeDouble;
            if (!registerEmptyUnit(block, &input.unitId)) return false;
        }
        setInputDirectFeedThrough(block, p, 1);
        input.contiguous = 1;
        input.optimOpts = declared.width == 3 ? kInputOptimReusable : kInputOptimNotReusable;
        input.overwritable = 0;
        input.sampleTime = declared.sampleTime;
        input.offsetTime = 0.0;
    }
    return true;
}

bool registerOutputPorts(const BlockTable& table, SimStruct* block) {
    const int numOutputs = static_cast<int>(table.outputs.size());
    if (block->registerNumOutputPorts == nullptr || block->registerNumOutputPorts(block, numOutputs) == 0)
        return false;
    if (numOutputs > 0 && block->outputs == nullptr) return false;
    for (int p = 0; p < numOutputs; ++p) {
        const BlockPort& declared = table.outputs[p];
        if (setOutputPortWidth(block, p, declared.width) == 0) return false;
        int setup = 0;
        dispatch(block, kHostCodeOutputPortSetup, p, &setup);
        OutputPortRecord& output = block->outputs[p];
        output.frameData = 0;
        if (!isSizesOnly(block)) {
            output.dataTypeId = kDataTypeDouble;
            if (!registerEmptyUnit(block, &output.unitId)) return false;
        }
        output.sampleTime = declared.sampleTime;
        output.offsetTime = 0.0;
        uint8_t reuse = 0;
        dispatch(block, kHostCodeOutputReuse, p, &reuse);
        output.reuseSetting = table.outputReuseSetting;
        uint8_t optim[3] = {0, 0, 0};
        dispatch(block, kHostCodeOutputOptim, p, optim);
        output.optimOpts = table.outputOptimOpts;
    }
    return true;
}

// The block's only work vector holds mdlrefDW, as a host data type of the record's byte size.
bool registerWorkRecord(const BlockTable& table, SimStruct* block) {
    if (block->registerNumDWork == nullptr) return true;
    if (block->registerNumDWork(block, 1) == 0) return false;
    if (!hasDispatcher(block)) return false;
    int typeId = kHostRefused;
    dispatch(block, kHostCodeWorkRecordType, 0, &typeId);
    if (typeId == kHostRefused) return false;
    if (block->registerDataTypeSize == nullptr ||
        block->registerDataTypeSize(block, typeId, static_cast<int>(table.mdlrefDWBytes)) == 0)
        return false;
    if (block->dwork == nullptr) return false;
    block->dwork[0].dataTypeId = typeId;
    block->dwork[0].width = 1;
    return true;
}

}  // namespace

void mdlInitializeSizes(const BlockTable& table, SimStruct* block) {
    if (hasDispatcher(block) && dispatch(block, kHostCodeSizesStart, -1, nullptr) == 0) return;

    block->sizes[kSizeNumSFcnParams] = 0;
    ssFxpSetU32BitRegionCompliant(block, 1);
    block->sizes[kSizeRegistrationLevel] = 2;

    block->sizes[kSizeNumContStates] = table.numContStates;
    block->sizes[kSizeNumDiscStates] = 0;
    if (table.isPlant) block->numPeriodicContStates = 0;

    notifyRegistrationByte(block, 1);
    const int numInputs = static_cast<int>(table.inputs.size());
    const int numOutputs = static_cast<int>(table.outputs.size());
    slmrInitializeIOPortDataVectors(block, numInputs, numOutputs);
    if (!registerInputPorts(table, block)) return;
    if (!registerOutputPorts(table, block)) return;

    block->simStateCompliance = kCustomSimStateCompliance;
    registerSimStateChecksum(table, block);

    block->sizes[kSizeNumSampleTimes] = static_cast<int32_t>(table.sampleTimes.size());
    dispatch(block, kHostCodeSampleTimes, 1, nullptr);

    block->sizes[kSizeNumRWork] = 0;
    block->sizes[kSizeNumIWork] = 0;
    block->sizes[kSizeNumPWork] = 0;
    block->sizes[kSizeNumModes] = 0;

    for (size_t p = 0; p < table.outputs.size(); ++p) block->outputs[p].flags &= ~(kPortFlagOutputA | kPortFlagOutputB);
    for (size_t p = 0; p < table.inputs.size(); ++p) block->inputs[p].flags |= kPortFlagInput;
    block->blockSettingA = 2;
    block->blockSettingB = 2;
    dispatch(block, kHostCodeBlockSetup, 0, nullptr);
    block->blockSettingC = 1;

    if (block->extension != nullptr && hasDispatcher(block)) {
        uint8_t check = 1;
        dispatch(block, kHostCodeSimStateCheck, 0, &check);
        uint8_t check2 = 0;
        dispatch(block, kHostCodeSimStateCheck2, 0, &check2);
    }

    block->sizes[kSizeOptions] = static_cast<int32_t>(kOptionsWord);

    if (hasDispatcher(block) && !isSizesOnly(block) && !registerIdentifierList(table, block)) return;
    if (!registerWorkRecord(table, block)) return;

    slmrRegisterSystemInitializeMethod(block, &bound::systemInitialize);
    slmrRegisterSystemResetMethod(block, &bound::systemReset);
    slmrRegisterPeriodicOutputUpdateMethod(block, &bound::periodicOutputUpdate);

    dispatch(block, kHostCodeVersion, 0, const_cast<char*>(kHostInterfaceVersion));

    if (table.isPlant) block->blockFlags |= kBlockFlagContinuousBookkeeping;
}

void mdlInitializeSampleTimes(const BlockTable& table, SimStruct* block) {
    if (block->sampleTimes == nullptr || block->offsetTimes == nullptr) return;
    for (size_t k = 0; k < table.sampleTimes.size(); ++k) {
        const double period = table.sampleTimes[k];
        block->sampleTimes[k] = period == kConstantRate ? mxGetInf_800() : period;
        block->offsetTimes[k] = 0.0;
    }
}

void mdlSetWorkWidths(const BlockTable&, SimStruct* block) {
    if (!hasDispatcher(block)) return;
    dispatch(block, kHostCodeWorkWidths, 1, nullptr);
    const char* names[1] = {""};
    if (dispatch(block, kHostCodeWorkNamesB, 0, names) != 0) {
        const char* moreNames[1] = {""};
        dispatch(block, kHostCodeWorkNamesA, 0, moreNames);
    }
}

}  // namespace qelframe

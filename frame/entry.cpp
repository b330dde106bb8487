#include "frame/entry.h"

#include <cstdio>
#include <cstring>

#include "frame/block_methods.h"
#include "frame/host_services.h"
#include "frame/registration.h"
#include "frame/runtime_methods.h"
#include "frame/sim_state.h"

namespace qelframe {

namespace {

// The name that skips the model-name check of a host call.
constexpr char kAnyBlockName[] = "simulink_only_sfcn";

// Truncation toward zero, for values a 32-bit integer can hold; NaN and values out of range
// have no such integer (converting them would be undefined).
bool truncateToInt32(double value, int32_t* result) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return false;
    *result = static_cast<int32_t>(value);
    return true;
}

// The host's block structure when input 1 is the host-call marker column: the structure's
// address in elements 0 and 1 (low and high halves as 32-bit integers), 8480229.0 in element 2.
// Null for a command-line call. A marker whose halves are no 32-bit integers, or name address 0,
// cannot come from the host and is taken as a command-line call.
SimStruct* hostBlockFromMarker(const mxArray* marker) {
    if (marker == nullptr || mxGetM_800(marker) != 3 || mxGetN_800(marker) < 1) return nullptr;
    if (mxGetClassID_800(marker) != mxDOUBLE_CLASS || mxIsComplex_800(marker)) return nullptr;
    const double* values = mxGetPr_800(marker);
    if (values == nullptr || values[2] != kHostCallMarkerValue) return nullptr;
    int32_t low = 0;
    int32_t high = 0;
    if (!truncateToInt32(values[0], &low) || !truncateToInt32(values[1], &high)) return nullptr;
    const uint64_t address = (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | static_cast<uint32_t>(low);
    return reinterpret_cast<SimStruct*>(static_cast<uintptr_t>(address));
}

void fillMethodSlots(const BlockTable& table, SimStruct* block) {
    MethodSlots& slots = block->methods;
    slots.initializeSizes = &bound::mdlInitializeSizes;
    slots.initializeSampleTimes = &bound::mdlInitializeSampleTimes;
    slots.setWorkWidths = &bound::mdlSetWorkWidths;
    slots.setupRuntimeResources = &bound::mdlSetupRuntimeResources;
    slots.cleanupRuntimeResources = &bound::mdlCleanupRuntimeResources;
    slots.start = &bound::mdlStart;
    slots.getTimeOfNextVarHit = &mdlGetTimeOfNextVarHitStub;
    slots.outputs = &bound::mdlOutputs;
    slots.update = &bound::mdlUpdate;
    if (table.entry.derivatives != nullptr) slots.derivatives = &bound::mdlDerivatives;
    slots.zeroCrossings = &mdlZeroCrossingsStub;
    slots.terminate = &bound::mdlTerminate;
}

// A sizes-only block structure of the plug-in's own, in zeroed host memory that the host frees.
SimStruct* makeCommandLineBlock(const BlockTable& table, int nrhs, const mxArray* prhs[]) {
    auto* block = static_cast<SimStruct*>(mxCalloc_800(1, sizeof(SimStruct)));
    auto* info = static_cast<ModelInfo*>(mxCalloc_800(1, sizeof(ModelInfo)));
    auto* errorBuffer = static_cast<char*>(mxCalloc_800(kErrorBufferBytes, 1));
    if (block == nullptr || info == nullptr || errorBuffer == nullptr) return nullptr;
    block->root = block;
    info->simMode = 1;
    info->errorBuffer = errorBuffer;
    block->mdlInfo = info;
    block->modelName = table.pluginName;
    block->path = table.pluginName;
    block->numSFcnParamsGiven = nrhs >= 5 ? nrhs - 4 : 0;
    block->sfcnParams = nrhs >= 5 ? prhs + 4 : nullptr;
    block->registerNumInputPorts = &registerInputPortCount;
    block->registerNumOutputPorts = &registerOutputPortCount;
    return block;
}

mxArray* sizesColumn(SimStruct* block) {
    mxArray* column = mxCreateDoubleMatrix_800(kSizeCount, 1, mxREAL);
    double* values = mxGetPr_800(column);
    if (values == nullptr) return column;
    for (int i = 0; i < kSizeCount; ++i) values[i] = block->sizes[i];
    const uint32_t options = static_cast<uint32_t>(block->sizes[kSizeOptions]) | kOptionsReportedBit;
    block->sizes[kSizeOptions] = static_cast<int32_t>(options);
    constexpr int kUnsignedElements[] = {kSizeChecksum0, kSizeChecksum0 + 1, kSizeChecksum0 + 2, kSizeChecksum0 + 3,
                                         kSizeOptions};
    for (int i : kUnsignedElements) values[i] = static_cast<uint32_t>(block->sizes[i]);
    return column;
}

void sizesCall(const BlockTable& table, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    char argumentText[256];
    std::snprintf(argumentText, sizeof argumentText, "MEX level2 S-function \"%s\"", table.pluginName);
    const MessageArgument argument = MessageArgument::ofText(argumentText);

    if (nrhs < 4 || prhs == nullptr) {
        raiseMatlabError("Simulink:SFunctions:SimStructTooFewRHSArguments", {argument, MessageArgument::ofNumber(4)});
        return;
    }
    if (nlhs > 1) {
        raiseMatlabError("Simulink:SFunctions:SimStructTooManyLHSArguments", {argument});
        return;
    }
    const mxArray* flagArray = prhs[3];
    int32_t flag = 0;
    if (flagArray == nullptr || mxGetM_800(flagArray) != 1 || mxGetN_800(flagArray) != 1 ||
        mxIsComplex_800(flagArray) || !mxIsNumeric_800(flagArray) ||
        !truncateToInt32(mxGetScalar_800(flagArray), &flag) || flag != mxGetScalar_800(flagArray)) {
        raiseMatlabError("Simulink:SFunctions:SimStructForthRHSArgIsNotInteger", {argument});
        return;
    }
    if (flag != 0) {
        raiseMatlabError("Simulink:SFunctions:SimStructInvalidFlagPassedToSfcn", {argument});
        return;
    }

    SimStruct* block = hostBlockFromMarker(prhs[1]);
    if (block != nullptr) {
        if (std::strcmp(table.pluginName, kAnyBlockName) != 0 &&
            (block->modelName == nullptr || std::strcmp(block->modelName, table.pluginName) != 0)) {
            raiseMatlabError("Simulink:SFunctions:SimStructSFunctionNameMismatch",
                             {MessageArgument::ofText(table.pluginName), MessageArgument::ofText(block->modelName)});
            return;
        }
        fillMethodSlots(table, block);
    } else {
        block = makeCommandLineBlock(table, nrhs, prhs);
        if (block == nullptr) return;
    }

    block->sizes[kSizeVersion] = kHostCallMarker;
    if (block->extension != nullptr && hasDispatcher(block)) dispatch(block, kHostCodeEntryExtension, 1, nullptr);
    block->simStateCompliance = kCustomSimStateCompliance;
    mdlInitializeSizes(table, block);

    mxArray* column = sizesColumn(block);
    if (plhs != nullptr) plhs[0] = column;
}

// Runs the slot of a host-side method, or reports that the block has none.
template <class Slot, class... Arguments>
void callSlot(SimStruct* block, Slot slot, const char* methodName, Arguments... arguments) {
    if (slot != nullptr)
        slot(block, arguments...);
    else
        setUnexpectedMethodDiagnostic(block, methodName);
}

void runTimeCall(const BlockTable& table, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (plhs == nullptr || plhs[1] == nullptr) return;
    auto* block = reinterpret_cast<SimStruct*>(plhs[1]);
    int32_t flag = 0;
    if (nrhs < 4 || prhs == nullptr || prhs[3] == nullptr || !truncateToInt32(mxGetScalar_800(prhs[3]), &flag)) {
        setFixedDiagnostic(block, kInvalidFlagDiagnostic);
        return;
    }

    const MethodSlots& slots = block->methods;
    const CurrentArguments& args = block->args;
    // Port widths arrive either as plain widths or as dimension records, never both.
    const bool dimensionMethods = (block->sizes[kSizeFlags] & kSizesFlagDimensionMethods) != 0;
    const auto widthSlot = [dimensionMethods](ssPortIntMethod slot) { return dimensionMethods ? nullptr : slot; };
    const auto dimensionSlot = [dimensionMethods](ssPortDimsMethod slot) { return dimensionMethods ? slot : nullptr; };
    const auto symbolicSlot = [dimensionMethods](ssPortDimsMethod dimensions, ssPortDimsMethod symbolic) {
        return dimensionMethods && dimensions != nullptr ? symbolic : nullptr;
    };
    const bool compliant = block->simStateCompliance == kCustomSimStateCompliance;
    switch (flag) {
        case 101: mdlInitializeSampleTimes(table, block); break;
        case 103: mdlGetTimeOfNextVarHitStub(block); break;
        case 104: mdlOutputs(table, block, args.tid == kConstantRateTid ? kConstantRateTid : 0); break;
        case 105:
            if (slots.update != nullptr) mdlUpdate(table, block, 0);
            else setUnexpectedMethodDiagnostic(block, "mdlUpdate");
            break;
        case 106:
            if (table.entry.derivatives == nullptr) setFixedDiagnostic(block, kInvalidFlagDiagnostic);
            else if (slots.derivatives != nullptr) mdlDerivatives(table, block);
            else setUnexpectedMethodDiagnostic(block, "mdlDerivatives");
            break;
        case 107: mdlTerminate(table, block); break;
        case 108: mdlZeroCrossingsStub(block); break;
        case 111: callSlot(block, slots.setWorkWidths, "mdlSetWorkWidths"); break;
        case 112: callSlot(block, slots.checkParameters, "mdlCheckParameters"); break;
        case 113:
            callSlot(block, slots.setInputPortDataType, "mdlSetInputPortDataType", args.port, args.dataTypeId);
            break;
        case 114:
            callSlot(block, slots.setOutputPortDataType, "mdlSetOutputPortDataType", args.port, args.dataTypeId);
            break;
        case 115:
            callSlot(block, widthSlot(slots.setInputPortWidth), "mdlSetInputPortWidth", args.port, args.width);
            break;
        case 116:
            callSlot(block, widthSlot(slots.setOutputPortWidth), "mdlSetOutputPortWidth", args.port, args.width);
            break;
        case 117:
            if (slots.start != nullptr) mdlStart(table, block);
            else setUnexpectedMethodDiagnostic(block, "mdlStart");
            break;
        case 120:
            callSlot(block, slots.setInputPortComplexSignal, "mdlSetInputPortComplexSignal", args.port,
                     args.complexSignal);
            break;
        case 121:
            callSlot(block, slots.setOutputPortComplexSignal, "mdlSetOutputPortComplexSignal", args.port,
                     args.complexSignal);
            break;
        case 122:
            callSlot(block, slots.setInputPortSampleTime, "mdlSetInputPortSampleTime", args.port, args.sampleTime,
                     args.offsetTime);
            break;
        case 123:
            callSlot(block, slots.setOutputPortSampleTime, "mdlSetOutputPortSampleTime", args.port, args.sampleTime,
                     args.offsetTime);
            break;
        case 126:
            callSlot(block, dimensionSlot(slots.setInputPortDimensionInfo), "mdlSetInputPortDimensionInfo", args.port,
                     args.dims);
            break;
        case 127:
            callSlot(block, dimensionSlot(slots.setOutputPortDimensionInfo), "mdlSetOutputPortDimensionInfo",
                     args.port, args.dims);
            break;
        case 128:
            callSlot(block, slots.setInputPortFrameData, "mdlSetInputPortFrameData", args.port, args.frameSetting);
            break;
        case 131: callSlot(block, slots.setDefaultPortDimensionInfo, "mdlSetDefaultPortDimensionInfo"); break;
        case 132: callSlot(block, slots.setDefaultPortDataTypes, "mdlSetDefaultPortDataTypes"); break;
        case 133: callSlot(block, slots.setDefaultPortComplexSignals, "mdlSetDefaultPortComplexSignals"); break;
        case 142: callSlot(block, slots.initializePropagationPass, "mdlInitializePropagationPass", args.port); break;
        case 144:
            if (compliant) {
                mxArray* state = mdlGetSimState(table, block);
                if (block->mdlInfo != nullptr) block->mdlInfo->simState = state;
                dispatch(block, kHostCodeSimState, 0, state);
            } else {
                setUnexpectedMethodDiagnostic(block, "mdlGetSimState");
            }
            break;
        case 145:
            if (compliant) mdlSetSimState(table, block, block->mdlInfo != nullptr ? block->mdlInfo->simState : nullptr);
            else setUnexpectedMethodDiagnostic(block, "mdlSetSimState");
            break;
        case 149:
            callSlot(block, symbolicSlot(slots.setInputPortDimensionInfo, slots.setInputPortSymbolicDimensions),
                     "mdlSetInputPortSymbolicDimensions", args.port, args.dims);
            break;
        case 150:
            callSlot(block, symbolicSlot(slots.setOutputPortDimensionInfo, slots.setOutputPortSymbolicDimensions),
                     "mdlSetOutputPortSymbolicDimensions", args.port, args.dims);
            break;
        case 151:
            if (slots.setupRuntimeResources != nullptr) mdlSetupRuntimeResources(table, block);
            else setUnexpectedMethodDiagnostic(block, "mdlSetupRuntimeResources");
            break;
        case 152:
            if (slots.cleanupRuntimeResources != nullptr) mdlCleanupRuntimeResources(table, block);
            else setUnexpectedMethodDiagnostic(block, "mdlCleanupRuntimeResources");
            break;
        default: setFixedDiagnostic(block, kInvalidFlagDiagnostic); break;
    }
}

}  // namespace

void mexEntry(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nlhs >= 0)
        sizesCall(kBlockTable, nlhs, plhs, nrhs, prhs);
    else
        runTimeCall(kBlockTable, plhs, nrhs, prhs);
}

void requiredApiVersion(uint32_t* release, uint32_t* apiVersion) {
    *release = kBuiltWithRelease;
    *apiVersion = kTargetApiVersion;
}

}  // namespace qelframe

// A small plug-in for the host's tests: it speaks the entry protocol the real blocks speak (sizes
// call with the address marker or from the command line, method slots, flags, simulation state)
// over a trivial block: y0 = gain * u0 (twice), y1 = u1[0] + u1[1] + u1[2], dx = u0. Task id 99
// sets an error status, 98 raises a MATLAB error.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "frame/host_interface.h"

#define TEST_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr const char* kOwnName = "qel_test_block_msp";
constexpr const char* kModelName = "qel_test_block";
constexpr uint32_t kChecksum[4] = {0x11111111u, 0x22222222u, 0x33333333u, 0xFFFFFFFFu};

// The block's work record.
struct Work {
    double updates;
    double lastUpdateTid;
    double state;          // 1 after system-initialize, 2 after system-reset
    double periodicArg;
    int32_t topTids[2];
    void* context;
    int32_t contextTid;
    int32_t pad;
};

const IdentifierEntry kIdentifiers[] = {
    {"abc_first", 16, 0, -1, 0, kModelName},
    {kModelName, 17, 0, 0, 0, nullptr},
};

[[noreturn]] void raise(const char* identifier, const char* text, double number) {
    mxArray* inputs[3] = {mxCreateString_800(identifier), mxCreateString_800(text), mxCreateDoubleScalar_800(number)};
    mxArray* message = nullptr;
    mexCallMATLAB_800(1, &message, 3, inputs, "message");
    mexCallMATLAB_800(0, nullptr, 1, &message, "error");
    std::abort();   // "error" does not return
}

int dispatch(SimStruct* block, int code, int intArg, void* ptrArg) {
    return block->dispatcher != nullptr ? block->dispatcher(block, code, intArg, ptrArg) : 0;
}

Work* workOf(SimStruct* block) { return static_cast<Work*>(block->dwork[0].array); }

const double* input(SimStruct* block, int port) {
    if (port >= block->sizes[kSizeNumInputPorts] || block->inputs[port].data == nullptr)
        raise("Test:NoInput", block->modelName, port + 1);
    return block->inputs[port].data;
}

void sampleTimes(SimStruct* block) {
    block->sampleTimes[0] = 1e-4;
    block->sampleTimes[1] = mxGetInf_800();
    block->offsetTimes[0] = block->offsetTimes[1] = 0.0;
}

void workWidths(SimStruct* block) { dispatch(block, kHostCodeWorkWidths, 1, nullptr); }

void setupRuntime(SimStruct* block) {
    Work* work = workOf(block);
    std::memset(work, 0, sizeof *work);
    dispatch(block, kHostCodeContext, 0, &work->context);
    dispatch(block, kHostCodeContextTid, 0, &work->contextTid);
    work->topTids[1] = slmrGetTopTidFromMdlRefChildTid(block, 1, 1);
    work->topTids[0] = slmrGetTopTidFromMdlRefChildTid(block, 0, 0);
    slmrRunPluginEvent(block, kModelName, "START_OF_SIM_MODEL_MODELREF_ACCEL_EVENT");
    dispatch(block, kHostCodeModelMap, 0, work);
}

void outputs(SimStruct* block, int tid) {
    if (tid == -2) return;   // the constant-rate call computes nothing
    if (tid == 99) {
        block->root->mdlInfo->errorReported = 0;
        block->root->errorStatus = "<diag_root><diag id=\"Test:Failed\"><arguments></arguments></diag></diag_root>";
        return;
    }
    if (tid == 98) {   // leaves an array behind, then raises
        mxCreateDoubleMatrix_800(10, 10, mxREAL);
        raise("Test:Raised", block->modelName, tid);
    }
    const double* u0 = input(block, 0);
    const double* u1 = input(block, 1);
    const double* gain = nullptr;
    if (dispatch(block, kHostCodeArgument, 0, &gain) == 0) return;
    block->outputs[0].data[0] = *gain * u0[0];
    block->outputs[0].data[1] = *gain * u0[0];
    block->outputs[1].data[0] = u1[0] + u1[1] + u1[2];
}

void update(SimStruct* block, int tid) {
    workOf(block)->updates += 1.0;
    workOf(block)->lastUpdateTid = tid;
}

void derivatives(SimStruct* block) { block->dX[0] = input(block, 0)[0]; }
void systemInitialize(SimStruct* block) { workOf(block)->state = 1.0; }
void systemReset(SimStruct* block) { workOf(block)->state = 2.0; }
void periodic(SimStruct* block, int k) { workOf(block)->periodicArg = k; }
void terminate(SimStruct* block) { slmrRunPluginEvent(block, kModelName, "SIMSTATUS_TERMINATING_MODELREF_ACCEL_EVENT"); }

void getSimState(SimStruct* block) {
    const char* names[3] = {"work", "tNext", "nested"};
    mxArray* state = mxCreateStructMatrix_800(1, 1, 3, names);
    mxArray* bytes = mxCreateUninitNumericMatrix_800(1, sizeof(Work), mxUINT8_CLASS, mxREAL);
    std::memcpy(mxGetData_800(bytes), workOf(block), sizeof(Work));
    mxSetFieldByNumber_800(state, 0, 0, bytes);
    mxSetFieldByNumber_800(state, 0, 1, mxCreateDoubleScalar_800(block->tNext));
    const char* innerNames[1] = {"x"};
    mxArray* nested = mxCreateStructMatrix_800(1, 1, 1, innerNames);
    mxSetFieldByNumber_800(nested, 0, 0, mxCreateDoubleScalar_800(block->contStates[0]));
    mxSetFieldByNumber_800(state, 0, 2, nested);
    block->mdlInfo->simState = state;
    dispatch(block, kHostCodeSimState, 0, state);
}

void setSimState(SimStruct* block) {
    const mxArray* state = block->mdlInfo->simState;
    const mxArray* bytes = mxGetFieldByNumber_800(state, 0, 0);
    if (mxGetClassID_800(bytes) != mxUINT8_CLASS || mxGetN_800(bytes) != sizeof(Work)) {
        block->root->errorStatus = "bad state";
        return;
    }
    std::memcpy(workOf(block), mxGetData_800(bytes), sizeof(Work));
    block->tNext = mxGetScalar_800(mxGetFieldByNumber_800(state, 0, 1));
    block->contStates[0] = mxGetScalar_800(mxGetFieldByNumber_800(mxGetFieldByNumber_800(state, 0, 2), 0, 0));
}

// The port-count registrars of a block structure made for the command line.
int ownInputCount(SimStruct* block, int count) {
    if (count < 0) return 0;
    block->sizes[kSizeNumInputPorts] = count;
    block->inputs = static_cast<InputPortRecord*>(mxCalloc_800(static_cast<size_t>(count), sizeof(InputPortRecord)));
    return 1;
}

int ownOutputCount(SimStruct* block, int count) {
    if (count < 0) return 0;
    block->sizes[kSizeNumOutputPorts] = count;
    block->outputs = static_cast<OutputPortRecord*>(mxCalloc_800(static_cast<size_t>(count), sizeof(OutputPortRecord)));
    return 1;
}

void setWidth(SimStruct* block, bool isInput, int port, int width) {
    const int dims[1] = {width};
    const DimensionsInfo info = {width, 1, dims};
    ssPortDimsRegistrar registrar = isInput ? block->registerInputPortDimensions : block->registerOutputPortDimensions;
    if (registrar != nullptr) registrar(block, port, &info);
}

void initializeSizes(SimStruct* block) {
    if (block->dispatcher != nullptr && dispatch(block, kHostCodeSizesStart, -1, nullptr) == 0) return;
    const bool sizesOnly = block->mdlInfo->simMode == 1;
    ssFxpSetU32BitRegionCompliant(block, 1);
    block->sizes[kSizeRegistrationLevel] = 2;
    block->sizes[kSizeNumContStates] = 1;
    slmrInitializeIOPortDataVectors(block, 2, 1);
    if (!block->registerNumInputPorts(block, 2)) return;
    setWidth(block, true, 0, 1);
    setWidth(block, true, 1, 3);
    for (int port = 0; port < 2 && block->dispatcher != nullptr && !sizesOnly; ++port) {
        UnitRegistration unit = {"", 0};
        dispatch(block, kHostCodeUnits, 0, &unit);
        if (unit.result == kHostRefused) return;
        block->inputs[port].unitId = unit.result;
    }
    if (!block->registerNumOutputPorts(block, 2)) return;
    setWidth(block, false, 0, 2);
    setWidth(block, false, 1, 1);
    slmrModelRefRegisterSimStateChecksum(block, kModelName, kChecksum);
    block->sizes[kSizeNumSampleTimes] = 2;
    block->sizes[kSizeOptions] = static_cast<int32_t>(0x68000822u);
    if (block->dispatcher != nullptr && !sizesOnly) {
        dispatch(block, kHostCodeIdentifierQuery, 0, nullptr);
        IdentifierListRecord record = {kModelName, kIdentifiers, 2};
        if (dispatch(block, kHostCodeIdentifiers, 0, &record) == 0) return;
    }
    if (block->registerNumDWork == nullptr || !block->registerNumDWork(block, 1)) return;
    int typeId = kHostRefused;
    if (block->dispatcher == nullptr) return;
    dispatch(block, kHostCodeWorkRecordType, 0, &typeId);
    if (typeId == kHostRefused) return;
    if (block->registerDataTypeSize == nullptr || !block->registerDataTypeSize(block, typeId, sizeof(Work))) return;
    block->dwork[0].dataTypeId = typeId;
    block->dwork[0].width = 1;
    slmrRegisterSystemInitializeMethod(block, systemInitialize);
    slmrRegisterSystemResetMethod(block, systemReset);
    slmrRegisterPeriodicOutputUpdateMethod(block, periodic);
    dispatch(block, kHostCodeVersion, 0, const_cast<char*>("10.0"));
}

void runtimeCall(mxArray* plhs[], const mxArray* prhs[]) {
    auto* block = reinterpret_cast<SimStruct*>(plhs[1]);
    switch (static_cast<int>(mxGetScalar_800(prhs[3]))) {
        case 104: outputs(block, block->args.tid == -2 ? -2 : 0); break;
        case 105: update(block, 0); break;
        case 144: getSimState(block); break;
        case 145: setSimState(block); break;
        default: block->root->errorStatus = "Test:InvalidFlag"; break;
    }
}

}  // namespace

TEST_PLUGIN_EXPORT void mexfilerequiredapiversion(uint32_t* release, uint32_t* version) {
    *release = 0x2019B;
    *version = 0x08000000;
}

TEST_PLUGIN_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nlhs < 0) {
        runtimeCall(plhs, prhs);
        return;
    }
    if (nrhs < 4) raise("Test:TooFewRHSArguments", kOwnName, 4);
    if (mxGetScalar_800(prhs[3]) != 0.0) raise("Test:InvalidFlag", kOwnName, mxGetScalar_800(prhs[3]));
    SimStruct* block = nullptr;
    const double* column = mxGetPr_800(prhs[1]);
    if (mxGetM_800(prhs[1]) == 3 && column != nullptr && column[2] == 8480229.0) {
        // Each half must be a value a 32-bit integer holds; anything else has no exact int.
        for (int half = 0; half < 2; ++half)
            if (!(column[half] > -2147483649.0 && column[half] < 2147483648.0)) raise("Test:BadAddress", kOwnName, column[half]);
        const auto low = static_cast<uint32_t>(static_cast<int32_t>(column[0]));
        const auto high = static_cast<uint32_t>(static_cast<int32_t>(column[1]));
        block = reinterpret_cast<SimStruct*>(static_cast<uintptr_t>(high) << 32 | low);
        if (std::strcmp(block->modelName, kOwnName) != 0) raise("Test:SFunctionNameMismatch", block->modelName, 0);
        block->methods.initializeSampleTimes = sampleTimes;
        block->methods.setWorkWidths = workWidths;
        block->methods.setupRuntimeResources = setupRuntime;
        block->methods.outputs = outputs;
        block->methods.update = update;
        block->methods.derivatives = derivatives;
        block->methods.terminate = terminate;
    } else {
        block = static_cast<SimStruct*>(mxCalloc_800(1, sizeof(SimStruct)));
        block->root = block;
        block->mdlInfo = static_cast<ModelInfo*>(mxCalloc_800(1, sizeof(ModelInfo)));
        block->mdlInfo->simMode = 1;
        block->mdlInfo->errorBuffer = static_cast<char*>(mxCalloc_800(kErrorBufferBytes, 1));
        block->modelName = block->path = kOwnName;
        block->registerNumInputPorts = ownInputCount;
        block->registerNumOutputPorts = ownOutputCount;
    }
    block->sizes[kSizeVersion] = kHostCallMarker;
    initializeSizes(block);
    plhs[0] = mxCreateDoubleMatrix_800(kSizeCount, 1, mxREAL);
    double* sizes = mxGetPr_800(plhs[0]);
    for (int i = 0; i < kSizeCount; ++i) sizes[i] = block->sizes[i];
    sizes[kSizeOptions] = static_cast<uint32_t>(block->sizes[kSizeOptions]);
}

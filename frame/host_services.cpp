#include "frame/host_services.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace qelframe {

void raiseMatlabError(const char* identifier, std::initializer_list<MessageArgument> arguments) {
    mxArray* inputs[1 + 8];
    int count = 0;
    inputs[count++] = mxCreateString_800(identifier);
    for (const MessageArgument& argument : arguments) {
        if (count == static_cast<int>(sizeof inputs / sizeof inputs[0])) break;
        inputs[count++] = argument.text != nullptr ? mxCreateString_800(argument.text)
                                                   : mxCreateDoubleScalar_800(argument.number);
    }
    mxArray* message = nullptr;
    mexCallMATLAB_800(1, &message, count, inputs, "message");
    // Without a message object the identifier alone still names the error.
    mxArray* errorInput = message != nullptr ? message : inputs[0];
    mexCallMATLAB_800(0, nullptr, 1, &errorInput, "error");
}

SimStruct* errorRootOf(SimStruct* block) { return block->root != nullptr ? block->root : block; }

void setFixedDiagnostic(SimStruct* block, const char* text) {
    SimStruct* root = errorRootOf(block);
    if (root->mdlInfo != nullptr) root->mdlInfo->errorReported = 0;
    root->errorStatus = text;
}

void setFormattedDiagnostic(SimStruct* block, const char* format, ...) {
    char work[kErrorBufferBytes];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(work, sizeof work, format, arguments);
    va_end(arguments);

    SimStruct* root = errorRootOf(block);
    ModelInfo* info = root->mdlInfo;
    if (info == nullptr || info->errorBuffer == nullptr) {
        // Nowhere to keep the text: the status still tells the host that the call failed.
        setFixedDiagnostic(block, kInvalidFlagDiagnostic);
        return;
    }
    // The buffer's last byte is never written, so it stays the terminator of a cut text.
    const size_t length = std::strlen(work) + 1;
    const size_t kept = length < static_cast<size_t>(kErrorBufferBytes) ? length : kErrorBufferBytes - 1;
    std::memcpy(info->errorBuffer, work, kept);
    info->errorReported = 0;
    root->errorStatus = info->errorBuffer;
}

void setUnexpectedMethodDiagnostic(SimStruct* block, const char* methodName) {
    setFormattedDiagnostic(block, kUnexpectedFunctionCallFormat, methodName);
}

namespace {

template <class PortRecord>
int registerPortCount(SimStruct* block, int count, SizesIndex countIndex, PortRecord** records) {
    if (count < 0) return 0;
    PortRecord* allocated = nullptr;
    if (count > 0) {
        allocated = static_cast<PortRecord*>(mxCalloc_800(static_cast<size_t>(count), sizeof(PortRecord)));
        if (allocated == nullptr) return 0;
    }
    block->sizes[countIndex] = count;
    block->blockFlags |= kBlockFlagPortCountsSet;
    *records = allocated;
    return 1;
}

int setPortWidth(SimStruct* block, ssPortDimsRegistrar registrar, int port, int width) {
    if (registrar == nullptr) return 1;
    const int dims[1] = {width};
    const DimensionsInfo info = {width, 1, dims};
    return registrar(block, port, &info);
}

}  // namespace

int registerInputPortCount(SimStruct* block, int count) {
    return registerPortCount(block, count, kSizeNumInputPorts, &block->inputs);
}

int registerOutputPortCount(SimStruct* block, int count) {
    return registerPortCount(block, count, kSizeNumOutputPorts, &block->outputs);
}

int setInputPortWidth(SimStruct* block, int port, int width) {
    return setPortWidth(block, block->registerInputPortDimensions, port, width);
}

int setOutputPortWidth(SimStruct* block, int port, int width) {
    return setPortWidth(block, block->registerOutputPortDimensions, port, width);
}

void setInputDirectFeedThrough(SimStruct* block, int port, uint8_t flag) {
    const int numInputs = block->sizes[kSizeNumInputPorts];
    if (port < 0 || port >= numInputs || block->inputs == nullptr) {
        raiseMatlabError("Simulink:SFunctions:SimStructLevel2InvalidInputPortNumberForDirectFeedThrough",
                         {MessageArgument::ofText(block->modelName), MessageArgument::ofText(block->path),
                          MessageArgument::ofNumber(port + 1.0), MessageArgument::ofNumber(numInputs - 1.0)});
        return;
    }
    block->inputs[port].directFeedThrough = flag;
}

void notifyRegistrationByte(SimStruct* block, uint8_t value) { dispatch(block, kHostCodeRegistration, value, nullptr); }

const double* checkedInputData(SimStruct* block, int port) {
    const int numInputs = block->sizes[kSizeNumInputPorts];
    if (port < 0 || port >= numInputs || block->inputs == nullptr) {
        raiseMatlabError("Simulink:SFunctions:SimStructLevel2InvalidInputPortNumber",
                         {MessageArgument::ofText(block->modelName), MessageArgument::ofText(block->path),
                          MessageArgument::ofNumber(port + 1.0), MessageArgument::ofNumber(numInputs - 1.0)});
        return nullptr;
    }
    const InputPortRecord& input = block->inputs[port];
    if (input.data == nullptr) {
        const bool reusable = input.optimOpts == 1 || input.optimOpts == 2;
        raiseMatlabError(reusable ? "Simulink:SFunctions:SimStructLevel2InvalidAccessToReusableInputSignal"
                                  : "Simulink:SFunctions:SimStructLevel2InvalidAccessToNonDirectFeedthroughInputSignal",
                         {MessageArgument::ofText(block->modelName), MessageArgument::ofText(block->path),
                          MessageArgument::ofNumber(port + 1.0)});
        return nullptr;
    }
    return input.data;
}

void mdlZeroCrossingsStub(SimStruct* block) { setFixedDiagnostic(block, kNoZeroCrossingsDiagnostic); }

void mdlGetTimeOfNextVarHitStub(SimStruct* block) { setFixedDiagnostic(block, kNoTimeOfNextVarHitDiagnostic); }

}  // namespace qelframe

// The services on the host's block structure: port registrars and widths, checked input
// access, the direct-feedthrough setter, and both error forms.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frame/host_services.h"
#include "host/matlab_error.h"
#include "host/mx_arrays.h"

namespace {

using qelhost::MatlabError;
using Arguments = std::vector<MatlabError::Argument>;

// A block with `numInputs` inputs under a root that owns the model info and error buffer.
struct TestBlock {
    explicit TestBlock(int numInputs) : inputs(static_cast<size_t>(numInputs)) {
        root.root = &root;
        root.mdlInfo = &info;
        info.errorBuffer = errorBuffer;
        block.root = &root;
        block.parent = &root;
        block.mdlInfo = &info;
        block.modelName = "plugin_msp";
        block.path = "top/plugin";
        block.sizes[kSizeNumInputPorts] = numInputs;
        block.inputs = inputs.data();
    }

    SimStruct root = {};
    SimStruct block = {};
    ModelInfo info = {};
    char errorBuffer[kErrorBufferBytes] = {};
    std::vector<InputPortRecord> inputs;
};

// Runs `call`, which must raise; returns the error.
template <class Call>
MatlabError raised(Call call) {
    qelhost::ArrayScope scope;
    try {
        call();
    } catch (const MatlabError& error) {
        return error;
    }
    ADD_FAILURE() << "no error raised";
    return MatlabError("", {});
}

TEST(CheckedInputAccess, PortOutOfRangeNamesThePortCountedFromOne) {
    TestBlock test(2);
    const std::pair<int, double> cases[] = {{2, 3.0}, {-1, 0.0}, {7, 8.0}};
    for (const auto& [port, reported] : cases) {
        SCOPED_TRACE(port);
        const MatlabError error = raised([&] { qelframe::checkedInputData(&test.block, port); });
        EXPECT_EQ(error.identifier(), "Simulink:SFunctions:SimStructLevel2InvalidInputPortNumber");
        EXPECT_EQ(error.arguments(), (Arguments{std::string("plugin_msp"), std::string("top/plugin"), reported, 1.0}));
    }
}

TEST(CheckedInputAccess, InputWithoutDataNamesWhyFromItsOptimisation) {
    struct Case {
        uint8_t optimOpts;
        const char* identifier;
    };
    const Case cases[] = {
        {1, "Simulink:SFunctions:SimStructLevel2InvalidAccessToReusableInputSignal"},
        {2, "Simulink:SFunctions:SimStructLevel2InvalidAccessToReusableInputSignal"},
        {3, "Simulink:SFunctions:SimStructLevel2InvalidAccessToNonDirectFeedthroughInputSignal"},
        {0, "Simulink:SFunctions:SimStructLevel2InvalidAccessToNonDirectFeedthroughInputSignal"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.optimOpts));
        TestBlock test(2);
        test.inputs[1].optimOpts = c.optimOpts;
        const MatlabError error = raised([&] { qelframe::checkedInputData(&test.block, 1); });
        EXPECT_EQ(error.identifier(), c.identifier);
        EXPECT_EQ(error.arguments(), (Arguments{std::string("plugin_msp"), std::string("top/plugin"), 2.0}));
    }
}

TEST(CheckedInputAccess, ReturnsTheInputsData) {
    TestBlock test(2);
    const double value = 4.5;
    test.inputs[1].data = &value;
    EXPECT_EQ(qelframe::checkedInputData(&test.block, 1), &value);
}

TEST(DirectFeedThrough, StoredOnlyForAnExistingPort) {
    TestBlock test(2);
    qelframe::setInputDirectFeedThrough(&test.block, 1, 1);
    EXPECT_EQ(test.inputs[1].directFeedThrough, 1);
    const MatlabError error = raised([&] { qelframe::setInputDirectFeedThrough(&test.block, 2, 1); });
    EXPECT_EQ(error.identifier(), "Simulink:SFunctions:SimStructLevel2InvalidInputPortNumberForDirectFeedThrough");
    EXPECT_EQ(error.arguments(), (Arguments{std::string("plugin_msp"), std::string("top/plugin"), 3.0, 1.0}));
}

TEST(PortCountRegistrars, NegativeCountChangesNothing) {
    SimStruct block = {};
    EXPECT_EQ(qelframe::registerInputPortCount(&block, -1), 0);
    EXPECT_EQ(qelframe::registerOutputPortCount(&block, -1), 0);
    EXPECT_EQ(block.sizes[kSizeNumInputPorts], 0);
    EXPECT_EQ(block.blockFlags, 0u);
    EXPECT_EQ(block.inputs, nullptr);
}

TEST(PortCountRegistrars, CountAllocatesZeroedRecords) {
    qelhost::ArrayScope scope;
    SimStruct block = {};
    block.sizes[kSizeNumOutputPorts] = 9;
    EXPECT_EQ(qelframe::registerInputPortCount(&block, 3), 1);
    EXPECT_EQ(block.sizes[kSizeNumInputPorts], 3);
    EXPECT_NE(block.blockFlags & kBlockFlagPortCountsSet, 0u);
    ASSERT_NE(block.inputs, nullptr);
    const InputPortRecord zero = {};
    for (int p = 0; p < 3; ++p) EXPECT_EQ(std::memcmp(&block.inputs[p], &zero, sizeof zero), 0);
    EXPECT_EQ(qelframe::registerOutputPortCount(&block, 0), 1);
    EXPECT_EQ(block.sizes[kSizeNumOutputPorts], 0);
    EXPECT_EQ(block.outputs, nullptr);
    EXPECT_EQ(scope.numBlocks(), 1u);   // the host's memory, which it frees
}

DimensionsInfo g_registered;
int g_registeredDim;
int recordDims(SimStruct*, int, const DimensionsInfo* dims) {
    g_registered = *dims;
    g_registeredDim = dims->dims[0];
    return 7;
}

TEST(PortWidth, OneDimensionThroughTheHostsRegistrar) {
    SimStruct block = {};
    EXPECT_EQ(qelframe::setInputPortWidth(&block, 0, 3), 1);   // no registrar: nothing to record
    block.registerOutputPortDimensions = recordDims;
    EXPECT_EQ(qelframe::setOutputPortWidth(&block, 0, 3), 7);
    EXPECT_EQ(g_registered.width, 3);
    EXPECT_EQ(g_registered.numDims, 1);
    EXPECT_EQ(g_registeredDim, 3);
}

TEST(Diagnostics, FixedTextBecomesTheRootsStatus) {
    TestBlock test(0);
    test.info.errorReported = 1;
    qelframe::mdlZeroCrossingsStub(&test.block);
    EXPECT_EQ(test.root.errorStatus, qelframe::kNoZeroCrossingsDiagnostic);
    EXPECT_EQ(test.block.errorStatus, nullptr);
    EXPECT_EQ(test.info.errorReported, 0);
    qelframe::mdlGetTimeOfNextVarHitStub(&test.block);
    EXPECT_STREQ(test.root.errorStatus,
                 "<diag_root><diag id=\"Simulink:SFunctions:SimStructNoMdlGetTimeOfNextVarHit\"><arguments></arguments>"
                 "</diag></diag_root>");
}

TEST(Diagnostics, FormattedTextIsCutToTheBufferKeepingItsLastByte) {
    const size_t frame = std::strlen(qelframe::kUnexpectedFunctionCallFormat) - 2;   // without "%s"
    struct Case {
        const char* name;
        size_t methodLength;
        size_t storedLength;
    };
    const Case cases[] = {
        {"short", 9, frame + 9},
        {"fits with its terminator", 1023 - frame, 1023},
        {"one too long", 1024 - frame, 1023},
        {"far too long", 4000, 1023},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestBlock test(0);
        test.errorBuffer[kErrorBufferBytes - 1] = 0;
        const std::string method(c.methodLength, 'm');
        qelframe::setUnexpectedMethodDiagnostic(&test.block, method.c_str());
        EXPECT_EQ(test.root.errorStatus, test.errorBuffer);
        EXPECT_EQ(std::strlen(test.errorBuffer), c.storedLength);
        EXPECT_EQ(test.errorBuffer[kErrorBufferBytes - 1], 0);
        const std::string expected = "<diag_root><diag id=\"Simulink:SFunctions:SimStructUnexpectedFunctionCall\">"
                                     "<arguments><arg type=\"string\">" + method + "</arg></arguments></diag></diag_root>";
        EXPECT_EQ(std::string(test.errorBuffer), expected.substr(0, c.storedLength));
    }
}

TEST(MatlabErrors, MessageCarriesTextsAndNumbers) {
    const MatlabError error = raised([] {
        qelframe::raiseMatlabError("Simulink:SFunctions:Example",
                                   {qelframe::MessageArgument::ofText("name"), qelframe::MessageArgument::ofNumber(4),
                                    qelframe::MessageArgument::ofText(nullptr)});
    });
    EXPECT_EQ(error.identifier(), "Simulink:SFunctions:Example");
    EXPECT_EQ(error.arguments(), (Arguments{std::string("name"), 4.0, std::string("")}));
}

}  // namespace

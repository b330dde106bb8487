// Run-time calls by method flag: every flag of the dispatch table, the refusing stubs, the
// unexpected-method diagnostics and the slots that take their values from the current arguments.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/blocks/block_facts.h"

namespace {

constexpr char kCurrent[] = "Qel_Lib_wexa_current_controller_sub";

std::string unexpected(const char* method) {
    return std::string("<diag_root><diag id=\"Simulink:SFunctions:SimStructUnexpectedFunctionCall\"><arguments>"
                       "<arg type=\"string\">") +
           method + "</arg></arguments></diag></diag_root>";
}

std::string fixed(const char* identifier) {
    return std::string("<diag_root><diag id=\"Simulink:SFunctions:") + identifier +
           "\"><arguments></arguments></diag></diag_root>";
}

struct FlagCase {
    int flag;
    std::string error;   // "" when the call succeeds
};

// The flags on a registered, started block whose optional slots the host left empty.
std::vector<FlagCase> flagCases(bool plant) {
    return {
        {101, ""},
        {102, fixed("SimStructInvalidFlagInSimulinkC")},
        {103, fixed("SimStructNoMdlGetTimeOfNextVarHit")},
        {104, ""},
        {105, ""},
        {106, plant ? "" : fixed("SimStructInvalidFlagInSimulinkC")},
        {108, fixed("SimStructNoMdlZeroCrossings")},
        {111, ""},
        {112, unexpected("mdlCheckParameters")},
        {113, unexpected("mdlSetInputPortDataType")},
        {114, unexpected("mdlSetOutputPortDataType")},
        {115, unexpected("mdlSetInputPortWidth")},
        {116, unexpected("mdlSetOutputPortWidth")},
        {117, ""},
        {120, unexpected("mdlSetInputPortComplexSignal")},
        {121, unexpected("mdlSetOutputPortComplexSignal")},
        {122, unexpected("mdlSetInputPortSampleTime")},
        {123, unexpected("mdlSetOutputPortSampleTime")},
        {126, unexpected("mdlSetInputPortDimensionInfo")},
        {127, unexpected("mdlSetOutputPortDimensionInfo")},
        {128, unexpected("mdlSetInputPortFrameData")},
        {131, unexpected("mdlSetDefaultPortDimensionInfo")},
        {132, unexpected("mdlSetDefaultPortDataTypes")},
        {133, unexpected("mdlSetDefaultPortComplexSignals")},
        {142, unexpected("mdlInitializePropagationPass")},
        {144, ""},
        {149, unexpected("mdlSetInputPortSymbolicDimensions")},
        {150, unexpected("mdlSetOutputPortSymbolicDimensions")},
        {151, ""},
        {152, ""},
        {0, fixed("SimStructInvalidFlagInSimulinkC")},
        {-1, fixed("SimStructInvalidFlagInSimulinkC")},
        {999, fixed("SimStructInvalidFlagInSimulinkC")},
        {107, ""},
    };
}

TEST(FlagDispatch, EveryFlagOnEveryBlock) {
    for (const qeltest::BlockFacts& facts : qeltest::allBlocks()) {
        SCOPED_TRACE(facts.model);
        qeltest::BlockUnderTest unit(facts.model);
        unit.start();
        for (const FlagCase& c : flagCases(facts.isPlant)) {
            SCOPED_TRACE(c.flag);
            const bool succeeded = unit.block.callFlag(c.flag);
            EXPECT_EQ(succeeded, c.error.empty());
            EXPECT_EQ(unit.block.lastError(), c.error);
        }
    }
}

TEST(FlagDispatch, ErrorStatusClearsTheReportedFlag) {
    qeltest::BlockUnderTest unit(kCurrent);
    unit.start();
    ModelInfo& info = unit.top.modelInfo();
    // Straight through the entry: the loader marks every status it reads as reported.
    const auto enter = [&](int flag) {
        const qelhost::UniqueArray empty = qelhost::makeDoubleMatrix(0, 0);
        const qelhost::UniqueArray flagArray = qelhost::makeDoubleScalar(flag);
        mxArray* outputs[2] = {nullptr, reinterpret_cast<mxArray*>(unit.block.simStruct())};
        const mxArray* inputs[4] = {empty.get(), empty.get(), empty.get(), flagArray.get()};
        unit.block.plugin().callEntry(-1, outputs, 4, inputs);
    };
    info.errorReported = 1;
    enter(108);
    EXPECT_EQ(info.errorReported, 0);
    EXPECT_STREQ(unit.top.simStruct()->errorStatus, fixed("SimStructNoMdlZeroCrossings").c_str());
    info.errorReported = 1;
    enter(112);
    EXPECT_EQ(info.errorReported, 0);
    EXPECT_EQ(unit.top.simStruct()->errorStatus, info.errorBuffer);   // formatted texts live in the buffer
}

// What a host-side slot received.
struct SlotRecord {
    int calls = 0;
    std::vector<double> values;
};
SlotRecord g_slot;

void recordBlock(SimStruct*) { ++g_slot.calls; }
void recordPortInt(SimStruct*, int port, int value) {
    ++g_slot.calls;
    g_slot.values = {static_cast<double>(port), static_cast<double>(value)};
}
void recordPortTime(SimStruct*, int port, double sampleTime, double offset) {
    ++g_slot.calls;
    g_slot.values = {static_cast<double>(port), sampleTime, offset};
}
void recordPortDims(SimStruct*, int port, const DimensionsInfo* dims) {
    ++g_slot.calls;
    g_slot.values = {static_cast<double>(port), static_cast<double>(dims != nullptr ? dims->width : -1)};
}
void recordPort(SimStruct*, int port) {
    ++g_slot.calls;
    g_slot.values = {static_cast<double>(port)};
}

TEST(FlagDispatch, SlotsReceiveTheCurrentArguments) {
    qeltest::BlockUnderTest unit(kCurrent);
    unit.start();
    SimStruct* block = unit.block.simStruct();
    MethodSlots& slots = block->methods;
    slots.checkParameters = recordBlock;
    slots.setInputPortDataType = slots.setOutputPortDataType = recordPortInt;
    slots.setInputPortWidth = slots.setOutputPortWidth = recordPortInt;
    slots.setInputPortComplexSignal = slots.setOutputPortComplexSignal = recordPortInt;
    slots.setInputPortSampleTime = slots.setOutputPortSampleTime = recordPortTime;
    slots.setInputPortFrameData = recordPortInt;
    slots.setInputPortDimensionInfo = slots.setOutputPortDimensionInfo = recordPortDims;
    slots.setInputPortSymbolicDimensions = slots.setOutputPortSymbolicDimensions = recordPortDims;
    slots.setDefaultPortDimensionInfo = slots.setDefaultPortDataTypes = slots.setDefaultPortComplexSignals = recordBlock;
    slots.initializePropagationPass = recordPort;

    const int dims[1] = {7};
    const DimensionsInfo dimensions = {7, 1, dims};
    unit.block.currentArguments() = {.tid = 0, .port = 1, .dataTypeId = 5, .width = 3, .complexSignal = 1,
                                     .frameSetting = 2, .sampleTime = 0.25, .offsetTime = 0.5, .dims = &dimensions};
    struct Case {
        int flag;
        bool dimensionMethods;
        std::vector<double> values;   // empty: the slot gets only the block
    };
    const Case cases[] = {
        {112, false, {}},          {113, false, {1, 5}},       {114, false, {1, 5}},      {115, false, {1, 3}},
        {116, false, {1, 3}},      {120, false, {1, 1}},       {121, false, {1, 1}},      {122, false, {1, 0.25, 0.5}},
        {123, false, {1, 0.25, 0.5}}, {126, true, {1, 7}},     {127, true, {1, 7}},       {128, false, {1, 2}},
        {131, false, {}},          {132, false, {}},           {133, false, {}},          {142, false, {1}},
        {149, true, {1, 7}},       {150, true, {1, 7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flag);
        block->sizes[kSizeFlags] = c.dimensionMethods ? kSizesFlagDimensionMethods : 0;
        g_slot = {};
        EXPECT_TRUE(unit.block.callFlag(c.flag)) << unit.block.lastError();
        EXPECT_EQ(g_slot.calls, 1);
        if (!c.values.empty()) {
            EXPECT_EQ(g_slot.values, c.values);
        }
    }

    // The width and dimension slots answer only to the matching dimension-methods setting.
    const std::pair<int, const char*> mismatched[] = {
        {115, "mdlSetInputPortWidth"},           {116, "mdlSetOutputPortWidth"},
        {126, "mdlSetInputPortDimensionInfo"},   {127, "mdlSetOutputPortDimensionInfo"},
        {149, "mdlSetInputPortSymbolicDimensions"}, {150, "mdlSetOutputPortSymbolicDimensions"},
    };
    for (const auto& [flag, method] : mismatched) {
        SCOPED_TRACE(flag);
        const bool widthFlag = flag == 115 || flag == 116;
        block->sizes[kSizeFlags] = widthFlag ? kSizesFlagDimensionMethods : 0;
        g_slot = {};
        EXPECT_FALSE(unit.block.callFlag(flag));
        EXPECT_EQ(unit.block.lastError(), unexpected(method));
        EXPECT_EQ(g_slot.calls, 0);
    }

    // Symbolic dimensions also need the dimension slot of the same side.
    block->sizes[kSizeFlags] = kSizesFlagDimensionMethods;
    slots.setInputPortDimensionInfo = nullptr;
    g_slot = {};
    EXPECT_FALSE(unit.block.callFlag(149));
    EXPECT_EQ(unit.block.lastError(), unexpected("mdlSetInputPortSymbolicDimensions"));
    EXPECT_EQ(g_slot.calls, 0);
}

TEST(FlagDispatch, OwnMethodsNeedTheirSlots) {
    const std::pair<int, const char*> cases[] = {
        {105, "mdlUpdate"}, {117, "mdlStart"}, {151, "mdlSetupRuntimeResources"},
        {152, "mdlCleanupRuntimeResources"}, {111, "mdlSetWorkWidths"},
    };
    for (const auto& [flag, method] : cases) {
        SCOPED_TRACE(flag);
        qeltest::BlockUnderTest unit(kCurrent);
        unit.start();
        MethodSlots& slots = unit.block.simStruct()->methods;
        slots.update = nullptr;
        slots.start = nullptr;
        slots.setupRuntimeResources = nullptr;
        slots.cleanupRuntimeResources = nullptr;
        slots.setWorkWidths = nullptr;
        EXPECT_FALSE(unit.block.callFlag(flag));
        EXPECT_EQ(unit.block.lastError(), unexpected(method));
    }

    qeltest::BlockUnderTest plant("Qel_Lib_motor_sub");
    plant.start();
    plant.block.simStruct()->methods.derivatives = nullptr;
    EXPECT_FALSE(plant.block.callFlag(106));
    EXPECT_EQ(plant.block.lastError(), unexpected("mdlDerivatives"));
}

TEST(FlagDispatch, SimStateFlagsNeedCustomCompliance) {
    qeltest::BlockUnderTest unit(kCurrent);
    unit.start();
    qelhost::UniqueArray state = unit.block.getSimState();
    ASSERT_NE(state, nullptr) << unit.block.lastError();
    EXPECT_EQ(unit.block.structure().handedSimState(), state.get());   // handed over with code 152

    unit.block.simStruct()->simStateCompliance = 2;
    EXPECT_EQ(unit.block.getSimState(), nullptr);
    EXPECT_EQ(unit.block.lastError(), unexpected("mdlGetSimState"));
    EXPECT_FALSE(unit.block.setSimState(state.get()));
    EXPECT_EQ(unit.block.lastError(), unexpected("mdlSetSimState"));
}

TEST(FlagDispatch, OutputFlagPassesOnlyTheConstantRateTid) {
    qeltest::BlockUnderTest unit(kCurrent);
    unit.start();
    unit.block.setArgument(2, 100.0);   // reference limits ±300, output limit 95
    unit.block.setArgument(3, 100.0);
    unit.block.outputs(-5);
    *unit.block.inputBuffer(0) = 2.0;
    unit.top.setAllSampleHits(true);

    unit.block.currentArguments().tid = -2;
    *unit.block.output(0) = -7.0;
    EXPECT_TRUE(unit.block.callFlag(104));
    EXPECT_EQ(*unit.block.output(0), -7.0);   // the constant-rate call computes nothing

    unit.block.currentArguments().tid = -5;   // any other value is an ordinary step
    EXPECT_TRUE(unit.block.callFlag(104));
    EXPECT_EQ(*unit.block.output(0), 2.0);
}

}  // namespace

// The loader against a real plug-in: the current controller, registered and run through its entry.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <new>

#include "host/loader.h"
#include "tests/host/high_address.h"

namespace {

using qelhost::Block;
using qelhost::Plugin;
using qelhost::TopModel;

constexpr size_t kRtbBytes = 5 * sizeof(double);   // the controller's rtb; rtdw follows it

struct LeakCheck {
    ~LeakCheck() {
        EXPECT_EQ(qelhost::liveArrayCount(), arrays);
        EXPECT_EQ(qelhost::liveBlockCount(), blocks);
    }
    size_t arrays = qelhost::liveArrayCount();
    size_t blocks = qelhost::liveBlockCount();
};

class CurrentControllerBlock : public ::testing::Test {
protected:
    void SetUp() override {
        block.registerBlock();
        // proportionalGain, integralTime, referenceLimitBase, outputLimitBase
        block.setArguments({{1.0}, {1.0}, {100.0}, {100.0}});
    }
    double integratorState() {
        double state;
        std::memcpy(&state, block.workRecord().data() + kRtbBytes, sizeof state);
        return state;
    }

    LeakCheck leakCheck;
    TopModel model;
    Block block{model, Plugin::open(QEL_CURRENT_CONTROLLER_PLUGIN)};
};

TEST_F(CurrentControllerBlock, RegistersThroughTheEntry) {
    const auto& sizes = block.sizesColumn();
    EXPECT_EQ(sizes[kSizeNumInputPorts], 2.0);
    EXPECT_EQ(sizes[kSizeNumOutputPorts], 1.0);
    EXPECT_EQ(sizes[kSizeNumSampleTimes], 3.0);
    EXPECT_EQ(sizes[kSizeVersion], 8480229.0);
    EXPECT_EQ(sizes[kSizeOptions], static_cast<double>(0x68000822u | 0x2000u));
    ASSERT_EQ(block.samplePeriods().size(), 3u);
    EXPECT_EQ(block.samplePeriods()[0], 1e-5);
    EXPECT_EQ(block.samplePeriods()[1], 1e-4);
    EXPECT_TRUE(std::isinf(block.samplePeriods()[2]));
    EXPECT_EQ(std::vector<int>(block.sampleTaskIds().begin(), block.sampleTaskIds().end()), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(block.workRecord().size(), 328u);
    EXPECT_EQ(*block.structure().simStateChecksum(), (std::array<uint32_t, 4>{0xECCD6036u, 0x15F03AB7u, 0xC02F073Cu, 0x5E0453D8u}));
    ASSERT_TRUE(block.structure().identifierList().has_value());
    const auto& identifiers = *block.structure().identifierList();
    EXPECT_EQ(identifiers.count, 47);
    EXPECT_EQ(identifiers.entries.at(21).text, "Qel_Lib_wexa_current_controller_sub");
}

TEST(CurrentControllerPlugin, FindsABlockStructureWhoseLowAddressHalfHasItsTopBitSet) {
    HighLowHalfMemory memory;
    if (memory.memory == nullptr) GTEST_SKIP() << "cannot map memory at the chosen address";
    TopModel model;
    auto* block = new (memory.memory) Block(model, Plugin::open(QEL_CURRENT_CONTROLLER_PLUGIN));
    ASSERT_GE(reinterpret_cast<uintptr_t>(block->simStruct()) & 0xFFFFFFFFu, 0x80000000u);
    EXPECT_NO_THROW(block->registerBlock());
    EXPECT_EQ(block->numSampleTimes(), 3);
    block->~Block();
}

TEST_F(CurrentControllerBlock, CommandLineSizesMatchTheHostCall) {
    const qelhost::SizesColumn commandLine = block.plugin().commandLineSizes();
    for (int i : {kSizeNumContStates, kSizeNumInputPorts, kSizeNumOutputPorts, kSizeNumSampleTimes, kSizeVersion, kSizeOptions}) {
        SCOPED_TRACE(i);
        EXPECT_EQ(commandLine[static_cast<size_t>(i)], block.sizesColumn()[static_cast<size_t>(i)]);
    }
}

TEST_F(CurrentControllerBlock, SetupAsksTheTopTaskOfEveryRateLastFirst) {
    block.structure().clearLogs();
    ASSERT_TRUE(block.setupRuntimeResources()) << block.lastError();
    std::vector<std::vector<int64_t>> asked;
    std::vector<int> answered;
    for (const auto& call : block.structure().registrations()) {
        if (call.operation != "slmrGetTopTidFromMdlRefChildTid") continue;
        asked.push_back(call.values);
        answered.push_back(call.result);
    }
    EXPECT_EQ(asked, (std::vector<std::vector<int64_t>>{{2, 1}, {1, 0}, {0, 0}}));
    EXPECT_EQ(answered, (std::vector<int>{3, 2, 1}));
    EXPECT_NE(block.structure().modelMap(), nullptr);
}

TEST_F(CurrentControllerBlock, GainOneSequenceAtTheComputingRate) {
    ASSERT_TRUE(block.setupRuntimeResources());
    ASSERT_TRUE(block.systemInitialize());
    ASSERT_TRUE(block.outputs(-5));   // parameter call: the limits
    model.setMajorTimeStep(true);
    model.setSampleHit(1, true);
    model.setSampleHit(2, true);
    block.inputBuffer(0)[0] = 1.0;
    block.inputBuffer(1)[0] = 0.0;
    ASSERT_TRUE(block.outputs(0));
    EXPECT_EQ(block.output(0)[0], 1.0);
    ASSERT_TRUE(block.update(0));
    EXPECT_EQ(integratorState(), 1e-4);
    ASSERT_TRUE(block.outputs(0));
    EXPECT_EQ(block.output(0)[0], 1.0001);

    // A 1e-5 s step between two 1e-4 s hits changes nothing.
    model.setSampleHit(2, false);
    block.inputBuffer(0)[0] = 50.0;
    ASSERT_TRUE(block.outputs(0));
    ASSERT_TRUE(block.update(0));
    EXPECT_EQ(block.output(0)[0], 1.0001);
    EXPECT_EQ(integratorState(), 1e-4);
}

TEST_F(CurrentControllerBlock, SimulationStateRestoresTheIntegratorBitForBit) {
    ASSERT_TRUE(block.setupRuntimeResources());
    model.setSampleHit(2, true);
    block.inputBuffer(0)[0] = -0.0;
    block.outputs(-5);
    block.outputs(0);
    std::memcpy(block.workRecord().data() + kRtbBytes, "\x01\x00\x00\x00\x00\x00\xF8\x7F", 8);   // a NaN with payload
    qelhost::UniqueArray state = block.getSimState();
    ASSERT_NE(state, nullptr) << block.lastError();
    EXPECT_EQ(mxGetNumberOfFields_800(state.get()), 6);
    EXPECT_EQ(qelhost::fieldName(state.get(), 1), "mdlrefDW");

    std::vector<std::byte> saved(block.workRecord().begin(), block.workRecord().begin() + kRtbBytes + 8);
    block.update(0);
    std::memset(block.workRecord().data(), 0, kRtbBytes + 8);
    ASSERT_TRUE(block.setSimState(state.get())) << block.lastError();
    EXPECT_EQ(std::memcmp(block.workRecord().data(), saved.data(), saved.size()), 0);
}

}  // namespace

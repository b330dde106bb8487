// The loader against the tests' own small plug-in (test_plugin.cpp).
#include "host/loader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <new>

#include "tests/host/high_address.h"

namespace {

using qelhost::Block;
using qelhost::BlockOptions;
using qelhost::LoadError;
using qelhost::MatlabError;
using qelhost::Plugin;
using qelhost::TopModel;

// The test plug-in's work record.
struct Work {
    double updates;
    double lastUpdateTid;
    double state;
    double periodicArg;
    int32_t topTids[2];
    void* context;
    int32_t contextTid;
    int32_t pad;
};

std::shared_ptr<Plugin> testPlugin() {
    static std::shared_ptr<Plugin> plugin = Plugin::open(QEL_TEST_PLUGIN);
    return plugin;
}

std::string loadErrorOf(const std::filesystem::path& file) {
    try {
        Plugin::open(file);
    } catch (const LoadError& error) {
        return error.what();
    }
    return "";
}

TEST(HostLoader, OpenNamesTheFileThatCannotBeLoaded) {
    const std::string missing = loadErrorOf("/nonexistent/qel_missing_msp.mexa64");
    EXPECT_NE(missing.find("cannot load plug-in /nonexistent/qel_missing_msp.mexa64"), std::string::npos) << missing;
    const std::string noEntry = loadErrorOf(QEL_NO_ENTRY_PLUGIN);
    EXPECT_NE(noEntry.find(QEL_NO_ENTRY_PLUGIN), std::string::npos) << noEntry;
    EXPECT_NE(noEntry.find("exports no mexFunction"), std::string::npos) << noEntry;
}

TEST(HostLoader, OpenReadsNamesAndInterfaceVersion) {
    const auto plugin = testPlugin();
    EXPECT_EQ(plugin->name(), "qel_test_block_msp");
    EXPECT_EQ(plugin->modelName(), "qel_test_block");
    EXPECT_EQ(plugin->apiRelease(), 0x2019Bu);
    EXPECT_EQ(plugin->apiVersion(), 0x08000000u);
}

// Expects, when it goes, as many live host arrays and calloc blocks as when it came.
struct LeakCheck {
    ~LeakCheck() {
        EXPECT_EQ(qelhost::liveArrayCount(), arrays);
        EXPECT_EQ(qelhost::liveBlockCount(), blocks);
    }
    size_t arrays = qelhost::liveArrayCount();
    size_t blocks = qelhost::liveBlockCount();
};

// A registered test block under a default top model.
class LoadedBlock : public ::testing::Test {
protected:
    void SetUp() override { block.registerBlock(); }
    Work& work() { return *reinterpret_cast<Work*>(block.workRecord().data()); }

    LeakCheck leakCheck;   // first in, last out: checks after the block is gone
    TopModel model;
    Block block{model, testPlugin()};
};

TEST_F(LoadedBlock, SizesCallFindsTheBlockStructureAndReturnsItsSizes) {
    const auto& sizes = block.sizesColumn();
    EXPECT_EQ(sizes[kSizeNumContStates], 1.0);
    EXPECT_EQ(sizes[kSizeNumInputPorts], 2.0);
    EXPECT_EQ(sizes[kSizeNumOutputPorts], 2.0);
    EXPECT_EQ(sizes[kSizeNumSampleTimes], 2.0);
    EXPECT_EQ(sizes[kSizeVersion], 8480229.0);
    EXPECT_EQ(sizes[kSizeOptions], 1744832546.0);   // 0x68000822, unsigned
    EXPECT_EQ(block.inputWidth(0), 1);
    EXPECT_EQ(block.inputWidth(1), 3);
    EXPECT_EQ(block.outputWidth(0), 2);
    EXPECT_EQ(block.outputWidth(1), 1);
    EXPECT_STREQ(block.simStruct()->path, "qel_top/qel_test_block");
}

TEST_F(LoadedBlock, SampleTimesMapToTheTopModelsTasks) {
    ASSERT_EQ(block.samplePeriods().size(), 2u);
    EXPECT_EQ(block.samplePeriods()[0], 1e-4);
    EXPECT_TRUE(std::isinf(block.samplePeriods()[1]));
    EXPECT_EQ(block.sampleTaskIds()[0], 2);
    EXPECT_EQ(block.sampleTaskIds()[1], model.constantTaskId());
    EXPECT_EQ(model.constantTaskId(), 3);
}

TEST_F(LoadedBlock, RegistrationIsLoggedInCallOrder) {
    std::vector<int> codes;
    for (const auto& call : block.structure().dispatcherLog()) codes.push_back(call.code);
    const std::vector<int> expected = {kHostCodeSizesStart, kHostCodeUnits, kHostCodeUnits, kHostCodeIdentifierQuery,
                                       kHostCodeIdentifiers, kHostCodeWorkRecordType, kHostCodeVersion, kHostCodeWorkWidths};
    EXPECT_EQ(codes, expected);
    EXPECT_EQ(block.structure().dispatcherLog()[6].text, "10.0");
    ASSERT_TRUE(block.structure().identifierList().has_value());
    EXPECT_EQ(block.structure().identifierList()->modelName, "qel_test_block");
    EXPECT_EQ(*block.structure().simStateChecksum(), (std::array<uint32_t, 4>{0x11111111u, 0x22222222u, 0x33333333u, 0xFFFFFFFFu}));
    EXPECT_EQ(block.workRecord().size(), sizeof(Work));
    EXPECT_EQ(block.simStruct()->methods.systemReset != nullptr, true);
}

TEST_F(LoadedBlock, SetupHandsOverContextTopTaskIdsAndMap) {
    int context = 0;
    block.structure().options().context = &context;
    block.structure().options().contextTid = -2;
    const size_t events = qelhost::pluginEvents().size();
    ASSERT_TRUE(block.setupRuntimeResources()) << block.lastError();
    EXPECT_EQ(work().context, &context);
    EXPECT_EQ(work().contextTid, -2);
    EXPECT_EQ(work().topTids[0], 2);
    EXPECT_EQ(work().topTids[1], 3);
    EXPECT_EQ(static_cast<const void*>(block.structure().modelMap()), &work());
    ASSERT_EQ(qelhost::pluginEvents().size(), events + 1);
    EXPECT_EQ(qelhost::pluginEvents().back().block, block.simStruct());
}

TEST_F(LoadedBlock, RunTimeCallsReachTheirSlots) {
    ASSERT_TRUE(block.setupRuntimeResources());
    block.setArgument(0, 2.0);
    block.inputBuffer(0)[0] = 1.5;
    double* u1 = block.inputBuffer(1);
    u1[0] = 1.0, u1[1] = 2.0, u1[2] = 4.0;
    ASSERT_TRUE(block.outputs(0));
    EXPECT_EQ(block.output(0)[0], 3.0);
    EXPECT_EQ(block.output(0)[1], 3.0);
    EXPECT_EQ(block.output(1)[0], 7.0);
    ASSERT_TRUE(block.derivatives());
    EXPECT_EQ(block.stateDerivatives()[0], 1.5);
    ASSERT_TRUE(block.update(1));
    EXPECT_EQ(work().updates, 1.0);
    EXPECT_EQ(work().lastUpdateTid, 1.0);
    ASSERT_TRUE(block.systemInitialize());
    EXPECT_EQ(work().state, 1.0);
    ASSERT_TRUE(block.systemReset());
    EXPECT_EQ(work().state, 2.0);
    ASSERT_TRUE(block.periodic(7));
    EXPECT_EQ(work().periodicArg, 7.0);
    ASSERT_TRUE(block.terminate());
    EXPECT_EQ(qelhost::pluginEvents().back().eventName, "SIMSTATUS_TERMINATING_MODELREF_ACCEL_EVENT");
}

TEST_F(LoadedBlock, EmptySlotIsReportedNotCalled) {
    EXPECT_FALSE(block.start());
    EXPECT_EQ(block.lastError(), "block qel_top/qel_test_block has no start method");
}

TEST_F(LoadedBlock, MissingArgumentLeavesOutputsUntouched) {
    block.inputBuffer(0)[0] = 1.5;
    ASSERT_TRUE(block.outputs(0));
    EXPECT_EQ(block.output(0)[0], 0.0);
}

TEST_F(LoadedBlock, ConnectedInputIsReadFromTheCallersMemory) {
    block.setArgument(0, 1.0);
    const double elsewhere = 9.0;
    block.connectInput(0, &elsewhere);
    ASSERT_TRUE(block.outputs(0));
    EXPECT_EQ(block.output(0)[0], 9.0);
    block.useOwnInput(0);
    block.inputBuffer(0)[0] = 4.0;
    ASSERT_TRUE(block.outputs(0));
    EXPECT_EQ(block.output(0)[0], 4.0);
}

TEST_F(LoadedBlock, ErrorRaisedInsideAMethodUnwindsToTheCallerAndFreesItsArrays) {
    block.setArgument(0, 1.0);
    block.connectInput(1, nullptr);
    try {
        block.outputs(0);
        FAIL() << "no error raised";
    } catch (const MatlabError& error) {
        EXPECT_EQ(error.identifier(), "Test:NoInput");
        const std::vector<MatlabError::Argument> expected = {std::string("qel_test_block_msp"), 2.0};
        EXPECT_EQ(error.arguments(), expected);
    }
    // The plug-in also left an array behind before raising.
    EXPECT_THROW(block.outputs(98), MatlabError);
    // The block is still usable afterwards.
    block.useOwnInput(1);
    EXPECT_TRUE(block.outputs(0));
}

TEST_F(LoadedBlock, ErrorStatusIsReadAfterEveryCall) {
    EXPECT_FALSE(block.outputs(99));
    EXPECT_EQ(block.lastError(), "<diag_root><diag id=\"Test:Failed\"><arguments></arguments></diag></diag_root>");
    EXPECT_EQ(model.modelInfo().errorReported, 1);
    EXPECT_TRUE(block.outputs(0));
    EXPECT_EQ(block.lastError(), "");
    EXPECT_EQ(block.simStruct()->root->errorStatus, nullptr);
}

TEST_F(LoadedBlock, FlagCallsHandTheBlockStructureAndCurrentArguments) {
    block.setArgument(0, 3.0);
    block.inputBuffer(0)[0] = 1.0;
    block.currentArguments().tid = -2;
    ASSERT_TRUE(block.callFlag(104));   // the constant-rate call: nothing computed
    EXPECT_EQ(block.output(0)[0], 0.0);
    block.currentArguments().tid = 5;
    ASSERT_TRUE(block.callFlag(104));
    EXPECT_EQ(block.output(0)[0], 3.0);
    ASSERT_TRUE(block.setupRuntimeResources());
    ASSERT_TRUE(block.callFlag(105));
    EXPECT_EQ(work().updates, 1.0);
    EXPECT_FALSE(block.callFlag(102));
    EXPECT_EQ(block.lastError(), "Test:InvalidFlag");
}

TEST_F(LoadedBlock, SimStateRoundTripsAndBelongsToTheCaller) {
    ASSERT_TRUE(block.setupRuntimeResources());
    block.update(0);
    block.simStruct()->tNext = 0.25;
    block.contStates()[0] = -0.0;
    const size_t arraysBefore = qelhost::liveArrayCount();
    qelhost::UniqueArray state = block.getSimState();
    ASSERT_NE(state, nullptr) << block.lastError();
    EXPECT_EQ(block.structure().handedSimState(), state.get());
    EXPECT_EQ(model.modelInfo().simState, nullptr);
    EXPECT_EQ(qelhost::liveArrayCount(), arraysBefore + 5);   // struct, bytes, tNext, nested struct, x

    work().updates = 42.0;
    block.simStruct()->tNext = 1.0;
    block.contStates()[0] = 7.0;
    ASSERT_TRUE(block.setSimState(state.get())) << block.lastError();
    EXPECT_EQ(work().updates, 1.0);
    EXPECT_EQ(block.simStruct()->tNext, 0.25);
    EXPECT_TRUE(std::signbit(block.contStates()[0]));
    EXPECT_EQ(model.modelInfo().simState, nullptr);

    const qelhost::UniqueArray wrong = qelhost::makeDoubleScalar(1.0);
    EXPECT_FALSE(block.setSimState(wrong.get()));
    EXPECT_EQ(block.lastError(), "bad state");
}

TEST(HostLoader, BlockStructureWhoseAddressHasTheTopBitOfTheLowHalfSetIsFound) {
    HighLowHalfMemory memory;
    if (memory.memory == nullptr) GTEST_SKIP() << "cannot map memory at the chosen address";
    TopModel model;
    auto* block = new (memory.memory) Block(model, testPlugin());
    ASSERT_GE(reinterpret_cast<uintptr_t>(block->simStruct()) & 0xFFFFFFFFu, 0x80000000u);
    EXPECT_NO_THROW(block->registerBlock());
    EXPECT_EQ(block->sizesColumn()[kSizeNumInputPorts], 2.0);
    block->~Block();
}

TEST(HostLoader, NameMismatchRaisedByThePluginReachesTheCaller) {
    TopModel model;
    BlockOptions options;
    options.modelName = "someone_else_msp";
    Block block(model, testPlugin(), options);
    try {
        block.initializeSizes();
        FAIL() << "no error raised";
    } catch (const MatlabError& error) {
        EXPECT_EQ(error.identifier(), "Test:SFunctionNameMismatch");
        EXPECT_EQ(std::get<std::string>(error.arguments().at(0)), "someone_else_msp");
    }
}

TEST(HostLoader, SizesOnlyModeRegistersNoUnitsOrIdentifiers) {
    qelhost::TopModelOptions options;
    options.simMode = 1;
    TopModel model(options);
    Block block(model, testPlugin());
    block.initializeSizes();
    for (const auto& call : block.structure().dispatcherLog()) {
        EXPECT_NE(call.code, kHostCodeUnits);
        EXPECT_NE(call.code, kHostCodeIdentifiers);
    }
    EXPECT_FALSE(block.structure().identifierList().has_value());
}

TEST(HostLoader, IncompleteRegistrationIsRefused) {
    struct Case {
        const char* name;
        void (*change)(qelhost::HostOptions&);
        const char* reason;
    };
    const Case cases[] = {
        {"work record type refused", [](qelhost::HostOptions& o) { o.refuseWorkRecordType = true; }, "no work record"},
        {"no work-vector counter", [](qelhost::HostOptions& o) { o.workVectorCounter = false; }, "no work record"},
        {"no type-size registrar", [](qelhost::HostOptions& o) { o.typeSizeRegistrar = false; }, "no work record"},
        {"units refused", [](qelhost::HostOptions& o) { o.refuseUnits = true; }, "no sample times"},
        {"declares nothing", [](qelhost::HostOptions& o) { o.sizesStartAnswer = 0; }, "no sample times"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TopModel model;
        BlockOptions options;
        c.change(options.host);
        Block block(model, testPlugin(), options);
        try {
            block.registerBlock();
            ADD_FAILURE() << "registered";
        } catch (const LoadError& error) {
            const std::string text = error.what();
            EXPECT_NE(text.find("block qel_top/qel_test_block"), std::string::npos) << text;
            EXPECT_NE(text.find(c.reason), std::string::npos) << text;
        }
    }
}

TEST(HostLoader, SampleTimeWithoutATaskIsRefused) {
    qelhost::TopModelOptions options;
    options.taskPeriods = {0.0, 1e-5};
    TopModel model(options);
    Block block(model, testPlugin());
    try {
        block.registerBlock();
        FAIL() << "registered";
    } catch (const LoadError& error) {
        EXPECT_NE(std::string(error.what()).find("sample time 0.0001 matches no task of model qel_top"), std::string::npos)
            << error.what();
    }
}

TEST(HostLoader, CommandLineSizesCallFreesWhatThePluginAllocated) {
    const size_t arrays = qelhost::liveArrayCount();
    const size_t blocks = qelhost::liveBlockCount();
    const qelhost::SizesColumn sizes = testPlugin()->commandLineSizes();
    EXPECT_EQ(sizes[kSizeNumInputPorts], 2.0);
    EXPECT_EQ(sizes[kSizeNumOutputPorts], 2.0);
    EXPECT_EQ(sizes[kSizeNumSampleTimes], 2.0);
    EXPECT_EQ(sizes[kSizeVersion], 8480229.0);
    EXPECT_EQ(qelhost::liveArrayCount(), arrays);
    EXPECT_EQ(qelhost::liveBlockCount(), blocks);
}

TEST(HostLoader, TwoBlocksOfOnePluginKeepSeparateMemory) {
    TopModel model;
    Block first(model, testPlugin());
    Block second(model, testPlugin());
    first.registerBlock();
    second.registerBlock();
    first.setArgument(0, 1.0);
    second.setArgument(0, 10.0);
    first.inputBuffer(0)[0] = 2.0;
    second.inputBuffer(0)[0] = 2.0;
    ASSERT_TRUE(first.outputs(0));
    ASSERT_TRUE(second.outputs(0));
    EXPECT_EQ(first.output(0)[0], 2.0);
    EXPECT_EQ(second.output(0)[0], 20.0);
    EXPECT_NE(first.workRecord().data(), second.workRecord().data());
}

}  // namespace

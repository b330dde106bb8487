#include "host/block_structure.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "runtime/model_instance.h"

namespace {

using qelhost::BlockStructure;
using qelhost::HostOptions;

int dispatch(BlockStructure& structure, int code, int intArg, void* ptrArg) {
    SimStruct* block = structure.get();
    return block->dispatcher(block, code, intArg, ptrArg);
}

// A top model with tasks at 0, 1e-5 and 1e-4 s and one child block under it.
struct TwoLevels {
    explicit TwoLevels(HostOptions options = {}) : root("top"), child("child_msp", &root, std::move(options)) {
        root.setSampleTimes({0.0, 1e-5, 1e-4}, {0, 1, 2});
        root.setNumTasks(3);
    }
    BlockStructure root;
    BlockStructure child;
};

TEST(HostBlockStructure, ChildSharesTheRootsModelInfoAndErrorStatus) {
    TwoLevels levels;
    SimStruct* child = levels.child.get();
    EXPECT_EQ(child->root, levels.root.get());
    EXPECT_EQ(child->parent, levels.root.get());
    EXPECT_EQ(child->mdlInfo, levels.root.get()->mdlInfo);
    ASSERT_NE(child->mdlInfo->errorBuffer, nullptr);
    for (int i = 0; i < kErrorBufferBytes; ++i) ASSERT_EQ(child->mdlInfo->errorBuffer[i], 0);
    EXPECT_STREQ(child->modelName, "child_msp");
}

TEST(HostBlockStructure, DispatcherLogsWhatEachPointerHeld) {
    TwoLevels levels;
    BlockStructure& block = levels.child;
    int zero = 0;
    uint8_t reuse = 2;
    uint8_t optim[3] = {1, 2, 3};
    const char* names[1] = {""};
    UnitRegistration unit = {"rad/s", 99};
    const IdentifierEntry entries[2] = {{"abc", 16, 0, -1, 0, "model"}, {"model", 17, 0, 0, 0, nullptr}};
    IdentifierListRecord identifiers = {"model", entries, 2};
    EXPECT_EQ(dispatch(block, kHostCodeInputPortSetup, 1, &zero), 1);
    EXPECT_EQ(dispatch(block, kHostCodeOutputReuse, 0, &reuse), 1);
    EXPECT_EQ(dispatch(block, kHostCodeOutputOptim, 0, optim), 1);
    EXPECT_EQ(dispatch(block, kHostCodeWorkNamesB, 0, names), 1);
    EXPECT_EQ(dispatch(block, kHostCodeUnits, 0, &unit), 1);
    EXPECT_EQ(dispatch(block, kHostCodeIdentifiers, 0, &identifiers), 1);
    EXPECT_EQ(dispatch(block, kHostCodeVersion, 0, const_cast<char*>("10.0")), 1);
    EXPECT_EQ(dispatch(block, 4242, 7, nullptr), 1);   // unknown codes are notifications

    const auto& log = block.dispatcherLog();
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[0].code, kHostCodeInputPortSetup);
    EXPECT_EQ(log[0].intArg, 1);
    EXPECT_EQ(log[0].value, 0);
    EXPECT_EQ(log[1].value, 2);
    EXPECT_EQ(log[2].value, 0x030201);
    EXPECT_EQ(log[3].text, "");
    EXPECT_TRUE(log[3].pointerGiven);
    EXPECT_EQ(log[4].text, "rad/s");
    EXPECT_EQ(unit.result, 0);   // the first unit the host has seen
    EXPECT_EQ(log[5].value, 2);
    EXPECT_EQ(log[6].text, "10.0");
    EXPECT_EQ(log[7].code, 4242);
    EXPECT_FALSE(log[7].pointerGiven);

    ASSERT_TRUE(block.identifierList().has_value());
    const auto& list = *block.identifierList();
    EXPECT_EQ(list.modelName, "model");
    EXPECT_EQ(list.count, 2);
    ASSERT_EQ(list.entries.size(), 2u);
    EXPECT_EQ(list.entries[0].owner, std::optional<std::string>("model"));
    EXPECT_EQ(list.entries[1].owner, std::nullopt);
    EXPECT_EQ(list.entries[0].value, -1);
}

TEST(HostBlockStructure, ArgumentFetchAnswersTheDataOrZero) {
    TwoLevels levels;
    BlockStructure& block = levels.child;
    const std::vector<double> values = {1.0, 2.0, 3.0};
    block.setArgument(1, values);
    const double* data = nullptr;
    EXPECT_EQ(dispatch(block, kHostCodeArgument, 1, &data), 1);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data[2], 3.0);
    EXPECT_EQ(data, block.argumentData(1));

    const double* unset = nullptr;
    EXPECT_EQ(dispatch(block, kHostCodeArgument, 0, &unset), 0);   // a gap below a set argument
    EXPECT_EQ(dispatch(block, kHostCodeArgument, 2, &unset), 0);
    EXPECT_EQ(dispatch(block, kHostCodeArgument, -1, &unset), 0);
    EXPECT_EQ(unset, nullptr);

    // Same width: changed in place, so the pointer a block fetched stays valid.
    block.setArgument(1, std::vector<double>{4.0, 5.0, 6.0});
    EXPECT_EQ(block.argumentData(1), data);
    EXPECT_EQ(data[0], 4.0);
    block.clearArgument(1);
    EXPECT_EQ(dispatch(block, kHostCodeArgument, 1, &unset), 0);
    EXPECT_TRUE(block.dispatcherLog().empty());   // the run path is not logged by default
}

// The fetch answers from a table of data pointers kept beside the arguments: it must follow every
// change of an argument, including one that moves its data.
TEST(HostBlockStructure, ArgumentFetchFollowsEveryChange) {
    TwoLevels levels;
    BlockStructure& block = levels.child;
    const auto fetched = [&block](int k) {
        const double* data = nullptr;
        const int answer = dispatch(block, kHostCodeArgument, k, &data);
        EXPECT_EQ(answer != 0, data != nullptr) << "argument " << k;
        return data;
    };
    block.setArgument(2, std::vector<double>{1.0});
    const double* first = fetched(2);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(*first, 1.0);

    block.setArgument(2, std::vector<double>(50, 7.0));   // another width: new storage
    const double* wider = fetched(2);
    ASSERT_NE(wider, nullptr);
    EXPECT_EQ(wider, block.argumentData(2));
    EXPECT_EQ(wider[49], 7.0);

    block.setArgument(5, std::vector<double>{3.0});       // growing the table keeps argument 2
    EXPECT_EQ(fetched(2), wider);
    EXPECT_EQ(fetched(4), nullptr);
    EXPECT_EQ(*fetched(5), 3.0);

    block.setArgument(2, std::vector<double>{});          // empty: nothing to hand over
    EXPECT_EQ(fetched(2), nullptr);
    block.clearArgument(5);
    EXPECT_EQ(fetched(5), nullptr);
    block.clearArgument(9);                                // beyond the table: no effect
    block.setArgument(5, std::vector<double>{4.0});
    EXPECT_EQ(*fetched(5), 4.0);

    const double* untouched = nullptr;
    EXPECT_EQ(dispatch(block, kHostCodeArgument, 5, nullptr), 0);   // nowhere to write the answer
    EXPECT_EQ(dispatch(block, kHostCodeArgument, 1 << 30, &untouched), 0);
    EXPECT_EQ(untouched, nullptr);
}

TEST(HostBlockStructure, ArgumentFetchIsLoggedWhenAskedFor) {
    HostOptions options;
    options.logRunPath = true;
    TwoLevels levels(options);
    levels.child.setArgument(0, std::vector<double>{1.0});
    const double* data = nullptr;
    dispatch(levels.child, kHostCodeArgument, 0, &data);
    dispatch(levels.child, kHostCodeArgument, 3, &data);
    const auto& log = levels.child.dispatcherLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].answer, 1);
    EXPECT_EQ(log[1].value, 3);
    EXPECT_EQ(log[1].answer, 0);
}

TEST(HostBlockStructure, SettableAnswers) {
    struct Case {
        const char* name;
        HostOptions options;
        int code;
        int expectedAnswer;
        int expectedWritten;   // what the host wrote through the pointer
    };
    const auto with = [](auto change) {
        HostOptions options;
        change(options);
        return options;
    };
    const Case cases[] = {
        {"work record type handed out", {}, kHostCodeWorkRecordType, 1, 100},
        {"work record type refused", with([](HostOptions& o) { o.refuseWorkRecordType = true; }), kHostCodeWorkRecordType, 1, kHostRefused},
        {"context task id", with([](HostOptions& o) { o.contextTid = -2; }), kHostCodeContextTid, 1, -2},
        {"sizes start", {}, kHostCodeSizesStart, 1, 0},
        {"sizes start refused", with([](HostOptions& o) { o.sizesStartAnswer = 0; }), kHostCodeSizesStart, 0, 0},
        {"identifier list refused", with([](HostOptions& o) { o.refuseIdentifierList = true; }), kHostCodeIdentifiers, 0, 0},
        {"answer replaced", with([](HostOptions& o) { o.answers = {{kHostCodeBlockSetup, 0}}; }), kHostCodeBlockSetup, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TwoLevels levels(c.options);
        int written = 0;
        IdentifierListRecord emptyList = {"model", nullptr, 0};
        void* pointer = &written;
        if (c.code == kHostCodeSizesStart) pointer = nullptr;
        if (c.code == kHostCodeIdentifiers) pointer = &emptyList;
        EXPECT_EQ(dispatch(levels.child, c.code, 0, pointer), c.expectedAnswer);
        EXPECT_EQ(written, c.expectedWritten);
    }
}

TEST(HostBlockStructure, UnitsRefusedOrNumberedByExpression) {
    HostOptions refusing;
    refusing.refuseUnits = true;
    TwoLevels refused(refusing);
    UnitRegistration unit = {"", 0};
    dispatch(refused.child, kHostCodeUnits, 0, &unit);
    EXPECT_EQ(unit.result, kHostRefused);

    TwoLevels levels;
    UnitRegistration a = {"", -1}, b = {"m", -1}, c = {"", -1};
    dispatch(levels.child, kHostCodeUnits, 0, &a);
    dispatch(levels.child, kHostCodeUnits, 0, &b);
    dispatch(levels.child, kHostCodeUnits, 0, &c);
    EXPECT_EQ(a.result, 0);
    EXPECT_EQ(b.result, 1);
    EXPECT_EQ(c.result, 0);
}

TEST(HostBlockStructure, ContextPointerAndMapAreHandedOver) {
    int context = 0;
    HostOptions options;
    options.context = &context;
    TwoLevels levels(options);
    void* answered = nullptr;
    dispatch(levels.child, kHostCodeContext, 0, &answered);
    EXPECT_EQ(answered, &context);
    int fakeMap = 0;
    dispatch(levels.child, kHostCodeModelMap, 0, &fakeMap);
    EXPECT_EQ(static_cast<const void*>(levels.child.modelMap()), &fakeMap);
}

TEST(HostBlockStructure, OptionalPiecesCanBeLeftOut) {
    HostOptions options;
    options.dispatcher = false;
    options.extensionRecord = false;
    options.workVectorCounter = false;
    options.typeSizeRegistrar = false;
    options.dimensionRegistrars = false;
    TwoLevels levels(options);
    const SimStruct* block = levels.child.get();
    EXPECT_EQ(block->dispatcher, nullptr);
    EXPECT_EQ(block->extension, nullptr);
    EXPECT_EQ(block->registerNumDWork, nullptr);
    EXPECT_EQ(block->registerDataTypeSize, nullptr);
    EXPECT_EQ(block->registerInputPortDimensions, nullptr);
    EXPECT_EQ(block->registerOutputPortDimensions, nullptr);
    EXPECT_NE(block->registerNumInputPorts, nullptr);

    TwoLevels full;
    EXPECT_NE(full.child.get()->dispatcher, nullptr);
    EXPECT_NE(full.child.get()->extension, nullptr);
    levels.child.options().dispatcher = true;
    levels.child.applyOptions();
    EXPECT_NE(block->dispatcher, nullptr);
}

TEST(HostBlockStructure, NegativePortCountIsRefusedAndChangesNothing) {
    TwoLevels levels;
    SimStruct* block = levels.child.get();
    EXPECT_EQ(block->registerNumInputPorts(block, -1), 0);
    EXPECT_EQ(block->sizes[kSizeNumInputPorts], 0);
    EXPECT_EQ(block->inputs, nullptr);
    EXPECT_EQ(block->blockFlags & kBlockFlagPortCountsSet, 0u);

    ASSERT_EQ(block->registerNumInputPorts(block, 2), 1);
    ASSERT_EQ(block->registerNumOutputPorts(block, 0), 1);
    EXPECT_EQ(block->sizes[kSizeNumInputPorts], 2);
    EXPECT_NE(block->blockFlags & kBlockFlagPortCountsSet, 0u);
    ASSERT_NE(block->inputs, nullptr);
    EXPECT_EQ(block->inputs[1].width, 0);
    EXPECT_EQ(block->inputs[1].data, nullptr);
    EXPECT_EQ(block->outputs, nullptr);
    EXPECT_EQ(block->registerNumOutputPorts(block, -3), 0);
    EXPECT_EQ(block->sizes[kSizeNumOutputPorts], 0);
}

TEST(HostBlockStructure, DimensionRegistrarStoresWidthsOfExistingPorts) {
    TwoLevels levels;
    SimStruct* block = levels.child.get();
    block->registerNumInputPorts(block, 2);
    block->registerNumOutputPorts(block, 1);
    const int three[1] = {3};
    const DimensionsInfo dims = {3, 1, three};
    EXPECT_EQ(block->registerInputPortDimensions(block, 1, &dims), 1);
    EXPECT_EQ(block->registerOutputPortDimensions(block, 0, &dims), 1);
    EXPECT_EQ(block->inputs[1].width, 3);
    EXPECT_EQ(block->outputs[0].width, 3);
    EXPECT_EQ(block->registerInputPortDimensions(block, 2, &dims), 0);
    EXPECT_EQ(block->registerOutputPortDimensions(block, -1, &dims), 0);
    EXPECT_EQ(block->registerInputPortDimensions(block, 0, nullptr), 0);
}

TEST(HostBlockStructure, WorkVectorGetsTheBytesRegisteredForItsType) {
    TwoLevels levels;
    SimStruct* block = levels.child.get();
    ASSERT_EQ(block->registerNumDWork(block, 1), 1);
    int typeId = 0;
    dispatch(levels.child, kHostCodeWorkRecordType, 0, &typeId);
    int secondId = 0;
    dispatch(levels.child, kHostCodeWorkRecordType, 0, &secondId);
    EXPECT_NE(secondId, typeId);
    EXPECT_EQ(block->registerDataTypeSize(block, 555, 8), 0);      // never handed out
    EXPECT_EQ(block->registerDataTypeSize(block, typeId, -1), 0);
    EXPECT_EQ(block->registerDataTypeSize(block, typeId, 328), 1);
    block->dwork[0].dataTypeId = typeId;
    block->dwork[0].width = 1;
    levels.child.allocateRunTime();
    ASSERT_NE(block->dwork[0].array, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block->dwork[0].array) % alignof(std::max_align_t), 0u);
    const auto* bytes = static_cast<const uint8_t*>(block->dwork[0].array);
    for (int i = 0; i < 328; ++i) ASSERT_EQ(bytes[i], 0);
    EXPECT_EQ(levels.child.typeSize(typeId), 328);
    EXPECT_EQ(levels.child.typeSize(0), 8);   // double
    EXPECT_EQ(levels.child.typeSize(8), 1);   // boolean
    EXPECT_EQ(levels.child.typeSize(secondId), -1);

    block->dwork[0].dataTypeId = secondId;   // handed out, size never registered
    EXPECT_THROW(levels.child.allocateRunTime(), std::runtime_error);
}

TEST(HostBlockStructure, RunTimeMemoryFollowsTheRegistration) {
    TwoLevels levels;
    SimStruct* block = levels.child.get();
    block->registerNumInputPorts(block, 2);
    block->registerNumOutputPorts(block, 1);
    block->inputs[0].width = 3;
    block->outputs[0].width = 2;
    block->sizes[kSizeNumContStates] = 4;
    levels.child.allocateRunTime();
    EXPECT_EQ(block->inputs[0].data, levels.child.inputBuffer(0));
    EXPECT_NE(block->inputs[1].data, nullptr);   // width 0 still gets a data pointer
    EXPECT_EQ(block->outputs[0].data, levels.child.outputBuffer(0));
    ASSERT_NE(block->contStates, nullptr);
    ASSERT_NE(block->dX, nullptr);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(block->contStates[i], 0.0);
    const double outside[3] = {1.0, 2.0, 3.0};
    levels.child.setInputData(0, outside);
    EXPECT_EQ(block->inputs[0].data, outside);
}

TEST(HostBlockStructure, ChildTasksMapToTopTasksAndConstantRateIsAlwaysDue) {
    TwoLevels levels;
    SimStruct* child = levels.child.get();
    levels.child.setSampleTimes({1e-5, 1e-4, INFINITY}, {1, 2, 3});
    levels.child.setChildToTopTids({1, 2, 3}, 3);
    EXPECT_EQ(slmrGetTopTidFromMdlRefChildTid(child, 2, 1), 3);
    EXPECT_EQ(slmrGetTopTidFromMdlRefChildTid(child, 1, 0), 2);
    EXPECT_EQ(slmrGetTopTidFromMdlRefChildTid(child, 0, 0), 1);
    EXPECT_EQ(slmrGetTopTidFromMdlRefChildTid(child, 7, 0), -1);

    levels.root.setMajorTimeStep(true);
    EXPECT_TRUE(rateIsDueForTask(child, 3));    // constant: due with no sample hit at all
    EXPECT_FALSE(rateIsDueForTask(child, 2));
    levels.root.setSampleHit(2, true);
    EXPECT_TRUE(rateIsDueForTask(child, 2));
    EXPECT_FALSE(rateIsDueForTask(child, 1));
    levels.root.setMajorTimeStep(false);
    EXPECT_FALSE(rateIsDueForTask(child, 2));
    EXPECT_TRUE(rateIsDueForTask(child, 3));
}

TEST(HostBlockStructure, RegistrationServicesAreRecordedPerBlock) {
    TwoLevels levels;
    SimStruct* block = levels.child.get();
    const uint32_t checksum[4] = {0xECCD6036u, 0x15F03AB7u, 0xC02F073Cu, 0x5E0453D8u};
    const ssMethod method = [](SimStruct*) {};
    const ssIntMethod periodic = [](SimStruct*, int) {};
    slmrInitializeIOPortDataVectors(block, 2, 1);
    ssFxpSetU32BitRegionCompliant(block, 1);
    slmrModelRefRegisterSimStateChecksum(block, "model", checksum);
    slmrRegisterSystemInitializeMethod(block, method);
    slmrRegisterSystemResetMethod(block, method);
    slmrRegisterPeriodicOutputUpdateMethod(block, periodic);

    EXPECT_EQ(block->methods.systemInitialize, method);
    EXPECT_EQ(block->methods.systemReset, method);
    EXPECT_EQ(block->methods.periodicOutputUpdate, periodic);
    EXPECT_EQ(levels.child.fxpRegionCompliant(), 1);
    ASSERT_TRUE(levels.child.simStateChecksum().has_value());
    EXPECT_EQ(*levels.child.simStateChecksum(), (std::array<uint32_t, 4>{0xECCD6036u, 0x15F03AB7u, 0xC02F073Cu, 0x5E0453D8u}));
    EXPECT_EQ(levels.child.checksumModelName(), "model");

    const auto& calls = levels.child.registrations();
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[0].operation, "slmrInitializeIOPortDataVectors");
    EXPECT_EQ(calls[0].values, (std::vector<int64_t>{2, 1}));
    EXPECT_EQ(calls[2].values[3], 0x5E0453D8);   // unsigned words stay unsigned
    EXPECT_EQ(calls[5].operation, "slmrRegisterPeriodicOutputUpdateMethod");
    EXPECT_TRUE(levels.root.registrations().empty());
}

TEST(HostBlockStructure, ServicesOnAStructureWithoutHostBookkeepingOnlyTouchTheStructure) {
    SimStruct own = {};   // as a plug-in builds one for the command line
    const ssMethod method = [](SimStruct*) {};
    slmrRegisterSystemInitializeMethod(&own, method);
    ssFxpSetU32BitRegionCompliant(&own, 1);
    slmrInitializeIOPortDataVectors(&own, 1, 1);
    slmrModelRefRegisterSimStateChecksum(&own, "model", nullptr);
    EXPECT_EQ(own.methods.systemInitialize, method);
    EXPECT_EQ(slmrGetTopTidFromMdlRefChildTid(&own, 0, 0), -1);
}

TEST(HostBlockStructure, PluginEventsAreRecordedInOrder) {
    TwoLevels levels;
    const size_t before = qelhost::pluginEvents().size();
    EXPECT_EQ(slmrRunPluginEvent(levels.child.get(), "m", "START_OF_SIM_MODEL_MODELREF_ACCEL_EVENT"), 1);
    slmrRunPluginEvent(levels.child.get(), "m", "SIMSTATUS_TERMINATING_MODELREF_ACCEL_EVENT");
    const auto& events = qelhost::pluginEvents();
    ASSERT_EQ(events.size(), before + 2);
    EXPECT_EQ(events[before].block, levels.child.get());
    EXPECT_EQ(events[before].eventName, "START_OF_SIM_MODEL_MODELREF_ACCEL_EVENT");
    EXPECT_EQ(events[before + 1].eventName, "SIMSTATUS_TERMINATING_MODELREF_ACCEL_EVENT");
}

}  // namespace

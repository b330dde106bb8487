#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "host/block_structure.h"
#include "runtime/model_instance.h"

namespace {

struct Rtdw {
    double first;
    bool flagA;
    bool flagB;
};

using Instance = ModelInstance<3, 4, 3>;

const MapStateInfo kStates[] = {
    {false, offsetof(Rtdw, first), 0, 0, -1, 0},
    {false, offsetof(Rtdw, flagB), 1, 0, 0, 1},
    {true, 2, 0, 1, -1, 0},
};
const MapSampleTimeInfo kSampleTimes[] = {{0.0, 0}, {1e-4, 2}};
const uint8_t kSystemTaskRates[] = {1, 1, 0};
const ModelMapDescription kDescription = {kStates, kSampleTimes, 2, true, kSystemTaskRates,
                                          {0x1, 0x2, 0x3, 0x4}};

TEST(ModelInstance, BeginZeroesTheInstanceStoresTaskIdsAndAnnouncesTheStart) {
    qelhost::BlockStructure block("host block");
    Instance instance;
    std::memset(&instance, 0xA5, sizeof instance);
    qelhost::pluginEvents().clear();

    beginModelInstance(&instance, block.get(), {4, -1, 7}, "some_model");

    EXPECT_EQ(instance.hostLink, block.get());
    EXPECT_EQ(instance.globalTid[0], 4);
    EXPECT_EQ(instance.globalTid[1], -1);
    EXPECT_EQ(instance.globalTid[2], 7);
    EXPECT_EQ(instance.mapInfo.staticMap, nullptr);
    EXPECT_EQ(instance.systemTid[3], 0);
    ASSERT_EQ(qelhost::pluginEvents().size(), 1u);
    EXPECT_EQ(qelhost::pluginEvents()[0].block, block.get());
    EXPECT_EQ(qelhost::pluginEvents()[0].modelName, "some_model");
    EXPECT_EQ(qelhost::pluginEvents()[0].eventName, "START_OF_SIM_MODEL_MODELREF_ACCEL_EVENT");
}

TEST(ModelInstance, EndSendsOneTerminatingEventAndChangesNothing) {
    qelhost::BlockStructure block("host block");
    Instance instance;
    beginModelInstance(&instance, block.get(), {0, 1, 2}, "some_model");
    Instance before;
    std::memcpy(&before, &instance, sizeof instance);
    qelhost::pluginEvents().clear();

    endModelInstance(&instance, "some_model");

    ASSERT_EQ(qelhost::pluginEvents().size(), 1u);
    EXPECT_EQ(qelhost::pluginEvents()[0].eventName, "SIMSTATUS_TERMINATING_MODELREF_ACCEL_EVENT");
    EXPECT_EQ(std::memcmp(&before, &instance, sizeof instance), 0);
}

TEST(ModelMap, FillPointsTheAddressTableAtTheStatesAndEndsTheStateTable) {
    static ModelMap map(kDescription);
    qelhost::BlockStructure block("host block");
    Instance instance;
    beginModelInstance(&instance, block.get(), {5, 6, 7}, "some_model");
    Rtdw rtdw = {};
    double x[3] = {};
    int context = 0;
    map.systemRanFlags()[2] = 9;

    map.fill(mapViewOf(&instance), &rtdw, x, &context, 11);

    const ModelMapInfo& info = instance.mapInfo;
    EXPECT_EQ(info.version, 1);
    ASSERT_EQ(info.staticMap, &map.staticMap());
    EXPECT_EQ(info.addressTable[0], &rtdw.first);
    EXPECT_EQ(info.addressTable[1], &rtdw.flagB);
    EXPECT_EQ(info.addressTable[2], &x[2]);

    const ModelMapStatic& staticMap = *info.staticMap;
    ASSERT_EQ(staticMap.numStates, 3u);
    EXPECT_STREQ(staticMap.states[0].stateName, "DSTATE");
    EXPECT_EQ(staticMap.states[0].contStateStart, -1);
    EXPECT_STREQ(staticMap.states[2].stateName, "");
    EXPECT_EQ(staticMap.states[2].contStateStart, 2);
    EXPECT_EQ(staticMap.states[2].continuous, 1);
    EXPECT_EQ(staticMap.states[1].hierarchyIndex, 0);
    EXPECT_EQ(staticMap.states[1].elementIndex, 1u);
    const ModelMapStateEntry& terminator = staticMap.states[3];
    EXPECT_EQ(terminator.blockPath, nullptr);
    EXPECT_EQ(terminator.contStateStart, -1);
    EXPECT_EQ(terminator.hierarchyIndex, -1);
    EXPECT_EQ(*staticMap.sampleTimes[1].period, 1e-4);
    EXPECT_EQ(staticMap.sampleTimes[1].taskIndex, 2);
    EXPECT_STREQ(staticMap.targetType, "float");
    EXPECT_EQ(staticMap.instanceInfo->numHierarchyEntries, 3u);
    EXPECT_STREQ(staticMap.instanceInfo->hierarchy[1].name, "upperLimit");

    // System-task table: context task id, then the global task ids of the listed rates.
    EXPECT_EQ(instance.systemTid[0], 11);
    EXPECT_EQ(instance.systemTid[1], 6);
    EXPECT_EQ(instance.systemTid[2], 6);
    EXPECT_EQ(instance.systemTid[3], 5);
    EXPECT_EQ(instance.systemRan[0], &context);
    EXPECT_EQ(instance.systemRan[1], nullptr);
    EXPECT_EQ(map.systemRanFlags()[2], 0);
    EXPECT_EQ(info.instanceRecord[0], instance.systemRan);
    EXPECT_EQ(info.instanceRecord[1], instance.systemTid);
    EXPECT_EQ(info.instanceRecord[2], instance.globalTid);
}

}  // namespace

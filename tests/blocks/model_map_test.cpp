// The signal and state map each block hands the host at start-up: the per-instance record with
// its address, system-ran and system-task tables, and the model's constant tables.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/model_map.h"
#include "tests/blocks/block_facts.h"

namespace {

using qeltest::BlockUnderTest;

struct StateFacts {
    bool continuous;
    int index;               // rtdw member or continuous state
    int dataTypeIndex = 0;
    int sampleTimeIndex = 0;
    int hierarchyIndex = -1;
    int elementIndex = 0;
};

struct MapFacts {
    const char* model;
    std::vector<StateFacts> states;
    std::vector<std::pair<double, int>> sampleTimes;   // period, task index
    int numSystems;
    bool limitGroup;
    int taskRate;        // the model rate whose global task id fills entries 1 .. n-2
    int lastTaskRate;    // the rate of entry n-1
};

StateFacts member(int index, int sampleTimeIndex = 0) { return {false, index, 0, sampleTimeIndex}; }
StateFacts flag(int index, int element) { return {false, index, 1, 0, 0, element}; }
StateFacts x(int index) { return {true, index}; }

const std::vector<MapFacts>& allMaps() {
    static const std::vector<MapFacts> maps = {
        {"Qel_Lib_wexa_current_controller_sub", {member(0)}, {{1e-4, 1}}, 9, false, 1, 0},
        {"Qel_Lib_wexa_current_controller_dq_sub", {member(0), member(1)}, {{1e-4, 0}}, 15, false, 0, 0},
        {"Qel_Lib_wexa_velocity_controller_sub", {member(1), member(0), flag(2, 0), flag(3, 1)}, {{1e-4, 1}}, 14, true,
         1, 0},
        {"Qel_Lib_wexa_position_controller_sub", {member(1), member(0), flag(2, 0), flag(3, 1)}, {{1e-4, 1}}, 14, true,
         1, 0},
        {"Qel_Lib_wexa_velocity_controller_dq_sub", {member(1), member(2), member(0), flag(3, 0), flag(4, 1)},
         {{1e-4, 1}}, 20, true, 1, 0},
        {"Qel_Lib_wexa_position_controller_dq_sub", {member(1), member(2), member(0), flag(3, 0), flag(4, 1)},
         {{1e-4, 0}}, 20, true, 0, 0},
        {"Qel_Lib_motor_sub",
         {x(0), x(1), x(2), member(4, 1), member(5, 1), member(0, 1), member(6, 1), member(3, 1), member(1, 1),
          member(2, 1)},
         {{0.0, 0}, {1e-4, 2}}, 5, false, 0, 0},
        {"Qel_Lib_motor_dq_sub",
         {x(0), x(3), member(4, 1), member(5, 1), member(0, 1), member(6, 1), x(2), x(1), member(3, 1), member(1, 1),
          member(2, 1)},
         {{0.0, 0}, {1e-4, 2}}, 5, false, 0, 0},
    };
    return maps;
}

std::string textOf(const char* text) { return text != nullptr ? text : "(null)"; }

TEST(ModelMap, EveryBlocksMapMatchesItsModel) {
    int context = 0;
    for (const MapFacts& map : allMaps()) {
        SCOPED_TRACE(map.model);
        qelhost::HostOptions host;
        host.context = &context;
        host.contextTid = 5;
        BlockUnderTest unit(map.model, qeltest::withHost(host));
        unit.start();
        const qeltest::BlockFacts& facts = unit.facts;
        const ModelMapInfo* info = unit.block.structure().modelMap();
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->version, 1);
        EXPECT_EQ(info->path, nullptr);
        EXPECT_EQ(info->fullPath, nullptr);
        EXPECT_EQ(info->childMaps, nullptr);
        EXPECT_EQ(info->numChildMaps, 0);
        EXPECT_EQ(info->contStateStart, 0);
        ASSERT_NE(info->varDimsTable, nullptr);
        EXPECT_EQ(info->varDimsTable[0], nullptr);

        // Address table: each state's storage in the work record or the continuous-state vector.
        std::byte* record = unit.block.workRecord().data();
        std::vector<size_t> memberOffsets;
        size_t offset = static_cast<size_t>(facts.rtbBytes);
        for (int bytes : facts.rtdwMemberBytes) {
            memberOffsets.push_back(offset);
            offset += static_cast<size_t>(bytes);
        }
        const ModelMapStatic& constant = *info->staticMap;
        ASSERT_EQ(constant.numStates, map.states.size());
        for (size_t i = 0; i < map.states.size(); ++i) {
            SCOPED_TRACE(i);
            const StateFacts& state = map.states[i];
            const void* address = state.continuous ? static_cast<const void*>(&unit.block.contStates()[state.index])
                                                   : static_cast<const void*>(record + memberOffsets[state.index]);
            EXPECT_EQ(info->addressTable[i], address);
            EXPECT_EQ(info->perStateTable[i], nullptr);

            const ModelMapStateEntry& entry = constant.states[i];
            EXPECT_EQ(entry.addressIndex, i);
            EXPECT_EQ(entry.contStateStart, state.continuous ? state.index : -1);
            EXPECT_EQ(textOf(entry.blockPath), "Block_in_protected_model");
            EXPECT_EQ(textOf(entry.stateName), state.continuous ? "" : "DSTATE");
            EXPECT_EQ(textOf(entry.pathAlias), "");
            EXPECT_EQ(entry.workIndex, 0);
            EXPECT_EQ(entry.dataTypeIndex, state.dataTypeIndex);
            EXPECT_EQ(entry.dimensionIndex, 0);
            EXPECT_EQ(entry.fixedPointIndex, 0);
            EXPECT_EQ(entry.sampleTimeIndex, state.sampleTimeIndex);
            EXPECT_EQ(entry.continuous, state.continuous ? 1 : 0);
            EXPECT_EQ(entry.hierarchyIndex, state.hierarchyIndex);
            EXPECT_EQ(entry.elementIndex, static_cast<uint32_t>(state.elementIndex));
        }
        // A reader walking the table stops at the terminating entry.
        const ModelMapStateEntry& end = constant.states[map.states.size()];
        EXPECT_EQ(end.addressIndex, 0u);
        EXPECT_EQ(end.contStateStart, -1);
        EXPECT_EQ(end.blockPath, nullptr);
        EXPECT_EQ(end.stateName, nullptr);
        EXPECT_EQ(end.pathAlias, nullptr);
        EXPECT_EQ(end.dataTypeIndex + end.sampleTimeIndex + end.continuous + end.workIndex, 0);
        EXPECT_EQ(end.hierarchyIndex, -1);
        EXPECT_EQ(end.elementIndex, 0u);

        for (size_t k = 0; k < map.sampleTimes.size(); ++k) {
            EXPECT_EQ(*constant.sampleTimes[k].period, map.sampleTimes[k].first);
            EXPECT_EQ(*constant.sampleTimes[k].offset, 0.0);
            EXPECT_EQ(constant.sampleTimes[k].taskIndex, map.sampleTimes[k].second);
            EXPECT_EQ(constant.sampleTimes[k].samplingMode, 0);
        }
        EXPECT_EQ(std::vector<uint32_t>(constant.checksum, constant.checksum + 4),
                  std::vector<uint32_t>(facts.mapChecksum.begin(), facts.mapChecksum.end()));
        EXPECT_EQ(textOf(constant.targetType), "float");
        EXPECT_EQ(constant.numSignals + constant.numRootInputs + constant.numRootOutputs +
                      constant.numBlockParameters + constant.numModelParameters,
                  0u);
        EXPECT_EQ(textOf(constant.dataTypes[0].nativeName), "double");
        EXPECT_EQ(textOf(constant.dataTypes[0].platformName), "real_T");
        EXPECT_EQ(constant.dataTypes[0].size, 8);
        EXPECT_EQ(constant.dataTypes[0].typeId, 0);
        if (map.limitGroup) {
            EXPECT_EQ(textOf(constant.dataTypes[1].nativeName), "unsigned char");
            EXPECT_EQ(textOf(constant.dataTypes[1].platformName), "boolean_T");
            EXPECT_EQ(constant.dataTypes[1].size, 1);
            EXPECT_EQ(constant.dataTypes[1].typeId, 8);
        }
        EXPECT_EQ(constant.dimensions[0].orientation, 0);
        EXPECT_EQ(constant.dimensions[0].numDims, 2);
        EXPECT_EQ(constant.dimensionArray[0], 1u);
        EXPECT_EQ(constant.dimensionArray[1], 1u);
        EXPECT_EQ(constant.fixedPoints[0].scalingCode, 2);
        EXPECT_EQ(constant.fixed0, 0u);
        EXPECT_EQ(constant.fixed1, 1u);
        EXPECT_NE(constant.emptyTable, nullptr);
        EXPECT_EQ(constant.fixed2, 0u);
        EXPECT_EQ(constant.fixedMinusOne, -1);
        EXPECT_EQ(constant.fixed3, 0u);

        const ModelMapInstanceInfo& instanceInfo = *constant.instanceInfo;
        ASSERT_EQ(instanceInfo.numSystems, static_cast<uint64_t>(map.numSystems));
        for (int s = 0; s < map.numSystems; ++s) EXPECT_EQ(instanceInfo.systemRanFlags[s], 0);
        EXPECT_EQ(textOf(instanceInfo.context->emptyText), "");
        EXPECT_EQ(instanceInfo.numHierarchyEntries, map.limitGroup ? 3u : 0u);
        if (map.limitGroup) {
            EXPECT_EQ(textOf(instanceInfo.hierarchy[0].name), "");
            EXPECT_EQ(instanceInfo.hierarchy[0].numChildren, 2);
            EXPECT_EQ(instanceInfo.hierarchy[0].firstChild, 0);
            EXPECT_EQ(textOf(instanceInfo.hierarchy[1].name), "upperLimit");
            EXPECT_EQ(textOf(instanceInfo.hierarchy[2].name), "lowerLimit");
            EXPECT_EQ(instanceInfo.hierarchy[2].firstChild, -1);
            EXPECT_EQ(instanceInfo.childIndices[0], 1);
            EXPECT_EQ(instanceInfo.childIndices[1], 2);
        }

        // The instance record: system-ran table, system-task table, global task ids.
        const auto* systemRan = static_cast<void* const*>(info->instanceRecord[0]);
        const auto* systemTid = static_cast<const int32_t*>(info->instanceRecord[1]);
        const auto* globalTid = static_cast<const int32_t*>(info->instanceRecord[2]);
        const int numRates = static_cast<int>(facts.sampleTimes.size());
        std::vector<int32_t> expectedTids;
        for (int k = 0; k < numRates; ++k)
            expectedTids.push_back(unit.top.taskOfPeriod(facts.sampleTimes[static_cast<size_t>(k)]));
        EXPECT_EQ(std::vector<int32_t>(globalTid, globalTid + numRates), expectedTids);
        EXPECT_EQ(systemRan[0], &context);
        for (int s = 1; s < map.numSystems; ++s) EXPECT_EQ(systemRan[s], nullptr);
        std::vector<int32_t> expectedSystemTids = {5};
        for (int s = 1; s < map.numSystems - 1; ++s) expectedSystemTids.push_back(globalTid[map.taskRate]);
        expectedSystemTids.push_back(globalTid[map.lastTaskRate]);
        EXPECT_EQ(std::vector<int32_t>(systemTid, systemTid + map.numSystems), expectedSystemTids);
    }
}

TEST(ModelMap, CurrentControllersSystemTaskTable) {
    BlockUnderTest unit("Qel_Lib_wexa_current_controller_sub");
    unit.start();
    const auto* systemTid = static_cast<const int32_t*>(unit.block.structure().modelMap()->instanceRecord[1]);
    // Context task id, seven times global task id 1 (the 1e-4 s task 2), then global task id 0 (task 1).
    EXPECT_EQ(std::vector<int32_t>(systemTid, systemTid + 9), (std::vector<int32_t>{0, 2, 2, 2, 2, 2, 2, 2, 1}));
}

TEST(ModelMap, ConstantRateContextTaskIdBecomesZero) {
    for (const int contextTid : {-2, -1, 0, 3}) {
        SCOPED_TRACE(contextTid);
        qelhost::HostOptions host;
        host.contextTid = contextTid;
        BlockUnderTest unit("Qel_Lib_wexa_current_controller_sub", qeltest::withHost(host));
        unit.start();
        const auto* systemTid = static_cast<const int32_t*>(unit.block.structure().modelMap()->instanceRecord[1]);
        EXPECT_EQ(systemTid[0], contextTid == -2 ? 0 : contextTid);
    }
}

TEST(ModelMap, SystemRanFlagsAreSharedAndResetByEveryStart) {
    BlockUnderTest first("Qel_Lib_wexa_velocity_controller_sub");
    first.start();
    BlockUnderTest second("Qel_Lib_wexa_velocity_controller_sub");
    second.start();
    const ModelMapInstanceInfo& firstInfo = *first.block.structure().modelMap()->staticMap->instanceInfo;
    const ModelMapInstanceInfo& secondInfo = *second.block.structure().modelMap()->staticMap->instanceInfo;
    ASSERT_EQ(firstInfo.systemRanFlags, secondInfo.systemRanFlags);
    firstInfo.systemRanFlags[3] = 1;
    ASSERT_TRUE(second.block.setupRuntimeResources());
    EXPECT_EQ(firstInfo.systemRanFlags[3], 0);
}

}  // namespace

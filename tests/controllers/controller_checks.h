// Checks shared by the controller tests: the bytes of a record, and what a model publishes in
// its signal and state map.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/model_map.h"

namespace qeltest {

template <class Record>
std::vector<unsigned char> bytesOf(const Record& record) {
    std::vector<unsigned char> bytes(sizeof record);
    std::memcpy(bytes.data(), &record, sizeof record);
    return bytes;
}

struct ExpectedMapState {
    const void* address;
    uint16_t dataTypeIndex;   // 0 double, 1 boolean
    int32_t hierarchyIndex;
    uint32_t elementIndex;
};

struct ExpectedMap {
    std::vector<ExpectedMapState> states;   // in table order
    int8_t sampleTimeTask;                  // of the one sample time, 1e-4 s
    std::vector<int32_t> systemTids;        // the whole system-task table
    bool limitGroup;
    std::array<uint32_t, 4> checksum;
};

inline void expectMap(const ModelMapInfo& info, const ExpectedMap& expected) {
    ASSERT_NE(info.staticMap, nullptr);
    const ModelMapStatic& map = *info.staticMap;
    ASSERT_EQ(map.numStates, expected.states.size());
    for (size_t i = 0; i < expected.states.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "state entry " << i);
        const ModelMapStateEntry& entry = map.states[i];
        EXPECT_EQ(entry.addressIndex, i);
        EXPECT_EQ(info.addressTable[i], expected.states[i].address);
        EXPECT_EQ(entry.contStateStart, -1);
        EXPECT_STREQ(entry.stateName, "DSTATE");
        EXPECT_EQ(entry.dataTypeIndex, expected.states[i].dataTypeIndex);
        EXPECT_EQ(entry.sampleTimeIndex, 0);
        EXPECT_EQ(entry.continuous, 0);
        EXPECT_EQ(entry.hierarchyIndex, expected.states[i].hierarchyIndex);
        EXPECT_EQ(entry.elementIndex, expected.states[i].elementIndex);
    }
    EXPECT_EQ(map.states[expected.states.size()].blockPath, nullptr);

    EXPECT_EQ(*map.sampleTimes[0].period, 1e-4);
    EXPECT_EQ(*map.sampleTimes[0].offset, 0.0);
    EXPECT_EQ(map.sampleTimes[0].taskIndex, expected.sampleTimeTask);

    const ModelMapInstanceInfo& instanceInfo = *map.instanceInfo;
    ASSERT_EQ(instanceInfo.numSystems, expected.systemTids.size());
    const auto* systemTid = static_cast<const int32_t*>(info.instanceRecord[1]);
    for (size_t s = 0; s < expected.systemTids.size(); ++s) {
        EXPECT_EQ(systemTid[s], expected.systemTids[s]) << "system " << s;
    }
    EXPECT_EQ(instanceInfo.numHierarchyEntries, expected.limitGroup ? 3u : 0u);
    for (size_t w = 0; w < 4; ++w) EXPECT_EQ(map.checksum[w], expected.checksum[w]) << "checksum word " << w;
}

}  // namespace qeltest

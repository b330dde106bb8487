#include "app/common/block_catalog.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace qelsim {
namespace {

TEST(BlockCatalog, FindsModelAndPluginNamesAndNothingElse) {
    struct Case {
        const char* name;
        const char* expectedModel;   // null: not found
    };
    const Case cases[] = {
        {"Qel_Lib_wexa_current_controller_sub", "Qel_Lib_wexa_current_controller_sub"},
        {"Qel_Lib_wexa_current_controller_sub_msp", "Qel_Lib_wexa_current_controller_sub"},
        {"Qel_Lib_motor_sub", "Qel_Lib_motor_sub"},
        {"Qel_Lib_motor_dq_sub_msp", "Qel_Lib_motor_dq_sub"},
        {"Qel_Lib_motor_sub_msp_msp", nullptr},
        {"Qel_Lib_motor", nullptr},
        {"qel_lib_motor_sub", nullptr},
        {"", nullptr},
        {"_msp", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BlockInfo* block = findBlock(c.name);
        if (c.expectedModel == nullptr) {
            EXPECT_EQ(block, nullptr);
        } else {
            ASSERT_NE(block, nullptr);
            EXPECT_EQ(block->modelName, c.expectedModel);
        }
    }
}

TEST(BlockCatalog, HoldsEightDistinctBlocksWithUniqueColumnNames) {
    std::set<std::string_view> models;
    for (const BlockInfo& block : blockCatalog()) {
        SCOPED_TRACE(std::string(block.modelName));
        EXPECT_TRUE(models.insert(block.modelName).second);
        EXPECT_FALSE(block.description.empty());
        // Ports, arguments and states become trace columns, so no name may repeat.
        std::set<std::string_view> inputNames;
        for (const PortInfo& port : block.inputs) {
            EXPECT_TRUE(inputNames.insert(port.name).second) << port.name;
        }
        for (const ArgumentInfo& argument : block.arguments) {
            EXPECT_TRUE(inputNames.insert(argument.name).second) << argument.name;
        }
    }
    EXPECT_EQ(models.size(), 8u);
}

// The simulation state caches rtb as one byte block of this size: doubles, flag bytes, padding.
TEST(BlockCatalog, RecordLayoutMatchesTheCachedRtbBlock) {
    struct Case {
        const char* model;
        size_t rtbBytes;
        size_t rtdwMembers;
    };
    const Case cases[] = {
        {"Qel_Lib_motor_dq_sub", 88, 13},
        {"Qel_Lib_motor_sub", 80, 11},
        {"Qel_Lib_wexa_position_controller_dq_sub", 72, 5},
        {"Qel_Lib_wexa_velocity_controller_dq_sub", 72, 5},
        {"Qel_Lib_wexa_position_controller_sub", 56, 4},
        {"Qel_Lib_wexa_velocity_controller_sub", 56, 4},
        {"Qel_Lib_wexa_current_controller_dq_sub", 56, 2},
        {"Qel_Lib_wexa_current_controller_sub", 40, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        const BlockInfo* block = findBlock(c.model);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(recordBytes(block->rtbFields), c.rtbBytes);
        EXPECT_EQ(block->rtdwFields.size(), c.rtdwMembers);
    }
}

TEST(BlockCatalog, FlagBytesFollowTheDoublesWithoutPadding) {
    const BlockInfo* block = findBlock("Qel_Lib_wexa_velocity_controller_sub");
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(fieldOffset(block->rtbFields, 5), 40u);   // outputLimit
    EXPECT_EQ(fieldOffset(block->rtbFields, 6), 48u);   // saturatedHigh
    EXPECT_EQ(fieldOffset(block->rtbFields, 7), 49u);   // saturatedLow
}

TEST(BlockCatalog, PluginPathAddsSuffixAndExtension) {
    const BlockInfo* block = findBlock("Qel_Lib_motor_sub");
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(pluginPath("/x/plugins", *block), "/x/plugins/Qel_Lib_motor_sub_msp.mexa64");
}

TEST(BlockCatalog, DefaultPluginDirIsBesideTheExecutablesFolder) {
    const std::filesystem::path dir = defaultPluginDir("ignored");
    EXPECT_EQ(dir.filename(), "plugins");
    EXPECT_TRUE(dir.is_absolute());
}

}  // namespace
}  // namespace qelsim

// The identifier list and simulation-state field names a block derives from its model name.
#include <regex>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "frame/identifiers.h"

namespace {

constexpr BlockIdentifiers kPlant("Qel_Lib_motor_dq_sub", 22, 11, 13);
constexpr BlockIdentifiers kOtherPlant("Qel_Lib_motor_sub", 22, 11, 11);

TEST(BlockIdentifiers, GeneratedNamesAreDistinctWithinTheModel) {
    const std::regex generated("[a-z0-9]{10,11}_qelm");
    std::set<std::string> names;
    for (int i = 0; i < kPlant.count(); ++i) {
        const IdentifierEntry& entry = kPlant.entries()[i];
        if (entry.kind == kIdentifierFirstGenerated || (entry.kind == kIdentifierGenerated && entry.value == -1)) {
            EXPECT_TRUE(std::regex_match(entry.text, generated)) << entry.text;
            names.insert(entry.text);
        }
    }
    EXPECT_EQ(names.size(), 33u);
    for (size_t m = 0; m < kPlant.numRtdwFieldNames(); ++m) {
        const std::string field = kPlant.rtdwFieldName(m);
        ASSERT_TRUE(field.starts_with("mdlrefDW->rtdw."));
        const std::string identifier = field.substr(15);
        EXPECT_TRUE(std::regex_match(identifier, generated)) << identifier;
        names.insert(identifier);
    }
    EXPECT_EQ(names.size(), 46u);
    EXPECT_EQ(kPlant.rtdwFieldName(13), nullptr);
}

TEST(BlockIdentifiers, ModelsGetTheirOwnNames) {
    EXPECT_STRNE(kPlant.entries()[0].text, kOtherPlant.entries()[0].text);
    EXPECT_STRNE(kPlant.rtdwFieldName(0), kOtherPlant.rtdwFieldName(0));
}

TEST(BlockIdentifiers, SameModelSameNames) {
    static constexpr BlockIdentifiers again("Qel_Lib_motor_dq_sub", 22, 11, 13);
    for (int i = 0; i < kPlant.count(); ++i) EXPECT_STREQ(again.entries()[i].text, kPlant.entries()[i].text) << i;
}

}  // namespace

// Simulation states through the plug-ins: the saved layout, bit-for-bit round trips on every
// block, the next-hit task id, and states that do not fit the block's layout.
#include <cmath>
#include <cstring>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "controllers/Qel_Lib_wexa_current_controller_sub.h"
#include "tests/blocks/block_facts.h"

namespace {

using qelhost::UniqueArray;
using qeltest::BlockFacts;
using qeltest::BlockUnderTest;

constexpr char kCurrent[] = "Qel_Lib_wexa_current_controller_sub";
constexpr char kPlant[] = "Qel_Lib_motor_sub";

// Doubles that only a byte-exact copy keeps: NaN payloads of both signs, -0.0, a subnormal.
const uint64_t kDoublePatterns[] = {0x7FF4000000000123ull, 0xFFF8DEADBEEF0001ull, 0x8000000000000000ull,
                                    0x0000000000000001ull, 0x3FF0000000000001ull, 0xC0DEADBEEF012345ull};

// Offsets of the rtdw members in the work record: right after rtb, doubles before booleans.
std::vector<size_t> memberOffsets(const BlockFacts& facts) {
    std::vector<size_t> offsets;
    size_t offset = static_cast<size_t>(facts.rtbBytes);
    for (int bytes : facts.rtdwMemberBytes) {
        offsets.push_back(offset);
        offset += static_cast<size_t>(bytes);
    }
    return offsets;
}

// Everything a simulation state covers, as bytes.
struct StateBytes {
    std::vector<std::byte> rtb;
    std::vector<std::vector<std::byte>> members;
    std::vector<std::byte> contStates;
    double tNext;
    int tNextTid;

    bool operator==(const StateBytes&) const = default;
};

StateBytes stateBytesOf(BlockUnderTest& unit) {
    const std::span<std::byte> record = unit.block.workRecord();
    StateBytes bytes;
    bytes.rtb.assign(record.begin(), record.begin() + unit.facts.rtbBytes);
    const std::vector<size_t> offsets = memberOffsets(unit.facts);
    for (size_t m = 0; m < offsets.size(); ++m)
        bytes.members.emplace_back(record.begin() + offsets[m], record.begin() + offsets[m] + unit.facts.rtdwMemberBytes[m]);
    const std::span<double> x = unit.block.contStates();
    bytes.contStates.resize(x.size_bytes());
    if (!x.empty()) std::memcpy(bytes.contStates.data(), x.data(), x.size_bytes());
    bytes.tNext = unit.block.simStruct()->tNext;
    bytes.tNextTid = unit.block.simStruct()->tNextTid;
    return bytes;
}

// Fills rtb, every rtdw member and the continuous states with patterns; `seed` varies them.
void fillState(BlockUnderTest& unit, unsigned seed) {
    const std::span<std::byte> record = unit.block.workRecord();
    for (int i = 0; i < unit.facts.rtbBytes; ++i) record[i] = static_cast<std::byte>((i * 37 + seed * 11) & 0xff);
    const std::vector<size_t> offsets = memberOffsets(unit.facts);
    for (size_t m = 0; m < offsets.size(); ++m) {
        if (unit.facts.rtdwMemberBytes[m] == 8) {
            const uint64_t pattern = kDoublePatterns[(m + seed) % std::size(kDoublePatterns)];
            std::memcpy(&record[offsets[m]], &pattern, sizeof pattern);
        } else {
            record[offsets[m]] = static_cast<std::byte>((m + seed) % 2);
        }
    }
    for (size_t k = 0; k < unit.block.contStates().size(); ++k) {
        const uint64_t pattern = kDoublePatterns[(k + seed + 3) % std::size(kDoublePatterns)];
        std::memcpy(&unit.block.contStates()[k], &pattern, sizeof pattern);
    }
    unit.block.simStruct()->tNext = 0.125 * (seed + 1);
    unit.block.simStruct()->tNextTid = static_cast<int>(seed % 3);
}

TEST(SimState, RestoresEveryBlockBitForBit) {
    for (const BlockFacts& facts : qeltest::allBlocks()) {
        SCOPED_TRACE(facts.model);
        BlockUnderTest unit(facts.model);
        unit.start();
        fillState(unit, 1);
        const StateBytes saved = stateBytesOf(unit);
        const UniqueArray state = unit.block.getSimState();
        ASSERT_NE(state, nullptr) << unit.block.lastError();
        EXPECT_EQ(stateBytesOf(unit), saved);   // getting changes nothing

        fillState(unit, 2);
        ASSERT_NE(stateBytesOf(unit), saved);
        ASSERT_TRUE(unit.block.setSimState(state.get())) << unit.block.lastError();
        EXPECT_EQ(stateBytesOf(unit), saved);
    }
}

TEST(SimState, RestoringLeavesTheInstanceAlone) {
    BlockUnderTest unit(kCurrent);
    unit.start();
    auto& record = *reinterpret_cast<Qel_Lib_wexa_current_controller_sub::WorkRecord*>(unit.block.workRecord().data());
    const UniqueArray state = unit.block.getSimState();
    std::vector<std::byte> instance(sizeof record.instance);
    std::memcpy(instance.data(), &record.instance, instance.size());
    ASSERT_TRUE(unit.block.setSimState(state.get()));
    EXPECT_EQ(std::memcmp(instance.data(), &record.instance, instance.size()), 0);
}

TEST(SimState, CurrentControllerLayout) {
    BlockUnderTest unit(kCurrent);
    unit.start();
    auto& record = *reinterpret_cast<Qel_Lib_wexa_current_controller_sub::WorkRecord*>(unit.block.workRecord().data());
    record.rtdw.integratorState = -0.0;
    unit.block.simStruct()->tNext = 0.5;
    unit.block.simStruct()->tNextTid = 2;
    const UniqueArray state = unit.block.getSimState();
    ASSERT_NE(state, nullptr);

    const char* const fields[] = {"localX", "mdlrefDW", "disallowedStateData", "tNext", "tNextTid",
                                  "nonContDerivSigInfoPrevVal"};
    ASSERT_EQ(mxGetNumberOfFields_800(state.get()), 6);
    for (int f = 0; f < 6; ++f) EXPECT_EQ(qelhost::fieldName(state.get(), f), fields[f]);
    for (int f : {0, 2, 5}) EXPECT_EQ(qelhost::numberOfElements(mxGetFieldByNumber_800(state.get(), 0, f)), 0u) << f;
    EXPECT_EQ(mxGetScalar_800(mxGetFieldByNumber_800(state.get(), 0, 3)), 0.5);
    EXPECT_EQ(mxGetScalar_800(mxGetFieldByNumber_800(state.get(), 0, 4)), 2.0);

    const mxArray* dwork = mxGetFieldByNumber_800(state.get(), 0, 1);
    ASSERT_EQ(mxGetNumberOfFields_800(dwork), 3);
    EXPECT_EQ(qelhost::fieldName(dwork, 0), "rtb");
    EXPECT_EQ(qelhost::fieldName(dwork, 1), "rtdw");
    EXPECT_EQ(qelhost::fieldName(dwork, 2), "NULL->rtzce");
    const mxArray* rtb = mxGetFieldByNumber_800(dwork, 0, 0);
    EXPECT_EQ(mxGetClassID_800(rtb), mxUINT8_CLASS);
    EXPECT_EQ(mxGetM_800(rtb), 1u);
    EXPECT_EQ(mxGetN_800(rtb), 40u);
    EXPECT_EQ(qelhost::numberOfElements(mxGetFieldByNumber_800(dwork, 0, 2)), 0u);

    const mxArray* rtdw = mxGetFieldByNumber_800(dwork, 0, 1);
    ASSERT_EQ(mxGetNumberOfFields_800(rtdw), 1);
    EXPECT_TRUE(std::string(qelhost::fieldName(rtdw, 0)).starts_with("mdlrefDW->rtdw."));
    const mxArray* member = mxGetFieldByNumber_800(rtdw, 0, 0);
    EXPECT_EQ(mxGetClassID_800(member), mxUINT8_CLASS);
    ASSERT_EQ(mxGetN_800(member), 8u);
    EXPECT_EQ(std::memcmp(mxGetData_800(member), &record.rtdw.integratorState, 8), 0);
}

TEST(SimState, PlantSavesItsContinuousStates) {
    BlockUnderTest unit(kPlant);
    unit.start();
    unit.block.contStates()[1] = -0.0;
    const UniqueArray state = unit.block.getSimState();
    const mxArray* localX = mxGetFieldByNumber_800(state.get(), 0, 0);
    EXPECT_EQ(mxGetClassID_800(localX), mxUINT8_CLASS);
    ASSERT_EQ(qelhost::numberOfElements(localX), 24u);
    EXPECT_EQ(std::memcmp(mxGetData_800(localX), unit.block.contStates().data(), 24), 0);
    EXPECT_EQ(mxGetNumberOfFields_800(mxGetFieldByNumber_800(mxGetFieldByNumber_800(state.get(), 0, 1), 0, 1)), 11);
}

TEST(SimState, NextHitTaskIdIsTruncatedTowardZero) {
    const std::pair<double, int> cases[] = {{2.9, 2}, {-1.5, -1}, {-0.0, 0}, {2147483647.9, 2147483647}};
    for (const auto& [saved, restored] : cases) {
        SCOPED_TRACE(saved);
        BlockUnderTest unit(kCurrent);
        unit.start();
        qelhost::ArrayScope scope;
        const UniqueArray state = unit.block.getSimState();
        mxSetFieldByNumber_800(state.get(), 0, 4, mxCreateDoubleScalar_800(saved));
        ASSERT_TRUE(unit.block.setSimState(state.get())) << unit.block.lastError();
        EXPECT_EQ(unit.block.simStruct()->tNextTid, restored);
    }
}

// A state that does not fit: the call fails with a diagnostic naming the field, and nothing of
// the block's state changes.
TEST(SimState, MismatchedStateChangesNothing) {
    qelhost::ArrayScope scope;
    const auto bytes = [](size_t count) { return mxCreateNumericMatrix_800(1, count, mxUINT8_CLASS, mxREAL); };
    const auto dworkOf = [](mxArray* state) { return mxGetFieldByNumber_800(state, 0, 1); };
    const auto rtdwOf = [&](mxArray* state) { return mxGetFieldByNumber_800(dworkOf(state), 0, 1); };
    struct Case {
        const char* name;
        const char* model;
        std::function<mxArray*(mxArray* valid)> make;   // from a copy of a valid state
        const char* field;                             // named in the diagnostic
    };
    const Case cases[] = {
        {"no state at all", kCurrent, [](mxArray*) { return static_cast<mxArray*>(nullptr); }, "simulation state"},
        {"not a struct", kCurrent, [](mxArray*) { return mxCreateDoubleScalar_800(1.0); }, "simulation state"},
        {"a field short",
         kCurrent,
         [](mxArray* valid) {
             const char* names[] = {"localX", "mdlrefDW", "disallowedStateData", "tNext", "tNextTid"};
             mxArray* state = mxCreateStructMatrix_800(1, 1, 5, names);
             for (int f = 0; f < 5; ++f)
                 if (mxArray* value = mxGetFieldByNumber_800(valid, 0, f))
                     mxSetFieldByNumber_800(state, 0, f, qelhost::duplicateArray(value).get());   // stores a copy
             return state;
         },
         "simulation state"},
        {"mdlrefDW empty", kCurrent, [](mxArray* s) { mxSetFieldByNumber_800(s, 0, 1, nullptr); return s; }, "mdlrefDW"},
        {"rtb of doubles", kCurrent,
         [&](mxArray* s) { mxSetFieldByNumber_800(dworkOf(s), 0, 0, mxCreateDoubleMatrix_800(1, 5, mxREAL)); return s; },
         "mdlrefDW.rtb"},
        {"rtb a byte short", kCurrent, [&](mxArray* s) { mxSetFieldByNumber_800(dworkOf(s), 0, 0, bytes(39)); return s; },
         "mdlrefDW.rtb"},
        {"rtb a byte long", kCurrent, [&](mxArray* s) { mxSetFieldByNumber_800(dworkOf(s), 0, 0, bytes(41)); return s; },
         "mdlrefDW.rtb"},
        {"rtdw member short", kCurrent, [&](mxArray* s) { mxSetFieldByNumber_800(rtdwOf(s), 0, 0, bytes(7)); return s; },
         "mdlrefDW.rtdw.mdlrefDW->rtdw."},
        {"rtdw without members", kCurrent,
         [&](mxArray* s) { mxSetFieldByNumber_800(dworkOf(s), 0, 1, mxCreateStructMatrix_800(1, 1, 0, nullptr)); return s; },
         "mdlrefDW.rtdw"},
        {"tNext two values", kCurrent,
         [](mxArray* s) { mxSetFieldByNumber_800(s, 0, 3, mxCreateDoubleMatrix_800(1, 2, mxREAL)); return s; }, "tNext"},
        {"tNext complex", kCurrent,
         [](mxArray* s) { mxSetFieldByNumber_800(s, 0, 3, mxCreateDoubleMatrix_800(1, 1, mxCOMPLEX)); return s; }, "tNext"},
        {"tNextTid NaN", kCurrent,
         [](mxArray* s) { mxSetFieldByNumber_800(s, 0, 4, mxCreateDoubleScalar_800(std::nan(""))); return s; }, "tNextTid"},
        {"tNextTid beyond 32 bits", kCurrent,
         [](mxArray* s) { mxSetFieldByNumber_800(s, 0, 4, mxCreateDoubleScalar_800(3e9)); return s; }, "tNextTid"},
        {"localX short", kPlant, [&](mxArray* s) { mxSetFieldByNumber_800(s, 0, 0, bytes(23)); return s; }, "localX"},
        {"localX missing", kPlant, [](mxArray* s) { mxSetFieldByNumber_800(s, 0, 0, nullptr); return s; }, "localX"},
        {"a plant member short", kPlant, [&](mxArray* s) { mxSetFieldByNumber_800(rtdwOf(s), 0, 10, bytes(4)); return s; },
         "mdlrefDW.rtdw.mdlrefDW->rtdw."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BlockUnderTest unit(c.model);
        unit.start();
        fillState(unit, 4);
        UniqueArray valid = unit.block.getSimState();
        fillState(unit, 5);
        const StateBytes before = stateBytesOf(unit);
        const std::vector<std::byte> recordBefore(unit.block.workRecord().begin(), unit.block.workRecord().end());

        mxArray* state = c.make(valid.get());
        EXPECT_FALSE(unit.block.setSimState(state));
        const std::string& error = unit.block.lastError();
        EXPECT_TRUE(error.starts_with("<diag_root><diag id=\"Simulink:SFunctions:SimStructSimStateLayoutMismatch\">"))
            << error;
        EXPECT_NE(error.find(std::string(c.model) + "_msp"), std::string::npos) << error;
        EXPECT_NE(error.find(std::string("<arg type=\"string\">") + c.field), std::string::npos) << error;
        EXPECT_EQ(stateBytesOf(unit), before);
        EXPECT_TRUE(std::equal(recordBefore.begin(), recordBefore.end(), unit.block.workRecord().begin()));
    }
}

}  // namespace

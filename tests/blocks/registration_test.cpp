// Block registration through the host call: what every block declares, the order of the host
// steps, sizes-only registration, the host's refusals, the identifier list and the work widths.
#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/blocks/block_facts.h"

namespace {

using qeltest::allBlocks;
using qeltest::BlockFacts;
using qeltest::BlockUnderTest;

constexpr char kCurrent[] = "Qel_Lib_wexa_current_controller_sub";

std::vector<int> codesOf(const qelhost::BlockStructure& structure) {
    std::vector<int> codes;
    for (const qelhost::DispatcherCall& call : structure.dispatcherLog()) codes.push_back(call.code);
    return codes;
}

std::vector<std::string> operationsOf(const qelhost::BlockStructure& structure) {
    std::vector<std::string> operations;
    for (const qelhost::RegistrationCall& call : structure.registrations()) operations.push_back(call.operation);
    return operations;
}

TEST(Registration, EveryBlockDeclaresItsPortsRatesAndWorkRecord) {
    for (const BlockFacts& facts : allBlocks()) {
        SCOPED_TRACE(facts.model);
        BlockUnderTest unit(facts.model);
        unit.block.registerBlock();
        const SimStruct* block = unit.block.simStruct();

        ASSERT_EQ(unit.block.numInputs(), static_cast<int>(facts.inputWidths.size()));
        for (int p = 0; p < unit.block.numInputs(); ++p) {
            SCOPED_TRACE(p);
            const InputPortRecord& input = block->inputs[p];
            EXPECT_EQ(input.width, facts.inputWidths[p]);
            EXPECT_EQ(input.dataTypeId, 0);
            EXPECT_EQ(input.directFeedThrough, 1);
            EXPECT_EQ(input.contiguous, 1);
            EXPECT_EQ(input.optimOpts, input.width == 3 ? 1 : 3);
            EXPECT_EQ(input.overwritable, 0);
            EXPECT_EQ(input.frameData, 0);
            EXPECT_EQ(input.sampleTime, facts.isPlant ? 0.0 : 1e-4);
            EXPECT_EQ(input.offsetTime, 0.0);
            EXPECT_NE(input.flags & kPortFlagInput, 0u);
            EXPECT_EQ(input.unitId, block->inputs[0].unitId);   // all without unit
        }
        ASSERT_EQ(unit.block.numOutputs(), static_cast<int>(facts.outputWidths.size()));
        for (int p = 0; p < unit.block.numOutputs(); ++p) {
            SCOPED_TRACE(p);
            const OutputPortRecord& output = block->outputs[p];
            EXPECT_EQ(output.width, facts.outputWidths[p]);
            EXPECT_EQ(output.dataTypeId, 0);
            EXPECT_EQ(output.optimOpts, facts.reusableOutputs ? 3 : 0);
            EXPECT_EQ(output.reuseSetting, facts.reusableOutputs ? 3 : 2);
            EXPECT_EQ(output.frameData, 0);
            EXPECT_EQ(output.sampleTime, facts.outputSampleTimes[p]);
            EXPECT_EQ(output.offsetTime, 0.0);
            EXPECT_EQ(output.flags & (kPortFlagOutputA | kPortFlagOutputB), 0u);
            EXPECT_EQ(output.unitId, block->inputs[0].unitId);
        }

        const std::span<const double> periods = unit.block.samplePeriods();
        EXPECT_EQ(std::vector<double>(periods.begin(), periods.end()), facts.sampleTimes);
        for (int k = 0; k < unit.block.numSampleTimes(); ++k) EXPECT_EQ(block->offsetTimes[k], 0.0);

        EXPECT_EQ(unit.block.numContStates(), facts.numContStates);
        EXPECT_EQ(block->sizes[kSizeNumDiscStates], 0);
        EXPECT_EQ((block->blockFlags & kBlockFlagContinuousBookkeeping) != 0, facts.isPlant);
        EXPECT_EQ(block->numPeriodicContStates, 0);
        EXPECT_EQ(block->simStateCompliance, 3);
        EXPECT_EQ(block->blockSettingA, 2);
        EXPECT_EQ(block->blockSettingB, 2);
        EXPECT_EQ(block->blockSettingC, 1);
        EXPECT_EQ(unit.block.structure().fxpRegionCompliant(), 1);
        ASSERT_TRUE(unit.block.structure().simStateChecksum().has_value());
        EXPECT_EQ(*unit.block.structure().simStateChecksum(), facts.simStateChecksum);
        EXPECT_EQ(unit.block.structure().checksumModelName(), facts.model);

        ASSERT_EQ(block->sizes[kSizeNumDWork], 1);
        EXPECT_EQ(block->dwork[0].width, 1);
        EXPECT_EQ(unit.block.structure().typeSize(block->dwork[0].dataTypeId), facts.mdlrefDWBytes);
        EXPECT_EQ(unit.block.workRecord().size(), static_cast<size_t>(facts.mdlrefDWBytes));

        EXPECT_NE(block->methods.systemInitialize, nullptr);
        EXPECT_NE(block->methods.systemReset, nullptr);
        EXPECT_NE(block->methods.periodicOutputUpdate, nullptr);
        EXPECT_EQ(block->methods.derivatives != nullptr, facts.isPlant);
        EXPECT_NE(block->methods.getTimeOfNextVarHit, nullptr);
        EXPECT_NE(block->methods.zeroCrossings, nullptr);
        EXPECT_EQ(block->methods.checkParameters, nullptr);
    }
}

TEST(Registration, HostStepsComeInOrder) {
    BlockUnderTest unit(kCurrent);
    unit.block.initializeSizes();
    const qelhost::BlockStructure& structure = unit.block.structure();
    EXPECT_EQ(codesOf(structure), (std::vector<int>{280, 362, 302, 106, 327, 106, 327, 107, 327, 141, 142, 323, 229,
                                                    197, 207, 239, 72, 132, 299}));
    EXPECT_EQ(operationsOf(structure),
              (std::vector<std::string>{"ssFxpSetU32BitRegionCompliant", "slmrInitializeIOPortDataVectors",
                                        "registerNumInputPorts", "registerInputPortDimensions",
                                        "registerInputPortDimensions", "registerNumOutputPorts",
                                        "registerOutputPortDimensions", "slmrModelRefRegisterSimStateChecksum",
                                        "registerNumDWork", "registerDataTypeSize", "slmrRegisterSystemInitializeMethod",
                                        "slmrRegisterSystemResetMethod", "slmrRegisterPeriodicOutputUpdateMethod"}));

    const std::vector<qelhost::DispatcherCall>& log = structure.dispatcherLog();
    EXPECT_EQ(log[1].intArg, -1);                     // 362
    EXPECT_EQ(log[2].intArg, 1);                      // 302 with the value 1
    EXPECT_EQ(log[5].intArg, 1);                      // 106 for input 1 ...
    EXPECT_EQ(log[5].value, 0);                       // ... with a zero integer
    EXPECT_EQ(log[4].text, "");                       // the empty unit expression
    EXPECT_EQ(log[9].value, 0);                       // 141 with a zero byte
    EXPECT_EQ(log[10].value, 0);                      // 142 with three zero bytes
    EXPECT_EQ(log[11].intArg, 1);                     // 323
    EXPECT_EQ(log[13].value, 1);                      // 197 with a byte 1
    EXPECT_EQ(log[14].value, 0);                      // 207 with a byte 0
    EXPECT_EQ(log[16].text, kCurrent);                // 72 with the model name
    EXPECT_EQ(log[18].text, "10.0");                  // 299
    const std::vector<qelhost::RegistrationCall>& registrations = structure.registrations();
    EXPECT_EQ(registrations[1].values, (std::vector<int64_t>{2, 1}));
    EXPECT_EQ(registrations[3].values, (std::vector<int64_t>{0, 1, 1}));   // port 0, width 1, one dimension
    EXPECT_EQ(registrations[8].values, (std::vector<int64_t>{1}));
    EXPECT_EQ(registrations[9].values[1], 328);
}

TEST(Registration, SizesOnlyCallSetsNoUnitsAndNoIdentifierList) {
    BlockUnderTest unit(kCurrent);
    unit.top.setSimMode(1);
    unit.block.initializeSizes();
    const std::vector<int> codes = codesOf(unit.block.structure());
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 327), 0);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 239), 0);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 72), 0);
    EXPECT_FALSE(unit.block.structure().identifierList().has_value());
    // Everything else is still declared.
    EXPECT_EQ(codes.back(), 299);
    EXPECT_NE(unit.block.simStruct()->methods.periodicOutputUpdate, nullptr);
    EXPECT_EQ(unit.block.structure().typeSize(unit.block.simStruct()->dwork[0].dataTypeId), 328);
}

TEST(Registration, RefusedStepEndsTheSizesMethod) {
    using qelhost::HostOptions;
    struct Case {
        const char* name;
        void (*configure)(HostOptions& host);
        int lastCode;                 // the last dispatcher code of the sizes call
        bool methodsRegistered;       // system-initialize, reset and periodic methods
        int numOutputPorts;
    };
    const Case cases[] = {
        {"sizes start answers 0", [](HostOptions& h) { h.sizesStartAnswer = 0; }, 362, false, 0},
        {"units refused", [](HostOptions& h) { h.refuseUnits = true; }, 327, false, 0},
        {"no dispatcher", [](HostOptions& h) { h.dispatcher = false; }, -1, false, 0},
        {"identifier list refused", [](HostOptions& h) { h.refuseIdentifierList = true; }, 72, false, 1},
        {"work record type refused", [](HostOptions& h) { h.refuseWorkRecordType = true; }, 132, false, 1},
        {"no type size registrar", [](HostOptions& h) { h.typeSizeRegistrar = false; }, 132, false, 1},
        {"no work-vector counter", [](HostOptions& h) { h.workVectorCounter = false; }, 299, true, 1},
        {"no dimension registrars", [](HostOptions& h) { h.dimensionRegistrars = false; }, 299, true, 1},
        {"no extension record", [](HostOptions& h) { h.extensionRecord = false; }, 299, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HostOptions host;
        c.configure(host);
        BlockUnderTest unit(kCurrent, qeltest::withHost(host));
        unit.block.initializeSizes();
        const std::vector<int> codes = codesOf(unit.block.structure());
        if (c.lastCode < 0) {
            EXPECT_TRUE(codes.empty());
        } else {
            ASSERT_FALSE(codes.empty());
            EXPECT_EQ(codes.back(), c.lastCode);
        }
        const SimStruct* block = unit.block.simStruct();
        EXPECT_EQ(block->methods.systemInitialize != nullptr, c.methodsRegistered);
        EXPECT_EQ(block->methods.periodicOutputUpdate != nullptr, c.methodsRegistered);
        EXPECT_EQ(block->sizes[kSizeNumOutputPorts], c.numOutputPorts);
    }
}

TEST(Registration, WithoutExtensionRecordNoCompatibilityCodes) {
    qelhost::HostOptions host;
    host.extensionRecord = false;
    BlockUnderTest unit(kCurrent, qeltest::withHost(host));
    unit.block.initializeSizes();
    const std::vector<int> codes = codesOf(unit.block.structure());
    for (int code : {280, 197, 207}) EXPECT_EQ(std::count(codes.begin(), codes.end(), code), 0) << code;
}

TEST(Registration, IdentifierListOfEveryBlock) {
    const std::regex generated("[a-z0-9]{10,11}_qelm");
    const char* const functions[] = {
        "GetSimStateDisallowedBlocks", "extractBitFieldFromCellArrayWithOffset", "cacheBitFieldToCellArrayWithOffset",
        "restoreDataFromMxArrayWithOffset", "cacheDataToMxArrayWithOffset", "extractBitFieldFromMxArray",
        "cacheBitFieldToMxArray", "restoreDataFromMxArray", "cacheDataAsMxArray", "RegisterSimStateChecksum",
        "SetDWork", "GetDWork"};
    for (const BlockFacts& facts : allBlocks()) {
        SCOPED_TRACE(facts.model);
        BlockUnderTest unit(facts.model);
        unit.block.initializeSizes();
        ASSERT_TRUE(unit.block.structure().identifierList().has_value());
        const qelhost::IdentifierList& list = *unit.block.structure().identifierList();
        const std::string model = facts.model;
        const int count = facts.isPlant ? 48 : 47;
        const int nameAt = facts.isPlant ? 22 : 21;
        EXPECT_EQ(list.modelName, model);
        ASSERT_EQ(list.count, count);
        ASSERT_EQ(static_cast<int>(list.entries.size()), count);

        std::set<std::string> distinct;
        for (int i = 0; i < nameAt + 12; ++i) {
            if (i == nameAt) continue;
            SCOPED_TRACE(i);
            const qelhost::IdentifierRecord& entry = list.entries[i];
            EXPECT_TRUE(std::regex_match(entry.text, generated)) << entry.text;
            EXPECT_EQ(entry.kind, i == 0 ? 16 : 17);
            EXPECT_EQ(entry.value, -1);
            EXPECT_EQ(entry.owner, model);
            distinct.insert(entry.text);
        }
        EXPECT_EQ(distinct.size(), static_cast<size_t>(nameAt + 11));

        const qelhost::IdentifierRecord& name = list.entries[nameAt];
        EXPECT_EQ(name.text, model);
        EXPECT_EQ(name.kind, 17);
        EXPECT_EQ(name.value, 0);
        EXPECT_FALSE(name.owner.has_value());

        for (int f = 0; f < 12; ++f) {
            const qelhost::IdentifierRecord& entry = list.entries[nameAt + 12 + f];
            EXPECT_EQ(entry.text, "mr_" + model + "_" + functions[f]);
            EXPECT_EQ(entry.kind, 20);
            EXPECT_EQ(entry.value, -1);
            EXPECT_EQ(entry.owner, model);
        }
        const qelhost::IdentifierRecord& header = list.entries[count - 2];
        EXPECT_EQ(header.text, model + ".h");
        EXPECT_EQ(header.kind, 13);
        EXPECT_FALSE(header.owner.has_value());
        const qelhost::IdentifierRecord& source = list.entries[count - 1];
        EXPECT_EQ(source.text, model + ".cpp");
        EXPECT_EQ(source.kind, 13);
        EXPECT_EQ(source.owner, model);
        for (const qelhost::IdentifierRecord& entry : list.entries) EXPECT_EQ(entry.zero, 0);
    }
}

TEST(Registration, WorkWidthsAskForTheSecondNameListOnlyAfterTheFirst) {
    for (const bool firstAccepted : {true, false}) {
        SCOPED_TRACE(firstAccepted);
        qelhost::HostOptions host;
        if (!firstAccepted) host.answers = {{74, 0}};
        BlockUnderTest unit(kCurrent, qeltest::withHost(host));
        unit.block.initializeSizes();
        unit.block.initializeSampleTimes();
        unit.block.structure().clearLogs();
        unit.block.setWorkWidths();
        const std::vector<qelhost::DispatcherCall>& log = unit.block.structure().dispatcherLog();
        ASSERT_EQ(log.size(), firstAccepted ? 3u : 2u);
        EXPECT_EQ(log[0].code, 148);
        EXPECT_EQ(log[0].intArg, 1);
        EXPECT_EQ(log[1].code, 74);
        EXPECT_EQ(log[1].text, "");
        if (firstAccepted) {
            EXPECT_EQ(log[2].code, 73);
            EXPECT_EQ(log[2].text, "");
        }
    }
}

}  // namespace

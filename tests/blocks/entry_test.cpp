// The sizes call of every plug-in: the 40-element sizes column, the argument checks in their
// order with their identifiers and arguments, and the host call that hands over a block structure.
#include <cmath>
#include <string>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "tests/blocks/block_facts.h"

namespace {

using qelhost::MatlabError;
using qeltest::allBlocks;
using qeltest::plugin;

constexpr char kCurrent[] = "Qel_Lib_wexa_current_controller_sub";
constexpr char kCurrentArgumentText[] = "MEX level2 S-function \"Qel_Lib_wexa_current_controller_sub_msp\"";

// What one call of the entry did: the error it raised, or the sizes column it returned.
struct EntryOutcome {
    bool raised = false;
    std::string identifier;
    std::vector<MatlabError::Argument> arguments;
    std::vector<double> column;
};

EntryOutcome callEntry(const std::string& model, int nlhs, std::vector<const mxArray*> inputs) {
    qelhost::ArrayScope scope;
    mxArray* outputs[2] = {nullptr, nullptr};
    EntryOutcome outcome;
    try {
        plugin(model)->callEntry(nlhs, outputs, static_cast<int>(inputs.size()), inputs.empty() ? nullptr : inputs.data());
    } catch (const MatlabError& error) {
        outcome.raised = true;
        outcome.identifier = error.identifier();
        outcome.arguments = error.arguments();
        return outcome;
    }
    if (outputs[0] != nullptr) {
        const double* values = mxGetPr_800(outputs[0]);
        outcome.column.assign(values, values + qelhost::numberOfElements(outputs[0]));
    }
    return outcome;
}

// Inputs of a command-line sizes call with `flag` as input 3.
std::vector<const mxArray*> commandLineInputs(const mxArray* flag) {
    const mxArray* empty = mxCreateDoubleMatrix_800(0, 0, mxREAL);
    return {empty, empty, empty, flag};
}

MatlabError::Argument text(const char* value) { return std::string(value); }
MatlabError::Argument number(double value) { return value; }

TEST(SizesCall, ColumnReportsEveryBlocksDeclaration) {
    for (const qeltest::BlockFacts& facts : allBlocks()) {
        SCOPED_TRACE(facts.model);
        const qelhost::SizesColumn column = plugin(facts.model)->commandLineSizes();
        EXPECT_EQ(column[kSizeNumContStates], facts.numContStates);
        EXPECT_EQ(column[kSizeNumDiscStates], 0);
        EXPECT_EQ(column[kSizeNumOutputPorts], static_cast<double>(facts.outputWidths.size()));
        EXPECT_EQ(column[kSizeNumInputPorts], static_cast<double>(facts.inputWidths.size()));
        EXPECT_EQ(column[kSizeNumSampleTimes], static_cast<double>(facts.sampleTimes.size()));
        EXPECT_EQ(column[kSizeNumSFcnParams], 0);
        EXPECT_EQ(column[kSizeNumIWork], 0);
        EXPECT_EQ(column[kSizeNumRWork], 0);
        EXPECT_EQ(column[kSizeNumPWork], 0);
        for (int word = 0; word < 4; ++word) EXPECT_EQ(column[kSizeChecksum0 + word], 0);
        EXPECT_EQ(column[kSizeVersion], 8480229);
        EXPECT_EQ(column[kSizeNumModes], 0);
        EXPECT_EQ(column[kSizeOptions], static_cast<double>(0x68000822u | 0x2000u));
        EXPECT_EQ(column[kSizeRegistrationLevel], 2);
    }
}

TEST(SizesCall, HostCallAlsoRegistersTheWorkRecord) {
    qeltest::BlockUnderTest unit(kCurrent);
    const qelhost::SizesColumn& column = unit.block.initializeSizes();
    EXPECT_EQ(column[kSizeNumInputPorts], 2);
    EXPECT_EQ(column[kSizeNumOutputPorts], 1);
    EXPECT_EQ(column[kSizeNumSampleTimes], 3);
    EXPECT_EQ(column[kSizeNumDWork], 1);
    EXPECT_EQ(column[kSizeVersion], 8480229);
    EXPECT_EQ(static_cast<uint32_t>(column[kSizeOptions]), 0x68002822u);
    EXPECT_EQ(unit.block.simStruct()->sizes[kSizeOptions], 0x68002822);   // the bit stays set in the structure
    EXPECT_NE(unit.block.simStruct()->methods.outputs, nullptr);
}

TEST(SizesCall, OptionsAndChecksumElementsAreReadAsUnsigned) {
    // A host whose structure already carries high bits in the unsigned elements: they must come
    // back as large positive numbers, not negative ones.
    qelhost::HostOptions host;
    host.sizesStartAnswer = 0;
    qeltest::BlockUnderTest unit(kCurrent, qeltest::withHost(host));
    unit.block.simStruct()->sizes[kSizeChecksum0] = static_cast<int32_t>(0xECCD6036u);
    unit.block.simStruct()->sizes[kSizeOptions] = static_cast<int32_t>(0x80000000u);
    unit.block.simStruct()->sizes[kSizeNumContStates] = -1;
    const qelhost::SizesColumn& column = unit.block.initializeSizes();
    EXPECT_EQ(column[kSizeChecksum0], 3972882486.0);
    EXPECT_EQ(column[kSizeOptions], 2147483648.0 + 0x2000);
    EXPECT_EQ(column[kSizeNumContStates], -1);
}

TEST(SizesCall, FourthInputMustBeTheIntegerZero) {
    qelhost::ArrayScope scope;
    mxArray* complexZero = mxCreateDoubleMatrix_800(1, 1, mxCOMPLEX);
    mxArray* int32Three = mxCreateNumericMatrix_800(1, 1, mxINT32_CLASS, mxREAL);
    *static_cast<int32_t*>(mxGetData_800(int32Three)) = 3;
    mxArray* rowOfTwo = mxCreateDoubleMatrix_800(1, 2, mxREAL);
    struct Case {
        const char* name;
        const mxArray* flag;
        const char* identifier;   // null: the call succeeds
    };
    const char* notInteger = "Simulink:SFunctions:SimStructForthRHSArgIsNotInteger";
    const char* invalidFlag = "Simulink:SFunctions:SimStructInvalidFlagPassedToSfcn";
    const Case cases[] = {
        {"half", mxCreateDoubleScalar_800(0.5), notInteger},
        {"row of two", rowOfTwo, notInteger},
        {"complex zero", complexZero, notInteger},
        {"NaN", mxCreateDoubleScalar_800(std::nan("")), notInteger},
        {"beyond 32 bits", mxCreateDoubleScalar_800(4294967296.0), notInteger},
        {"minus infinity", mxCreateDoubleScalar_800(-qeltest::kInf), notInteger},
        {"empty", mxCreateDoubleMatrix_800(0, 0, mxREAL), notInteger},
        {"text", mxCreateString_800("0"), notInteger},
        {"missing", nullptr, notInteger},
        {"three", mxCreateDoubleScalar_800(3.0), invalidFlag},
        {"int32 three", int32Three, invalidFlag},
        {"minus one", mxCreateDoubleScalar_800(-1.0), invalidFlag},
        {"zero", mxCreateDoubleScalar_800(0.0), nullptr},
        {"minus zero", mxCreateDoubleScalar_800(-0.0), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const EntryOutcome outcome = callEntry(kCurrent, 1, commandLineInputs(c.flag));
        if (c.identifier == nullptr) {
            EXPECT_FALSE(outcome.raised) << outcome.identifier;
            EXPECT_EQ(outcome.column.size(), 40u);
            continue;
        }
        ASSERT_TRUE(outcome.raised);
        EXPECT_EQ(outcome.identifier, c.identifier);
        EXPECT_EQ(outcome.arguments, (std::vector<MatlabError::Argument>{text(kCurrentArgumentText)}));
    }
}

TEST(SizesCall, ArgumentCountsAreCheckedFirst) {
    qelhost::ArrayScope scope;
    const mxArray* badFlag = mxCreateDoubleScalar_800(0.5);
    const std::vector<const mxArray*> four = commandLineInputs(badFlag);
    const std::vector<const mxArray*> three(four.begin(), four.begin() + 3);

    // Three inputs: the first error, even with two outputs asked for and no valid flag anywhere.
    const EntryOutcome tooFew = callEntry(kCurrent, 2, three);
    ASSERT_TRUE(tooFew.raised);
    EXPECT_EQ(tooFew.identifier, "Simulink:SFunctions:SimStructTooFewRHSArguments");
    EXPECT_EQ(tooFew.arguments, (std::vector<MatlabError::Argument>{text(kCurrentArgumentText), number(4)}));

    const EntryOutcome none = callEntry(kCurrent, 0, {});
    ASSERT_TRUE(none.raised);
    EXPECT_EQ(none.identifier, "Simulink:SFunctions:SimStructTooFewRHSArguments");

    const EntryOutcome tooMany = callEntry(kCurrent, 2, four);
    ASSERT_TRUE(tooMany.raised);
    EXPECT_EQ(tooMany.identifier, "Simulink:SFunctions:SimStructTooManyLHSArguments");
    EXPECT_EQ(tooMany.arguments, (std::vector<MatlabError::Argument>{text(kCurrentArgumentText)}));
}

TEST(SizesCall, ArgumentTextNamesEachPlugin) {
    qelhost::ArrayScope scope;
    for (const qeltest::BlockFacts& facts : allBlocks()) {
        SCOPED_TRACE(facts.model);
        const EntryOutcome outcome = callEntry(facts.model, 3, commandLineInputs(mxCreateDoubleScalar_800(0.0)));
        ASSERT_TRUE(outcome.raised);
        const std::string expected = std::string("MEX level2 S-function \"") + facts.model + "_msp\"";
        EXPECT_EQ(outcome.arguments, (std::vector<MatlabError::Argument>{text(expected.c_str())}));
    }
}

TEST(SizesCall, ExtraInputsAreParametersOfACommandLineCall) {
    qelhost::ArrayScope scope;
    std::vector<const mxArray*> inputs = commandLineInputs(mxCreateDoubleScalar_800(0.0));
    inputs.push_back(mxCreateDoubleScalar_800(1.0));
    inputs.push_back(mxCreateString_800("p"));
    const EntryOutcome outcome = callEntry(kCurrent, 0, inputs);
    ASSERT_FALSE(outcome.raised) << outcome.identifier;
    ASSERT_EQ(outcome.column.size(), 40u);
    EXPECT_EQ(outcome.column[kSizeNumInputPorts], 2);
}

TEST(SizesCall, ColumnsThatAreNoHostMarkerMakeACommandLineCall) {
    qelhost::ArrayScope scope;
    const auto column = [](size_t rows, size_t cols, std::vector<double> values) {
        mxArray* array = mxCreateDoubleMatrix_800(rows, cols, mxREAL);
        std::copy(values.begin(), values.end(), mxGetPr_800(array));
        return array;
    };
    struct Case {
        const char* name;
        const mxArray* input1;
    };
    const Case cases[] = {
        {"marker in a row", column(1, 3, {0, 0, 8480229.0})},
        {"three rows without marker", column(3, 1, {1, 2, 3})},
        {"address halves beyond 32 bits", column(3, 1, {1e12, 0, 8480229.0})},
        {"address NaN", column(3, 1, {std::nan(""), 0, 8480229.0})},
        {"address zero", column(3, 1, {0, 0, 8480229.0})},
        {"three rows, no columns", column(3, 0, {})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const EntryOutcome outcome =
            callEntry(kCurrent, 1, {c.input1, c.input1, c.input1, mxCreateDoubleScalar_800(0.0)});
        ASSERT_FALSE(outcome.raised) << outcome.identifier;
        ASSERT_EQ(outcome.column.size(), 40u);
        EXPECT_EQ(outcome.column[kSizeNumDWork], 0);   // a structure of the plug-in's own has no work-vector counter
    }
}

TEST(SizesCall, HostStructureOfAnotherModelIsRefused) {
    qelhost::BlockOptions options;
    options.modelName = "Qel_Lib_motor_sub_msp";
    qeltest::BlockUnderTest unit(kCurrent, options);
    try {
        unit.block.initializeSizes();
        FAIL() << "no error raised";
    } catch (const MatlabError& error) {
        EXPECT_EQ(error.identifier(), "Simulink:SFunctions:SimStructSFunctionNameMismatch");
        EXPECT_EQ(error.arguments(), (std::vector<MatlabError::Argument>{text("Qel_Lib_wexa_current_controller_sub_msp"),
                                                                         text("Qel_Lib_motor_sub_msp")}));
    }
    EXPECT_EQ(unit.block.simStruct()->methods.outputs, nullptr);
    EXPECT_TRUE(unit.block.structure().registrations().empty());
}

TEST(ApiVersion, EveryPluginTargetsThe800Interface) {
    for (const qeltest::BlockFacts& facts : allBlocks()) {
        SCOPED_TRACE(facts.model);
        EXPECT_EQ(plugin(facts.model)->apiRelease(), 0x2019Bu);
        EXPECT_EQ(plugin(facts.model)->apiVersion(), 0x08000000u);
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/mx_arrays.h"

namespace {

using qelhost::ArrayScope;
using qelhost::MatlabError;

class MatlabCalls : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(qelhost::liveArrayCount(), arrays_); }

    // A message object built the way the plug-ins build theirs.
    mxArray* message(const char* identifier, const char* text, double number) {
        mxArray* inputs[3] = {mxCreateString_800(identifier), mxCreateString_800(text), mxCreateDoubleScalar_800(number)};
        mxArray* outputs[1] = {nullptr};
        EXPECT_EQ(mexCallMATLAB_800(1, outputs, 3, inputs, "message"), 0);
        return outputs[0];
    }

    size_t arrays_ = qelhost::liveArrayCount();
};

TEST_F(MatlabCalls, MessageHoldsIdentifierAndArguments) {
    ArrayScope scope;
    const mxArray* object = message("Simulink:SFunctions:SimStructTooFewRHSArguments", "MEX level2 S-function \"x\"", 4.0);
    ASSERT_TRUE(qelhost::isMessage(object));
    EXPECT_EQ(qelhost::messageIdentifier(object), "Simulink:SFunctions:SimStructTooFewRHSArguments");
    const std::vector<MatlabError::Argument> expected = {std::string("MEX level2 S-function \"x\""), 4.0};
    EXPECT_EQ(qelhost::messageArguments(object), expected);
    EXPECT_FALSE(mxIsNumeric_800(object));
}

TEST_F(MatlabCalls, ErrorRaisesTheMessageAsAMatlabError) {
    ArrayScope scope;
    mxArray* object = message("Test:Id", "text", 3.0);
    try {
        mexCallMATLAB_800(0, nullptr, 1, &object, "error");
        FAIL() << "error returned";
    } catch (const MatlabError& error) {
        EXPECT_EQ(error.identifier(), "Test:Id");
        const std::vector<MatlabError::Argument> expected = {std::string("text"), 3.0};
        EXPECT_EQ(error.arguments(), expected);
        EXPECT_STREQ(error.what(), "Test:Id(\"text\", 3)");
    }
}

TEST_F(MatlabCalls, ErrorWithATextRaisesItWithoutIdentifier) {
    ArrayScope scope;
    mxArray* inputs[2] = {mxCreateString_800("went wrong"), mxCreateDoubleScalar_800(0.5)};
    try {
        mexCallMATLAB_800(0, nullptr, 2, inputs, "error");
        FAIL() << "error returned";
    } catch (const MatlabError& error) {
        EXPECT_EQ(error.identifier(), "");
        const std::vector<MatlabError::Argument> expected = {std::string("went wrong"), 0.5};
        EXPECT_EQ(error.arguments(), expected);
    }
}

TEST_F(MatlabCalls, BadCallsRaiseTheirOwnIdentifiers) {
    struct Case {
        const char* name;
        std::string function;
        int nlhs;
        std::vector<int> inputs;   // 0: identifier string, 1: 1x2 double, 2: scalar, 3: struct
        std::string identifier;
    };
    const Case cases[] = {
        {"unknown function", "disp", 0, {0}, "qelhost:UndefinedFunction"},
        {"no function name", "", 0, {0}, "qelhost:UndefinedFunction"},
        {"message without identifier", "message", 1, {}, "qelhost:message:IdentifierMissing"},
        {"message with a number first", "message", 1, {2}, "qelhost:message:IdentifierMissing"},
        {"message with a vector argument", "message", 1, {0, 1}, "qelhost:message:UnsupportedArgument"},
        {"message with a struct argument", "message", 1, {0, 3}, "qelhost:message:UnsupportedArgument"},
        {"message with two outputs", "message", 2, {0}, "qelhost:message:TooManyOutputs"},
        {"error without input", "error", 0, {}, "qelhost:error:NothingToRaise"},
        {"error with a number", "error", 0, {2}, "qelhost:error:UnsupportedArgument"},
    };
    const char* names[1] = {"f"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ArrayScope scope;
        std::vector<mxArray*> inputs;
        for (int kind : c.inputs) {
            if (kind == 0) inputs.push_back(mxCreateString_800("Test:Id"));
            if (kind == 1) inputs.push_back(mxCreateDoubleMatrix_800(1, 2, mxREAL));
            if (kind == 2) inputs.push_back(mxCreateDoubleScalar_800(1.0));
            if (kind == 3) inputs.push_back(mxCreateStructMatrix_800(1, 1, 1, names));
        }
        mxArray* outputs[2] = {nullptr, nullptr};
        try {
            mexCallMATLAB_800(c.nlhs, outputs, static_cast<int>(inputs.size()), inputs.data(),
                              c.function.empty() ? nullptr : c.function.c_str());
            ADD_FAILURE() << "no error raised";
        } catch (const MatlabError& error) {
            EXPECT_EQ(error.identifier(), c.identifier);
        }
    }
}

TEST_F(MatlabCalls, UnknownFunctionNamesItInTheError) {
    ArrayScope scope;
    try {
        mexCallMATLAB_800(0, nullptr, 0, nullptr, "warning");
        FAIL() << "no error raised";
    } catch (const MatlabError& error) {
        EXPECT_EQ(error.arguments(), std::vector<MatlabError::Argument>{std::string("warning")});
    }
}

}  // namespace

#include "host/mx_arrays.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

namespace {

using qelhost::ArrayScope;
using qelhost::MatlabError;
using qelhost::UniqueArray;

const char* kTwoNames[] = {"first", "second"};

// Expects `call` to raise a MatlabError with `identifier`.
void expectRaises(const std::function<void()>& call, const std::string& identifier) {
    try {
        call();
        ADD_FAILURE() << "no error raised, expected " << identifier;
    } catch (const MatlabError& error) {
        EXPECT_EQ(error.identifier(), identifier);
    }
}

TEST(HostArrays, CreatedArraysAnswerShapeClassAndFirstValue) {
    struct Case {
        const char* name;
        std::function<mxArray*()> make;
        mxClassID classId;
        size_t rows, cols;
        bool numeric, complex;
        double scalar;
    };
    const Case cases[] = {
        {"double scalar", [] { return mxCreateDoubleScalar_800(-2.5); }, mxDOUBLE_CLASS, 1, 1, true, false, -2.5},
        {"complex double matrix", [] { return mxCreateDoubleMatrix_800(2, 3, mxCOMPLEX); }, mxDOUBLE_CLASS, 2, 3, true, true, 0.0},
        {"uint8 row", [] { return mxCreateNumericMatrix_800(1, 5, mxUINT8_CLASS, mxREAL); }, mxUINT8_CLASS, 1, 5, true, false, 0.0},
        {"empty double", [] { return mxCreateDoubleMatrix_800(0, 0, mxREAL); }, mxDOUBLE_CLASS, 0, 0, true, false, 0.0},
        {"string", [] { return mxCreateString_800("abc"); }, mxCHAR_CLASS, 1, 3, false, false, 97.0},
        {"empty string", [] { return mxCreateString_800(""); }, mxCHAR_CLASS, 0, 0, false, false, 0.0},
        {"struct", [] { return mxCreateStructMatrix_800(1, 1, 2, kTwoNames); }, mxSTRUCT_CLASS, 1, 1, false, false, 0.0},
        {"logical", [] { return mxCreateNumericMatrix_800(2, 2, mxLOGICAL_CLASS, mxREAL); }, mxLOGICAL_CLASS, 2, 2, false, false, 0.0},
    };
    ArrayScope scope;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const mxArray* array = c.make();
        EXPECT_EQ(mxGetClassID_800(array), c.classId);
        EXPECT_EQ(mxGetM_800(array), c.rows);
        EXPECT_EQ(mxGetN_800(array), c.cols);
        EXPECT_EQ(mxIsNumeric_800(array), c.numeric);
        EXPECT_EQ(mxIsComplex_800(array), c.complex);
        EXPECT_EQ(mxGetScalar_800(array), c.scalar);
    }
}

TEST(HostArrays, ScalarOfEveryNumericClassConverts) {
    struct Case {
        mxClassID classId;
        std::vector<uint8_t> bytes;   // first element, little-endian
        double expected;
    };
    const Case cases[] = {
        {mxINT8_CLASS, {0xFD}, -3.0},
        {mxUINT8_CLASS, {0xFD}, 253.0},
        {mxINT16_CLASS, {0x00, 0x80}, -32768.0},
        {mxUINT16_CLASS, {0xFF, 0xFF}, 65535.0},
        {mxINT32_CLASS, {0xFF, 0xFF, 0xFF, 0xFF}, -1.0},
        {mxUINT32_CLASS, {0xFF, 0xFF, 0xFF, 0xFF}, 4294967295.0},
        {mxSINGLE_CLASS, {0x00, 0x00, 0xC0, 0x3F}, 1.5},
        {mxINT64_CLASS, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, -2.0},
    };
    ArrayScope scope;
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.classId));
        mxArray* array = mxCreateNumericMatrix_800(1, 1, c.classId, mxREAL);
        std::memcpy(mxGetData_800(array), c.bytes.data(), c.bytes.size());
        EXPECT_EQ(mxGetScalar_800(array), c.expected);
        EXPECT_TRUE(mxIsNumeric_800(array));
        EXPECT_EQ(mxGetPr_800(array), nullptr);   // only a double array has real double data
    }
}

TEST(HostArrays, NewArraysAreZeroedAndUninitialisedOnesAreNot) {
    ArrayScope scope;
    const mxArray* zeroed = mxCreateNumericMatrix_800(1, 64, mxUINT8_CLASS, mxREAL);
    const mxArray* doubles = mxCreateDoubleMatrix_800(4, 4, mxREAL);
    for (uint8_t byte : qelhost::bytesOf(zeroed)) EXPECT_EQ(byte, 0);
    for (uint8_t byte : qelhost::bytesOf(doubles)) EXPECT_EQ(byte, 0);
    // A reader relying on zeros in an uninitialised array must see something else.
    const mxArray* uninit = mxCreateUninitNumericMatrix_800(1, 8, mxUINT8_CLASS, mxREAL);
    ASSERT_EQ(qelhost::bytesOf(uninit).size(), 8u);
    EXPECT_NE(qelhost::bytesOf(uninit)[0], 0);
}

TEST(HostArrays, QueriesOnNullAnswerAsForAnEmptyArray) {
    EXPECT_EQ(mxGetM_800(nullptr), 0u);
    EXPECT_EQ(mxGetN_800(nullptr), 0u);
    EXPECT_EQ(mxGetData_800(nullptr), nullptr);
    EXPECT_EQ(mxGetScalar_800(nullptr), 0.0);
    EXPECT_EQ(mxGetClassID_800(nullptr), mxUNKNOWN_CLASS);
    EXPECT_EQ(mxGetNumberOfFields_800(nullptr), 0);
    EXPECT_EQ(mxGetFieldByNumber_800(nullptr, 0, 0), nullptr);
    EXPECT_FALSE(mxIsNumeric_800(nullptr));
    EXPECT_EQ(mxGetInf_800(), std::numeric_limits<double>::infinity());
}

TEST(HostArrays, StructFieldsStoreAndFetchByNumber) {
    ArrayScope scope;
    mxArray* s = mxCreateStructMatrix_800(1, 2, 2, kTwoNames);
    mxArray* value = mxCreateDoubleScalar_800(7.0);
    mxSetFieldByNumber_800(s, 1, 1, value);
    EXPECT_EQ(mxGetFieldByNumber_800(s, 1, 1), value);
    EXPECT_EQ(mxGetFieldByNumber_800(s, 0, 1), nullptr);   // never set: empty
    EXPECT_EQ(mxGetFieldByNumber_800(s, 2, 0), nullptr);   // element out of range
    EXPECT_EQ(mxGetFieldByNumber_800(s, 0, 2), nullptr);   // field out of range
    EXPECT_EQ(mxGetNumberOfFields_800(s), 2);
    EXPECT_EQ(qelhost::fieldName(s, 1), "second");
    EXPECT_EQ(qelhost::fieldNumber(s, "second"), 1);
    EXPECT_EQ(qelhost::fieldNumber(s, "third"), -1);
    expectRaises([&] { mxSetFieldByNumber_800(s, 2, 0, value); }, "qelhost:mx:BadFieldReference");
    expectRaises([&] { mxSetFieldByNumber_800(s, 0, -1, value); }, "qelhost:mx:BadFieldReference");
    expectRaises([&] { mxSetFieldByNumber_800(value, 0, 0, value); }, "qelhost:mx:BadFieldReference");
}

TEST(HostArrays, AStructCannotHoldItselfOrItsAncestor) {
    ArrayScope scope;
    mxArray* outer = mxCreateStructMatrix_800(1, 1, 2, kTwoNames);
    mxArray* inner = mxCreateStructMatrix_800(1, 1, 2, kTwoNames);
    mxSetFieldByNumber_800(outer, 0, 0, inner);
    expectRaises([&] { mxSetFieldByNumber_800(outer, 0, 1, outer); }, "qelhost:mx:StructHoldsItself");
    expectRaises([&] { mxSetFieldByNumber_800(inner, 0, 0, outer); }, "qelhost:mx:StructHoldsItself");
}

TEST(HostArrays, UnsupportedClassAndOversizedArraysRaise) {
    ArrayScope scope;
    expectRaises([] { mxCreateNumericMatrix_800(1, 1, mxSTRUCT_CLASS, mxREAL); }, "qelhost:mx:UnsupportedClass");
    expectRaises([] { mxCreateNumericMatrix_800(1, 1, mxCELL_CLASS, mxREAL); }, "qelhost:mx:UnsupportedClass");
    const size_t huge = std::numeric_limits<size_t>::max() / 2;
    expectRaises([&] { mxCreateDoubleMatrix_800(huge, huge, mxREAL); }, "qelhost:mx:OutOfMemory");
    expectRaises([&] { mxCreateNumericMatrix_800(1, huge, mxDOUBLE_CLASS, mxREAL); }, "qelhost:mx:OutOfMemory");
    expectRaises([&] { mxCalloc_800(huge, 16); }, "qelhost:mx:OutOfMemory");
}

// -------------------------------------------------------------------------------------------
// Ownership

class HostArrayOwnership : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(qelhost::liveArrayCount(), arrays_);
        EXPECT_EQ(qelhost::liveBlockCount(), blocks_);
    }
    size_t arrays_ = qelhost::liveArrayCount();
    size_t blocks_ = qelhost::liveBlockCount();
};

TEST_F(HostArrayOwnership, EndingAScopeFreesEverythingItHolds) {
    {
        ArrayScope scope;
        mxArray* s = mxCreateStructMatrix_800(1, 1, 2, kTwoNames);
        mxSetFieldByNumber_800(s, 0, 0, mxCreateString_800("held by the struct"));
        mxCreateDoubleMatrix_800(3, 3, mxREAL);
        mxCalloc_800(10, 8);
        EXPECT_EQ(scope.numArrays(), 2u);   // the field belongs to the struct, not the scope
        EXPECT_EQ(scope.numBlocks(), 1u);
        EXPECT_EQ(qelhost::liveArrayCount(), arrays_ + 3);
    }
}

TEST_F(HostArrayOwnership, InnerScopeEndsWithoutTouchingTheOuterOne) {
    ArrayScope outer;
    mxArray* kept = mxCreateDoubleScalar_800(1.0);
    {
        ArrayScope inner;
        mxCreateDoubleScalar_800(2.0);
        EXPECT_EQ(inner.numArrays(), 1u);
    }
    EXPECT_EQ(outer.numArrays(), 1u);
    EXPECT_EQ(mxGetScalar_800(kept), 1.0);
}

TEST_F(HostArrayOwnership, UnwindingThroughAScopeFreesItsArrays) {
    try {
        ArrayScope scope;
        mxCreateDoubleMatrix_800(5, 5, mxREAL);
        mxCalloc_800(1, 100);
        throw MatlabError("Test:Unwind", {});
    } catch (const MatlabError&) {
    }
}

TEST_F(HostArrayOwnership, TakenArrayOutlivesItsScopeWithItsFields) {
    UniqueArray taken;
    {
        ArrayScope scope;
        mxArray* s = mxCreateStructMatrix_800(1, 1, 2, kTwoNames);
        mxSetFieldByNumber_800(s, 0, 1, mxCreateDoubleScalar_800(4.0));
        taken = qelhost::takeArray(s);
        EXPECT_EQ(scope.numArrays(), 0u);
    }
    EXPECT_EQ(mxGetScalar_800(mxGetFieldByNumber_800(taken.get(), 0, 1)), 4.0);
    EXPECT_EQ(qelhost::liveArrayCount(), arrays_ + 2);
}

TEST_F(HostArrayOwnership, ReplacedFieldValueStaysUsableUntilTheScopeEnds) {
    UniqueArray s = qelhost::takeArray(mxCreateStructMatrix_800(1, 1, 2, kTwoNames));
    {
        ArrayScope scope;
        mxArray* first = mxCreateDoubleScalar_800(1.0);
        mxSetFieldByNumber_800(s.get(), 0, 0, first);
        mxSetFieldByNumber_800(s.get(), 0, 0, mxCreateDoubleScalar_800(2.0));
        EXPECT_EQ(mxGetScalar_800(first), 1.0);   // back in the scope, not freed yet
        EXPECT_EQ(scope.numArrays(), 1u);
    }
    EXPECT_EQ(mxGetScalar_800(mxGetFieldByNumber_800(s.get(), 0, 0)), 2.0);
    EXPECT_EQ(qelhost::liveArrayCount(), arrays_ + 2);
}

TEST_F(HostArrayOwnership, MovingAFieldToAnotherStructEmptiesTheOldPlace) {
    ArrayScope scope;
    mxArray* a = mxCreateStructMatrix_800(1, 1, 2, kTwoNames);
    mxArray* b = mxCreateStructMatrix_800(1, 1, 2, kTwoNames);
    mxArray* value = mxCreateDoubleScalar_800(3.0);
    mxSetFieldByNumber_800(a, 0, 0, value);
    mxSetFieldByNumber_800(b, 0, 1, value);
    EXPECT_EQ(mxGetFieldByNumber_800(a, 0, 0), nullptr);
    EXPECT_EQ(mxGetFieldByNumber_800(b, 0, 1), value);
}

TEST_F(HostArrayOwnership, StoringACallerOwnedArrayStoresACopy) {
    const UniqueArray mine = qelhost::makeDoubleScalar(5.0);
    ArrayScope scope;
    mxArray* s = mxCreateStructMatrix_800(1, 1, 2, kTwoNames);
    mxSetFieldByNumber_800(s, 0, 0, mine.get());
    const mxArray* stored = mxGetFieldByNumber_800(s, 0, 0);
    EXPECT_NE(stored, mine.get());
    EXPECT_EQ(mxGetScalar_800(stored), 5.0);
}

TEST_F(HostArrayOwnership, DuplicateIsADeepIndependentCopy) {
    UniqueArray copy;
    {
        ArrayScope scope;
        mxArray* s = mxCreateStructMatrix_800(1, 1, 2, kTwoNames);
        mxArray* bytes = mxCreateNumericMatrix_800(1, 3, mxUINT8_CLASS, mxCOMPLEX);
        static_cast<uint8_t*>(mxGetData_800(bytes))[2] = 9;
        mxSetFieldByNumber_800(s, 0, 0, bytes);
        copy = qelhost::duplicateArray(s);
        static_cast<uint8_t*>(mxGetData_800(bytes))[2] = 1;
    }
    const mxArray* bytes = mxGetFieldByNumber_800(copy.get(), 0, 0);
    EXPECT_EQ(qelhost::bytesOf(bytes)[2], 9);
    EXPECT_TRUE(mxIsComplex_800(bytes));
    EXPECT_EQ(qelhost::fieldName(copy.get(), 0), "first");
}

TEST_F(HostArrayOwnership, CallocMemoryIsZeroedAlignedAndHostOwned) {
    ArrayScope scope;
    auto* bytes = static_cast<uint8_t*>(mxCalloc_800(3, 33));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(bytes) % alignof(std::max_align_t), 0u);
    for (int i = 0; i < 99; ++i) EXPECT_EQ(bytes[i], 0);
    EXPECT_NE(mxCalloc_800(0, 8), nullptr);
    EXPECT_EQ(scope.numBlocks(), 2u);
}

TEST_F(HostArrayOwnership, HostSideConstructorsBelongToTheCaller) {
    ArrayScope scope;
    const UniqueArray row = qelhost::makeDoubleMatrix(1, 3, std::vector<double>{1.0, 2.0, 3.0});
    const UniqueArray text = qelhost::makeString("Simulink");
    EXPECT_EQ(scope.numArrays(), 0u);
    EXPECT_EQ(mxGetPr_800(row.get())[2], 3.0);
    EXPECT_EQ(qelhost::stringOf(text.get()), "Simulink");
    EXPECT_TRUE(qelhost::isString(text.get()));
}

}  // namespace

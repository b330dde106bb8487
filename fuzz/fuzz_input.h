// Reads a fuzzer's bytes as the choices of one test case, and builds host arrays from them.
// Exhausted input reads as zeros, so every byte string is a valid case.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "frame/host_interface.h"

namespace qelfuzz {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
    size_t below(size_t bound) { return bound == 0 ? 0 : byte() % bound; }
    bool flag() { return (byte() & 1) != 0; }

    // Mostly values that sit on the edges of the checks, sometimes any bit pattern.
    double number() {
        static const double kEdges[] = {0.0,  -0.0, 0.5,  1.0,  3.0,  -1.0, 2.9, -1.5, 8480229.0, 4294967296.0,
                                        2147483647.0, 2147483648.0, -2147483649.0, 1e300,
                                        std::numeric_limits<double>::quiet_NaN(),
                                        std::numeric_limits<double>::infinity(),
                                        -std::numeric_limits<double>::infinity()};
        const uint8_t choice = byte();
        if (choice < 200) return kEdges[choice % (sizeof kEdges / sizeof kEdges[0])];
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits = bits << 8 | byte();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

// An array of any class and small shape, or null; structs nest up to `depth` levels. Everything
// is made through the host's array operations inside the caller's array scope.
inline mxArray* makeArray(FuzzInput& input, int depth) {
    static const char* const kFieldNames[] = {"f0", "f1", "f2", "f3", "f4", "f5", "f6", "f7"};
    static const mxClassID kNumericClasses[] = {mxDOUBLE_CLASS, mxSINGLE_CLASS, mxINT8_CLASS,  mxUINT8_CLASS,
                                                mxINT16_CLASS,  mxUINT16_CLASS, mxINT32_CLASS, mxUINT32_CLASS,
                                                mxINT64_CLASS,  mxUINT64_CLASS};
    switch (input.below(6)) {
        case 0:
            return nullptr;
        case 1: {
            const size_t rows = input.below(5);
            const size_t cols = input.below(5);
            mxArray* array = mxCreateDoubleMatrix_800(rows, cols, input.flag() ? mxCOMPLEX : mxREAL);
            double* values = mxGetPr_800(array);
            for (size_t i = 0; values != nullptr && i < rows * cols; ++i) values[i] = input.number();
            return array;
        }
        case 2: {
            const mxClassID classId = kNumericClasses[input.below(sizeof kNumericClasses / sizeof kNumericClasses[0])];
            const size_t rows = input.below(3);
            const size_t cols = input.below(48);
            mxArray* array = mxCreateNumericMatrix_800(rows, cols, classId, input.flag() ? mxCOMPLEX : mxREAL);
            auto* bytes = static_cast<uint8_t*>(mxGetData_800(array));
            for (size_t i = 0; bytes != nullptr && i < rows * cols; ++i) bytes[i] = input.byte();
            return array;
        }
        case 3: {
            char text[8] = {};
            for (size_t i = 0, n = input.below(sizeof text); i < n; ++i) text[i] = static_cast<char>('0' + input.below(75));
            return mxCreateString_800(text);
        }
        case 4: {
            if (depth <= 0) return mxCreateDoubleScalar_800(input.number());
            const size_t rows = input.below(3);
            const size_t cols = input.below(3);
            const int numFields = static_cast<int>(input.below(8));
            mxArray* array = mxCreateStructMatrix_800(rows, cols, numFields, const_cast<const char**>(kFieldNames));
            for (size_t element = 0; element < rows * cols; ++element)
                for (int f = 0; f < numFields; ++f)
                    if (mxArray* value = makeArray(input, depth - 1)) mxSetFieldByNumber_800(array, element, f, value);
            return array;
        }
        default:
            return mxCreateDoubleScalar_800(input.number());
    }
}

}  // namespace qelfuzz

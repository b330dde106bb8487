// The host array and MATLAB-call operations that a plug-in imports (the _800 functions of
// frame/host_interface.h), carried out by Octave's MEX API, so that an unchanged plug-in runs
// inside Octave. The plug-in reaches these by their unmangled C names only; the parameter types
// here are Octave's, which is why this file must never include the host interface: both declare
// mxArray, mxClassID and mxComplexity.
//
// Ownership follows Octave's rules: memory from mxCalloc_800 and every array the plug-in does
// not hand back to Octave are reclaimed by Octave when the entry call returns.
#include <cstddef>

#include <mex.h>

#include "octave/plugin_array_types.h"

using qeloctave::PluginClassId;
using qeloctave::PluginComplexity;

namespace {

// Octave numbers its classes in the same order today, but nothing promises that it stays so:
// translate by name, not by value.
mxClassID toOctaveClass(PluginClassId classId) {
    switch (classId) {
    case PluginClassId::kCell: return mxCELL_CLASS;
    case PluginClassId::kStruct: return mxSTRUCT_CLASS;
    case PluginClassId::kLogical: return mxLOGICAL_CLASS;
    case PluginClassId::kChar: return mxCHAR_CLASS;
    case PluginClassId::kVoid: return mxVOID_CLASS;
    case PluginClassId::kDouble: return mxDOUBLE_CLASS;
    case PluginClassId::kSingle: return mxSINGLE_CLASS;
    case PluginClassId::kInt8: return mxINT8_CLASS;
    case PluginClassId::kUint8: return mxUINT8_CLASS;
    case PluginClassId::kInt16: return mxINT16_CLASS;
    case PluginClassId::kUint16: return mxUINT16_CLASS;
    case PluginClassId::kInt32: return mxINT32_CLASS;
    case PluginClassId::kUint32: return mxUINT32_CLASS;
    case PluginClassId::kInt64: return mxINT64_CLASS;
    case PluginClassId::kUint64: return mxUINT64_CLASS;
    case PluginClassId::kFunction: return mxFUNCTION_CLASS;
    case PluginClassId::kUnknown: break;
    }
    return mxUNKNOWN_CLASS;
}

PluginClassId toPluginClass(mxClassID classId) {
    switch (classId) {
    case mxCELL_CLASS: return PluginClassId::kCell;
    case mxSTRUCT_CLASS: return PluginClassId::kStruct;
    case mxLOGICAL_CLASS: return PluginClassId::kLogical;
    case mxCHAR_CLASS: return PluginClassId::kChar;
    case mxVOID_CLASS: return PluginClassId::kVoid;
    case mxDOUBLE_CLASS: return PluginClassId::kDouble;
    case mxSINGLE_CLASS: return PluginClassId::kSingle;
    case mxINT8_CLASS: return PluginClassId::kInt8;
    case mxUINT8_CLASS: return PluginClassId::kUint8;
    case mxINT16_CLASS: return PluginClassId::kInt16;
    case mxUINT16_CLASS: return PluginClassId::kUint16;
    case mxINT32_CLASS: return PluginClassId::kInt32;
    case mxUINT32_CLASS: return PluginClassId::kUint32;
    case mxINT64_CLASS: return PluginClassId::kInt64;
    case mxUINT64_CLASS: return PluginClassId::kUint64;
    case mxFUNCTION_CLASS: return PluginClassId::kFunction;
    default: break;   // Octave's own extra classes have no plug-in counterpart
    }
    return PluginClassId::kUnknown;
}

mxComplexity toOctaveComplexity(PluginComplexity complexity) {
    return complexity == PluginComplexity::kComplex ? mxCOMPLEX : mxREAL;
}

mwSize toOctaveSize(size_t count) { return static_cast<mwSize>(count); }

}  // namespace

extern "C" {

// An "error" call does not return here: Octave unwinds through the plug-in's frames back to the
// interpreter, which raises the error at the plug-in's call site.
int mexCallMATLAB_800(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[], const char* name) {
    return mexCallMATLAB(nlhs, plhs, nrhs, prhs, name);
}

void* mxCalloc_800(size_t count, size_t elementSize) { return mxCalloc(count, elementSize); }

mxArray* mxCreateString_800(const char* text) { return mxCreateString(text); }

mxArray* mxCreateDoubleScalar_800(double value) { return mxCreateDoubleScalar(value); }

mxArray* mxCreateDoubleMatrix_800(size_t rows, size_t cols, PluginComplexity complexity) {
    return mxCreateDoubleMatrix(toOctaveSize(rows), toOctaveSize(cols), toOctaveComplexity(complexity));
}

mxArray* mxCreateStructMatrix_800(size_t rows, size_t cols, int fieldCount, const char** fieldNames) {
    return mxCreateStructMatrix(toOctaveSize(rows), toOctaveSize(cols), fieldCount, fieldNames);
}

mxArray* mxCreateNumericMatrix_800(size_t rows, size_t cols, PluginClassId classId, PluginComplexity complexity) {
    return mxCreateNumericMatrix(toOctaveSize(rows), toOctaveSize(cols), toOctaveClass(classId),
                                 toOctaveComplexity(complexity));
}

mxArray* mxCreateUninitNumericMatrix_800(size_t rows, size_t cols, PluginClassId classId,
                                         PluginComplexity complexity) {
    return mxCreateUninitNumericMatrix(toOctaveSize(rows), toOctaveSize(cols), toOctaveClass(classId),
                                       toOctaveComplexity(complexity));
}

void mxSetFieldByNumber_800(mxArray* structArray, size_t index, int field, mxArray* value) {
    mxSetFieldByNumber(structArray, static_cast<mwIndex>(index), field, value);
}

mxArray* mxGetFieldByNumber_800(const mxArray* structArray, size_t index, int field) {
    return mxGetFieldByNumber(structArray, static_cast<mwIndex>(index), field);
}

void* mxGetData_800(const mxArray* array) { return mxGetData(array); }

double* mxGetPr_800(const mxArray* array) { return mxGetPr(array); }

double mxGetScalar_800(const mxArray* array) { return mxGetScalar(array); }

size_t mxGetM_800(const mxArray* array) { return mxGetM(array); }

size_t mxGetN_800(const mxArray* array) { return mxGetN(array); }

bool mxIsComplex_800(const mxArray* array) { return mxIsComplex(array); }

bool mxIsNumeric_800(const mxArray* array) { return mxIsNumeric(array); }

double mxGetInf_800(void) { return mxGetInf(); }

PluginClassId mxGetClassID_800(const mxArray* array) { return toPluginClass(mxGetClassID(array)); }

int mxGetNumberOfFields_800(const mxArray* structArray) { return mxGetNumberOfFields(structArray); }

}  // extern "C"

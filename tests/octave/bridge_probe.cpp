// A MEX file that calls the bridge exactly as a plug-in does, through frame/host_interface.h, so
// that the Octave tests can reach the operations the sizes call never uses: class numbers,
// numeric and struct creation, field access, raw data. Input 0 selects the operation:
//
//   probe(1, x)                          -> class number of x as the plug-ins see it
//   [x, complex] = probe(2, rows, cols, class, complexity, uninitialised)
//                                        -> a numeric matrix made by the bridge, and whether it
//                                           was complex before Octave got it (Octave narrows an
//                                           all-zero complex value to a real one)
//   probe(3)                             -> a simulation-state struct shaped like a plug-in's
//   probe(4, s)                          -> [number of fields of s, of s.mdlrefDW, of its rtdw,
//                                            the doubles in s.localX, s.tNext, s.tNextTid]
//   probe(5, x)                          -> [rows, columns, complex, numeric, first value] of x
//   probe(6)                             -> [infinity, non-zero bytes of a 64-byte calloc]
//   probe(7)                             -> whether a complex 2x3 double matrix is complex
#include <cstring>

#include "frame/host_interface.h"

namespace {

constexpr double kLocalX[] = {1.5, -0.0, 3e-300};

mxArray* byteRow(const void* bytes, size_t count) {
    mxArray* row = mxCreateUninitNumericMatrix_800(1, count, mxUINT8_CLASS, mxREAL);
    std::memcpy(mxGetData_800(row), bytes, count);
    return row;
}

mxArray* simStateShape() {
    const char* stateFields[] = {"localX", "mdlrefDW", "disallowedStateData", "tNext", "tNextTid",
                                 "nonContDerivSigInfoPrevVal"};
    mxArray* state = mxCreateStructMatrix_800(1, 1, 6, stateFields);
    mxSetFieldByNumber_800(state, 0, 0, byteRow(kLocalX, sizeof(kLocalX)));
    const char* dworkFields[] = {"rtb", "rtdw", "NULL->rtzce"};
    mxArray* dwork = mxCreateStructMatrix_800(1, 1, 3, dworkFields);
    const unsigned char rtb[5] = {1, 2, 3, 4, 255};
    mxSetFieldByNumber_800(dwork, 0, 0, byteRow(rtb, sizeof(rtb)));
    const char* memberFields[] = {"mdlrefDW->rtdw.a1b2c3d4e5x_qelm", "mdlrefDW->rtdw.f6g7h8i9j0y_qelm"};
    mxArray* members = mxCreateStructMatrix_800(1, 1, 2, memberFields);
    const double integrator = -2.5;
    const unsigned char flag = 1;
    mxSetFieldByNumber_800(members, 0, 0, byteRow(&integrator, sizeof(integrator)));
    mxSetFieldByNumber_800(members, 0, 1, byteRow(&flag, sizeof(flag)));
    mxSetFieldByNumber_800(dwork, 0, 1, members);
    mxSetFieldByNumber_800(state, 0, 1, dwork);
    mxSetFieldByNumber_800(state, 0, 3, mxCreateDoubleScalar_800(0.25));
    mxSetFieldByNumber_800(state, 0, 4, mxCreateDoubleScalar_800(2.0));
    return state;
}

mxArray* readSimState(const mxArray* state) {
    const mxArray* localX = mxGetFieldByNumber_800(state, 0, 0);
    const mxArray* dwork = mxGetFieldByNumber_800(state, 0, 1);
    const mxArray* members = mxGetFieldByNumber_800(dwork, 0, 1);
    const size_t numDoubles = mxGetN_800(localX) / sizeof(double);
    mxArray* result = mxCreateDoubleMatrix_800(1, 5 + numDoubles, mxREAL);
    double* out = mxGetPr_800(result);
    out[0] = mxGetNumberOfFields_800(state);
    out[1] = mxGetNumberOfFields_800(dwork);
    out[2] = mxGetNumberOfFields_800(members);
    std::memcpy(out + 3, mxGetData_800(localX), numDoubles * sizeof(double));
    out[3 + numDoubles] = mxGetScalar_800(mxGetFieldByNumber_800(state, 0, 3));
    out[4 + numDoubles] = mxGetScalar_800(mxGetFieldByNumber_800(state, 0, 4));
    return result;
}

mxArray* describe(const mxArray* array) {
    mxArray* result = mxCreateDoubleMatrix_800(1, 5, mxREAL);
    double* out = mxGetPr_800(result);
    out[0] = static_cast<double>(mxGetM_800(array));
    out[1] = static_cast<double>(mxGetN_800(array));
    out[2] = mxIsComplex_800(array) ? 1 : 0;
    out[3] = mxIsNumeric_800(array) ? 1 : 0;
    // Octave hands out a data pointer even for an empty array: only a non-empty double is read.
    const bool readable = mxGetClassID_800(array) == mxDOUBLE_CLASS && mxGetM_800(array) * mxGetN_800(array) > 0;
    out[4] = readable ? mxGetPr_800(array)[0] : -1;
    return result;
}

mxArray* constants() {
    constexpr size_t kBytes = 64;
    const auto* zeroed = static_cast<const unsigned char*>(mxCalloc_800(kBytes, 1));
    double nonZero = 0;
    for (size_t i = 0; i < kBytes; ++i) nonZero += zeroed[i] != 0 ? 1 : 0;
    mxArray* result = mxCreateDoubleMatrix_800(1, 2, mxREAL);
    mxGetPr_800(result)[0] = mxGetInf_800();
    mxGetPr_800(result)[1] = nonZero;
    return result;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void mexFunction(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[]) {
    if (nrhs < 1) return;
    switch (static_cast<int>(mxGetScalar_800(prhs[0]))) {
    case 1:
        plhs[0] = mxCreateDoubleScalar_800(static_cast<double>(mxGetClassID_800(prhs[1])));
        break;
    case 2:
        if (mxGetScalar_800(prhs[5]) != 0) {
            plhs[0] = mxCreateUninitNumericMatrix_800(
                static_cast<size_t>(mxGetScalar_800(prhs[1])), static_cast<size_t>(mxGetScalar_800(prhs[2])),
                static_cast<mxClassID>(mxGetScalar_800(prhs[3])), static_cast<mxComplexity>(mxGetScalar_800(prhs[4])));
        } else {
            plhs[0] = mxCreateNumericMatrix_800(
                static_cast<size_t>(mxGetScalar_800(prhs[1])), static_cast<size_t>(mxGetScalar_800(prhs[2])),
                static_cast<mxClassID>(mxGetScalar_800(prhs[3])), static_cast<mxComplexity>(mxGetScalar_800(prhs[4])));
        }
        if (nlhs > 1) plhs[1] = mxCreateDoubleScalar_800(mxIsComplex_800(plhs[0]) ? 1 : 0);
        break;
    case 3: plhs[0] = simStateShape(); break;
    case 4: plhs[0] = readSimState(prhs[1]); break;
    case 5: plhs[0] = describe(prhs[1]); break;
    case 6: plhs[0] = constants(); break;
    case 7:
        plhs[0] = mxCreateDoubleScalar_800(mxIsComplex_800(mxCreateDoubleMatrix_800(2, 3, mxCOMPLEX)) ? 1 : 0);
        break;
    default: break;
    }
}

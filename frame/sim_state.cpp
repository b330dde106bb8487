#include "frame/sim_state.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "frame/host_services.h"
#include "frame/identifiers.h"

namespace qelframe {

namespace {

const char* const kStateFieldNames[] = {"localX",   "mdlrefDW",         "disallowedStateData",
                                        "tNext",    "tNextTid",         "nonContDerivSigInfoPrevVal"};
const char* const kDWorkFieldNames[] = {"rtb", "rtdw", "NULL->rtzce"};
constexpr int kNumStateFields = 6;
constexpr int kNumDWorkFields = 3;

enum StateField { kLocalX = 0, kMdlrefDW = 1, kDisallowed = 2, kTNext = 3, kTNextTid = 4 };
enum DWorkField { kRtb = 0, kRtdw = 1 };

size_t continuousStateBytes(const BlockTable& table) {
    return static_cast<size_t>(table.numContStates) * sizeof(double);
}

const char* classNameOf(mxClassID id) {
    static const char* const kNames[] = {"unknown", "cell",  "struct", "logical", "char",   "void",
                                         "double",  "single", "int8",  "uint8",   "int16",  "uint16",
                                         "int32",   "uint32", "int64", "uint64",  "function"};
    const int index = static_cast<int>(id);
    return index >= 0 && index < static_cast<int>(sizeof kNames / sizeof kNames[0]) ? kNames[index] : "unknown";
}

// The first thing wrong with a state, described for the diagnostic.
struct Mismatch {
    char field[128] = {};
    char problem[128] = {};
};

class SimStateChecker {
public:
    explicit SimStateChecker(const BlockTable& table) : table_(table) {}

    bool check(const mxArray* state) {
        if (!checkStruct(state, "simulation state", kNumStateFields)) return false;
        if (table_.numContStates > 0 &&
            !checkBytes(field(state, kLocalX), continuousStateBytes(table_), kStateFieldNames[kLocalX]))
            return false;

        const mxArray* dwork = field(state, kMdlrefDW);
        if (!checkStruct(dwork, "mdlrefDW", kNumDWorkFields)) return false;
        if (!checkBytes(field(dwork, kRtb), table_.rtbBytes, "mdlrefDW.rtb")) return false;
        const mxArray* rtdw = field(dwork, kRtdw);
        if (!checkStruct(rtdw, "mdlrefDW.rtdw", static_cast<int>(table_.rtdwMembers.size()))) return false;
        for (size_t m = 0; m < table_.rtdwMembers.size(); ++m) {
            char name[160];
            std::snprintf(name, sizeof name, "mdlrefDW.rtdw.%s", table_.identifiers->rtdwFieldName(m));
            if (!checkBytes(field(rtdw, static_cast<int>(m)), table_.rtdwMembers[m].bytes, name)) return false;
        }

        if (!checkScalar(field(state, kTNext), kStateFieldNames[kTNext])) return false;
        const mxArray* tNextTid = field(state, kTNextTid);
        if (!checkScalar(tNextTid, kStateFieldNames[kTNextTid])) return false;
        const double tid = mxGetScalar_800(tNextTid);
        // Truncated toward zero it must fit a 32-bit task id; NaN fails both comparisons.
        if (!(tid > -2147483649.0 && tid < 2147483648.0))
            return fail(kStateFieldNames[kTNextTid], "holds %.17g, not a 32-bit task id", tid);
        return true;
    }

    const Mismatch& mismatch() const { return mismatch_; }

private:
    static const mxArray* field(const mxArray* structArray, int number) {
        return mxGetFieldByNumber_800(structArray, 0, number);
    }

    bool fail(const char* field, const char* format, ...) __attribute__((format(printf, 3, 4))) {
        std::snprintf(mismatch_.field, sizeof mismatch_.field, "%s", field);
        va_list arguments;
        va_start(arguments, format);
        std::vsnprintf(mismatch_.problem, sizeof mismatch_.problem, format, arguments);
        va_end(arguments);
        return false;
    }

    bool checkStruct(const mxArray* array, const char* name, int numFields) {
        if (array == nullptr) return fail(name, "is missing");
        if (mxGetClassID_800(array) != mxSTRUCT_CLASS)
            return fail(name, "is of class %s, expected a struct", classNameOf(mxGetClassID_800(array)));
        if (mxGetM_800(array) != 1 || mxGetN_800(array) != 1)
            return fail(name, "is %zux%zu, expected 1x1", mxGetM_800(array), mxGetN_800(array));
        if (mxGetNumberOfFields_800(array) != numFields)
            return fail(name, "has %d fields, expected %d", mxGetNumberOfFields_800(array), numFields);
        return true;
    }

    bool checkBytes(const mxArray* array, size_t bytes, const char* name) {
        if (array == nullptr) return fail(name, "is missing");
        if (mxGetClassID_800(array) != mxUINT8_CLASS || mxIsComplex_800(array))
            return fail(name, "is of class %s%s, expected real uint8", classNameOf(mxGetClassID_800(array)),
                        mxIsComplex_800(array) ? " (complex)" : "");
        const size_t count = mxGetM_800(array) * mxGetN_800(array);
        if (count != bytes) return fail(name, "holds %zu bytes, expected %zu", count, bytes);
        if (bytes > 0 && mxGetData_800(array) == nullptr) return fail(name, "has no data");
        return true;
    }

    bool checkScalar(const mxArray* array, const char* name) {
        if (array == nullptr) return fail(name, "is missing");
        if (mxGetClassID_800(array) != mxDOUBLE_CLASS || mxIsComplex_800(array))
            return fail(name, "is of class %s%s, expected a real double", classNameOf(mxGetClassID_800(array)),
                        mxIsComplex_800(array) ? " (complex)" : "");
        if (mxGetM_800(array) != 1 || mxGetN_800(array) != 1)
            return fail(name, "is %zux%zu, expected a scalar", mxGetM_800(array), mxGetN_800(array));
        return true;
    }

    const BlockTable& table_;
    Mismatch mismatch_;
};

}  // namespace

void cacheDataAsMxArray(mxArray* structArray, size_t element, int field, const void* source, size_t bytes) {
    mxArray* row = mxCreateUninitNumericMatrix_800(1, bytes, mxUINT8_CLASS, mxREAL);
    void* data = mxGetData_800(row);
    if (data != nullptr && bytes > 0) std::memcpy(data, source, bytes);
    mxSetFieldByNumber_800(structArray, element, field, row);
}

void restoreDataFromMxArray(void* destination, const mxArray* structArray, size_t element, int field, size_t bytes) {
    const mxArray* row = mxGetFieldByNumber_800(structArray, element, field);
    std::memcpy(destination, mxGetData_800(row), bytes);
}

mxArray* getDWork(const BlockTable& table, const void* workRecord) {
    const auto* base = static_cast<const unsigned char*>(workRecord);
    mxArray* dwork = mxCreateStructMatrix_800(1, 1, kNumDWorkFields, const_cast<const char**>(kDWorkFieldNames));
    cacheDataAsMxArray(dwork, 0, kRtb, base + table.rtbOffset, table.rtbBytes);

    const char* memberNames[kMaxRtdwMembers] = {};
    const size_t numMembers = table.rtdwMembers.size();
    for (size_t m = 0; m < numMembers; ++m) memberNames[m] = table.identifiers->rtdwFieldName(m);
    mxArray* rtdw = mxCreateStructMatrix_800(1, 1, static_cast<int>(numMembers), memberNames);
    for (size_t m = 0; m < numMembers; ++m) {
        const RtdwMember& member = table.rtdwMembers[m];
        cacheDataAsMxArray(rtdw, 0, static_cast<int>(m), base + member.offset, member.bytes);
    }
    mxSetFieldByNumber_800(dwork, 0, kRtdw, rtdw);
    return dwork;
}

void setDWork(const BlockTable& table, void* workRecord, const mxArray* dwork) {
    auto* base = static_cast<unsigned char*>(workRecord);
    restoreDataFromMxArray(base + table.rtbOffset, dwork, 0, kRtb, table.rtbBytes);
    const mxArray* rtdw = mxGetFieldByNumber_800(dwork, 0, kRtdw);
    for (size_t m = 0; m < table.rtdwMembers.size(); ++m)
        restoreDataFromMxArray(base + table.rtdwMembers[m].offset, rtdw, 0, static_cast<int>(m),
                               table.rtdwMembers[m].bytes);
}

mxArray* getSimStateDisallowedBlocks() { return nullptr; }

mxArray* mdlGetSimState(const BlockTable& table, SimStruct* block) {
    mxArray* state = mxCreateStructMatrix_800(1, 1, kNumStateFields, const_cast<const char**>(kStateFieldNames));
    if (table.numContStates > 0 && block->contStates != nullptr) {
        const size_t bytes = continuousStateBytes(table);
        mxArray* localX = mxCreateNumericMatrix_800(1, bytes, mxUINT8_CLASS, mxREAL);
        void* data = mxGetData_800(localX);
        if (data != nullptr) std::memcpy(data, block->contStates, bytes);
        mxSetFieldByNumber_800(state, 0, kLocalX, localX);
    }
    if (const void* workRecord = workRecordOf(block))
        mxSetFieldByNumber_800(state, 0, kMdlrefDW, getDWork(table, workRecord));
    // Null: the field stays empty.
    if (mxArray* disallowed = getSimStateDisallowedBlocks()) mxSetFieldByNumber_800(state, 0, kDisallowed, disallowed);
    mxSetFieldByNumber_800(state, 0, kTNext, mxCreateDoubleScalar_800(block->tNext));
    mxSetFieldByNumber_800(state, 0, kTNextTid, mxCreateDoubleScalar_800(static_cast<double>(block->tNextTid)));
    return state;
}

void mdlSetSimState(const BlockTable& table, SimStruct* block, const mxArray* state) {
    void* workRecord = workRecordOf(block);
    SimStateChecker checker(table);
    if (workRecord == nullptr || (table.numContStates > 0 && block->contStates == nullptr)) {
        setFormattedDiagnostic(block, kInvalidSimStateFormat, table.pluginName, "block",
                               "has no run-time memory to restore into");
        return;
    }
    if (!checker.check(state)) {
        setFormattedDiagnostic(block, kInvalidSimStateFormat, table.pluginName, checker.mismatch().field,
                               checker.mismatch().problem);
        return;
    }

    if (table.numContStates > 0)
        std::memcpy(block->contStates, mxGetData_800(mxGetFieldByNumber_800(state, 0, kLocalX)),
                    continuousStateBytes(table));
    setDWork(table, workRecord, mxGetFieldByNumber_800(state, 0, kMdlrefDW));
    block->tNext = mxGetScalar_800(mxGetFieldByNumber_800(state, 0, kTNext));
    block->tNextTid = static_cast<int>(mxGetScalar_800(mxGetFieldByNumber_800(state, 0, kTNextTid)));
}

void registerSimStateChecksum(const BlockTable& table, SimStruct* block) {
    slmrModelRefRegisterSimStateChecksum(block, table.modelName, table.simStateChecksum);
}

bool registerIdentifierList(const BlockTable& table, SimStruct* block) {
    dispatch(block, kHostCodeIdentifierQuery, 0, nullptr);   // the answer is not used
    IdentifierListRecord record = {table.modelName, table.identifiers->entries(), table.identifiers->count()};
    return dispatch(block, kHostCodeIdentifiers, 0, &record) != 0;
}

}  // namespace qelframe

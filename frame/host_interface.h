// What a plug-in sees of its host: the block structure the host owns, and the operations the
// plug-in imports from the host's libraries (arrays and MATLAB calls, registration, plugin events,
// fixed point). Declarations only: the host implements them, so any layer may include this file.
//
// Ownership: the host allocates and frees the block structure, its port records, sample-time
// tables, work vectors, error buffer and every array. A plug-in keeps no pointer to host memory
// beyond the method call that handed it over.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// ---------------------------------------------------------------------------------------------
// Host arrays (libmx) and MATLAB calls (libmex)

typedef struct mxArray_tag mxArray;   // opaque; only the host knows its layout

typedef enum {
    mxUNKNOWN_CLASS = 0, mxCELL_CLASS, mxSTRUCT_CLASS, mxLOGICAL_CLASS, mxCHAR_CLASS,
    mxVOID_CLASS, mxDOUBLE_CLASS, mxSINGLE_CLASS, mxINT8_CLASS, mxUINT8_CLASS, mxINT16_CLASS,
    mxUINT16_CLASS, mxINT32_CLASS, mxUINT32_CLASS, mxINT64_CLASS, mxUINT64_CLASS,
    mxFUNCTION_CLASS
} mxClassID;

typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

// "message" builds a message object from an identifier and its arguments; "error" raises one
// and never returns: control goes back to whoever called the plug-in's entry.
int mexCallMATLAB_800(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[], const char* name);

void* mxCalloc_800(size_t count, size_t elementSize);   // zeroed; the host frees it
mxArray* mxCreateString_800(const char* text);
mxArray* mxCreateDoubleScalar_800(double value);
mxArray* mxCreateDoubleMatrix_800(size_t rows, size_t cols, mxComplexity complexity);
mxArray* mxCreateStructMatrix_800(size_t rows, size_t cols, int fieldCount, const char** fieldNames);
mxArray* mxCreateNumericMatrix_800(size_t rows, size_t cols, mxClassID classId, mxComplexity complexity);
mxArray* mxCreateUninitNumericMatrix_800(size_t rows, size_t cols, mxClassID classId, mxComplexity complexity);
void mxSetFieldByNumber_800(mxArray* structArray, size_t index, int field, mxArray* value);
mxArray* mxGetFieldByNumber_800(const mxArray* structArray, size_t index, int field);
void* mxGetData_800(const mxArray* array);
double* mxGetPr_800(const mxArray* array);
double mxGetScalar_800(const mxArray* array);
size_t mxGetM_800(const mxArray* array);
size_t mxGetN_800(const mxArray* array);
bool mxIsComplex_800(const mxArray* array);
bool mxIsNumeric_800(const mxArray* array);
double mxGetInf_800(void);
// Used to check a simulation state before restoring it.
mxClassID mxGetClassID_800(const mxArray* array);
int mxGetNumberOfFields_800(const mxArray* structArray);

// ---------------------------------------------------------------------------------------------
// The block structure

typedef struct SimStruct_tag SimStruct;

// The generic dispatcher: non-zero on success. Codes the plug-ins use are listed in HostCode.
typedef int (*ssDispatcherFn)(SimStruct* block, int code, int intArg, void* ptrArg);

enum HostCode {
    kHostCodeArgument = 51,          // int k, const double** -> data of model argument k
    kHostCodeModelMap = 64,          // 0, ModelMapInfo* of the instance
    kHostCodeIdentifiers = 72,       // 0, IdentifierListRecord*
    kHostCodeWorkNamesA = 73,        // 0, const char** (one empty name)
    kHostCodeWorkNamesB = 74,        // 0, const char** (one empty name)
    kHostCodeContext = 95,           // 0, void** context pointer
    kHostCodeContextTid = 96,        // 0, int* context task id
    kHostCodeInputPortSetup = 106,   // port, int*
    kHostCodeOutputPortSetup = 107,  // port, int*
    kHostCodeWorkRecordType = 132,   // 0, int* type id (-10 = refused)
    kHostCodeOutputReuse = 141,      // port, uint8_t*
    kHostCodeOutputOptim = 142,      // port, uint8_t[3]
    kHostCodeWorkWidths = 148,       // 1, null
    kHostCodeSimState = 152,         // 0, mxArray* the state just taken
    kHostCodeSimStateCheck = 197,    // 0, uint8_t* (1)
    kHostCodeSimStateCheck2 = 207,   // 0, uint8_t* (0)
    kHostCodeBlockSetup = 229,       // 0, null
    kHostCodeIdentifierQuery = 239,  // 0, null (answer unused)
    kHostCodeEntryExtension = 280,   // 1, null
    kHostCodeVersion = 299,          // 0, const char* "10.0"
    kHostCodeRegistration = 302,     // byte, null
    kHostCodeSampleTimes = 323,      // 1, null
    kHostCodeUnits = 327,            // 0, UnitRegistration*  (result -10 = refused)
    kHostCodeSizesStart = 362,       // -1, null  (0 = declare nothing)
};

// Answer of a refused host request (type id, unit).
constexpr int kHostRefused = -10;

struct UnitRegistration {
    const char* expression;   // the unit expression ("" = none)
    int result;               // the host's unit identifier, or kHostRefused
};

struct IdentifierEntry {      // 32 bytes
    const char* text;
    int32_t kind;
    int32_t zero;
    int32_t value;            // -1; 0 in the model-name entry
    int32_t padding;
    const char* owner;        // owning model's name; null for the model name and header file
};
static_assert(sizeof(IdentifierEntry) == 32);

struct IdentifierListRecord {
    const char* modelName;
    const IdentifierEntry* entries;
    int32_t count;
};

// Elements of the 40-integer sizes record.
enum SizesIndex {
    kSizeNumContStates = 0,
    kSizeNumDiscStates = 1,
    kSizeNumOutputPorts = 2,
    kSizeNumInputPorts = 3,
    kSizeNumSampleTimes = 6,
    kSizeNumSFcnParams = 7,
    kSizeNumIWork = 8,
    kSizeNumRWork = 9,
    kSizeNumPWork = 10,
    kSizeChecksum0 = 15,      // 15..18: checksum words, unsigned
    kSizeVersion = 19,
    kSizeNumDWork = 20,
    kSizeNumModes = 22,
    kSizeOptions = 23,        // unsigned
    kSizeFlags = 24,          // SizesFlag bits
    kSizeRegistrationLevel = 30,
    kSizeCount = 40,
};

enum SizesFlag : int32_t {
    kSizesFlagDimensionMethods = 0x1,   // port widths arrive through the dimension-info slots
};

constexpr int32_t kHostCallMarker = 8480229;   // version field; 8480229.0 in a host sizes call

struct DimensionsInfo {
    int width;
    int numDims;
    const int* dims;
};

enum PortFlag : uint32_t {
    kPortFlagOutputA = 0x1,     // cleared on every output during registration
    kPortFlagOutputB = 0x2,     // cleared on every output during registration
    kPortFlagInput = 0x4,       // set on every input during registration
};

struct InputPortRecord {
    int width;
    int dataTypeId;
    int unitId;
    int complexSignal;
    uint8_t directFeedThrough;
    uint8_t contiguous;
    uint8_t optimOpts;          // 1 = reusable (width 3), 3 = not (width 1)
    uint8_t overwritable;
    uint8_t frameData;
    uint32_t flags;             // PortFlag
    double sampleTime;
    double offsetTime;
    const double* data;         // valid during the method call only
};

struct OutputPortRecord {
    int width;
    int dataTypeId;
    int unitId;
    int complexSignal;
    uint8_t optimOpts;
    uint8_t reuseSetting;       // the two-bit setting made after kHostCodeOutputReuse
    uint8_t frameData;
    uint32_t flags;             // PortFlag
    double sampleTime;
    double offsetTime;
    double* data;               // valid during the method call only
};

struct DWorkRecord {
    int width;
    int dataTypeId;
    void* array;                // host-allocated, sized by the host's type-size registry
};

typedef void (*ssMethod)(SimStruct* block);
typedef void (*ssTidMethod)(SimStruct* block, int tid);
typedef void (*ssIntMethod)(SimStruct* block, int value);
typedef void (*ssPortIntMethod)(SimStruct* block, int port, int value);
typedef void (*ssPortDimsMethod)(SimStruct* block, int port, const DimensionsInfo* dims);
typedef void (*ssPortTimeMethod)(SimStruct* block, int port, double sampleTime, double offset);
typedef void (*ssPortMethod)(SimStruct* block, int port);

struct MethodSlots {
    ssMethod initializeSizes;
    ssMethod initializeSampleTimes;
    ssMethod setWorkWidths;
    ssMethod setupRuntimeResources;
    ssMethod cleanupRuntimeResources;
    ssMethod start;
    ssMethod getTimeOfNextVarHit;
    ssTidMethod outputs;
    ssTidMethod update;
    ssMethod derivatives;
    ssMethod zeroCrossings;
    ssMethod terminate;
    ssMethod checkParameters;
    ssPortIntMethod setInputPortDataType;
    ssPortIntMethod setOutputPortDataType;
    ssPortIntMethod setInputPortWidth;
    ssPortIntMethod setOutputPortWidth;
    ssPortDimsMethod setInputPortDimensionInfo;
    ssPortDimsMethod setOutputPortDimensionInfo;
    ssPortDimsMethod setInputPortSymbolicDimensions;
    ssPortDimsMethod setOutputPortSymbolicDimensions;
    ssPortIntMethod setInputPortComplexSignal;
    ssPortIntMethod setOutputPortComplexSignal;
    ssPortTimeMethod setInputPortSampleTime;
    ssPortTimeMethod setOutputPortSampleTime;
    ssPortIntMethod setInputPortFrameData;
    ssMethod setDefaultPortDimensionInfo;
    ssMethod setDefaultPortDataTypes;
    ssMethod setDefaultPortComplexSignals;
    ssPortMethod initializePropagationPass;
    // Registered during sizes through slmrRegister*Method.
    ssMethod systemInitialize;
    ssMethod systemReset;
    ssIntMethod periodicOutputUpdate;
};

// The arguments of the run-time call in progress (method flags of the entry point).
struct CurrentArguments {
    int tid;                    // -2 for the constant-rate output call
    int port;
    int dataTypeId;
    int width;
    int complexSignal;
    int frameSetting;
    double sampleTime;
    double offsetTime;
    const DimensionsInfo* dims;
};

struct ModelInfo {
    int simMode;                // 1 = sizes only
    int majorTimeStep;          // 1 in a major time step
    int* sampleHits;            // one flag per task of the top model
    int numTasks;
    char* errorBuffer;          // 1024 bytes, zeroed
    uint8_t errorReported;      // cleared whenever a new error status is set
    mxArray* simState;          // where the entry leaves a state taken, and finds one to restore
    double time;
};

constexpr int kErrorBufferBytes = 1024;

enum BlockFlag : uint32_t {
    kBlockFlagPortCountsSet = 0x1,
    kBlockFlagContinuousBookkeeping = 0x2,   // set by the motor plants at the end of sizes
};

typedef int (*ssPortCountRegistrar)(SimStruct* block, int count);
typedef int (*ssPortDimsRegistrar)(SimStruct* block, int port, const DimensionsInfo* dims);
typedef int (*ssCountRegistrar)(SimStruct* block, int count);
typedef int (*ssTypeSizeRegistrar)(SimStruct* block, int typeId, int bytes);

struct SimStruct_tag {
    const char* modelName;
    const char* path;
    SimStruct* parent;          // null for a top model
    SimStruct* root;            // the top model's structure; itself for a top model
    const char* errorStatus;    // read by the host after every run-time call
    int32_t sizes[kSizeCount];
    uint32_t blockFlags;        // BlockFlag
    int32_t numPeriodicContStates;
    int32_t blockSettingA;      // 2 after registration
    int32_t blockSettingB;      // 2 after registration
    int32_t blockSettingC;      // 1 after registration
    int32_t simStateCompliance; // 3 = the block handles its own simulation state

    InputPortRecord* inputs;
    OutputPortRecord* outputs;
    double* sampleTimes;        // periods, one per sample time
    double* offsetTimes;
    int* sampleTimeTaskIds;     // task index of each sample time
    DWorkRecord* dwork;         // sizes[kSizeNumDWork] records

    double* contStates;
    double* dX;
    double tNext;               // next hit time the host keeps for the block
    int tNextTid;

    int numSFcnParamsGiven;     // command-line sizes call: inputs 4 onward
    const mxArray* const* sfcnParams;

    MethodSlots methods;
    CurrentArguments args;
    ModelInfo* mdlInfo;

    ssDispatcherFn dispatcher;  // null when the host has none
    void* extension;            // the host's optional extension record
    ssPortCountRegistrar registerNumInputPorts;
    ssPortCountRegistrar registerNumOutputPorts;
    ssPortDimsRegistrar registerInputPortDimensions;   // null: widths are not recorded
    ssPortDimsRegistrar registerOutputPortDimensions;
    ssCountRegistrar registerNumDWork;                  // the work-vector counter
    ssTypeSizeRegistrar registerDataTypeSize;

    void* hostPrivate;          // the host's own bookkeeping; plug-ins never touch it
};

// ---------------------------------------------------------------------------------------------
// Registration and run-time services (simulation target core, instrumentation, fixed point)

void slmrInitializeIOPortDataVectors(SimStruct* block, int numInputs, int numOutputs);
void slmrRegisterSystemInitializeMethod(SimStruct* block, ssMethod method);
void slmrRegisterSystemResetMethod(SimStruct* block, ssMethod method);
void slmrRegisterPeriodicOutputUpdateMethod(SimStruct* block, ssIntMethod method);
int slmrGetTopTidFromMdlRefChildTid(SimStruct* block, int childTid, int constantRate);
void slmrModelRefRegisterSimStateChecksum(SimStruct* block, const char* modelName, const uint32_t* checksum);
int slmrRunPluginEvent(SimStruct* block, const char* modelName, const char* eventName);
void ssFxpSetU32BitRegionCompliant(SimStruct* block, int value);

// ---------------------------------------------------------------------------------------------
// The plug-in's two exports, as the host looks them up

// The entry. nlhs >= 0: sizes call (prhs[1] may carry the block structure's address, prhs[3] is
// the flag 0); nlhs < 0: run-time call, plhs[1] is the SimStruct* and prhs[3] the method flag.
typedef void (*mexFunctionFn)(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
// Writes the release the plug-in was built with and the interface version it targets.
typedef void (*mexApiVersionFn)(uint32_t* release, uint32_t* apiVersion);

}  // extern "C"

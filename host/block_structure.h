// The stand-in host's block structures: a SimStruct together with the memory the host owns for
// it (model info, port records and buffers, sample-time and task tables, state vectors, work
// vectors, model arguments) and the host's own bookkeeping (dispatcher answers and log, the
// registrations a plug-in made, child-to-top task mapping, plugin events).
//
// A top model's structure is its own root and owns the ModelInfo (major-step flag, sample-hit
// flags, error buffer, simulation-state place) and the error status; a child block's mdlInfo
// points at its root's. Every pointer handed to a plug-in stays valid until the structure is
// destroyed or the same table is allocated again.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "frame/host_interface.h"

struct ModelMapInfo;   // the block's signal and state map; the host only keeps the pointer

namespace qelhost {

struct PluginEvent {
    const SimStruct* block;
    std::string modelName;
    std::string eventName;
};

// Every plugin event of the process, in order.
std::vector<PluginEvent>& pluginEvents();

// Which optional pieces the host offers a block, and how its dispatcher answers. Tests switch
// pieces off or make the host refuse; the defaults are a host that accepts everything.
struct HostOptions {
    bool dispatcher = true;
    bool extensionRecord = true;
    bool workVectorCounter = true;        // registerNumDWork
    bool typeSizeRegistrar = true;        // registerDataTypeSize
    bool dimensionRegistrars = true;      // register{Input,Output}PortDimensions
    int sizesStartAnswer = 1;             // code 362; 0 makes the block declare nothing
    bool refuseWorkRecordType = false;    // code 132 answers kHostRefused
    bool refuseUnits = false;             // code 327 answers kHostRefused
    void* context = nullptr;              // code 95
    int contextTid = 0;                   // code 96
    bool refuseIdentifierList = false;    // code 72 answers 0
    bool logRunPath = false;              // also log code 51, which comes at every output call
    // Answers that replace the dispatcher's own for the given codes (code, answer).
    std::vector<std::pair<int, int>> answers;
};

// One call of the generic dispatcher.
struct DispatcherCall {
    int code;
    int intArg;
    bool pointerGiven;
    int64_t value;       // the integer or first byte the pointer held on entry (106, 107, 141, 142,
                         // 197, 207, 96), the argument index (51), the entry count (72)
    std::string text;    // the text it held (73, 74, 299, the unit expression of 327, the model
                         // name of 72)
    int answer;          // what the dispatcher returned
};

// A registration service or registrar called by the plug-in.
struct RegistrationCall {
    std::string operation;          // e.g. "slmrRegisterSystemResetMethod", "registerNumDWork"
    std::vector<int64_t> values;    // its integer arguments in order (checksum words included)
    std::string text;               // its text argument (a model name), if any
    int result;                     // what it answered; 1 for services without a result
};

struct IdentifierRecord {
    std::string text;
    int32_t kind;
    int32_t zero;
    int32_t value;
    std::optional<std::string> owner;   // absent when the entry's owner pointer is null
};

// A copy of the identifier list handed over with code 72.
struct IdentifierList {
    std::string modelName;
    std::vector<IdentifierRecord> entries;
    int32_t count;
};

class BlockStructure {
public:
    // A top model's structure when `parent` is null; otherwise a child block whose root is the
    // parent's root.
    explicit BlockStructure(std::string modelName, BlockStructure* parent = nullptr, HostOptions options = {});
    ~BlockStructure();
    BlockStructure(const BlockStructure&) = delete;
    BlockStructure& operator=(const BlockStructure&) = delete;

    SimStruct* get() { return &block_; }
    const SimStruct* get() const { return &block_; }
    static BlockStructure* ownerOf(const SimStruct* block) { return static_cast<BlockStructure*>(block->hostPrivate); }

    HostOptions& options() { return options_; }
    // Installs or removes the optional pieces after a change of options(); the answers are
    // read at every call anyway.
    void applyOptions();
    void setPath(std::string path);
    // The model info of the root, shared by every block of the model.
    ModelInfo& modelInfo() { return *block_.mdlInfo; }

    // Sample times with the task index of each; sets the sizes record's count.
    void setSampleTimes(const std::vector<double>& periods, const std::vector<int>& taskIds);
    // Zeroed sample-time tables for the count the block registered; task ids start at -1.
    void allocateSampleTimes();
    // Number of tasks of a top model; every sample-hit flag starts cleared.
    void setNumTasks(int numTasks);
    void setMajorTimeStep(bool major) { info_.majorTimeStep = major ? 1 : 0; }
    void setSampleHit(int task, bool hit) { hits_.at(static_cast<size_t>(task)) = hit ? 1 : 0; }
    // What slmrGetTopTidFromMdlRefChildTid answers: top task id of each child rate, and the one
    // asked for with the constant-rate flag.
    void setChildToTopTids(const std::vector<int>& topTids, int constantTopTid);
    int topTidOf(int childTid, bool constantRate) const;

    // Run-time memory, sized after the registration: zeroed buffers for every port (inputs
    // point at them until connected elsewhere), the continuous-state and derivative vectors,
    // and each work vector's bytes from its width and type size. Throws std::runtime_error
    // naming the work vector when its type has no known size.
    void allocateRunTime();
    double* inputBuffer(int port) { return inputData_[static_cast<size_t>(port)].data(); }
    double* outputBuffer(int port) { return outputData_[static_cast<size_t>(port)].data(); }
    // Points input `port` at caller-owned memory (null: the input has no data pointer).
    void setInputData(int port, const double* data) { block_.inputs[port].data = data; }
    // Byte size of a host data type: the built-in ones and those registered for a handed-out id;
    // -1 when unknown.
    int typeSize(int typeId) const;

    // Model argument k, answered through code 51 as the data of a 1×n double row. Setting the
    // same width again keeps the data where it is.
    void setArgument(int k, std::span<const double> values);
    void clearArgument(int k);   // code 51 then answers 0 for it
    // Null when argument k is not set or empty.
    double* argumentData(int k) {
        return static_cast<size_t>(k) < numArgumentPointers_ ? argumentPointers_[static_cast<size_t>(k)] : nullptr;
    }
    int numArguments() const { return static_cast<int>(arguments_.size()); }

    // What the plug-in told the host.
    const std::vector<DispatcherCall>& dispatcherLog() const { return log_; }
    const std::vector<RegistrationCall>& registrations() const { return registrations_; }
    void clearLogs();
    const std::optional<IdentifierList>& identifierList() const { return identifiers_; }
    const ModelMapInfo* modelMap() const { return modelMap_; }
    // The state last handed over with code 152, as a pointer to compare; its owner may have freed it.
    const mxArray* handedSimState() const { return handedSimState_; }
    const std::optional<std::array<uint32_t, 4>>& simStateChecksum() const { return checksum_; }
    const std::string& checksumModelName() const { return checksumModelName_; }
    int fxpRegionCompliant() const { return fxpCompliant_; }

    // Entry points for the host's C services (simtarget.cpp) and the dispatcher.
    void recordRegistration(RegistrationCall call) { registrations_.push_back(std::move(call)); }
    void recordChecksum(const char* modelName, const uint32_t* words);
    void recordFxpCompliant(int value) { fxpCompliant_ = value; }
    int dispatch(int code, int intArg, void* ptrArg);
    // Code 51, which comes once per argument at every output call: a table look-up, logged only
    // when the options ask for it.
    int fetchArgument(int k, void* ptrArg) {
        if (options_.logRunPath) return fetchArgumentLogged(k, ptrArg);
        double* data = argumentData(k);
        if (data == nullptr || ptrArg == nullptr) return 0;
        *static_cast<const double**>(ptrArg) = data;
        return 1;
    }
    int registerPortCount(bool inputs, int count);
    int registerPortDimensions(bool inputs, int port, const DimensionsInfo* dims);
    int registerNumDWork(int count);
    int registerDataTypeSize(int typeId, int bytes);

private:
    void logCall(int code, int intArg, const void* ptrArg, int64_t value, std::string text, int answer);
    int fetchArgumentLogged(int k, void* ptrArg);
    int unitIdOf(const char* expression);

    std::string modelName_;
    std::string path_;
    HostOptions options_;
    SimStruct block_ = {};
    ModelInfo info_ = {};
    int extensionRecord_ = 0;
    std::vector<double> periods_;
    std::vector<double> offsets_;
    std::vector<int> taskIds_;
    std::vector<int> hits_;
    std::vector<char> errorBuffer_;
    std::vector<int> childToTop_;
    int constantTopTid_ = -1;

    std::vector<InputPortRecord> inputs_;
    std::vector<OutputPortRecord> outputs_;
    std::vector<DWorkRecord> dwork_;
    std::vector<std::vector<double>> inputData_;
    std::vector<std::vector<double>> outputData_;
    std::vector<double> contStates_;
    std::vector<double> derivatives_;
    std::vector<std::unique_ptr<std::max_align_t[]>> workData_;
    std::vector<std::optional<std::vector<double>>> arguments_;
    // The data of each argument, null when unset or empty: what code 51 answers. A bare pointer
    // and count, read at every fetch; kept equal to arguments_ by setArgument and clearArgument.
    std::unique_ptr<double*[]> argumentPointers_;
    size_t numArgumentPointers_ = 0;

    int nextTypeId_ = 100;
    std::vector<std::pair<int, int>> typeSizes_;   // handed-out type id, registered bytes (-1: none yet)
    std::vector<std::string> units_;               // unit expressions; the index is the unit id
    std::vector<DispatcherCall> log_;
    std::vector<RegistrationCall> registrations_;
    std::optional<IdentifierList> identifiers_;
    const ModelMapInfo* modelMap_ = nullptr;
    const mxArray* handedSimState_ = nullptr;
    std::optional<std::array<uint32_t, 4>> checksum_;
    std::string checksumModelName_;
    int fxpCompliant_ = -1;
};

}  // namespace qelhost

// Loads plug-ins and drives their blocks the way the simulation host does: the sizes call through
// the entry with the block structure's address, the sample-time and work-width methods, the
// run-time memory, then run-time calls through the method slots or through the entry by flag,
// simulation states, and the MATLAB command line's own sizes call.
//
// A TopModel is the parent model's root structure: its tasks (by default continuous, 1e-5 s and
// 1e-4 s as tasks 0, 1, 2), the major-step flag, the sample-hit flags and the error status. A
// Block is one plug-in block under it. Buffer pointers (inputs, outputs, states, derivatives, work
// record) stay fixed from registerBlock() on, an argument's data as long as its width stays the
// same. The run-time calls allocate nothing and touch no strings unless the block reports an error.
//
// Errors: LoadError for a plug-in that cannot be opened or a block that cannot be registered (one
// line naming the file or block and what is wrong). A MatlabError raised by the plug-in propagates
// out of the call that made it. A run-time call returns false when the plug-in set the error
// status; lastError() then holds the text.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "frame/host_interface.h"
#include "host/block_structure.h"
#include "host/matlab_error.h"
#include "host/mx_arrays.h"

namespace qelhost {

class LoadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using MexFunctionFn = void (*)(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
using SizesColumn = std::array<double, kSizeCount>;

// Marker value of element 2 of the address column in a host sizes call.
constexpr double kHostCallMarkerValue = 8480229.0;

// One opened plug-in file. Blocks keep it open while they live.
class Plugin {
public:
    // dlopen()s the file and finds its entry; LoadError naming the file when either fails.
    static std::shared_ptr<Plugin> open(const std::filesystem::path& file);
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    const std::filesystem::path& file() const { return file_; }
    const std::string& name() const { return name_; }             // file name without extension
    const std::string& modelName() const { return modelName_; }   // name without "_msp"
    // What mexfilerequiredapiversion wrote; both 0 when the plug-in does not export it.
    uint32_t apiRelease() const { return apiRelease_; }
    uint32_t apiVersion() const { return apiVersion_; }
    MexFunctionFn entry() const { return entry_; }

    // Calls the entry as given, inside an ArrayScope of the caller's choosing.
    void callEntry(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) const { entry_(nlhs, plhs, nrhs, prhs); }
    // The MATLAB command line's sizes call: inputs empty, empty, empty, 0.0, then `parameters`;
    // returns the 40 values. Everything the plug-in allocated is freed before it returns.
    SizesColumn commandLineSizes(std::span<const mxArray* const> parameters = {}) const;

private:
    Plugin() = default;
    std::filesystem::path file_;
    std::string name_;
    std::string modelName_;
    void* handle_ = nullptr;
    MexFunctionFn entry_ = nullptr;
    uint32_t apiRelease_ = 0;
    uint32_t apiVersion_ = 0;
};

struct TopModelOptions {
    std::string name = "qel_top";
    std::vector<double> taskPeriods = {0.0, 1e-5, 1e-4};   // task k runs at taskPeriods[k]
    int simMode = 0;                                        // 1: sizes only
};

// The parent model's root structure.
class TopModel {
public:
    explicit TopModel(TopModelOptions options = {});
    TopModel(const TopModel&) = delete;
    TopModel& operator=(const TopModel&) = delete;

    BlockStructure& structure() { return root_; }
    SimStruct* simStruct() { return root_.get(); }
    ModelInfo& modelInfo() { return root_.modelInfo(); }

    int numTasks() const { return static_cast<int>(periods_.size()); }
    std::span<const double> taskPeriods() const { return periods_; }
    // The task id given to a block's constant rate; rateIsDue treats it as always due.
    int constantTaskId() const { return numTasks(); }
    // The task whose period equals `period` exactly; constantTaskId() for +inf; -1 for none.
    int taskOfPeriod(double period) const;

    void setMajorTimeStep(bool major) { root_.modelInfo().majorTimeStep = major ? 1 : 0; }
    void setSampleHit(int task, bool hit) { root_.modelInfo().sampleHits[task] = hit ? 1 : 0; }
    void setAllSampleHits(bool hit);
    int* sampleHits() { return root_.modelInfo().sampleHits; }   // one flag per task
    void setTime(double time) { root_.modelInfo().time = time; }
    void setSimMode(int mode) { root_.modelInfo().simMode = mode; }

private:
    std::vector<double> periods_;
    BlockStructure root_;
};

struct BlockOptions {
    std::string modelName;   // the block structure's model name; empty: the plug-in's name
    std::string path;        // the block path; empty: "<top model>/<model name of the plug-in>"
    HostOptions host;        // optional host pieces and dispatcher answers
};

class Block {
public:
    // Creates the block's structure under `model`; nothing is called yet.
    Block(TopModel& model, std::shared_ptr<Plugin> plugin, BlockOptions options = {});
    ~Block();   // frees the block's memory; calls no method of the plug-in
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;

    // The whole registration: initializeSizes, initializeSampleTimes, setWorkWidths and
    // allocateRunTime. LoadError when the registration is incomplete (no method slots, no work
    // record of known size, a sample time without a task, ...).
    void registerBlock();

    // The stages of registerBlock, for callers that look between them.
    // The sizes call through the entry (nlhs 1; inputs: empty, the 3×1 address column with the
    // marker, empty, 0.0) with the block structure's address; returns the sizes column.
    const SizesColumn& initializeSizes();
    // Allocates the sample-time tables, calls the sample-time method and maps every sample time
    // to the top model's task of the same period (+inf to the constant task id).
    void initializeSampleTimes();
    void setWorkWidths();
    void allocateRunTime();
    const SizesColumn& sizesColumn() const { return sizes_; }

    Plugin& plugin() { return *plugin_; }
    TopModel& model() { return model_; }
    BlockStructure& structure() { return structure_; }
    SimStruct* simStruct() { return structure_.get(); }

    int numInputs() const;
    int numOutputs() const;
    int inputWidth(int port) const;
    int outputWidth(int port) const;
    int numContStates() const;
    int numSampleTimes() const;
    std::span<const double> samplePeriods() const;
    std::span<const int> sampleTaskIds() const;   // top task of each sample time

    // Host-owned input buffer of `port`; what the plug-in reads unless connectInput moved it.
    double* inputBuffer(int port) { return structure_.inputBuffer(port); }
    // Points input `port` at caller-owned memory that outlives the block's calls, e.g. another
    // block's output; null leaves the input without data pointer.
    void connectInput(int port, const double* data) { structure_.setInputData(port, data); }
    void useOwnInput(int port) { structure_.setInputData(port, structure_.inputBuffer(port)); }
    double* output(int port) { return structure_.outputBuffer(port); }
    std::span<double> contStates();
    std::span<double> stateDerivatives();
    std::span<std::byte> workRecord();   // work vector 0 (mdlrefDW)

    // Model arguments: argument k is answered through code 51 as a 1×n double array.
    void setArgument(int k, std::span<const double> values) { structure_.setArgument(k, values); }
    void setArgument(int k, double value) { structure_.setArgument(k, std::span<const double>(&value, 1)); }
    void setArguments(const std::vector<std::vector<double>>& values);
    double* argument(int k) { return structure_.argumentData(k); }   // change in place
    void clearArgument(int k) { structure_.clearArgument(k); }

    // Run-time calls through the method slots. False when the slot is empty or the call set the
    // error status (lastError() says which).
    bool setupRuntimeResources();
    bool start();
    bool systemInitialize();
    bool systemReset();
    bool outputs(int tid);
    bool update(int tid);
    bool derivatives();
    bool periodic(int k);
    bool terminate();
    bool cleanupRuntimeResources();

    // Run-time calls through the entry by method flag: nlhs -1, plhs[1] the block structure,
    // prhs[3] the flag. Set the current-argument fields (tid, port, width, ...) first.
    CurrentArguments& currentArguments() { return structure_.get()->args; }
    bool callFlag(int flag);
    // Flag 144; the state the plug-in left in the simulation-state place, now owned by the
    // caller. Null when the call failed.
    UniqueArray getSimState();
    // Flag 145 with `state` in the simulation-state place (not kept after the call).
    bool setSimState(const mxArray* state);

    // The error status text of the last failed call ("" after a successful one).
    const std::string& lastError() const { return lastError_; }

private:
    static constexpr int kFlagGetSimState = 144;
    static constexpr int kFlagSetSimState = 145;

    template <class Method, class... Args>
    bool callSlot(Method method, const char* name, Args... args);
    void enterByFlag(int flag);
    bool finishCall();
    bool missingSlot(const char* method);

    TopModel& model_;
    std::shared_ptr<Plugin> plugin_;
    std::string modelName_;
    BlockStructure structure_;
    SizesColumn sizes_ = {};
    UniqueArray flagArray_;
    UniqueArray emptyArray_;
    std::string lastError_;
};

}  // namespace qelhost

#include "host/loader.h"

#include <dlfcn.h>

#include <cmath>
#include <cstdio>

namespace qelhost {

namespace {

using ApiVersionFn = void (*)(uint32_t* release, uint32_t* version);

constexpr const char* kPluginSuffix = "_msp";

std::string numberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

SizesColumn readSizesColumn(const mxArray* column, const std::string& who) {
    if (mxGetClassID_800(column) != mxDOUBLE_CLASS || mxIsComplex_800(column) || numberOfElements(column) != kSizeCount)
        throw LoadError(who + ": the sizes call did not return a real 40-element double column");
    SizesColumn sizes;
    const double* data = mxGetPr_800(column);
    std::copy(data, data + kSizeCount, sizes.begin());
    return sizes;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Plugin

std::shared_ptr<Plugin> Plugin::open(const std::filesystem::path& file) {
    std::shared_ptr<Plugin> plugin(new Plugin);
    plugin->file_ = file;
    plugin->name_ = file.stem().string();
    plugin->modelName_ = plugin->name_;
    if (plugin->modelName_.ends_with(kPluginSuffix)) plugin->modelName_.resize(plugin->modelName_.size() - 4);

    plugin->handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (plugin->handle_ == nullptr) {
        const char* reason = dlerror();
        throw LoadError("cannot load plug-in " + file.string() + ": " + (reason != nullptr ? reason : "unknown reason"));
    }
    plugin->entry_ = reinterpret_cast<MexFunctionFn>(dlsym(plugin->handle_, "mexFunction"));
    if (plugin->entry_ == nullptr) throw LoadError("plug-in " + file.string() + " exports no mexFunction");
    if (auto apiVersion = reinterpret_cast<ApiVersionFn>(dlsym(plugin->handle_, "mexfilerequiredapiversion")))
        apiVersion(&plugin->apiRelease_, &plugin->apiVersion_);
    return plugin;
}

Plugin::~Plugin() {
    if (handle_ != nullptr) dlclose(handle_);
}

SizesColumn Plugin::commandLineSizes(std::span<const mxArray* const> parameters) const {
    ArrayScope scope;   // the plug-in's own block structure and port records go with it
    const UniqueArray empty = makeDoubleMatrix(0, 0);
    const UniqueArray flag = makeDoubleScalar(0.0);
    std::vector<const mxArray*> inputs = {empty.get(), empty.get(), empty.get(), flag.get()};
    inputs.insert(inputs.end(), parameters.begin(), parameters.end());
    mxArray* outputs[1] = {nullptr};
    entry_(1, outputs, static_cast<int>(inputs.size()), inputs.data());
    return readSizesColumn(outputs[0], "plug-in " + file_.string());
}

// ---------------------------------------------------------------------------------------------
// TopModel

namespace {

std::vector<int> identityTasks(size_t count) {
    std::vector<int> tasks(count);
    for (size_t k = 0; k < count; ++k) tasks[k] = static_cast<int>(k);
    return tasks;
}

}  // namespace

TopModel::TopModel(TopModelOptions options) : periods_(std::move(options.taskPeriods)), root_(std::move(options.name)) {
    root_.setSampleTimes(periods_, identityTasks(periods_.size()));
    root_.setNumTasks(numTasks());
    root_.modelInfo().simMode = options.simMode;
    root_.modelInfo().majorTimeStep = 1;
}

int TopModel::taskOfPeriod(double period) const {
    if (std::isinf(period) && period > 0.0) return constantTaskId();
    for (size_t k = 0; k < periods_.size(); ++k)
        if (periods_[k] == period) return static_cast<int>(k);
    return -1;
}

void TopModel::setAllSampleHits(bool hit) {
    for (int task = 0; task < numTasks(); ++task) setSampleHit(task, hit);
}

// ---------------------------------------------------------------------------------------------
// Block

Block::Block(TopModel& model, std::shared_ptr<Plugin> plugin, BlockOptions options)
    : model_(model),
      plugin_(std::move(plugin)),
      modelName_(options.modelName.empty() ? plugin_->name() : options.modelName),
      structure_(modelName_, &model.structure(), std::move(options.host)),
      flagArray_(makeDoubleScalar(0.0)),
      emptyArray_(makeDoubleMatrix(0, 0)) {
    structure_.setPath(options.path.empty() ? model.simStruct()->modelName + std::string("/") + plugin_->modelName()
                                            : options.path);
}

Block::~Block() = default;

void Block::registerBlock() {
    const std::string who = "block " + std::string(simStruct()->path) + " (" + plugin_->file().string() + ")";
    initializeSizes();
    if (simStruct()->methods.initializeSampleTimes == nullptr || simStruct()->methods.outputs == nullptr)
        throw LoadError(who + ": the sizes call filled no method slots");
    if (numSampleTimes() < 1) throw LoadError(who + ": registered no sample times");
    // Every block keeps its work in work vector 0; a refusal during sizes leaves it untyped.
    const SimStruct* block = simStruct();
    if (block->sizes[kSizeNumDWork] < 1 || block->dwork == nullptr || block->dwork[0].width < 1 ||
        structure_.typeSize(block->dwork[0].dataTypeId) < 0)
        throw LoadError(who + ": registered no work record of known size");
    initializeSampleTimes();
    setWorkWidths();
    allocateRunTime();
}

const SizesColumn& Block::initializeSizes() {
    structure_.applyOptions();
    const auto address = reinterpret_cast<uintptr_t>(simStruct());
    // Each half travels as a signed 32-bit value, so that truncating it to an int is exact.
    const double column[3] = {static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(address))),
                              static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(address >> 32))),
                              kHostCallMarkerValue};
    ArrayScope scope;
    const UniqueArray addressColumn = makeDoubleMatrix(3, 1, column);
    *mxGetPr_800(flagArray_.get()) = 0.0;
    const mxArray* inputs[4] = {emptyArray_.get(), addressColumn.get(), emptyArray_.get(), flagArray_.get()};
    mxArray* outputs[1] = {nullptr};
    plugin_->callEntry(1, outputs, 4, inputs);
    sizes_ = readSizesColumn(outputs[0], "block " + std::string(simStruct()->path));
    return sizes_;
}

void Block::initializeSampleTimes() {
    const std::string who = "block " + std::string(simStruct()->path);
    structure_.allocateSampleTimes();
    SimStruct* block = simStruct();
    if (block->methods.initializeSampleTimes == nullptr) throw LoadError(who + ": no sample-time method");
    {
        ArrayScope scope;
        block->root->errorStatus = nullptr;
        block->methods.initializeSampleTimes(block);
        if (block->root->errorStatus != nullptr) throw LoadError(who + ": sample-time method failed: " + block->root->errorStatus);
    }
    std::vector<int> topTids(static_cast<size_t>(numSampleTimes()));
    for (int k = 0; k < numSampleTimes(); ++k) {
        const int task = model_.taskOfPeriod(block->sampleTimes[k]);
        if (task < 0) {
            throw LoadError(who + ": sample time " + numberText(block->sampleTimes[k]) + " matches no task of model " +
                            model_.simStruct()->modelName);
        }
        block->sampleTimeTaskIds[k] = task;
        topTids[static_cast<size_t>(k)] = task;
    }
    structure_.setChildToTopTids(topTids, model_.constantTaskId());
}

void Block::setWorkWidths() {
    const std::string who = "block " + std::string(simStruct()->path);
    SimStruct* block = simStruct();
    if (block->methods.setWorkWidths == nullptr) throw LoadError(who + ": no work-width method");
    ArrayScope scope;
    block->root->errorStatus = nullptr;
    block->methods.setWorkWidths(block);
    if (block->root->errorStatus != nullptr) throw LoadError(who + ": work-width method failed: " + block->root->errorStatus);
}

void Block::allocateRunTime() {
    try {
        structure_.allocateRunTime();
    } catch (const std::runtime_error& error) {
        throw LoadError(std::string(error.what()) + " (" + plugin_->file().string() + ")");
    }
}

int Block::numInputs() const { return structure_.get()->sizes[kSizeNumInputPorts]; }
int Block::numOutputs() const { return structure_.get()->sizes[kSizeNumOutputPorts]; }
int Block::inputWidth(int port) const { return structure_.get()->inputs[port].width; }
int Block::outputWidth(int port) const { return structure_.get()->outputs[port].width; }
int Block::numContStates() const { return structure_.get()->sizes[kSizeNumContStates]; }
int Block::numSampleTimes() const { return structure_.get()->sizes[kSizeNumSampleTimes]; }

std::span<const double> Block::samplePeriods() const {
    const SimStruct* block = structure_.get();
    return block->sampleTimes != nullptr ? std::span<const double>(block->sampleTimes, static_cast<size_t>(numSampleTimes()))
                                         : std::span<const double>();
}

std::span<const int> Block::sampleTaskIds() const {
    const SimStruct* block = structure_.get();
    return block->sampleTimeTaskIds != nullptr ? std::span<const int>(block->sampleTimeTaskIds, static_cast<size_t>(numSampleTimes()))
                                               : std::span<const int>();
}

std::span<double> Block::contStates() {
    SimStruct* block = simStruct();
    return block->contStates != nullptr ? std::span<double>(block->contStates, static_cast<size_t>(numContStates())) : std::span<double>();
}

std::span<double> Block::stateDerivatives() {
    SimStruct* block = simStruct();
    return block->dX != nullptr ? std::span<double>(block->dX, static_cast<size_t>(numContStates())) : std::span<double>();
}

std::span<std::byte> Block::workRecord() {
    SimStruct* block = simStruct();
    if (block->sizes[kSizeNumDWork] < 1 || block->dwork == nullptr || block->dwork[0].array == nullptr) return {};
    const int size = structure_.typeSize(block->dwork[0].dataTypeId);
    return {static_cast<std::byte*>(block->dwork[0].array), static_cast<size_t>(block->dwork[0].width) * static_cast<size_t>(size)};
}

void Block::setArguments(const std::vector<std::vector<double>>& values) {
    for (size_t k = 0; k < values.size(); ++k) structure_.setArgument(static_cast<int>(k), values[k]);
}

bool Block::missingSlot(const char* method) {
    lastError_ = "block ";
    lastError_ += simStruct()->path;
    lastError_ += " has no ";
    lastError_ += method;
    lastError_ += " method";
    return false;
}

bool Block::finishCall() {
    SimStruct* root = simStruct()->root;
    if (root->errorStatus == nullptr) {
        lastError_.clear();
        return true;
    }
    lastError_ = root->errorStatus;
    root->mdlInfo->errorReported = 1;
    return false;
}

namespace {

// Clears the error status before a run-time call; the scope frees whatever the call allocated.
struct RunTimeCall {
    explicit RunTimeCall(SimStruct* block) { block->root->errorStatus = nullptr; }
    ArrayScope scope;
};

}  // namespace

template <class Method, class... Args>
bool Block::callSlot(Method method, const char* name, Args... args) {
    if (method == nullptr) return missingSlot(name);
    {
        RunTimeCall call(simStruct());
        method(simStruct(), args...);
    }
    return finishCall();
}

bool Block::setupRuntimeResources() { return callSlot(simStruct()->methods.setupRuntimeResources, "setupRuntimeResources"); }
bool Block::start() { return callSlot(simStruct()->methods.start, "start"); }
bool Block::systemInitialize() { return callSlot(simStruct()->methods.systemInitialize, "system-initialize"); }
bool Block::systemReset() { return callSlot(simStruct()->methods.systemReset, "system-reset"); }
bool Block::outputs(int tid) { return callSlot(simStruct()->methods.outputs, "outputs", tid); }
bool Block::update(int tid) { return callSlot(simStruct()->methods.update, "update", tid); }
bool Block::derivatives() { return callSlot(simStruct()->methods.derivatives, "derivatives"); }
bool Block::periodic(int k) { return callSlot(simStruct()->methods.periodicOutputUpdate, "periodic output-update", k); }
bool Block::terminate() { return callSlot(simStruct()->methods.terminate, "terminate"); }
bool Block::cleanupRuntimeResources() {
    return callSlot(simStruct()->methods.cleanupRuntimeResources, "cleanupRuntimeResources");
}

void Block::enterByFlag(int flag) {
    *mxGetPr_800(flagArray_.get()) = flag;
    mxArray* outputs[2] = {nullptr, reinterpret_cast<mxArray*>(simStruct())};
    const mxArray* inputs[4] = {emptyArray_.get(), emptyArray_.get(), emptyArray_.get(), flagArray_.get()};
    plugin_->callEntry(-1, outputs, 4, inputs);
}

namespace {

// Empties the model info's simulation-state place however the call ends: it never keeps a state.
struct SimStatePlace {
    explicit SimStatePlace(ModelInfo& info, const mxArray* state) : info(info) { info.simState = const_cast<mxArray*>(state); }
    ~SimStatePlace() { info.simState = nullptr; }
    ModelInfo& info;
};

}  // namespace

bool Block::callFlag(int flag) {
    {
        RunTimeCall call(simStruct());
        enterByFlag(flag);
    }
    return finishCall();
}

UniqueArray Block::getSimState() {
    SimStruct* block = simStruct();
    UniqueArray state;
    {
        RunTimeCall call(block);
        SimStatePlace place(*block->mdlInfo, nullptr);
        enterByFlag(kFlagGetSimState);
        // Taken out of the call's scope before that ends.
        if (block->root->errorStatus == nullptr) state = takeArray(block->mdlInfo->simState);
    }
    if (!finishCall()) return nullptr;
    if (state == nullptr) lastError_ = "block " + std::string(block->path) + " left no simulation state";
    return state;
}

bool Block::setSimState(const mxArray* state) {
    SimStruct* block = simStruct();
    {
        RunTimeCall call(block);
        // The plug-in only reads the state it finds in the place.
        SimStatePlace place(*block->mdlInfo, state);
        enterByFlag(kFlagSetSimState);
    }
    return finishCall();
}

}  // namespace qelhost

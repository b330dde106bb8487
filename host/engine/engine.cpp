#include "host/engine/engine.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "host/engine/call_order.h"
#include "host/loader.h"

namespace qelengine {

struct Engine::Node {
    const BlockConfig* config = nullptr;
    std::string label;                          // "block 'motor'" for messages
    // A plug-in block.
    std::unique_ptr<qelhost::Block> block;
    SimStruct* simStruct = nullptr;
    ssTidMethod outputsSlot = nullptr;          // the run path calls the slots itself
    ssTidMethod updateSlot = nullptr;
    ssMethod derivativesSlot = nullptr;
    int tid = 0;                                // top task of the block's fastest rate
    bool continuous = false;                    // fastest rate is the continuous one
    bool due = false;                           // called in the current major step
    bool running = false;                       // run-time resources set up, not yet terminated
    bool inMinorSteps = false;                  // computed in the solver's stages too
    bool onlyLogged = false;                    // a built-in block that feeds no plug-in block
    double* states = nullptr;
    const double* stateDerivatives = nullptr;
    int numStates = 0;
    int stateOffset = 0;                        // into the solver's vectors
    std::vector<double> inputSnapshot;          // inputs as the first call of the step saw them
    // A built-in block.
    std::vector<double> output;
    // Both: where each input reads from, and its width.
    std::vector<const double*> inputs;
    std::vector<int> inputWidths;
    std::vector<int> outputWidths;

    bool isPlugin() const { return block != nullptr; }
    bool hasStateOutputs() const { return numStates > 0; }
};

struct Engine::Call {
    Node* node;
};

namespace {

[[noreturn]] void missingSlot(const std::string& label, const char* method) {
    throw EngineError(label + ": the plug-in left its " + method + " slot empty");
}

// How much earlier than its time a step source may switch: far below one step, far above the
// rounding of step * stepSize.
constexpr double kSwitchToleranceSteps = 1e-3;

std::string describeNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    // Trim to the shortest form that reads back the same.
    for (int precision = 1; precision <= 17; ++precision) {
        char shorter[32];
        std::snprintf(shorter, sizeof shorter, "%.*g", precision, value);
        if (std::strtod(shorter, nullptr) == value) return shorter;
    }
    return text;
}

}  // namespace

std::string_view solverName(Solver solver) { return solver == Solver::ode4 ? "ode4" : "ode1"; }

Engine::Engine(ModelConfig config) : config_(std::move(config)) {
    if (!(config_.stepSize > 0.0) || !std::isfinite(config_.stepSize)) {
        throw EngineError("step size " + describeNumber(config_.stepSize) + " s is not a positive number");
    }
    if (config_.logEvery < 1) throw EngineError("log interval must be at least one step");
    top_ = std::make_unique<qelhost::TopModel>();
    root_ = top_->simStruct();
    rootInfo_ = &top_->modelInfo();
    switchTolerance_ = kSwitchToleranceSteps * config_.stepSize;
    for (double period : top_->taskPeriods()) {
        if (period == 0.0) {
            taskEvery_.push_back(1);
            continue;
        }
        const double ratio = period / config_.stepSize;
        const double steps = std::round(ratio);
        if (steps < 1.0 || std::fabs(ratio - steps) > 1e-9 * ratio) {
            throw EngineError("step size " + describeNumber(config_.stepSize) + " s does not divide the block rate " +
                              describeNumber(period) + " s");
        }
        taskEvery_.push_back(static_cast<int>(steps));
    }
    loadBlocks();
    connect();
    orderCalls();
}

Engine::~Engine() {
    // Errors while terminating have no one left to report to.
    for (Node& node : nodes_) {
        if (!node.running) continue;
        try {
            node.block->terminate();
            node.block->cleanupRuntimeResources();
        } catch (...) {
        }
    }
}

void Engine::loadBlocks() {
    nodes_.resize(config_.blocks.size());
    for (size_t b = 0; b < config_.blocks.size(); ++b) {
        const BlockConfig& blockConfig = config_.blocks[b];
        Node& node = nodes_[b];
        node.config = &blockConfig;
        node.label = "block '" + blockConfig.name + "'";
        for (size_t other = 0; other < b; ++other) {
            if (config_.blocks[other].name == blockConfig.name) throw EngineError("two blocks are named '" + blockConfig.name + "'");
        }
        if (blockConfig.builtin) {
            const BuiltinConfig& builtin = *blockConfig.builtin;
            const std::string problem = builtinConfigProblem(builtin);
            if (!problem.empty()) throw EngineError(node.label + ": " + problem);
            node.inputs.assign(static_cast<size_t>(builtinNumInputs(builtin)), nullptr);
            node.inputWidths.resize(node.inputs.size());
            for (size_t p = 0; p < node.inputs.size(); ++p) node.inputWidths[p] = builtinInputWidth(builtin, static_cast<int>(p));
            node.outputWidths.assign(1, builtinSourceWidth(builtin));
            continue;
        }

        std::shared_ptr<qelhost::Plugin> plugin;
        for (const auto& open : plugins_) {
            if (open->file() == blockConfig.plugin) plugin = open;
        }
        try {
            if (!plugin) {
                plugin = qelhost::Plugin::open(blockConfig.plugin);
                plugins_.push_back(plugin);
            }
            qelhost::BlockOptions options;
            options.path = "qel_top/" + blockConfig.name;
            node.block = std::make_unique<qelhost::Block>(*top_, plugin, options);
            node.block->registerBlock();
        } catch (const qelhost::LoadError& error) {
            throw EngineError(node.label + ": " + error.what());
        } catch (const qelhost::MatlabError& error) {
            throw EngineError(node.label + ": the plug-in refused its registration: " + error.what());
        }
        qelhost::Block& block = *node.block;
        node.label += " (" + plugin->name() + ")";
        node.simStruct = block.simStruct();
        node.outputsSlot = node.simStruct->methods.outputs;
        node.updateSlot = node.simStruct->methods.update;
        node.derivativesSlot = node.simStruct->methods.derivatives;
        if (node.outputsSlot == nullptr) missingSlot(node.label, "outputs");
        if (node.updateSlot == nullptr) missingSlot(node.label, "update");

        // The fastest of the block's rates decides when it is called; +inf is the constant rate.
        double fastest = std::numeric_limits<double>::infinity();
        int fastestTask = -1;
        const auto periods = block.samplePeriods();
        const auto tasks = block.sampleTaskIds();
        for (size_t k = 0; k < periods.size(); ++k) {
            if (periods[k] < fastest) {
                fastest = periods[k];
                fastestTask = tasks[k];
            }
        }
        if (fastestTask < 0 || fastestTask >= top_->numTasks()) {
            throw EngineError(node.label + ": the block has no rate of the model's tasks");
        }
        node.tid = fastestTask;
        node.continuous = fastest == 0.0;
        node.numStates = block.numContStates();
        if (node.numStates > 0) {
            if (!node.continuous) throw EngineError(node.label + ": the block has continuous states but no continuous rate");
            if (node.derivativesSlot == nullptr) missingSlot(node.label, "derivatives");
            node.states = block.contStates().data();
            node.stateDerivatives = block.stateDerivatives().data();
        }

        const auto& arguments = blockConfig.arguments;
        for (size_t k = 0; k < arguments.size(); ++k) block.setArgument(static_cast<int>(k), arguments[k]);

        node.inputs.assign(static_cast<size_t>(block.numInputs()), nullptr);
        node.inputWidths.resize(node.inputs.size());
        for (int p = 0; p < block.numInputs(); ++p) node.inputWidths[static_cast<size_t>(p)] = block.inputWidth(p);
        node.outputWidths.resize(static_cast<size_t>(block.numOutputs()));
        for (int p = 0; p < block.numOutputs(); ++p) node.outputWidths[static_cast<size_t>(p)] = block.outputWidth(p);
    }
}

std::string Engine::portName(PortRef port, bool input) const {
    const BlockConfig& blockConfig = config_.blocks[static_cast<size_t>(port.block)];
    std::string name;
    if (blockConfig.builtin) {
        name = input ? builtinInputName(*blockConfig.builtin, port.port) : std::string(kBuiltinOutputName);
    } else {
        const auto& names = input ? blockConfig.inputNames : blockConfig.outputNames;
        name = static_cast<size_t>(port.port) < names.size() ? names[static_cast<size_t>(port.port)]
                                                              : (input ? "input " : "output ") + std::to_string(port.port);
    }
    return blockConfig.name + "." + name;
}

void Engine::connect() {
    const int numBlocks = static_cast<int>(nodes_.size());
    auto checkPort = [&](PortRef port, bool input, const char* role) {
        if (port.block < 0 || port.block >= numBlocks) {
            throw EngineError(std::string("a connection's ") + role + " names block " + std::to_string(port.block) +
                              ", which does not exist");
        }
        const Node& node = nodes_[static_cast<size_t>(port.block)];
        const size_t count = input ? node.inputs.size() : node.outputWidths.size();
        if (port.port < 0 || static_cast<size_t>(port.port) >= count) {
            throw EngineError(node.label + " has no " + (input ? "input " : "output ") + std::to_string(port.port));
        }
    };

    std::vector<std::vector<int>> driver(nodes_.size());   // connection index per input
    for (size_t b = 0; b < nodes_.size(); ++b) driver[b].assign(nodes_[b].inputs.size(), -1);
    for (size_t c = 0; c < config_.connections.size(); ++c) {
        const Connection& connection = config_.connections[c];
        checkPort(connection.from, false, "source");
        checkPort(connection.to, true, "destination");
        int& slot = driver[static_cast<size_t>(connection.to.block)][static_cast<size_t>(connection.to.port)];
        if (slot >= 0) {
            const Connection& first = config_.connections[static_cast<size_t>(slot)];
            throw EngineError("input " + portName(connection.to, true) + " is driven twice: by " +
                              portName(first.from, false) + " and by " + portName(connection.from, false));
        }
        slot = static_cast<int>(c);
    }
    for (size_t b = 0; b < nodes_.size(); ++b) {
        for (size_t p = 0; p < driver[b].size(); ++p) {
            if (driver[b][p] < 0) {
                throw EngineError("input " + portName({static_cast<int>(b), static_cast<int>(p)}, true) + " is not connected");
            }
        }
    }

    // Gains and sums take the width of what drives them, which may itself be a gain or a sum.
    auto sourceWidth = [&](int c) {
        const PortRef from = config_.connections[static_cast<size_t>(c)].from;
        return nodes_[static_cast<size_t>(from.block)].outputWidths[static_cast<size_t>(from.port)];
    };
    for (bool changed = true; changed;) {
        changed = false;
        for (size_t b = 0; b < nodes_.size(); ++b) {
            Node& node = nodes_[b];
            if (node.isPlugin() || node.outputWidths[0] != 0) continue;
            const int width = sourceWidth(driver[b][0]);
            if (width == 0) continue;
            for (size_t p = 0; p < driver[b].size(); ++p) {
                const int other = sourceWidth(driver[b][p]);
                if (other != 0 && other != width) {
                    throw EngineError("inputs of " + node.label + " differ in width: " +
                                      builtinInputName(*node.config->builtin, 0) + " has " + std::to_string(width) +
                                      ", " + builtinInputName(*node.config->builtin, static_cast<int>(p)) + " has " +
                                      std::to_string(other));
                }
            }
            node.outputWidths[0] = width;
            node.inputWidths.assign(node.inputs.size(), width);
            changed = true;
        }
    }
    for (Node& node : nodes_) {
        if (node.outputWidths[0] == 0) throw EngineError(node.label + " is fed only through a loop of gains and sums");
        if (!node.isPlugin()) node.output.assign(static_cast<size_t>(node.outputWidths[0]), 0.0);
    }

    for (const Connection& connection : config_.connections) {
        const Node& from = nodes_[static_cast<size_t>(connection.from.block)];
        Node& to = nodes_[static_cast<size_t>(connection.to.block)];
        const int fromWidth = from.outputWidths[static_cast<size_t>(connection.from.port)];
        const int toWidth = to.inputWidths[static_cast<size_t>(connection.to.port)];
        if (fromWidth != toWidth) {
            throw EngineError("connection " + portName(connection.from, false) + " -> " + portName(connection.to, true) +
                              ": width " + std::to_string(fromWidth) + " does not match width " + std::to_string(toWidth));
        }
        const double* data = from.isPlugin() ? from.block->output(connection.from.port) : from.output.data();
        to.inputs[static_cast<size_t>(connection.to.port)] = data;
        if (to.isPlugin()) to.block->connectInput(connection.to.port, data);
    }
    for (Node& node : nodes_) {
        if (!node.hasStateOutputs()) continue;
        size_t total = 0;
        for (int width : node.inputWidths) total += static_cast<size_t>(width);
        node.inputSnapshot.assign(total, 0.0);
    }

    for (const PortRef& port : config_.logged) {
        checkPort(port, false, "logged signal");
        const Node& node = nodes_[static_cast<size_t>(port.block)];
        logSources_.push_back(node.isPlugin() ? node.block->output(port.port) : node.output.data());
        logWidths_.push_back(node.outputWidths[static_cast<size_t>(port.port)]);
        log_.columns += logWidths_.back();
    }
}

void Engine::orderCalls() {
    std::vector<std::pair<int, int>> edges;
    for (const Connection& connection : config_.connections) edges.emplace_back(connection.from.block, connection.to.block);
    // Not std::vector<bool>: a span needs contiguous bools.
    std::unique_ptr<bool[]> flags(new bool[nodes_.size()]);
    for (size_t b = 0; b < nodes_.size(); ++b) flags[b] = nodes_[b].hasStateOutputs();
    const CallOrder order = orderBlocks(static_cast<int>(nodes_.size()), edges, std::span<const bool>(flags.get(), nodes_.size()));
    if (!order.loop.empty()) {
        std::string path;
        for (int b : order.loop) path += config_.blocks[static_cast<size_t>(b)].name + " -> ";
        path += config_.blocks[static_cast<size_t>(order.loop.front())].name;
        throw EngineError("algebraic loop without a block whose outputs depend only on its states: " + path);
    }
    for (int b : order.order) calls_.push_back({&nodes_[static_cast<size_t>(b)]});

    // The solver's stages compute the continuous blocks and the built-in blocks that feed them;
    // everything else holds its major-step outputs, and what is logged is recorded at major steps.
    for (Node& node : nodes_) node.inMinorSteps = node.isPlugin() && node.continuous;
    for (bool changed = true; changed;) {
        changed = false;
        for (const Connection& connection : config_.connections) {
            Node& from = nodes_[static_cast<size_t>(connection.from.block)];
            const Node& to = nodes_[static_cast<size_t>(connection.to.block)];
            const bool holds = from.isPlugin() || from.config->builtin->kind == BuiltinKind::constant;
            if (!holds && to.inMinorSteps && !from.inMinorSteps) {
                from.inMinorSteps = true;
                changed = true;
            }
        }
    }
    for (const Call& call : calls_) {
        if (call.node->inMinorSteps) minorCalls_.push_back(call.node);
    }

    // Built-in blocks that reach no plug-in block are only looked at in the log: they are
    // computed at the steps that record a row.
    for (Node& node : nodes_) node.onlyLogged = !node.isPlugin();
    for (bool changed = true; changed;) {
        changed = false;
        for (const Connection& connection : config_.connections) {
            Node& from = nodes_[static_cast<size_t>(connection.from.block)];
            const Node& to = nodes_[static_cast<size_t>(connection.to.block)];
            if (from.onlyLogged && !to.onlyLogged) {
                from.onlyLogged = false;
                changed = true;
            }
        }
    }

    int offset = 0;
    for (size_t b = 0; b < nodes_.size(); ++b) {
        Node& node = nodes_[b];
        if (node.isPlugin()) pluginNodes_.push_back(&node);
        if (!node.hasStateOutputs()) continue;
        stateBlocks_.push_back(&node);
        node.stateOffset = offset;
        offset += node.numStates;
    }
    numStates_ = static_cast<size_t>(offset);
    for (auto* vector : {&x0_, &k1_, &k2_, &k3_, &k4_}) vector->assign(numStates_, 0.0);
}

int Engine::outputWidth(PortRef port) const {
    return nodes_.at(static_cast<size_t>(port.block)).outputWidths.at(static_cast<size_t>(port.port));
}

int Engine::inputWidth(PortRef port) const {
    return nodes_.at(static_cast<size_t>(port.block)).inputWidths.at(static_cast<size_t>(port.port));
}

std::span<const double> Engine::outputValues(PortRef port) const {
    const Node& node = nodes_.at(static_cast<size_t>(port.block));
    const double* data = node.isPlugin() ? node.block->output(port.port) : node.output.data();
    return {data, static_cast<size_t>(node.outputWidths.at(static_cast<size_t>(port.port)))};
}

qelhost::Block* Engine::pluginBlock(int block) { return nodes_.at(static_cast<size_t>(block)).block.get(); }

void Engine::failCall(const Node& node, const char* method) {
    const std::string& text = node.block->lastError();
    throw EngineError(node.label + ": " + method + " failed at time " + describeNumber(timeOfStep(step_)) + " s" +
                      (text.empty() ? std::string() : ": " + text));
}

void Engine::initialize() {
    for (Node& node : nodes_) {
        if (!node.isPlugin()) continue;
        node.running = true;
        if (!node.block->setupRuntimeResources()) failCall(node, "mdlSetupRuntimeResources");
        if (!node.block->start()) failCall(node, "mdlStart");
        if (!node.block->systemInitialize()) failCall(node, "system initialize");
    }
    for (Node& node : nodes_) {
        if (node.isPlugin() && !node.block->outputs(-5)) failCall(node, "mdlOutputs (parameter call)");
    }
    root_->errorStatus = nullptr;
    initialized_ = true;
}

EngineState Engine::saveState() {
    EngineState state;
    state.step = step_;
    state.stepSize = config_.stepSize;
    for (Node& node : nodes_) {
        for (size_t p = 0; p < node.outputWidths.size(); ++p) {
            const double* data = node.isPlugin() ? node.block->output(static_cast<int>(p)) : node.output.data();
            state.signals.insert(state.signals.end(), data, data + node.outputWidths[p]);
        }
        if (!node.isPlugin()) continue;
        qelhost::UniqueArray simState = node.block->getSimState();
        if (!simState) failCall(node, "mdlGetSimState");
        state.blocks.push_back({node.config->name, node.block->plugin().modelName(), std::move(simState)});
    }
    return state;
}

void Engine::restoreState(const EngineState& state) {
    if (state.stepSize != config_.stepSize) {
        throw EngineError("the saved state was taken with step size " + describeNumber(state.stepSize) +
                          " s, the model runs with " + describeNumber(config_.stepSize) + " s");
    }
    if (state.step < 0) throw EngineError("the saved state has a negative step index");
    size_t numPlugins = 0;
    size_t numSignals = 0;
    for (const Node& node : nodes_) {
        numPlugins += node.isPlugin() ? 1 : 0;
        for (int width : node.outputWidths) numSignals += static_cast<size_t>(width);
    }
    if (state.blocks.size() != numPlugins) {
        throw EngineError("the saved state holds " + std::to_string(state.blocks.size()) + " plug-in blocks, the model has " +
                          std::to_string(numPlugins));
    }
    if (state.signals.size() != numSignals) {
        throw EngineError("the saved state holds " + std::to_string(state.signals.size()) + " signal values, the model has " +
                          std::to_string(numSignals));
    }
    size_t next = 0;
    for (Node& node : nodes_) {
        if (!node.isPlugin()) continue;
        const BlockState& saved = state.blocks[next++];
        if (saved.name != node.config->name || saved.modelName != node.block->plugin().modelName()) {
            throw EngineError("the saved state has block '" + saved.name + "' (" + saved.modelName + ") where the model has '" +
                              node.config->name + "' (" + node.block->plugin().modelName() + ")");
        }
        if (!saved.simState) throw EngineError("the saved state of block '" + saved.name + "' is empty");
        if (!node.block->setSimState(saved.simState.get())) failCall(node, "mdlSetSimState");
    }
    size_t offset = 0;
    for (Node& node : nodes_) {
        for (size_t p = 0; p < node.outputWidths.size(); ++p) {
            double* data = node.isPlugin() ? node.block->output(static_cast<int>(p)) : node.output.data();
            std::copy_n(state.signals.begin() + static_cast<std::ptrdiff_t>(offset), node.outputWidths[p], data);
            offset += static_cast<size_t>(node.outputWidths[p]);
        }
    }
    step_ = state.step;
    for (Node& node : nodes_) {
        if (node.isPlugin() && !node.block->outputs(-5)) failCall(node, "mdlOutputs (parameter call)");
    }
}

void Engine::beginRun(int64_t stopStep) {
    if (!initialized_ && std::any_of(nodes_.begin(), nodes_.end(), [](const Node& n) { return n.isPlugin(); })) {
        throw EngineError("the model is not initialized");
    }
    if (stopStep < step_) {
        throw EngineError("stop time " + describeNumber(timeOfStep(stopStep)) + " s lies before the start time " +
                          describeNumber(timeOfStep(step_)) + " s");
    }
    stopStep_ = stopStep;
    finished_ = false;
    log_.time.clear();
    log_.values.clear();
    const size_t rows = static_cast<size_t>((stopStep - step_) / config_.logEvery) + 3;
    log_.time.reserve(rows);
    log_.values.reserve(rows * static_cast<size_t>(log_.columns));
    // The first step of a run is always recorded, so a resumed run starts where the saved one
    // ended.
    recordNext_ = step_;
    syncPhases();
}

void Engine::failRunCall(const Node& node, const char* method) {
    SimStruct* root = root_;
    const std::string text = root->errorStatus != nullptr ? root->errorStatus : "";
    root->mdlInfo->errorReported = 1;
    root->errorStatus = nullptr;
    throw EngineError(node.label + ": " + method + " failed at time " + describeNumber(timeOfStep(step_)) + " s" +
                      (text.empty() ? std::string() : ": " + text));
}

// The run path calls the plug-ins' slots itself: the error status starts cleared and stays so
// until a call sets it, which ends the run.
inline void Engine::callOutputs(Node& node) {
    node.outputsSlot(node.simStruct, node.tid);
    if (root_->errorStatus != nullptr) failRunCall(node, "mdlOutputs");
}

// Where step_ lies within each task's period and the log's: counted up step by step, since a
// division per task and step costs more than the rest of the bookkeeping.
void Engine::syncPhases() {
    taskPhase_.resize(taskEvery_.size());
    for (size_t task = 0; task < taskEvery_.size(); ++task) taskPhase_[task] = static_cast<int>(step_ % taskEvery_[task]);
    logPhase_ = step_ % config_.logEvery;
}

void Engine::advancePhases() {
    for (size_t task = 0; task < taskEvery_.size(); ++task) {
        if (++taskPhase_[task] == taskEvery_[task]) taskPhase_[task] = 0;
    }
    if (++logPhase_ == config_.logEvery) logPhase_ = 0;
}

void Engine::setHits() {
    int* hits = rootInfo_->sampleHits;
    for (size_t task = 0; task < taskEvery_.size(); ++task) hits[task] = taskPhase_[task] == 0 ? 1 : 0;
    rootInfo_->majorTimeStep = 1;
    rootInfo_->time = timeOfStep(step_);
    // A block's calls come at the hits of its fastest rate's task.
    for (Node* node : pluginNodes_) node->due = hits[node->tid] != 0;
}

void Engine::majorOutputs(double t, bool recording) {
    const double tolerance = switchTolerance_;
    for (const Call& call : calls_) {
        Node& node = *call.node;
        if (!node.isPlugin()) {
            if (node.onlyLogged && !recording) continue;
            evaluateBuiltin(*node.config->builtin, t, tolerance, node.inputs.data(), node.outputWidths[0], node.output.data());
            continue;
        }
        if (!node.due) continue;
        if (node.hasStateOutputs()) {
            double* snapshot = node.inputSnapshot.data();
            for (size_t p = 0; p < node.inputs.size(); ++p) {
                for (int i = 0; i < node.inputWidths[p]; ++i) *snapshot++ = node.inputs[p][i];
            }
        }
        callOutputs(node);
    }
}

void Engine::refreshStateOutputs() {
    for (Node* block : stateBlocks_) {
        Node& node = *block;
        const double* snapshot = node.inputSnapshot.data();
        bool changed = false;
        // Bit for bit, like the saved values: -0.0 after 0.0 is a change, a NaN kept is none.
        for (size_t p = 0; p < node.inputs.size() && !changed; ++p) {
            const double* input = node.inputs[p];
            for (int i = 0; i < node.inputWidths[p]; ++i)
                changed |= std::bit_cast<uint64_t>(snapshot[i]) != std::bit_cast<uint64_t>(input[i]);
            snapshot += node.inputWidths[p];
        }
        if (!changed) continue;
        // Outputs again with the major-step flag cleared: the plant's equations see the new
        // inputs, and its sampled outputs are left as this step's first call wrote them.
        rootInfo_->majorTimeStep = 0;
        callOutputs(node);
        rootInfo_->majorTimeStep = 1;
    }
}

void Engine::recordRow(double t) {
    log_.time.push_back(t);
    for (size_t s = 0; s < logSources_.size(); ++s) {
        for (int i = 0; i < logWidths_[s]; ++i) log_.values.push_back(logSources_[s][i]);
    }
}

void Engine::updates() {
    for (const Call& call : calls_) {
        Node& node = *call.node;
        if (!node.due) continue;
        node.updateSlot(node.simStruct, node.tid);
        if (root_->errorStatus != nullptr) failRunCall(node, "mdlUpdate");
    }
}

void Engine::minorOutputs(double t) {
    rootInfo_->majorTimeStep = 0;
    rootInfo_->time = t;
    const double tolerance = switchTolerance_;
    for (Node* block : minorCalls_) {
        Node& node = *block;
        if (node.isPlugin()) {
            callOutputs(node);
        } else {
            evaluateBuiltin(*node.config->builtin, t, tolerance, node.inputs.data(), node.outputWidths[0], node.output.data());
        }
    }
}

void Engine::derivatives(double* into) {
    for (Node* block : stateBlocks_) {
        Node& node = *block;
        node.derivativesSlot(node.simStruct);
        if (root_->errorStatus != nullptr) failRunCall(node, "mdlDerivatives");
        std::copy_n(node.stateDerivatives, node.numStates, into + node.stateOffset);
    }
}

// Writes stage(i) into every continuous state i, in the blocks' own vectors.
template <class Stage>
inline void Engine::setStates(Stage stage) {
    for (const Node* block : stateBlocks_) {
        const Node& node = *block;
        double* x = node.states;
        const size_t offset = static_cast<size_t>(node.stateOffset);
        for (size_t i = 0; i < static_cast<size_t>(node.numStates); ++i) x[i] = stage(offset + i);
    }
}

void Engine::integrate() {
    if (numStates_ == 0) return;
    const double h = config_.stepSize;
    double* x0 = x0_.data();
    const double* k1 = k1_.data();
    // x0 holds x(t_n); the blocks' own vectors carry each stage's states.
    for (const Node* block : stateBlocks_) {
        const Node& node = *block;
        std::copy_n(node.states, node.numStates, x0 + node.stateOffset);
    }
    derivatives(k1_.data());
    if (config_.solver == Solver::ode1) {
        setStates([&](size_t i) { return x0[i] + h * k1[i]; });
        return;
    }
    const double* k2 = k2_.data();
    const double* k3 = k3_.data();
    const double* k4 = k4_.data();
    const double halfStep = h * 0.5;
    const double tHalf = (static_cast<double>(step_) + 0.5) * h;
    const double tNext = timeOfStep(step_ + 1);
    setStates([&](size_t i) { return x0[i] + halfStep * k1[i]; });
    minorOutputs(tHalf);
    derivatives(k2_.data());
    setStates([&](size_t i) { return x0[i] + halfStep * k2[i]; });
    minorOutputs(tHalf);
    derivatives(k3_.data());
    setStates([&](size_t i) { return x0[i] + h * k3[i]; });
    minorOutputs(tNext);
    derivatives(k4_.data());
    const double sixth = h / 6.0;
    setStates([&](size_t i) { return x0[i] + sixth * (((k1[i] + 2.0 * k2[i]) + 2.0 * k3[i]) + k4[i]); });
}

void Engine::advanceTo(int64_t step) {
    if (step > stopStep_) step = stopStep_;
    while (step_ < step) {
        const double t = timeOfStep(step_);
        setHits();
        const bool recording = step_ == recordNext_ || logPhase_ == 0;
        majorOutputs(t, recording);
        refreshStateOutputs();
        if (recording) recordRow(t);
        updates();
        integrate();
        ++step_;
        advancePhases();
    }
}

void Engine::finishRun() {
    if (finished_) return;
    const double t = timeOfStep(step_);
    setHits();
    majorOutputs(t, true);
    recordRow(t);
    finished_ = true;
}

}  // namespace qelengine

// The parent model: blocks loaded from their plug-ins through the host's loader, built-in blocks,
// the wiring between them, and a fixed-step multi-rate simulation.
//
// The model's tasks are continuous, 1e-5 s and 1e-4 s (tasks 0, 1, 2) and the constant rate. A
// major step k at time k * stepSize:
//   1. the sample-hit flags of the tasks due at step k are set, the major-step flag too;
//   2. every block called at this step computes its outputs, in an order derived from the wiring
//      (a block whose outputs depend only on its states runs before the blocks it feeds);
//   3. such a block is called once more, in minor-step mode, when its inputs changed after its
//      first call, so that the derivatives integrated from step k see the controller outputs of
//      step k and not those of step k - 1;
//   4. the logged signals are recorded (every logEvery-th step, and at the end);
//   5. every block called at this step updates its discrete states;
//   6. the solver integrates the continuous states to step k + 1: ode4 (classical Runge-Kutta)
//      or ode1 (Euler); its stages call the outputs of the continuous blocks and the built-in
//      blocks with the major-step flag cleared.
// A plug-in block is called at the hits of its fastest rate: a plant at every major step and in
// every stage, a controller at the hits of its 1e-5 s or 1e-4 s rate. Built-in blocks that feed
// a continuous block are computed in the stages too; those that feed only the log, at the logged
// steps. Before the first step every plug-in block gets its run-time resources, its initial
// conditions and the parameter call (task id -5).
//
// Nothing on the run path allocates or formats text, unless a block reports an error.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/engine/builtin_blocks.h"
#include "host/mx_arrays.h"

namespace qelhost {
class Block;
class Plugin;
class TopModel;
}  // namespace qelhost

namespace qelengine {

// A model that cannot be built or run: one line naming the block, port or value and what is
// wrong with it.
class EngineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Solver { ode4, ode1 };

struct BlockConfig {
    std::string name;                              // unique within the model
    std::filesystem::path plugin;                  // a plug-in block: the plug-in file ...
    std::optional<BuiltinConfig> builtin;            // ... or a built-in block
    std::vector<std::vector<double>> arguments;    // plug-in: model argument k, in host order
    std::vector<std::string> inputNames;           // plug-in port names for messages; may be empty
    std::vector<std::string> outputNames;
};

struct PortRef {
    int block = -1;
    int port = 0;
};

struct Connection {
    PortRef from;   // an output port
    PortRef to;     // an input port
};

struct ModelConfig {
    std::vector<BlockConfig> blocks;
    std::vector<Connection> connections;
    std::vector<PortRef> logged;   // output ports, in column order
    double stepSize = 1e-5;
    Solver solver = Solver::ode4;
    int64_t logEvery = 10;         // record every logEvery-th major step
};

// What the engine recorded: one row per logged step, the values of the logged ports side by side.
struct SignalLog {
    int columns = 0;
    std::vector<double> time;
    std::vector<double> values;   // row-major: time.size() rows of `columns` values
    double at(size_t row, int column) const { return values[row * static_cast<size_t>(columns) + static_cast<size_t>(column)]; }
};

struct BlockState {
    std::string name;
    std::string modelName;
    qelhost::UniqueArray simState;   // the plug-in's own simulation state, as its get method made it
};

// Everything a run needs to continue exactly where it stopped: taken at the start of a major step,
// before its outputs.
struct EngineState {
    int64_t step = 0;
    double stepSize = 0.0;
    std::vector<double> signals;     // every output port of every block, blocks and ports in order
    std::vector<BlockState> blocks;  // the plug-in blocks in model order
};

class Engine {
public:
    // Opens the plug-ins, registers the blocks, connects and checks the wiring and orders the
    // calls. EngineError when anything is wrong.
    explicit Engine(ModelConfig config);
    ~Engine();   // terminates the blocks
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Run-time resources, initial conditions, then the parameter call of every plug-in block.
    void initialize();
    // Continues from a saved state instead of the initial conditions (after initialize()); the
    // parameter call runs again so that changed arguments take effect.
    void restoreState(const EngineState& state);
    EngineState saveState();

    // Prepares the log for a run that ends with the outputs of `stopStep`.
    void beginRun(int64_t stopStep);
    // Runs whole major steps until stepIndex() reaches `step` (at most the stop step).
    void advanceTo(int64_t step);
    // The outputs of the stop step, recorded as the last row; the run is then complete.
    void finishRun();

    int64_t stepIndex() const { return step_; }
    int64_t stopStep() const { return stopStep_; }
    double stepSize() const { return config_.stepSize; }
    double timeOfStep(int64_t step) const { return static_cast<double>(step) * config_.stepSize; }

    const ModelConfig& config() const { return config_; }
    const SignalLog& log() const { return log_; }
    int outputWidth(PortRef port) const;
    int inputWidth(PortRef port) const;
    // The current values of an output port (for tests and inspection).
    std::span<const double> outputValues(PortRef port) const;
    // A plug-in block's loader handle; null for a built-in block.
    qelhost::Block* pluginBlock(int block);

private:
    struct Node;
    struct Call;

    void loadBlocks();
    void connect();
    void orderCalls();
    [[noreturn]] void failCall(const Node& node, const char* method);
    [[noreturn]] void failRunCall(const Node& node, const char* method);
    void callOutputs(Node& node);
    std::string portName(PortRef port, bool input) const;

    void syncPhases();
    void advancePhases();
    void setHits();
    void majorOutputs(double t, bool recording);
    void refreshStateOutputs();
    void recordRow(double t);
    void updates();
    void minorOutputs(double t);
    void derivatives(double* into);
    template <class Stage>
    void setStates(Stage stage);
    void integrate();

    ModelConfig config_;
    std::unique_ptr<qelhost::TopModel> top_;
    std::vector<std::shared_ptr<qelhost::Plugin>> plugins_;
    std::vector<Node> nodes_;
    std::vector<Call> calls_;          // major-step order
    std::vector<Node*> minorCalls_;    // the blocks computed in the solver's stages, in that order
    std::vector<int> taskEvery_;       // steps between hits of each task
    std::vector<int> taskPhase_;       // step_ modulo taskEvery_, kept by counting
    int64_t logPhase_ = 0;             // step_ modulo logEvery
    // The run path's block lists point into nodes_, which keeps its size once built.
    std::vector<Node*> pluginNodes_;   // the plug-in blocks, in model order
    std::vector<Node*> stateBlocks_;   // blocks with continuous states
    size_t numStates_ = 0;             // all of them, blocks in order
    std::vector<double> x0_, k1_, k2_, k3_, k4_;
    // The top model's root structure and model info: every block's error status and flags.
    SimStruct* root_ = nullptr;
    ModelInfo* rootInfo_ = nullptr;
    double switchTolerance_ = 0.0;
    std::vector<const double*> logSources_;
    std::vector<int> logWidths_;
    SignalLog log_;
    int64_t step_ = 0;
    int64_t stopStep_ = 0;
    int64_t recordNext_ = 0;
    bool initialized_ = false;
    bool finished_ = false;
};

std::string_view solverName(Solver solver);

}  // namespace qelengine

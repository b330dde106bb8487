// Speed of the default scenario (the dq position loop, ode4, 1e-5 s): simulated seconds per wall
// second through the plug-ins and the stand-in host, and the same loop with the model functions
// called directly as the floor. Both record the scenario's logged signals every 1e-4 s.
//
//   build/bin/engine_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//
// On a shared machine the times scatter; the run path's instruction count is repeatable and
// serves for comparing two builds:
//
//   valgrind --tool=callgrind --toggle-collect='qelengine::Engine::advanceTo*'
//       build/bin/qelsim run --stop-time 0.02 --out /tmp/qel-callgrind --quiet   (one line)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "app/run/run_plan.h"
#include "app/run/scenario.h"
#include "controllers/Qel_Lib_wexa_position_controller_dq_sub.h"
#include "host/engine/engine.h"
#include "host/loader.h"
#include "plants/Qel_Lib_motor_dq_sub.h"

namespace {

constexpr int64_t kStepsPerIteration = 10000;   // 0.1 s simulated
constexpr size_t kLogColumns = 16;               // time and the 15 logged values

qelsim::run::RunPlan defaultPlan() {
    return qelsim::run::buildRunPlan(qelsim::run::defaultScenario(), QEL_PLUGIN_DIR, {});
}

// The scenario's values by block name, so the direct loop runs on exactly the same numbers.
const qelengine::BlockConfig& blockNamed(const qelengine::ModelConfig& model, const char* name) {
    for (const auto& block : model.blocks) {
        if (block.name == name) return block;
    }
    throw std::runtime_error(std::string("the default scenario has no block ") + name);
}

// The default scenario written out by hand: the same call sequence as the engine's, with the
// model functions called directly and a bare top-model structure for their rate tests.
class DirectLoop {
public:
    explicit DirectLoop(const qelengine::ModelConfig& model) : h_(model.stepSize), logEvery_(model.logEvery) {
        const auto& motor = blockNamed(model, "motor").arguments;
        for (size_t k = 0; k < motor.size(); ++k) motorArgs_[k] = motor[k][0];
        table_ = motor[11];
        const auto& controller = blockNamed(model, "controller").arguments;
        for (size_t k = 0; k < controller.size(); ++k) controllerArgs_[k] = controller[k][0];
        reference_ = *blockNamed(model, "positionReference").builtin;
        load_ = *blockNamed(model, "loadTorque").builtin;

        root_.root = &root_;
        root_.sizes[kSizeNumSampleTimes] = 3;
        root_.sampleTimeTaskIds = taskIds_;
        root_.mdlInfo = &info_;
        info_.sampleHits = hits_;
        info_.numTasks = 3;

        using namespace Qel_Lib_motor_dq_sub;
        modelInitialize(&root_, 0, 1, 2, 3, &plant_.instance, &plant_.rtb, &plant_.rtdw, x_, nullptr, 0, nullptr, nullptr, 0, -1);
        modelSystemInitialize(&plant_.rtdw, x_);
        namespace ctl = Qel_Lib_wexa_position_controller_dq_sub;
        ctl::modelInitialize(&root_, 2, 3, &controller_.instance, &controller_.rtb, &controller_.rtdw, nullptr, 0, nullptr,
                             nullptr, 0, -1);
        ctl::modelSystemInitialize(&controller_.rtdw);
        ctl::modelParameterSetup(&controller_.rtb, controllerArgs_[3], controllerArgs_[9], controllerArgs_[10]);
        log_.reserve(static_cast<size_t>(kStepsPerIteration / logEvery_ + 1) * kLogColumns);
    }

    void advance(int64_t steps) {
        // Like the engine's log, allocated before the steps that fill it.
        log_.clear();
        for (int64_t end = step_ + steps; step_ < end; ++step_) majorStep();
    }

    const double* states() const { return x_; }
    int64_t step() const { return step_; }

private:
    void plantOutputs() {
        const double* a = motorArgs_.data();
        Qel_Lib_motor_dq_sub::modelOutputs(&plant_.instance, voltage_, loadTorque_,
                                           &angle_, &speed_, current_, &torque_, &electricalAngle_, &plant_.rtb,
                                           &plant_.rtdw, x_, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9],
                                           a[10], table_.data(), a[12], a[13], a[14], a[15], a[16]);
    }

    void sources(double t) {
        const double tolerance = 1e-3 * h_;
        positionReference_ = t >= reference_.time - tolerance ? reference_.final : reference_.initial;
        loadTorque_ = t >= load_.time - tolerance ? load_.final : load_.initial;
    }

    void derivatives(double* into) { Qel_Lib_motor_dq_sub::modelDerivatives(&plant_.rtb, into); }

    void minor(double t) {
        info_.majorTimeStep = 0;
        sources(t);
        plantOutputs();
    }

    void majorStep() {
        const double t = static_cast<double>(step_) * h_;
        const bool tick = step_ % 10 == 0;
        hits_[0] = 1;
        hits_[1] = 1;
        hits_[2] = tick ? 1 : 0;
        info_.majorTimeStep = 1;

        sources(t);
        double inputs[4];
        std::memcpy(inputs, voltage_, sizeof voltage_);
        inputs[3] = loadTorque_;
        plantOutputs();
        const double* c = controllerArgs_.data();
        if (tick) {
            Qel_Lib_wexa_position_controller_dq_sub::modelOutputs(positionReference_, 0.0, 0.0, angle_, speed_, current_,
                                                                  electricalAngle_, voltage_, &controller_.rtb,
                                                                  &controller_.rtdw, c[0], c[1], c[2], c[4], c[5], c[6],
                                                                  c[7], c[8], c[10]);
        }
        if (std::memcmp(inputs, voltage_, sizeof voltage_) != 0 || inputs[3] != loadTorque_) {
            info_.majorTimeStep = 0;
            plantOutputs();
            info_.majorTimeStep = 1;
        }
        if (step_ % logEvery_ == 0) {
            // The logged-only blocks: the position error and the measured currents in dq.
            const double positionError = 0.0 + positionReference_ - angle_;
            const double alpha = 0.6666666666666666 * current_[0] + -0.3333333333333333 * current_[1] +
                                 -0.3333333333333333 * current_[2];
            const double beta = 0.5773502691896257 * current_[1] + -0.5773502691896257 * current_[2];
            const double cosine = std::cos(electricalAngle_);
            const double sine = std::sin(electricalAngle_);
            const double row[] = {t, positionReference_, angle_, positionError, speed_, alpha * cosine + beta * sine,
                                  beta * cosine - alpha * sine, current_[0], current_[1], current_[2], voltage_[0], voltage_[1],
                                  voltage_[2], torque_, loadTorque_, electricalAngle_};
            log_.insert(log_.end(), std::begin(row), std::end(row));
        }
        if (tick) Qel_Lib_wexa_position_controller_dq_sub::modelUpdate(&controller_.rtb, &controller_.rtdw);
        Qel_Lib_motor_dq_sub::modelUpdate(&plant_.instance, &plant_.rtb, &plant_.rtdw);

        double x0[4], k1[4], k2[4], k3[4], k4[4];
        std::copy_n(x_, 4, x0);
        derivatives(k1);
        const double half = h_ * 0.5;
        for (int i = 0; i < 4; ++i) x_[i] = x0[i] + half * k1[i];
        minor((static_cast<double>(step_) + 0.5) * h_);
        derivatives(k2);
        for (int i = 0; i < 4; ++i) x_[i] = x0[i] + half * k2[i];
        minor((static_cast<double>(step_) + 0.5) * h_);
        derivatives(k3);
        for (int i = 0; i < 4; ++i) x_[i] = x0[i] + h_ * k3[i];
        minor(static_cast<double>(step_ + 1) * h_);
        derivatives(k4);
        const double sixth = h_ / 6.0;
        for (int i = 0; i < 4; ++i) x_[i] = x0[i] + sixth * (((k1[i] + 2.0 * k2[i]) + 2.0 * k3[i]) + k4[i]);
    }

    double h_;
    int64_t logEvery_;
    int64_t step_ = 0;
    std::array<double, 17> motorArgs_{};
    std::vector<double> table_;
    std::array<double, 11> controllerArgs_{};
    qelengine::BuiltinConfig reference_, load_;

    SimStruct root_{};
    ModelInfo info_{};
    int hits_[3] = {};
    int taskIds_[3] = {0, 1, 2};

    Qel_Lib_motor_dq_sub::WorkRecord plant_{};
    Qel_Lib_wexa_position_controller_dq_sub::WorkRecord controller_{};
    double x_[4] = {};
    double voltage_[3] = {};
    double loadTorque_ = 0.0;
    double positionReference_ = 0.0;
    double angle_ = 0.0, speed_ = 0.0, torque_ = 0.0, electricalAngle_ = 0.0;
    double current_[3] = {};
    std::vector<double> log_;
};

void reportRate(benchmark::State& state, double stepSize) {
    const double simulated = static_cast<double>(state.iterations() * kStepsPerIteration) * stepSize;
    state.counters["sim_s_per_s"] = benchmark::Counter(simulated, benchmark::Counter::kIsRate);
    state.SetItemsProcessed(state.iterations() * kStepsPerIteration);
}

void BM_DefaultScenarioThroughPlugins(benchmark::State& state) {
    const qelsim::run::RunPlan plan = defaultPlan();
    qelengine::Engine engine(plan.model);
    engine.initialize();
    // The log is allocated up front for a whole run; a new run starts whenever one is full.
    constexpr int64_t kRunSteps = 100 * kStepsPerIteration;
    engine.beginRun(kRunSteps);
    for (auto _ : state) {
        if (engine.stepIndex() == engine.stopStep()) {
            state.PauseTiming();
            engine.beginRun(engine.stepIndex() + kRunSteps);
            state.ResumeTiming();
        }
        engine.advanceTo(engine.stepIndex() + kStepsPerIteration);
    }
    reportRate(state, plan.model.stepSize);
}
BENCHMARK(BM_DefaultScenarioThroughPlugins)->Unit(benchmark::kMillisecond);

void BM_DefaultScenarioDirect(benchmark::State& state) {
    const qelsim::run::RunPlan plan = defaultPlan();
    DirectLoop loop(plan.model);

    // The floor is only a floor if it is the same loop: its states must follow the engine's.
    {
        qelengine::Engine engine(plan.model);
        engine.initialize();
        engine.beginRun(20000);
        engine.advanceTo(20000);
        DirectLoop check(plan.model);
        check.advance(20000);
        const auto engineStates = engine.pluginBlock(0)->contStates();
        if (!std::equal(engineStates.begin(), engineStates.end(), check.states())) {
            state.SkipWithError("the direct loop does not reproduce the engine's states");
            return;
        }
    }
    for (auto _ : state) loop.advance(kStepsPerIteration);
    reportRate(state, plan.model.stepSize);
}
BENCHMARK(BM_DefaultScenarioDirect)->Unit(benchmark::kMillisecond);

}  // namespace

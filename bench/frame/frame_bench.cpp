// The frame's per-call cost: an output call through the plug-in's method slot against the
// model's modelOutputs called directly. Both run on the same host structure with the same task
// ids, so the model's own rate tests cost the same on both sides; the difference is the frame.
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "controllers/Qel_Lib_wexa_current_controller_sub.h"
#include "host/loader.h"
#include "plants/Qel_Lib_motor_sub.h"

namespace {

// A started block of `model` in a major step in which every task has a hit.
struct StartedBlock {
    explicit StartedBlock(const std::string& model)
        : block(top, qelhost::Plugin::open(std::string(QEL_PLUGIN_DIR) + "/" + model + "_msp.mexa64")) {
        block.registerBlock();
        for (int k = 0; k < 17; ++k) block.setArgument(k, std::vector<double>(120, 1.0));
        block.setupRuntimeResources();
        block.outputs(-5);
        top.setAllSampleHits(true);
        *block.inputBuffer(0) = 1.0;
    }

    // The global task ids the plug-in's instance got, for the direct calls.
    template <class WorkRecord>
    const int32_t* globalTids() {
        return reinterpret_cast<WorkRecord*>(block.workRecord().data())->instance.globalTid;
    }

    qelhost::TopModel top;
    qelhost::Block block;
};

void currentControllerThroughPlugin(benchmark::State& state) {
    StartedBlock started("Qel_Lib_wexa_current_controller_sub");
    SimStruct* block = started.block.simStruct();
    const ssTidMethod outputs = block->methods.outputs;
    for (auto _ : state) {
        outputs(block, 0);
        benchmark::DoNotOptimize(*started.block.output(0));
    }
}
BENCHMARK(currentControllerThroughPlugin);

void currentControllerDirect(benchmark::State& state) {
    namespace m = Qel_Lib_wexa_current_controller_sub;
    StartedBlock started("Qel_Lib_wexa_current_controller_sub");
    const int32_t* g = started.globalTids<m::WorkRecord>();
    auto record = std::make_unique<m::WorkRecord>();
    m::modelInitialize(started.block.simStruct(), g[0], g[1], g[2], &record->instance, &record->rtb, &record->rtdw,
                       nullptr, 0, nullptr, nullptr, 0, -1);
    m::modelParameterSetup(&record->rtb, 1.0, 1.0);
    const double reference = 1.0;
    const double measured = 0.0;
    double output = 0.0;
    for (auto _ : state) {
        m::modelOutputs(&record->instance, reference, measured, &output, &record->rtb, &record->rtdw, 1.0, 1.0);
        benchmark::DoNotOptimize(output);
    }
}
BENCHMARK(currentControllerDirect);

void motorThroughPlugin(benchmark::State& state) {
    StartedBlock started("Qel_Lib_motor_sub");
    SimStruct* block = started.block.simStruct();
    const ssTidMethod outputs = block->methods.outputs;
    for (auto _ : state) {
        outputs(block, 0);
        benchmark::DoNotOptimize(*started.block.output(3));
    }
}
BENCHMARK(motorThroughPlugin);

void motorDirect(benchmark::State& state) {
    namespace m = Qel_Lib_motor_sub;
    StartedBlock started("Qel_Lib_motor_sub");
    const int32_t* g = started.globalTids<m::WorkRecord>();
    auto record = std::make_unique<m::WorkRecord>();
    std::vector<double> x(m::kNumContinuousStates, 0.0);
    m::modelInitialize(started.block.simStruct(), g[0], g[1], g[2], g[3], &record->instance, &record->rtb,
                       &record->rtdw, x.data(), nullptr, 0, nullptr, nullptr, 0, -1);
    const std::vector<double> table(120, 1.0);
    double y[4] = {};
    for (auto _ : state) {
        m::modelOutputs(&record->instance, 1.0, 1.0, &y[0], &y[1], &y[2], &y[3], &record->rtb, &record->rtdw, x.data(),
                        1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, table.data(), 1.0, 1.0, 1.0, 1.0, 1.0);
        benchmark::DoNotOptimize(y[3]);
    }
}
BENCHMARK(motorDirect);

}  // namespace

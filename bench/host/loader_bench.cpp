#include <benchmark/benchmark.h>

#include "host/loader.h"

namespace {

// A registered, initialised current controller at a 1e-4 s sample hit.
struct ControllerFixture {
    ControllerFixture() {
        block.registerBlock();
        block.setArguments({{1.0}, {1.0}, {100.0}, {100.0}});
        block.setupRuntimeResources();
        block.systemInitialize();
        block.outputs(-5);
        model.setSampleHit(2, true);
        block.inputBuffer(0)[0] = 1.0;
    }
    qelhost::TopModel model;
    qelhost::Block block{model, qelhost::Plugin::open(QEL_CURRENT_CONTROLLER_PLUGIN)};
};

void outputsThroughLoader(benchmark::State& state) {
    ControllerFixture fixture;
    for (auto _ : state) {
        bool ok = fixture.block.outputs(0);
        benchmark::DoNotOptimize(ok);
    }
}
BENCHMARK(outputsThroughLoader);

void outputsThroughSlot(benchmark::State& state) {
    ControllerFixture fixture;
    SimStruct* block = fixture.block.simStruct();
    for (auto _ : state) {
        block->methods.outputs(block, 0);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(outputsThroughSlot);

void outputsThroughEntryFlag(benchmark::State& state) {
    ControllerFixture fixture;
    fixture.block.currentArguments().tid = 0;
    for (auto _ : state) {
        bool ok = fixture.block.callFlag(104);
        benchmark::DoNotOptimize(ok);
    }
}
BENCHMARK(outputsThroughEntryFlag);

void simStateSaveAndRestore(benchmark::State& state) {
    ControllerFixture fixture;
    for (auto _ : state) {
        qelhost::UniqueArray saved = fixture.block.getSimState();
        fixture.block.setSimState(saved.get());
    }
}
BENCHMARK(simStateSaveAndRestore);

}  // namespace

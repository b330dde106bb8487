// Cost of one computing step of each controller: modelOutputs followed by modelUpdate at a
// 1e-4 s sample hit, as the periodic output-update method calls them.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <numbers>

#include "controllers/Qel_Lib_wexa_current_controller_dq_sub.h"
#include "controllers/Qel_Lib_wexa_current_controller_sub.h"
#include "controllers/Qel_Lib_wexa_position_controller_dq_sub.h"
#include "controllers/Qel_Lib_wexa_position_controller_sub.h"
#include "controllers/Qel_Lib_wexa_velocity_controller_dq_sub.h"
#include "controllers/Qel_Lib_wexa_velocity_controller_sub.h"
#include "host/block_structure.h"

namespace {

// A top model with tasks 0 (continuous), 1 (1e-5 s) and 2 (1e-4 s), in a major step in which
// both discrete tasks have a hit; the block under test is its child.
class HostAtSampleHit {
public:
    explicit HostAtSampleHit(const char* modelName) : top_("top"), block_(modelName, &top_) {
        top_.setSampleTimes({0.0, 1e-5, 1e-4}, {0, 1, 2});
        top_.setNumTasks(3);
        top_.setMajorTimeStep(true);
        top_.setSampleHit(1, true);
        top_.setSampleHit(2, true);
    }
    SimStruct* block() { return block_.get(); }

private:
    qelhost::BlockStructure top_;
    qelhost::BlockStructure block_;
};

// Electrical angles over one turn and balanced phase currents at each, so that the sine and
// cosine see varied arguments.
struct ThreePhaseSamples {
    static constexpr size_t kCount = 64;
    std::array<double, kCount> angle;
    std::array<std::array<double, 3>, kCount> currents;

    ThreePhaseSamples() {
        for (size_t k = 0; k < kCount; ++k) {
            angle[k] = 2.0 * std::numbers::pi * static_cast<double>(k) / kCount;
            currents[k] = {std::cos(angle[k]), std::cos(angle[k] - 2.0 * std::numbers::pi / 3.0),
                           std::cos(angle[k] + 2.0 * std::numbers::pi / 3.0)};
        }
    }
};

// The references alternate in sign so that the integrators stay bounded however long it runs.
double alternating(size_t step, double magnitude) { return (step & 1) != 0 ? magnitude : -magnitude; }

void BM_CurrentController(benchmark::State& state) {
    namespace m = Qel_Lib_wexa_current_controller_sub;
    HostAtSampleHit host(m::kModelName);
    m::WorkRecord work;
    m::modelInitialize(host.block(), 1, 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 0, nullptr, nullptr,
                       0, -1);
    m::modelParameterSetup(&work.rtb, 10.0, 24.0);
    double output = 0.0;
    size_t step = 0;
    for (auto _ : state) {
        m::modelOutputs(&work.instance, alternating(step, 2.0), 0.5, &output, &work.rtb, &work.rtdw, 3.0, 2e-3);
        m::modelUpdate(&work.instance, &work.rtb, &work.rtdw);
        benchmark::DoNotOptimize(output);
        ++step;
    }
}
BENCHMARK(BM_CurrentController);

void BM_CurrentControllerDq(benchmark::State& state) {
    namespace m = Qel_Lib_wexa_current_controller_dq_sub;
    HostAtSampleHit host(m::kModelName);
    m::WorkRecord work;
    m::modelInitialize(host.block(), 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 0, nullptr, nullptr, 0,
                       -1);
    m::modelParameterSetup(&work.rtb, 0.5, 10.0, 24.0);
    const ThreePhaseSamples samples;
    double outputs[3] = {};
    size_t step = 0;
    for (auto _ : state) {
        const size_t k = step % ThreePhaseSamples::kCount;
        m::modelOutputs(alternating(step, 2.0), 1500.0, samples.currents[k].data(), samples.angle[k], outputs,
                        &work.rtb, &work.rtdw, 3.0, 0.01, 2e-3, 4.0, 0.2, 24.0);
        m::modelUpdate(&work.rtb, &work.rtdw);
        benchmark::DoNotOptimize(outputs);
        ++step;
    }
}
BENCHMARK(BM_CurrentControllerDq);

void BM_VelocityController(benchmark::State& state) {
    namespace m = Qel_Lib_wexa_velocity_controller_sub;
    HostAtSampleHit host(m::kModelName);
    m::WorkRecord work;
    m::modelInitialize(host.block(), 1, 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 0, nullptr, nullptr,
                       0, -1);
    m::modelParameterSetup(&work.rtb, 10.0, 24.0);
    double output = 0.0;
    size_t step = 0;
    for (auto _ : state) {
        m::modelOutputs(&work.instance, alternating(step, 1500.0), 0.1, 1400.0, 0.5, &output, &work.rtb, &work.rtdw,
                        0.2, 3.0, 0.05, 2e-3, 1.0, 1.0);
        m::modelUpdate(&work.instance, &work.rtb, &work.rtdw);
        benchmark::DoNotOptimize(output);
        ++step;
    }
}
BENCHMARK(BM_VelocityController);

void BM_VelocityControllerDq(benchmark::State& state) {
    namespace m = Qel_Lib_wexa_velocity_controller_dq_sub;
    HostAtSampleHit host(m::kModelName);
    m::WorkRecord work;
    m::modelInitialize(host.block(), 1, 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 0, nullptr, nullptr,
                       0, -1);
    m::modelParameterSetup(&work.rtb, 0.5, 10.0, 24.0);
    const ThreePhaseSamples samples;
    double outputs[3] = {};
    size_t step = 0;
    for (auto _ : state) {
        const size_t k = step % ThreePhaseSamples::kCount;
        m::modelOutputs(&work.instance, alternating(step, 1500.0), 0.1, 1400.0, samples.currents[k].data(),
                        samples.angle[k], outputs, &work.rtb, &work.rtdw, 0.2, 3.0, 0.01, 0.05, 2e-3, 1.0, 1.0, 24.0);
        m::modelUpdate(&work.instance, &work.rtb, &work.rtdw);
        benchmark::DoNotOptimize(outputs);
        ++step;
    }
}
BENCHMARK(BM_VelocityControllerDq);

void BM_PositionController(benchmark::State& state) {
    namespace m = Qel_Lib_wexa_position_controller_sub;
    HostAtSampleHit host(m::kModelName);
    m::WorkRecord work;
    m::modelInitialize(host.block(), 1, 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 0, nullptr, nullptr,
                       0, -1);
    m::modelParameterSetup(&work.rtb, 10.0, 24.0);
    double output = 0.0;
    size_t step = 0;
    for (auto _ : state) {
        m::modelOutputs(&work.instance, alternating(step, 90.0), 100.0, 0.1, 45.0, 1400.0, 0.5, &output, &work.rtb,
                        &work.rtdw, 0.2, 3.0, 50.0, 0.05, 2e-3, 1.0, 1.0);
        m::modelUpdate(&work.instance, &work.rtb, &work.rtdw);
        benchmark::DoNotOptimize(output);
        ++step;
    }
}
BENCHMARK(BM_PositionController);

void BM_PositionControllerDq(benchmark::State& state) {
    namespace m = Qel_Lib_wexa_position_controller_dq_sub;
    HostAtSampleHit host(m::kModelName);
    m::WorkRecord work;
    m::modelInitialize(host.block(), 2, 3, &work.instance, &work.rtb, &work.rtdw, nullptr, 0, nullptr, nullptr, 0,
                       -1);
    m::modelParameterSetup(&work.rtb, 0.5, 10.0, 24.0);
    const ThreePhaseSamples samples;
    double outputs[3] = {};
    size_t step = 0;
    for (auto _ : state) {
        const size_t k = step % ThreePhaseSamples::kCount;
        m::modelOutputs(alternating(step, 90.0), 100.0, 0.1, 45.0, 1400.0, samples.currents[k].data(),
                        samples.angle[k], outputs, &work.rtb, &work.rtdw, 0.2, 3.0, 50.0, 0.01, 0.05, 2e-3, 1.0, 1.0,
                        24.0);
        m::modelUpdate(&work.rtb, &work.rtdw);
        benchmark::DoNotOptimize(outputs);
        ++step;
    }
}
BENCHMARK(BM_PositionControllerDq);

}  // namespace

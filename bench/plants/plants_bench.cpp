// Cost of one plant call as the host makes it: outputs and update at a sensor tick (the whole
// measurement chain, errors on, so the table lookup runs too), and outputs alone in a minor step
// (the plant equations only).
#include <benchmark/benchmark.h>

#include <array>

#include "host/block_structure.h"
#include "plants/Qel_Lib_motor_dq_sub.h"
#include "plants/Qel_Lib_motor_sub.h"

namespace {

constexpr int kSensorTask = 2;

// A top model with tasks 0 (continuous), 1 (1e-5 s) and 2 (1e-4 s) and the plant as its child.
struct Host {
    explicit Host(const char* modelName) : top("top"), block(modelName, &top) {
        top.setSampleTimes({0.0, 1e-5, 1e-4}, {0, 1, 2});
        top.setNumTasks(3);
    }
    void sensorTick() {
        top.setMajorTimeStep(true);
        for (int task = 0; task < 3; ++task) top.setSampleHit(task, true);
    }
    void minorStep() { top.setMajorTimeStep(false); }

    qelhost::BlockStructure top;
    qelhost::BlockStructure block;
};

std::array<double, 120> errorTable() {
    std::array<double, 120> table{};
    for (size_t i = 0; i < table.size(); ++i) table[i] = 0.01 * static_cast<double>(i % 7);
    return table;
}

struct DqPlant {
    DqPlant() : host(Qel_Lib_motor_dq_sub::kModelName) {
        using namespace Qel_Lib_motor_dq_sub;
        modelInitialize(host.block.get(), 0, 1, 2, 3, &work.instance, &work.rtb, &work.rtdw, x, nullptr, 0, nullptr,
                        nullptr, 0, -1);
        modelSystemInitialize(&work.rtdw, x);
        x[0] = 1.3;
        x[1] = 2.0;
        x[2] = -0.5;
        x[3] = 150.0;
    }
    void outputs() {
        Qel_Lib_motor_dq_sub::modelOutputs(&work.instance, voltage.data(), 0.4, &angle, &speed, current.data(), &torque,
                                           &electricalAngle, &work.rtb, &work.rtdw, x, 1.0, 0.01, 1.0 / 4096.0, 2e-4,
                                           1e-3, 0.5, 0.01, 1e-4, 0.05, 4.0, 1e-3, table.data(), 1.0, 0.95, 5.0, 0.5,
                                           1.0);
    }
    void update() { Qel_Lib_motor_dq_sub::modelUpdate(&work.instance, &work.rtb, &work.rtdw); }

    Host host;
    Qel_Lib_motor_dq_sub::WorkRecord work;
    double x[4] = {};
    std::array<double, 3> voltage = {10.0, -4.0, -6.0};
    std::array<double, 120> table = errorTable();
    double angle = 0.0, speed = 0.0, torque = 0.0, electricalAngle = 0.0;
    std::array<double, 3> current{};
};

struct SingleWindingPlant {
    SingleWindingPlant() : host(Qel_Lib_motor_sub::kModelName) {
        using namespace Qel_Lib_motor_sub;
        modelInitialize(host.block.get(), 0, 1, 2, 3, &work.instance, &work.rtb, &work.rtdw, x, nullptr, 0, nullptr,
                        nullptr, 0, -1);
        modelSystemInitialize(&work.rtdw, x);
        x[0] = 1.3;
        x[1] = 2.0;
        x[2] = 150.0;
    }
    void outputs() {
        Qel_Lib_motor_sub::modelOutputs(&work.instance, 12.0, 0.4, &angle, &speed, &current, &torque, &work.rtb,
                                        &work.rtdw, x, 1.0, 0.01, 1.0 / 4096.0, 2e-4, 1e-3, 0.5, 0.01, 1e-4, 0.05,
                                        1e-3, table.data(), 1.0, 0.95, 5.0, 0.5, 1.0);
    }
    void update() { Qel_Lib_motor_sub::modelUpdate(&work.instance, &work.rtb, &work.rtdw); }

    Host host;
    Qel_Lib_motor_sub::WorkRecord work;
    double x[3] = {};
    std::array<double, 120> table = errorTable();
    double angle = 0.0, speed = 0.0, current = 0.0, torque = 0.0;
};

template <class Plant>
void sensorTickOutputsAndUpdate(benchmark::State& state) {
    Plant plant;
    plant.host.sensorTick();
    for (auto _ : state) {
        plant.outputs();
        plant.update();
        benchmark::ClobberMemory();
    }
}

template <class Plant>
void minorStepOutputs(benchmark::State& state) {
    Plant plant;
    plant.host.minorStep();
    for (auto _ : state) {
        plant.outputs();
        benchmark::ClobberMemory();
    }
}

BENCHMARK(sensorTickOutputsAndUpdate<DqPlant>)->Name("MotorDq/SensorTickOutputsAndUpdate");
BENCHMARK(minorStepOutputs<DqPlant>)->Name("MotorDq/MinorStepOutputs");
BENCHMARK(sensorTickOutputsAndUpdate<SingleWindingPlant>)->Name("MotorSub/SensorTickOutputsAndUpdate");
BENCHMARK(minorStepOutputs<SingleWindingPlant>)->Name("MotorSub/MinorStepOutputs");

}  // namespace

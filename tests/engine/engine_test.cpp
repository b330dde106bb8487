#include "host/engine/engine.h"
#include "host/loader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace qelengine {
namespace {

const std::string kPluginDir = QEL_PLUGIN_DIR;

std::string plugin(const char* model) { return kPluginDir + "/" + model + "_msp.mexa64"; }

BuiltinConfig constant(std::vector<double> value) {
    BuiltinConfig config;
    config.kind = BuiltinKind::constant;
    config.value = std::move(value);
    return config;
}

BuiltinConfig step(double time, double initial, double final) {
    BuiltinConfig config;
    config.kind = BuiltinKind::step;
    config.time = time;
    config.initial = initial;
    config.final = final;
    return config;
}

BlockConfig builtin(const char* name, BuiltinConfig config) {
    BlockConfig block;
    block.name = name;
    block.builtin = std::move(config);
    return block;
}

// Single-winding motor, no friction, no sensor errors, unit gear.
constexpr double kInductance = 5e-4;
constexpr double kResistance = 0.5;
constexpr double kMotorConstant = 0.05;

BlockConfig singleWindingMotor() {
    BlockConfig block;
    block.name = "motor";
    block.plugin = plugin("Qel_Lib_motor_sub");
    const double values[] = {2, 0.01, 1.0 / 65536, 2e-4, kInductance, kResistance, 0, 0, kMotorConstant, 5e-4};
    for (double value : values) block.arguments.push_back({value});
    block.arguments.push_back(std::vector<double>(120, 0.0));
    for (double value : {1.0, 1.0, 1.0, 0.0, 0.0}) block.arguments.push_back({value});
    block.inputNames = {"armatureVoltage", "loadTorque"};
    block.outputNames = {"measuredAngle", "measuredSpeed", "measuredCurrent", "shaftTorque"};
    return block;
}

BlockConfig currentController() {
    BlockConfig block;
    block.name = "controller";
    block.plugin = plugin("Qel_Lib_wexa_current_controller_sub");
    // proportionalGain 1, integralTime 1e-3, reference limit ±30, output limit 95.
    for (double value : {1.0, 1e-3, 10.0, 100.0}) block.arguments.push_back({value});
    block.inputNames = {"currentReference", "currentMeasured"};
    block.outputNames = {"controllerOutput"};
    return block;
}

enum : int { kMotor, kController, kReference, kLoad };

// A current loop around the single-winding motor: reference 1 A from t = 0 unless given.
ModelConfig currentLoop(Solver solver, BuiltinConfig reference = constant({1.0})) {
    ModelConfig model;
    model.blocks = {singleWindingMotor(), currentController(), builtin("reference", std::move(reference)),
                    builtin("load", constant({0.0}))};
    model.connections = {
        {{kReference, 0}, {kController, 0}},
        {{kMotor, 2}, {kController, 1}},
        {{kController, 0}, {kMotor, 0}},
        {{kLoad, 0}, {kMotor, 1}},
    };
    model.logged = {{kMotor, 3}, {kController, 0}, {kMotor, 2}};
    model.solver = solver;
    model.logEvery = 1;
    return model;
}

void runTo(Engine& engine, int64_t step) {
    engine.beginRun(step);
    engine.advanceTo(step);
    engine.finishRun();
}

// The controller's first output, 1 V at t = 0, must drive the plant over the first step: with
// Euler the current after it is exactly h * (1 V / L), and the shaft torque follows from it. An
// engine that integrated with the previous controller output would leave both at 0.
TEST(Engine, ControllerOutputDrivesThePlantInTheStepItIsComputed) {
    Engine engine(currentLoop(Solver::ode1));
    engine.initialize();
    runTo(engine, 2);
    const SignalLog& log = engine.log();
    ASSERT_EQ(log.time.size(), 3u);
    EXPECT_EQ(log.at(0, 1), 1.0);   // controller output at t = 0
    const double current = 0.0 + 1e-5 * (((1.0 - 0.0 * kMotorConstant) - 0.0 * kResistance) / kInductance);
    const double torque = ((1.0 * (current * kMotorConstant)) / 1.0) * 1.0;
    EXPECT_EQ(log.at(1, 0), torque);
    EXPECT_GT(torque, 0.0);
}

TEST(Engine, RungeKuttaStepMatchesTheWindingEquation) {
    Engine engine(currentLoop(Solver::ode4));
    engine.initialize();
    runTo(engine, 1);
    // di/dt = (u - R i) / L from i = 0 with u = 1 V held; the back-EMF of the first step is
    // seven orders below and within the tolerance.
    const double h = 1e-5;
    const double current = 1.0 / kResistance * (1.0 - std::exp(-kResistance * h / kInductance));
    EXPECT_NEAR(engine.log().at(1, 0), current * kMotorConstant, 1e-6 * current * kMotorConstant);
}

// The dq current controller has only the 1e-4 s rate and tests no rate itself; the velocity
// controller runs at 1e-5 s and computes at its 1e-4 s hits. Both must change their outputs at
// the 1e-4 s hits only, and every hit must advance their integrators once.
TEST(Engine, ControllersComputeAtTheirRateOnly) {
    ModelConfig model;
    BlockConfig dq;
    dq.name = "dq";
    dq.plugin = plugin("Qel_Lib_wexa_current_controller_dq_sub");
    for (double value : {1.0, 0.0, 0.0, 1e-3, 1.0, 0.0, 10.0, 100.0}) dq.arguments.push_back({value});
    BlockConfig velocity;
    velocity.name = "velocity";
    velocity.plugin = plugin("Qel_Lib_wexa_velocity_controller_sub");
    for (double value : {1.0, 1.0, 1e-3, 1e-3, 1.0, 1.0, 100.0, 100.0}) velocity.arguments.push_back({value});
    model.blocks = {dq, velocity, builtin("one", constant({1.0})), builtin("zero", constant({0.0})),
                    builtin("zeros", constant({0.0, 0.0, 0.0}))};
    model.connections = {
        {{2, 0}, {0, 0}}, {{3, 0}, {0, 1}}, {{4, 0}, {0, 2}}, {{3, 0}, {0, 3}},
        {{2, 0}, {1, 0}}, {{3, 0}, {1, 1}}, {{3, 0}, {1, 2}}, {{3, 0}, {1, 3}},
    };
    model.logged = {{0, 0}, {1, 0}};
    model.logEvery = 1;
    Engine engine(model);
    engine.initialize();
    runTo(engine, 35);
    const SignalLog& log = engine.log();
    for (size_t row = 1; row < log.time.size(); ++row) {
        SCOPED_TRACE("step " + std::to_string(row));
        if (row % 10 == 0) {
            // Phase b of the dq controller, and the velocity controller's output.
            for (int column : {1, 3}) EXPECT_NE(log.at(row, column), log.at(row - 1, column)) << "column " << column;
        } else {
            for (int column = 0; column < log.columns; ++column) {
                EXPECT_EQ(log.at(row, column), log.at(row - 1, column)) << "column " << column;
            }
        }
    }
    // The pace, through the dq controller at angle 0 with zero currents and q reference 1: after
    // the hits at 0, 10 and 20 its q integrator holds 3e-4, so at 30 the q output is
    // (3e-4 / 1e-3 + 1) x 1 = 1.3, and phase b carries 1.35 x 0.866 x 1.3 after centring.
    EXPECT_NEAR(log.at(30, 1), 1.35 * 0.8660254037844386 * 1.3, 1e-12);
}

std::vector<double> column(const SignalLog& log, int column, size_t fromRow) {
    std::vector<double> values;
    for (size_t row = fromRow; row < log.time.size(); ++row) values.push_back(log.at(row, column));
    return values;
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// Running to 2N in one go, and running to N, saving, restoring into a new engine and running on
// to 2N give the same signals bit for bit (the reference steps after the save).
TEST(Engine, SavedStateContinuesBitForBit) {
    constexpr int64_t kHalf = 2345;
    const ModelConfig model = currentLoop(Solver::ode4, step(0.03, 1.0, -2.0));

    Engine whole(model);
    whole.initialize();
    runTo(whole, 2 * kHalf);

    Engine first(model);
    first.initialize();
    first.beginRun(kHalf);
    first.advanceTo(kHalf);
    const EngineState saved = first.saveState();
    EXPECT_EQ(saved.step, kHalf);
    ASSERT_EQ(saved.blocks.size(), 2u);

    Engine second(model);
    second.initialize();
    second.restoreState(saved);
    runTo(second, 2 * kHalf);

    ASSERT_EQ(second.log().time.front(), whole.log().time[kHalf]);
    for (int c = 0; c < whole.log().columns; ++c) {
        SCOPED_TRACE("column " + std::to_string(c));
        EXPECT_TRUE(sameBits(column(second.log(), c, 0), column(whole.log(), c, kHalf)));
    }
    const auto a = whole.pluginBlock(kMotor)->contStates();
    const auto b = second.pluginBlock(kMotor)->contStates();
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size_bytes()), 0);
}

TEST(Engine, StateOfAnotherModelIsRefused) {
    Engine first(currentLoop(Solver::ode4));
    first.initialize();
    first.beginRun(10);
    first.advanceTo(10);
    const EngineState saved = first.saveState();

    ModelConfig other = currentLoop(Solver::ode4);
    other.blocks[kController].name = "pi";
    Engine second(other);
    second.initialize();
    try {
        second.restoreState(saved);
        FAIL() << "restored a state of another model";
    } catch (const EngineError& error) {
        EXPECT_NE(std::string(error.what()).find("'controller'"), std::string::npos) << error.what();
    }
}

TEST(Engine, BadModelsAreRefusedWithTheItemNamed) {
    struct Case {
        const char* name;
        void (*change)(ModelConfig&);
        const char* message;
    };
    const Case cases[] = {
        {"width mismatch", [](ModelConfig& m) { m.blocks[kReference].builtin->value = {1.0, 2.0}; },
         "connection reference.out -> controller.currentReference: width 2 does not match width 1"},
        {"unconnected input", [](ModelConfig& m) { m.connections.erase(m.connections.begin() + 1); },
         "input controller.currentMeasured is not connected"},
        {"input driven twice", [](ModelConfig& m) { m.connections.push_back({{kLoad, 0}, {kController, 1}}); },
         "input controller.currentMeasured is driven twice: by motor.measuredCurrent and by load.out"},
        {"loop without a plant",
         [](ModelConfig& m) {
             BuiltinConfig gain;
             gain.kind = BuiltinKind::gain;
             m.blocks.push_back(builtin("g1", gain));
             m.blocks.push_back(builtin("g2", gain));
             m.connections.push_back({{4, 0}, {5, 0}});
             m.connections.push_back({{5, 0}, {4, 0}});
         },
         "is fed only through a loop of gains and sums"},
        {"step that does not divide the rates", [](ModelConfig& m) { m.stepSize = 3e-5; },
         "step size 3e-05 s does not divide the block rate 1e-05 s"},
        {"step of zero", [](ModelConfig& m) { m.stepSize = 0.0; }, "step size 0 s is not a positive number"},
        {"missing plug-in", [](ModelConfig& m) { m.blocks[kController].plugin = "/nonexistent/none_msp.mexa64"; },
         "block 'controller': "},
        {"duplicate name", [](ModelConfig& m) { m.blocks[kLoad].name = "reference"; }, "two blocks are named 'reference'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelConfig model = currentLoop(Solver::ode4);
        c.change(model);
        try {
            Engine engine(model);
            FAIL() << "accepted";
        } catch (const EngineError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
    }
}

TEST(Engine, AlgebraicLoopOfSizedBlocksIsNamed) {
    ModelConfig model = currentLoop(Solver::ode4);
    BuiltinConfig gain;
    gain.kind = BuiltinKind::gain;
    BuiltinConfig sum;
    sum.kind = BuiltinKind::sum;
    sum.signs = "++";
    model.blocks.push_back(builtin("g", gain));   // 4
    model.blocks.push_back(builtin("s", sum));    // 5
    model.connections.push_back({{kLoad, 0}, {5, 0}});
    model.connections.push_back({{4, 0}, {5, 1}});
    model.connections.push_back({{5, 0}, {4, 0}});
    try {
        Engine engine(model);
        FAIL() << "accepted";
    } catch (const EngineError& error) {
        EXPECT_NE(std::string(error.what()).find("algebraic loop"), std::string::npos) << error.what();
        EXPECT_NE(std::string(error.what()).find("g -> s"), std::string::npos) << error.what();
    }
}

}  // namespace
}  // namespace qelengine

#include "app/run/run_plan.h"
#include "app/run/scenario.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace qelsim::run {
namespace {

using Json = nlohmann::ordered_json;

Scenario withChange(const std::function<void(Json&)>& change) {
    Scenario scenario = defaultScenario();
    change(scenario.document);
    return scenario;
}

std::string planError(const Scenario& scenario, const RunOverrides& overrides = {}) {
    try {
        buildRunPlan(scenario, QEL_PLUGIN_DIR, overrides);
    } catch (const InputError& error) {
        return error.what();
    }
    return "";
}

TEST(Scenario, DefaultScenarioBuildsAPlan) {
    const RunPlan plan = buildRunPlan(defaultScenario(), QEL_PLUGIN_DIR, {});
    EXPECT_EQ(plan.name, "dq_position_loop");
    EXPECT_EQ(plan.model.blocks.front().plugin, std::filesystem::path(QEL_PLUGIN_DIR) / "Qel_Lib_motor_dq_sub_msp.mexa64");
    EXPECT_EQ(plan.model.blocks.front().arguments.size(), 17u);
    EXPECT_EQ(plan.model.blocks.front().arguments[11].size(), 120u);
    EXPECT_EQ(plan.stopStep, 50000);
    EXPECT_EQ(plan.model.logEvery, 10);
    EXPECT_EQ(plan.model.solver, qelengine::Solver::ode4);
    ASSERT_EQ(plan.analysis.size(), 1u);
}

TEST(Scenario, OverridesReplaceStopTimeAndSolver) {
    RunOverrides overrides;
    overrides.stopTime = 0.02;
    overrides.solver = qelengine::Solver::ode1;
    const RunPlan plan = buildRunPlan(defaultScenario(), QEL_PLUGIN_DIR, overrides);
    EXPECT_EQ(plan.stopStep, 2000);
    EXPECT_EQ(plan.model.solver, qelengine::Solver::ode1);
}

TEST(Scenario, MalformedJsonNamesLineAndColumn) {
    try {
        parseScenario("{\n  \"name\": \"x\",\n  \"stopTime\": ,\n}", "broken.json", ".");
        FAIL() << "accepted";
    } catch (const InputError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("broken.json:3:15: malformed JSON: ", 0), 0u) << error.what();
    }
}

TEST(Scenario, BadItemsAreNamedWithTheirPlace) {
    const struct {
        const char* name;
        std::function<void(Json&)> change;
        const char* message;
    } cases[] = {
        {"unknown model", [](Json& d) { d["blocks"]["motor"]["model"] = "Qel_Lib_none"; },
         "blocks.motor.model: unknown model 'Qel_Lib_none'"},
        {"unknown argument", [](Json& d) { d["blocks"]["motor"]["arguments"]["inertiaa"] = 1; },
         "blocks.motor.arguments.inertiaa: unknown argument of Qel_Lib_motor_dq_sub"},
        {"missing argument", [](Json& d) { d["blocks"]["motor"]["arguments"].erase("inertia"); },
         "blocks.motor.arguments.inertia: missing argument of Qel_Lib_motor_dq_sub"},
        {"short table", [](Json& d) { d["blocks"]["motor"]["arguments"]["angleErrorTable"].erase(0); },
         "blocks.motor.arguments.angleErrorTable: expected 120 numbers, got 119"},
        {"array for a scalar", [](Json& d) { d["blocks"]["motor"]["arguments"]["inertia"] = Json::array({1, 2}); },
         "blocks.motor.arguments.inertia: expected one number, got an array"},
        {"text for a number", [](Json& d) { d["blocks"]["controller"]["arguments"]["speedGain"] = "fast"; },
         "blocks.controller.arguments.speedGain: expected a number, got \"fast\""},
        {"unknown block", [](Json& d) { d["connections"][0]["from"] = "nowhere"; },
         "connections[0].from: unknown block 'nowhere'"},
        {"unknown port", [](Json& d) { d["connections"][2]["to"][0] = "controller.positionMeasurd"; },
         "connections[2].to[0]: block 'controller' (Qel_Lib_wexa_position_controller_dq_sub) has no input 'positionMeasurd'"},
        {"unnamed port of a block with several", [](Json& d) { d["connections"][3]["from"] = "motor"; },
         "connections[3].from: block 'motor' (Qel_Lib_motor_dq_sub) has 5 outputs: name one of"},
        {"unknown key", [](Json& d) { d["stoptime"] = 1; }, "stoptime: unknown key"},
        {"negative stop time", [](Json& d) { d["stopTime"] = -1; }, "stopTime: must be a positive number, got -1"},
        {"zero step", [](Json& d) { d["stepSize"] = 0; }, "stepSize: must be a positive number, got 0"},
        {"log interval off the steps", [](Json& d) { d["logInterval"] = 1.5e-5; }, "logInterval: must be a whole number of steps"},
        {"unknown solver", [](Json& d) { d["solver"] = "rk45"; }, "solver: unknown solver 'rk45' (expected ode4 or ode1)"},
        {"unknown block type", [](Json& d) { d["blocks"]["zero"]["type"] = "noise"; }, "blocks.zero.type: unknown block type 'noise'"},
        {"unknown parameter", [](Json& d) { d["blocks"]["positionReference"]["slope"] = 1; },
         "blocks.positionReference.slope: unknown parameter of a step block (parameters: time, initial, final)"},
        {"missing parameter", [](Json& d) { d["blocks"]["positionReference"].erase("final"); },
         "blocks.positionReference.final: missing parameter of a step block"},
        {"bad block name", [](Json& d) { d["blocks"]["bad-name"] = Json{{"type", "constant"}, {"value", 0}}; },
         "blocks.bad-name: a block name must be letters, digits and '_'"},
        {"missing CSV file", [](Json& d) { d["blocks"]["zero"] = Json{{"type", "csv"}, {"file", "none.csv"}, {"column", "x"}}; },
         "blocks.zero: ./none.csv: cannot read the CSV file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string error = planError(withChange(c.change));
        EXPECT_EQ(error.rfind("default scenario: ", 0), 0u) << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

TEST(Scenario, SettingsChangeArgumentsAndParameters) {
    Scenario scenario = defaultScenario();
    applySetting(scenario, "controller.positionGain=55");
    applySetting(scenario, "positionReference.final=-45.5");
    applySetting(scenario, "motor.inertia=3e-4");
    const RunPlan plan = buildRunPlan(scenario, QEL_PLUGIN_DIR, {});
    EXPECT_EQ(plan.model.blocks[1].arguments[2], std::vector<double>{55.0});
    EXPECT_EQ(plan.model.blocks[0].arguments[3], std::vector<double>{3e-4});
    EXPECT_EQ(plan.model.blocks[2].builtin->final, -45.5);
}

TEST(Scenario, CsvBlockReadsItsColumnBesideTheScenario) {
    const auto dir = std::filesystem::path(testing::TempDir()) / "qel_scenario_csv";
    std::filesystem::create_directories(dir);
    {
        std::ofstream profile(dir / "profile.csv");
        profile << "t,speed,angle\n0,0,0\n0.1,60,1\n0.2,60,2\n";
        std::ofstream scenario(dir / "s.json");
        Json document = defaultScenario().document;
        document["blocks"]["positionReference"] = Json{{"type", "csv"}, {"file", "profile.csv"}, {"column", "angle"},
                                                       {"timeColumn", "t"}, {"interpolation", "hold"}};
        scenario << document.dump();
    }
    const RunPlan plan = buildRunPlan(loadScenarioFile(dir / "s.json"), QEL_PLUGIN_DIR, {});
    const auto& reference = *plan.model.blocks[2].builtin;
    EXPECT_EQ(reference.kind, qelengine::BuiltinKind::table);
    EXPECT_EQ(reference.times, (std::vector<double>{0.0, 0.1, 0.2}));
    EXPECT_EQ(reference.values, (std::vector<double>{0.0, 1.0, 2.0}));
    EXPECT_TRUE(reference.hold);
}

TEST(Scenario, BadSettingsAreRefused) {
    const struct {
        const char* setting;
        const char* message;
    } cases[] = {
        {"controller.nope=1", "--set controller.nope=1: Qel_Lib_wexa_position_controller_dq_sub has no argument 'nope'"},
        {"nobody.x=1", "--set nobody.x=1: the scenario has no block 'nobody'"},
        {"controllerpositionGain=1", "--set controllerpositionGain=1: expected block.name=value"},
        {"positionReference.slope=1", "--set positionReference.slope=1: a step block has no parameter 'slope'"},
        {"controller.speedGain=", "--set controller.speedGain=: the value is empty"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        Scenario scenario = defaultScenario();
        try {
            applySetting(scenario, c.setting);
            FAIL() << "accepted";
        } catch (const InputError& error) {
            EXPECT_EQ(std::string(error.what()), c.message);
        }
    }
}

}  // namespace
}  // namespace qelsim::run

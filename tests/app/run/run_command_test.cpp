// qelsim run as a user runs it: a process with arguments, files it writes, messages it prints.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <functional>
#include <vector>

#include <matio.h>

#include "app/run/scenario.h"
#include "test_files.h"

namespace qelsim::run {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string quoted(const std::string& word) {
    std::string text = "'";
    for (char c : word) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
}

Result qelsimRun(const fs::path& dir, const std::vector<std::string>& args) {
    std::string command = quoted(QELSIM) + " run";
    for (const std::string& arg : args) command += " " + quoted(arg);
    command += " >" + quoted((dir / "stdout.txt").string()) + " 2>" + quoted((dir / "stderr.txt").string()) + " </dev/null";
    const int status = std::system(command.c_str());
    Result result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readFile(dir / "stdout.txt");
    result.err = readFile(dir / "stderr.txt");
    return result;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        result.push_back(text.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return result;
}

std::vector<fs::path> filesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    if (!fs::exists(dir)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    return files;
}

TEST(RunCommand, DefaultScenarioWritesSignalsPlotAndSummary) {
    const fs::path dir = freshFolder();
    const fs::path out = dir / "results";
    const Result result = qelsimRun(dir, {"--out", out.string(), "--stop-time", "0.05"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("dq_position_loop: 0.05 s simulated"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("position: reference 90 deg"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("results in " + out.string()), std::string::npos) << result.out;

    const std::vector<std::string> csv = lines(readFile(out / "signals.csv"));
    ASSERT_EQ(csv.size(), 502u);   // header, then 0 to 0.05 s every 1e-4 s
    EXPECT_EQ(csv[0].rfind("time,positionReference.out,motor.measuredAngle,positionError.out,motor.measuredSpeed,"
                           "currentsDq.out[0],currentsDq.out[1],motor.measuredCurrent[0],",
                           0),
              0u)
        << csv[0];
    EXPECT_EQ(csv[1].rfind("0,0,0,", 0), 0u) << csv[1];
    EXPECT_EQ(csv.back().rfind("0.05,90,", 0), 0u) << csv.back();

    mat_t* mat = Mat_Open((out / "signals.mat").c_str(), MAT_ACC_RDONLY);
    ASSERT_NE(mat, nullptr);
    matvar_t* time = Mat_VarRead(mat, "time");
    ASSERT_NE(time, nullptr);
    EXPECT_EQ(time->dims[0], 501u);
    EXPECT_EQ(static_cast<const double*>(time->data)[500], 0.05);
    matvar_t* signals = Mat_VarRead(mat, "signals");
    ASSERT_NE(signals, nullptr);
    matvar_t* motor = Mat_VarGetStructFieldByName(signals, "motor", 0);
    ASSERT_NE(motor, nullptr);
    matvar_t* current = Mat_VarGetStructFieldByName(motor, "measuredCurrent", 0);
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->dims[0], 501u);
    EXPECT_EQ(current->dims[1], 3u);
    Mat_VarFree(signals);
    Mat_VarFree(time);
    Mat_Close(mat);

    const std::string png = readFile(out / "plot.png");
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));

    const Json summary = Json::parse(readFile(out / "summary.json"));
    EXPECT_EQ(summary["scenario"], "dq_position_loop");
    EXPECT_EQ(summary["solver"], "ode4");
    EXPECT_EQ(summary["steps"], 5000);
    EXPECT_EQ(summary["analysis"][0]["name"], "position");
    EXPECT_EQ(summary["finalValues"]["positionReference.out"], 90.0);

    // Nothing else: no temporary file left behind.
    EXPECT_EQ(filesIn(out).size(), 4u);
}

TEST(RunCommand, SettingsOnTheCommandLineChangeTheRun) {
    const fs::path dir = freshFolder();
    const Result result = qelsimRun(dir, {"--out", (dir / "out").string(), "--stop-time", "0.03", "--set",
                                          "positionReference.final=45", "positionReference.time=0.01", "--solver", "ode1",
                                          "--quiet"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const Json summary = Json::parse(readFile(dir / "out" / "summary.json"));
    EXPECT_EQ(summary["finalValues"]["positionReference.out"], 45.0);
    EXPECT_EQ(summary["analysis"][0]["stepTime"], 0.01);
    EXPECT_EQ(summary["solver"], "ode1");
    EXPECT_TRUE(result.out.empty()) << result.out;
}

// Running to 2T in one go, and to T with --save-state then on to 2T with --resume, give the
// same signals, bit for bit (the shortest decimal forms of equal doubles are equal texts).
TEST(RunCommand, SaveAndResumeContinueBitForBit) {
    const fs::path dir = freshFolder();
    const std::string state = (dir / "state.mat").string();
    Result whole = qelsimRun(dir, {"--out", (dir / "whole").string(), "--stop-time", "0.08", "--quiet"});
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    Result first = qelsimRun(dir, {"--out", (dir / "first").string(), "--stop-time", "0.04", "--save-state", state, "--quiet"});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    ASSERT_TRUE(fs::exists(state));
    Result second = qelsimRun(dir, {"--out", (dir / "second").string(), "--stop-time", "0.08", "--resume", state, "--quiet"});
    ASSERT_EQ(second.exitCode, 0) << second.err;

    const std::vector<std::string> wholeRows = lines(readFile(dir / "whole" / "signals.csv"));
    const std::vector<std::string> firstRows = lines(readFile(dir / "first" / "signals.csv"));
    const std::vector<std::string> secondRows = lines(readFile(dir / "second" / "signals.csv"));
    ASSERT_EQ(wholeRows.size(), 802u);
    ASSERT_EQ(firstRows.size(), 402u);
    ASSERT_EQ(secondRows.size(), 402u);   // from 0.04 s, which the first run also ends with
    for (size_t row = 0; row < firstRows.size(); ++row) ASSERT_EQ(firstRows[row], wholeRows[row]) << "row " << row;
    for (size_t row = 1; row < secondRows.size(); ++row) ASSERT_EQ(secondRows[row], wholeRows[row + 400]) << "row " << row;
    EXPECT_EQ(secondRows[0], wholeRows[0]);

    // A state cannot continue into the past, nor into another model.
    Result backwards = qelsimRun(dir, {"--out", (dir / "back").string(), "--stop-time", "0.03", "--resume", state});
    EXPECT_NE(backwards.exitCode, 0);
    EXPECT_NE(backwards.err.find("--stop-time: the run to continue already reached 0.04 s"), std::string::npos) << backwards.err;
    Result other = qelsimRun(dir, {std::string(QEL_SCENARIO_DIR) + "/current_loop.json", "--out", (dir / "other").string(),
                                   "--resume", state});
    EXPECT_NE(other.exitCode, 0);
    EXPECT_NE(other.err.find(state + ": the saved state holds"), std::string::npos) << other.err;
    EXPECT_FALSE(fs::exists(dir / "back"));
    EXPECT_FALSE(fs::exists(dir / "other"));
}

// Bad input of every kind: a non-zero exit, one line that names the item and where it is, and
// no output file.
TEST(RunCommand, BadInputIsRefusedWithOneLineAndNoFiles) {
    const fs::path dir = freshFolder();
    writeFile(dir / "profile.csv", "time,speed\n0,0\n1,100\n");
    struct Case {
        const char* name;
        std::function<void(Json&)> change;   // applied to the default scenario
        std::vector<std::string> extra;      // more arguments
        const char* message;
    };
    const std::vector<Case> cases = {
        {"malformed JSON", nullptr, {}, "bad.json:1:14: malformed JSON"},
        {"unknown model", [](Json& d) { d["blocks"]["controller"]["model"] = "Qel_Lib_wexa_torque_controller_sub"; }, {},
         "blocks.controller.model: unknown model 'Qel_Lib_wexa_torque_controller_sub'"},
        {"unknown block", [](Json& d) { d["connections"][4]["from"] = "motr.measuredCurrent"; }, {},
         "connections[4].from: unknown block 'motr'"},
        {"unknown port", [](Json& d) { d["connections"][3]["to"] = "controller.speedMeasurd"; }, {},
         "connections[3].to: block 'controller' (Qel_Lib_wexa_position_controller_dq_sub) has no input 'speedMeasurd'"},
        {"unknown argument", [](Json& d) { d["blocks"]["controller"]["arguments"]["gain"] = 1; }, {},
         "blocks.controller.arguments.gain: unknown argument of Qel_Lib_wexa_position_controller_dq_sub"},
        {"missing argument", [](Json& d) { d["blocks"]["controller"]["arguments"].erase("positionGain"); }, {},
         "blocks.controller.arguments.positionGain: missing argument of Qel_Lib_wexa_position_controller_dq_sub"},
        {"width mismatch", [](Json& d) { d["connections"][3]["from"] = "motor.measuredCurrent"; }, {},
         "connection motor.measuredCurrent -> controller.speedMeasured: width 3 does not match width 1"},
        {"unconnected input", [](Json& d) { d["connections"].erase(3); }, {}, "input controller.speedMeasured is not connected"},
        {"non-positive step", [](Json& d) { d["stepSize"] = -1e-5; }, {}, "stepSize: must be a positive number, got -1e-05"},
        {"non-positive stop time", [](Json& d) { d["stopTime"] = 0; }, {}, "stopTime: must be a positive number, got 0"},
        {"missing CSV file", [](Json& d) { d["blocks"]["zero"] = Json{{"type", "csv"}, {"file", "nothere.csv"}, {"column", "speed"}}; },
         {}, "nothere.csv: cannot read the CSV file"},
        {"missing CSV column", [](Json& d) { d["blocks"]["zero"] = Json{{"type", "csv"}, {"file", "profile.csv"}, {"column", "sped"}}; },
         {}, "profile.csv:1: no column 'sped' (columns: time, speed)"},
        {"unknown argument set", [](Json&) {}, {"--set", "controller.speedGian=3"},
         "--set controller.speedGian=3: Qel_Lib_wexa_position_controller_dq_sub has no argument 'speedGian'"},
        {"wide analysed signal", [](Json& d) { d["analysis"][0]["measured"] = "motor.measuredCurrent"; }, {},
         "analysis[0]: 'motor.measuredCurrent' has 3 elements; name one as motor.measuredCurrent[i]"},
        {"missing state file", [](Json&) {}, {"--resume", "nostate.mat"}, "nostate.mat: cannot open it as a MAT file"},
        {"non-positive stop option", [](Json&) {}, {"--stop-time", "-2"}, "--stop-time: must be a positive number of seconds, got -2"},
        {"unknown solver option", [](Json&) {}, {"--solver", "ode45"}, "--solver: unknown solver 'ode45' (expected ode4 or ode1)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path scenarioFile = dir / "bad.json";
        if (c.change) {
            Scenario scenario = defaultScenario();
            c.change(scenario.document);
            writeFile(scenarioFile, scenario.document.dump(2));
        } else {
            writeFile(scenarioFile, "{\"name\": \"x\",, }");
        }
        const fs::path out = dir / "out";
        std::vector<std::string> args = {scenarioFile.string(), "--out", out.string()};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const Result result = qelsimRun(dir, args);
        EXPECT_NE(result.exitCode, 0);
        const std::vector<std::string> errorLines = lines(result.err);
        ASSERT_FALSE(errorLines.empty());
        EXPECT_EQ(errorLines[0].rfind("qelsim run: ", 0), 0u) << result.err;
        EXPECT_NE(errorLines[0].find(c.message), std::string::npos) << result.err;
        EXPECT_TRUE(filesIn(out).empty()) << "files left in " << out;
        EXPECT_TRUE(result.out.empty()) << result.out;
    }
}

TEST(RunCommand, EveryShippedScenarioRunsFromTheCommandLine) {
    const fs::path dir = freshFolder();
    for (const char* name : {"current_loop", "velocity_loop", "position_loop", "dq_current_loop", "dq_velocity_loop"}) {
        SCOPED_TRACE(name);
        const Result result = qelsimRun(dir, {std::string(QEL_SCENARIO_DIR) + "/" + name + ".json", "--out",
                                              (dir / name).string(), "--stop-time", "0.02", "--quiet"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(filesIn(dir / name).size(), 4u);
    }
}

}  // namespace
}  // namespace qelsim::run

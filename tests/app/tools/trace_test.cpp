#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "app/tools/tools.h"
#include "app/tools/trace_csv.h"
#include "tools_test_support.h"

namespace qelsim {
namespace {

using testing::Csv;
using testing::ScratchDir;
using testing::readCsv;

double parse(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

// Bit for bit, except that any NaN equals any NaN.
bool sameBits(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

std::string describe(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// Empty when equal; otherwise the first difference: row, column and both values.
std::string firstMismatch(const Csv& expected, const Csv& actual) {
    if (expected.header != actual.header) return "the headers differ";
    if (expected.rows.size() != actual.rows.size()) {
        return "expected " + std::to_string(expected.rows.size()) + " rows, got " + std::to_string(actual.rows.size());
    }
    for (std::size_t r = 0; r < expected.rows.size(); ++r) {
        if (expected.rows[r].size() != actual.rows[r].size()) return "row " + std::to_string(r) + ": field counts differ";
        for (std::size_t c = 0; c < expected.header.size(); ++c) {
            const double want = parse(expected.rows[r][c]);
            const double got = parse(actual.rows[r][c]);
            if (!sameBits(want, got)) {
                return "row " + std::to_string(r) + ", column " + expected.header[c] + ": expected " + describe(want) +
                       ", actual " + describe(got);
            }
        }
    }
    return {};
}

TEST(Trace, ReproducesTheReferenceTraces) {
    ScratchDir scratch;
    for (const BlockInfo& block : blockCatalog()) {
        const std::string model(block.modelName);
        SCOPED_TRACE(model);
        const std::filesystem::path folder = testing::tracesDir() / model;
        const std::filesystem::path out = scratch / (model + ".csv");
        traceBlock(block, testing::pluginDir(), folder / "input.csv", out);
        const std::string mismatch = firstMismatch(readCsv(folder / "expected.csv"), readCsv(out));
        EXPECT_TRUE(mismatch.empty()) << mismatch;
    }
}

TEST(Trace, CurrentControllerIntegratesAConstantErrorWithGainOne) {
    ScratchDir scratch;
    const std::string row = "1,0,1,1,1e9,1e9\n";
    const auto in = scratch.write(
        "in.csv", "currentReference,currentMeasured,proportionalGain,integralTime,referenceLimitBase,outputLimitBase\n" +
                      row + row + row);
    traceBlock(*findBlock("Qel_Lib_wexa_current_controller_sub"), testing::pluginDir(), in, scratch / "out.csv");
    const Csv out = readCsv(scratch / "out.csv");
    ASSERT_EQ(out.rows.size(), 3u);
    const int output = out.column("controllerOutput");
    const int state = out.column("rtdw.integratorState");
    ASSERT_GE(output, 0);
    ASSERT_GE(state, 0);
    EXPECT_EQ(parse(out.rows[0][output]), 1.0);
    EXPECT_EQ(parse(out.rows[0][state]), 1e-4);
    EXPECT_EQ(parse(out.rows[1][output]), 1.0001);
    EXPECT_EQ(parse(out.rows[2][output]), 1e-4 + 1e-4 + 1.0);
}

// Arguments of a motor plant that make a physically sensible machine; the error table is zero.
std::map<std::string, double> plantArguments(double sensorSelect, double sensorErrorsOn) {
    return {{"sensorSelect", sensorSelect},   {"currentResolution", 0.01}, {"angleResolution", 1.0 / 4096},
            {"inertia", 0.01},                {"inductance", 0.001},       {"resistance", 1.0},
            {"coulombFriction", 0.1},         {"viscousFriction", 0.001},  {"fluxLinkage", 0.1},
            {"motorConstant", 0.1},           {"polePairs", 4.0},          {"speedFilterTau", 0.001},
            {"gearLoadTurns", 1.0},           {"gearEfficiency", 0.9},     {"gearMotorTurns", 10.0},
            {"encoderErrorAmplitude", 1.0},   {"sensorErrorsOn", sensorErrorsOn}};
}

TEST(Trace, PlantsFromZeroStatesWithZeroInputsStayZero) {
    for (const char* model : {"Qel_Lib_motor_dq_sub", "Qel_Lib_motor_sub"}) {
        SCOPED_TRACE(model);
        const BlockInfo& info = *findBlock(model);
        const std::vector<std::string> columns = traceInputColumns(info, static_cast<int>(info.stateNames.size()));
        std::string text;
        for (std::size_t c = 0; c < columns.size(); ++c) text += (c > 0 ? "," : "") + columns[c];
        text += '\n';
        // Every sensor, errors off and on, each for a few ticks.
        for (const double sensor : {1.0, 2.0, 3.0}) {
            for (const double errors : {0.0, 1.0}) {
                const auto arguments = plantArguments(sensor, errors);
                for (int tick = 0; tick < 3; ++tick) {
                    for (std::size_t c = 0; c < columns.size(); ++c) {
                        const auto found = arguments.find(columns[c]);
                        text += (c > 0 ? "," : "") + (found != arguments.end() ? describe(found->second) : "0");
                    }
                    text += '\n';
                }
            }
        }
        ScratchDir scratch;
        traceBlock(info, testing::pluginDir(), scratch.write("in.csv", text), scratch / "out.csv");
        const Csv out = readCsv(scratch / "out.csv");
        ASSERT_EQ(out.rows.size(), 18u);
        for (std::size_t r = 0; r < out.rows.size(); ++r) {
            for (std::size_t c = 1; c < out.header.size(); ++c) {
                EXPECT_EQ(parse(out.rows[r][c]), 0.0) << "row " << r << ", column " << out.header[c];
            }
        }
    }
}

TEST(Trace, WritesTheContinuousStatesOfEachRowBeforeTheOutputs) {
    // The dq plant's derivative of thetaM is the state omegaM of the same row, and its
    // electricalAngle is thetaM * polePairs wrapped into [0, 2pi).
    const BlockInfo& info = *findBlock("Qel_Lib_motor_dq_sub");
    const std::vector<std::string> columns = traceInputColumns(info, 4);
    const auto arguments = plantArguments(3.0, 0.0);
    const double states[2][4] = {{0.5, 0.0, 0.0, 7.0}, {-1.0, 0.0, 0.0, -3.0}};
    std::string text;
    for (std::size_t c = 0; c < columns.size(); ++c) text += (c > 0 ? "," : "") + columns[c];
    text += '\n';
    for (const auto& x : states) {
        for (std::size_t c = 0; c < columns.size(); ++c) {
            std::string value = "0";
            if (const auto found = arguments.find(columns[c]); found != arguments.end()) value = describe(found->second);
            if (columns[c].starts_with("x[")) value = describe(x[columns[c][2] - '0']);
            text += (c > 0 ? "," : "") + value;
        }
        text += '\n';
    }
    ScratchDir scratch;
    traceBlock(info, testing::pluginDir(), scratch.write("in.csv", text), scratch / "out.csv");
    const Csv out = readCsv(scratch / "out.csv");
    ASSERT_EQ(out.rows.size(), 2u);
    EXPECT_EQ(parse(out.rows[0][out.column("dx[0]")]), 7.0);
    EXPECT_EQ(parse(out.rows[1][out.column("dx[0]")]), -3.0);
    EXPECT_EQ(parse(out.rows[0][out.column("electricalAngle")]), 2.0);
    const double wrapped = parse(out.rows[1][out.column("electricalAngle")]);
    EXPECT_GE(wrapped, 0.0);
    EXPECT_LT(wrapped, 6.283185307179586);
}

}  // namespace
}  // namespace qelsim

#include "host/engine/builtin_blocks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace qelengine {
namespace {

struct Case {
    const char* name;
    BuiltinConfig config;
    double t;
    std::vector<std::vector<double>> inputs;
    std::vector<double> expected;
};

BuiltinConfig step(double time, double initial, double final) {
    BuiltinConfig config;
    config.kind = BuiltinKind::step;
    config.time = time;
    config.initial = initial;
    config.final = final;
    return config;
}

BuiltinConfig table(std::vector<double> times, std::vector<double> values, bool hold) {
    BuiltinConfig config;
    config.kind = BuiltinKind::table;
    config.times = std::move(times);
    config.values = std::move(values);
    config.hold = hold;
    return config;
}

BuiltinConfig of(BuiltinKind kind) {
    BuiltinConfig config;
    config.kind = kind;
    return config;
}

TEST(BuiltinBlocks, OutputsOfTimeAndInputs) {
    BuiltinConfig constant = of(BuiltinKind::constant);
    constant.value = {1.5, -2.0, 0.0};
    BuiltinConfig ramp = of(BuiltinKind::ramp);
    ramp.time = 0.5;
    ramp.slope = 4.0;
    ramp.initial = 1.0;
    BuiltinConfig sine = of(BuiltinKind::sine);
    sine.amplitude = 2.0;
    sine.frequency = 50.0;
    sine.phase = 0.25;
    sine.bias = 1.0;
    BuiltinConfig gain = of(BuiltinKind::gain);
    gain.gain = -3.0;
    BuiltinConfig sum = of(BuiltinKind::sum);
    sum.signs = "+-+";
    const double tolerance = 1e-8;   // a step switches this much early, no more

    const std::vector<Case> cases = {
        {"constant", constant, 7.0, {}, {1.5, -2.0, 0.0}},
        {"step before its time", step(0.1, 2.0, 5.0), 0.1 - 2 * tolerance, {}, {2.0}},
        {"step within the tolerance", step(0.1, 2.0, 5.0), 0.1 - tolerance / 2, {}, {5.0}},
        {"step after its time", step(0.1, 2.0, 5.0), 0.2, {}, {5.0}},
        {"ramp before its start", ramp, 0.25, {}, {1.0}},
        {"ramp after its start", ramp, 0.75, {}, {2.0}},
        {"sine", sine, 0.001, {}, {1.0 + 2.0 * std::sin(6.283185307179586 * 50.0 * 0.001 + 0.25)}},
        {"table before the first point", table({1.0, 2.0, 4.0}, {10.0, 20.0, -20.0}, false), 0.0, {}, {10.0}},
        {"table between points", table({1.0, 2.0, 4.0}, {10.0, 20.0, -20.0}, false), 3.0, {}, {0.0}},
        {"table on a point", table({1.0, 2.0, 4.0}, {10.0, 20.0, -20.0}, false), 2.0, {}, {20.0}},
        {"table after the last point", table({1.0, 2.0, 4.0}, {10.0, 20.0, -20.0}, false), 9.0, {}, {-20.0}},
        {"table held between points", table({1.0, 2.0, 4.0}, {10.0, 20.0, -20.0}, true), 3.9, {}, {20.0}},
        {"gain of every element", gain, 0.0, {{1.0, -2.0, 0.5}}, {-3.0, 6.0, -1.5}},
        {"sum with signs", sum, 0.0, {{1.0, 2.0}, {4.0, 8.0}, {16.0, 32.0}}, {13.0, 26.0}},
        // Balanced currents of amplitude 2 at the electrical angle: d 0, q 2.
        {"dq of balanced currents",
         of(BuiltinKind::dq),
         0.0,
         {{-2.0 * std::sin(0.7), -2.0 * std::sin(0.7 - 2.0943951023931953), -2.0 * std::sin(0.7 + 2.0943951023931953)}, {0.7}},
         {0.0, 2.0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<const double*> inputs;
        for (const auto& input : c.inputs) inputs.push_back(input.data());
        std::vector<double> output(c.expected.size(), -99.0);
        evaluateBuiltin(c.config, c.t, tolerance, inputs.data(), static_cast<int>(output.size()), output.data());
        for (size_t i = 0; i < output.size(); ++i) EXPECT_NEAR(output[i], c.expected[i], 1e-12) << "element " << i;
    }
}

TEST(BuiltinBlocks, ProblemsAreNamed) {
    BuiltinConfig emptySum = of(BuiltinKind::sum);
    BuiltinConfig badSigns = of(BuiltinKind::sum);
    badSigns.signs = "+*";
    const struct {
        const char* name;
        BuiltinConfig config;
        const char* problem;
    } cases[] = {
        {"table of unequal lengths", table({0.0, 1.0}, {1.0}, false), "the table has 2 times but 1 values"},
        {"table going back in time", table({0.0, 1.0, 1.0}, {1.0, 2.0, 3.0}, false), "the times do not increase at point 2"},
        {"empty table", table({}, {}, false), "the table has no point"},
        {"sum without inputs", emptySum, "the sum has no input"},
        {"sum with a bad sign", badSigns, "signs may hold only '+' and '-'"},
        {"a usable step", step(1.0, 0.0, 1.0), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(builtinConfigProblem(c.config), c.problem);
    }
}

}  // namespace
}  // namespace qelengine

// Each plug-in hands its model the right inputs, outputs and arguments: a step through the
// plug-in equals, bit for bit, the same step made by calling the model's entry functions directly
// with the argument lists of the model entry calls. Every input and argument gets its own value,
// so a port or argument passed in the wrong place changes the result.
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "controllers/Qel_Lib_wexa_current_controller_dq_sub.h"
#include "controllers/Qel_Lib_wexa_current_controller_sub.h"
#include "controllers/Qel_Lib_wexa_position_controller_dq_sub.h"
#include "controllers/Qel_Lib_wexa_position_controller_sub.h"
#include "controllers/Qel_Lib_wexa_velocity_controller_dq_sub.h"
#include "controllers/Qel_Lib_wexa_velocity_controller_sub.h"
#include "plants/Qel_Lib_motor_dq_sub.h"
#include "plants/Qel_Lib_motor_sub.h"
#include "tests/blocks/block_facts.h"
#include "tests/support/model_fixture.h"

namespace {

using Values = std::vector<std::vector<double>>;   // per port or argument

// What one step left behind.
struct StepResult {
    Values outputs;
    std::vector<std::byte> rtb;
    std::vector<std::byte> rtdw;
    std::vector<double> dX;
};

// The step made directly: parameter setup, outputs, update, and for the plants derivatives.
using DirectStep = std::function<StepResult(const Values& u, const Values& a, std::vector<double> x)>;

template <class WorkRecord>
struct DirectModel {
    DirectModel() : host("direct"), record(std::make_unique<WorkRecord>()) {}
    // Every rate due: a negative global task id needs no host query.
    static constexpr int32_t kAlwaysDue = -1;

    StepResult result(const Values& y, std::vector<double> dX = {}) const {
        StepResult step{y, std::vector<std::byte>(sizeof record->rtb), std::vector<std::byte>(sizeof record->rtdw), dX};
        std::memcpy(step.rtb.data(), &record->rtb, sizeof record->rtb);
        std::memcpy(step.rtdw.data(), &record->rtdw, sizeof record->rtdw);
        return step;
    }

    qelhost::BlockStructure host;
    std::unique_ptr<WorkRecord> record;
};

Values outputsOf(const std::vector<int>& widths) {
    Values y;
    for (int width : widths) y.emplace_back(static_cast<size_t>(width), 0.0);
    return y;
}

struct AdapterCase {
    const char* model;
    DirectStep direct;
};

const std::vector<AdapterCase>& adapterCases() {
    constexpr int32_t g = -1;
    static const std::vector<AdapterCase> cases = {
        {"Qel_Lib_wexa_current_controller_sub",
         [](const Values& u, const Values& a, std::vector<double>) {
             namespace m = Qel_Lib_wexa_current_controller_sub;
             DirectModel<m::WorkRecord> d;
             m::WorkRecord& r = *d.record;
             m::modelInitialize(d.host.get(), g, g, g, &r.instance, &r.rtb, &r.rtdw, nullptr, 0, nullptr, nullptr, 0, -1);
             Values y = outputsOf({1});
             m::modelParameterSetup(&r.rtb, a[2][0], a[3][0]);
             m::modelOutputs(&r.instance, u[0][0], u[1][0], y[0].data(), &r.rtb, &r.rtdw, a[0][0], a[1][0]);
             m::modelUpdate(&r.instance, &r.rtb, &r.rtdw);
             return d.result(y);
         }},
        {"Qel_Lib_wexa_current_controller_dq_sub",
         [](const Values& u, const Values& a, std::vector<double>) {
             namespace m = Qel_Lib_wexa_current_controller_dq_sub;
             DirectModel<m::WorkRecord> d;
             m::WorkRecord& r = *d.record;
             m::modelInitialize(d.host.get(), g, g, &r.instance, &r.rtb, &r.rtdw, nullptr, 0, nullptr, nullptr, 0, -1);
             Values y = outputsOf({3});
             m::modelParameterSetup(&r.rtb, a[1][0], a[6][0], a[7][0]);
             m::modelOutputs(u[0][0], u[1][0], u[2].data(), u[3][0], y[0].data(), &r.rtb, &r.rtdw, a[0][0], a[2][0],
                             a[3][0], a[4][0], a[5][0], a[7][0]);
             m::modelUpdate(&r.rtb, &r.rtdw);
             return d.result(y);
         }},
        {"Qel_Lib_wexa_velocity_controller_sub",
         [](const Values& u, const Values& a, std::vector<double>) {
             namespace m = Qel_Lib_wexa_velocity_controller_sub;
             DirectModel<m::WorkRecord> d;
             m::WorkRecord& r = *d.record;
             m::modelInitialize(d.host.get(), g, g, g, &r.instance, &r.rtb, &r.rtdw, nullptr, 0, nullptr, nullptr, 0, -1);
             Values y = outputsOf({1});
             m::modelParameterSetup(&r.rtb, a[6][0], a[7][0]);
             m::modelOutputs(&r.instance, u[0][0], u[1][0], u[2][0], u[3][0], y[0].data(), &r.rtb, &r.rtdw, a[0][0],
                             a[1][0], a[2][0], a[3][0], a[4][0], a[5][0]);
             m::modelUpdate(&r.instance, &r.rtb, &r.rtdw);
             return d.result(y);
         }},
        {"Qel_Lib_wexa_velocity_controller_dq_sub",
         [](const Values& u, const Values& a, std::vector<double>) {
             namespace m = Qel_Lib_wexa_velocity_controller_dq_sub;
             DirectModel<m::WorkRecord> d;
             m::WorkRecord& r = *d.record;
             m::modelInitialize(d.host.get(), g, g, g, &r.instance, &r.rtb, &r.rtdw, nullptr, 0, nullptr, nullptr, 0, -1);
             Values y = outputsOf({3});
             m::modelParameterSetup(&r.rtb, a[2][0], a[8][0], a[9][0]);
             m::modelOutputs(&r.instance, u[0][0], u[1][0], u[2][0], u[3].data(), u[4][0], y[0].data(), &r.rtb, &r.rtdw,
                             a[0][0], a[1][0], a[3][0], a[4][0], a[5][0], a[6][0], a[7][0], a[9][0]);
             m::modelUpdate(&r.instance, &r.rtb, &r.rtdw);
             return d.result(y);
         }},
        {"Qel_Lib_wexa_position_controller_sub",
         [](const Values& u, const Values& a, std::vector<double>) {
             namespace m = Qel_Lib_wexa_position_controller_sub;
             DirectModel<m::WorkRecord> d;
             m::WorkRecord& r = *d.record;
             m::modelInitialize(d.host.get(), g, g, g, &r.instance, &r.rtb, &r.rtdw, nullptr, 0, nullptr, nullptr, 0, -1);
             Values y = outputsOf({1});
             m::modelParameterSetup(&r.rtb, a[7][0], a[8][0]);
             m::modelOutputs(&r.instance, u[0][0], u[1][0], u[2][0], u[3][0], u[4][0], u[5][0], y[0].data(), &r.rtb,
                             &r.rtdw, a[0][0], a[1][0], a[2][0], a[3][0], a[4][0], a[5][0], a[6][0]);
             m::modelUpdate(&r.instance, &r.rtb, &r.rtdw);
             return d.result(y);
         }},
        {"Qel_Lib_wexa_position_controller_dq_sub",
         [](const Values& u, const Values& a, std::vector<double>) {
             namespace m = Qel_Lib_wexa_position_controller_dq_sub;
             DirectModel<m::WorkRecord> d;
             m::WorkRecord& r = *d.record;
             m::modelInitialize(d.host.get(), g, g, &r.instance, &r.rtb, &r.rtdw, nullptr, 0, nullptr, nullptr, 0, -1);
             Values y = outputsOf({3});
             m::modelParameterSetup(&r.rtb, a[3][0], a[9][0], a[10][0]);
             m::modelOutputs(u[0][0], u[1][0], u[2][0], u[3][0], u[4][0], u[5].data(), u[6][0], y[0].data(), &r.rtb,
                             &r.rtdw, a[0][0], a[1][0], a[2][0], a[4][0], a[5][0], a[6][0], a[7][0], a[8][0], a[10][0]);
             m::modelUpdate(&r.rtb, &r.rtdw);
             return d.result(y);
         }},
        {"Qel_Lib_motor_dq_sub",
         [](const Values& u, const Values& a, std::vector<double> x) {
             namespace m = Qel_Lib_motor_dq_sub;
             DirectModel<m::WorkRecord> d;
             m::WorkRecord& r = *d.record;
             std::vector<double> initial(x.size());
             m::modelInitialize(d.host.get(), g, g, g, g, &r.instance, &r.rtb, &r.rtdw, initial.data(), nullptr, 0,
                                nullptr, nullptr, 0, -1);
             Values y = outputsOf({1, 1, 3, 1, 1});
             m::modelParameterSetup();
             m::modelOutputs(&r.instance, u[0].data(), u[1][0], y[0].data(), y[1].data(), y[2].data(), y[3].data(),
                             y[4].data(), &r.rtb, &r.rtdw, x.data(), a[0][0], a[1][0], a[2][0], a[3][0], a[4][0],
                             a[5][0], a[6][0], a[7][0], a[8][0], a[9][0], a[10][0], a[11].data(), a[12][0], a[13][0],
                             a[14][0], a[15][0], a[16][0]);
             m::modelUpdate(&r.instance, &r.rtb, &r.rtdw);
             std::vector<double> dX(x.size());
             m::modelDerivatives(&r.rtb, dX.data());
             return d.result(y, dX);
         }},
        {"Qel_Lib_motor_sub",
         [](const Values& u, const Values& a, std::vector<double> x) {
             namespace m = Qel_Lib_motor_sub;
             DirectModel<m::WorkRecord> d;
             m::WorkRecord& r = *d.record;
             std::vector<double> initial(x.size());
             m::modelInitialize(d.host.get(), g, g, g, g, &r.instance, &r.rtb, &r.rtdw, initial.data(), nullptr, 0,
                                nullptr, nullptr, 0, -1);
             Values y = outputsOf({1, 1, 1, 1});
             m::modelParameterSetup();
             m::modelOutputs(&r.instance, u[0][0], u[1][0], y[0].data(), y[1].data(), y[2].data(), y[3].data(), &r.rtb,
                             &r.rtdw, x.data(), a[0][0], a[1][0], a[2][0], a[3][0], a[4][0], a[5][0], a[6][0], a[7][0],
                             a[8][0], a[9][0], a[10].data(), a[11][0], a[12][0], a[13][0], a[14][0], a[15][0]);
             m::modelUpdate(&r.instance, &r.rtb, &r.rtdw);
             std::vector<double> dX(x.size());
             m::modelDerivatives(&r.rtb, dX.data());
             return d.result(y, dX);
         }},
    };
    return cases;
}

// A distinct value for every input element and argument. The plants' first argument selects
// the position sensor; 2 keeps it a valid choice.
Values inputValues(const qeltest::BlockFacts& facts) {
    Values u;
    for (size_t p = 0; p < facts.inputWidths.size(); ++p) {
        u.emplace_back();
        for (int i = 0; i < facts.inputWidths[p]; ++i) u.back().push_back(0.5 + 0.3 * static_cast<double>(p) + 0.07 * i);
    }
    return u;
}

Values argumentValues(const qeltest::BlockFacts& facts) {
    Values a;
    for (int k = 0; k < facts.numArguments; ++k) {
        if (k == facts.tableArgument) {
            a.emplace_back();
            for (int i = 0; i < qeltest::kAngleErrorTableSize; ++i) a.back().push_back(0.001 * i);
        } else {
            a.push_back({1.0 + 0.25 * k});
        }
    }
    if (facts.isPlant) a[0] = {2.0};
    return a;
}

::testing::AssertionResult sameValues(const std::vector<double>& actual, const std::vector<double>& expected) {
    if (actual.size() != expected.size()) return ::testing::AssertionFailure() << "sizes differ";
    for (size_t i = 0; i < actual.size(); ++i)
        if (!qeltest::sameDouble(actual[i], expected[i]))
            return ::testing::AssertionFailure() << "element " << i << ": " << actual[i] << " against " << expected[i];
    return ::testing::AssertionSuccess();
}

TEST(Adapters, PluginStepEqualsTheDirectModelCalls) {
    for (const AdapterCase& c : adapterCases()) {
        SCOPED_TRACE(c.model);
        qeltest::BlockUnderTest unit(c.model);
        unit.block.registerBlock();
        const Values u = inputValues(unit.facts);
        const Values a = argumentValues(unit.facts);
        for (size_t k = 0; k < a.size(); ++k) unit.block.setArgument(static_cast<int>(k), a[k]);
        ASSERT_TRUE(unit.block.setupRuntimeResources());
        for (size_t p = 0; p < u.size(); ++p) std::copy(u[p].begin(), u[p].end(), unit.block.inputBuffer(static_cast<int>(p)));
        std::vector<double> x;
        for (size_t k = 0; k < unit.block.contStates().size(); ++k) x.push_back(0.1 * static_cast<double>(k + 1));
        std::copy(x.begin(), x.end(), unit.block.contStates().begin());
        unit.top.setAllSampleHits(true);

        ASSERT_TRUE(unit.block.outputs(-5));
        ASSERT_TRUE(unit.block.outputs(0));
        ASSERT_TRUE(unit.block.update(0));
        if (unit.facts.isPlant) {
            ASSERT_TRUE(unit.block.derivatives());
        }

        const StepResult expected = c.direct(u, a, x);
        for (size_t p = 0; p < expected.outputs.size(); ++p) {
            SCOPED_TRACE(p);
            const double* y = unit.block.output(static_cast<int>(p));
            EXPECT_TRUE(sameValues(std::vector<double>(y, y + expected.outputs[p].size()), expected.outputs[p]));
        }
        const std::span<std::byte> record = unit.block.workRecord();
        EXPECT_EQ(std::memcmp(record.data(), expected.rtb.data(), expected.rtb.size()), 0) << "rtb differs";
        EXPECT_EQ(std::memcmp(record.data() + expected.rtb.size(), expected.rtdw.data(), expected.rtdw.size()), 0)
            << "rtdw differs";
        const std::span<double> dX = unit.block.stateDerivatives();
        EXPECT_TRUE(sameValues(std::vector<double>(dX.begin(), dX.end()), expected.dX));
    }
}

}  // namespace

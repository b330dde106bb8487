// Every shipped scenario runs through the plug-ins and tracks: its reference step settles
// within the band, and after the load step the signal comes back into the band and stays there.
#include <gtest/gtest.h>

#include "app/run/metrics.h"
#include "app/run/run_plan.h"
#include "app/run/scenario.h"

namespace qelsim::run {
namespace {

struct Expectation {
    const char* file;
    const char* reference;
    const char* measured;
    double band;           // the tracking requirement, absolute
    double maxSettling;    // s after the reference step
    double maxRecovery;    // s after the load step
    double maxOvershoot;   // % of the step
};

int columnOf(const RunPlan& plan, const std::string& name) {
    for (size_t c = 0; c < plan.columnNames.size(); ++c) {
        if (plan.columnNames[c] == name) return static_cast<int>(c);
    }
    ADD_FAILURE() << "no logged column " << name;
    return 0;
}

TEST(ShippedScenarios, TrackTheReferenceAndRejectTheLoadStep) {
    const Expectation expectations[] = {
        // Position loops: within 1 degree of the 90 degree step, before and after the load step.
        {"dq_position_loop.json", "positionReference.out", "motor.measuredAngle", 1.0, 0.2, 0.1, 5.0},
        {"position_loop.json", "positionReference.out", "motor.measuredAngle", 1.0, 0.2, 0.1, 5.0},
        // Velocity loops: within 2 % of the 500 rpm set speed.
        {"dq_velocity_loop.json", "speedReference.out", "motor.measuredSpeed", 10.0, 0.1, 0.05, 5.0},
        {"velocity_loop.json", "speedReference.out", "motor.measuredSpeed", 10.0, 0.1, 0.05, 5.0},
        // Current loops: within 2 % of the current reference (6 A in q, 3 A in the winding).
        {"dq_current_loop.json", "iqReference.out", "currentsDq.out[1]", 0.12, 0.005, 0.005, 5.0},
        {"current_loop.json", "currentReference.out", "motor.measuredCurrent", 0.06, 0.005, 0.005, 5.0},
    };
    for (const Expectation& e : expectations) {
        SCOPED_TRACE(e.file);
        RunPlan plan = buildRunPlan(loadScenarioFile(std::string(QEL_SCENARIO_DIR) + "/" + e.file), QEL_PLUGIN_DIR, {});
        qelengine::Engine engine(plan.model);
        assignColumns(plan, engine);
        engine.initialize();
        engine.beginRun(plan.stopStep);
        engine.advanceTo(plan.stopStep);
        engine.finishRun();

        ASSERT_EQ(plan.analysis.size(), 1u);
        AnalysisConfig config = plan.analysis.front();
        ASSERT_TRUE(config.disturbanceTime.has_value());
        config.band = e.band;
        config.referenceColumn = columnOf(plan, e.reference);
        config.measuredColumn = columnOf(plan, e.measured);
        const StepMetrics m = analyseStep(engine.log(), config);

        ASSERT_TRUE(m.settlingTime.has_value()) << "the reference step never settles within " << e.band;
        EXPECT_LE(*m.settlingTime, e.maxSettling);
        EXPECT_LE(m.overshootPercent, e.maxOvershoot);
        EXPECT_LT(std::fabs(m.stepError), e.band);
        EXPECT_GT(m.peakDeviation, 0.0) << "the load step did nothing";
        ASSERT_TRUE(m.recoveryTime.has_value()) << "not back within " << e.band << " after the load step";
        EXPECT_LE(*m.recoveryTime, e.maxRecovery);
        EXPECT_LT(std::fabs(m.steadyStateError), e.band);
        EXPECT_LT(std::fabs(m.finalReference - m.finalMeasured), e.band);
    }
}

}  // namespace
}  // namespace qelsim::run

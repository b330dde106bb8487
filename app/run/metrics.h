// Step-response figures of a reference and the signal that tracks it, as a drive engineer reads
// them off a recording: final values, rise time, overshoot, settling time and steady-state error,
// and for a load step the peak deviation and the recovery time.
//
// The reference step is the first change of the reference (at time 0 when it never changes: then
// the step goes from the measured initial value to the reference). It is analysed up to the
// disturbance time, or to the end of the run without one; the disturbance is analysed from its
// time to the end.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/run/run_plan.h"
#include "host/engine/engine.h"

namespace qelsim::run {

struct StepMetrics {
    std::string name;
    std::string unit;
    std::string reference;
    std::string measured;
    double stepTime = 0.0;               // when the reference moved
    double initialValue = 0.0;           // where the step starts
    double targetValue = 0.0;            // the reference after the step
    double finalReference = 0.0;         // at the end of the run
    double finalMeasured = 0.0;
    double band = 0.0;                   // settling band, absolute
    std::optional<double> riseTime;      // 10 % to 90 % of the step
    double overshootPercent = 0.0;       // beyond the target, in % of the step
    std::optional<double> settlingTime;  // from the step until the signal stays within the band
    double stepError = 0.0;              // reference − measured, mean over the last 10 % before the disturbance
    std::optional<double> disturbanceTime;
    double peakDeviation = 0.0;          // largest |reference − measured| after the disturbance
    std::optional<double> recoveryTime;  // from the disturbance until the signal stays within the band
    double steadyStateError = 0.0;       // reference − measured, mean over the last 10 % of the run
};

StepMetrics analyseStep(const qelengine::SignalLog& log, const AnalysisConfig& config);

struct RunTiming {
    double simulatedSeconds = 0.0;
    double wallSeconds = 0.0;
    int64_t steps = 0;
};

nlohmann::ordered_json summaryJson(const RunPlan& plan, const qelengine::SignalLog& log, const std::vector<StepMetrics>& metrics,
                                   const RunTiming& timing);
// A few lines for the terminal.
std::string summaryText(const RunPlan& plan, const qelengine::SignalLog& log, const std::vector<StepMetrics>& metrics,
                        const RunTiming& timing);

}  // namespace qelsim::run

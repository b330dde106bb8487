#include "app/run/metrics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/run/signal_files.h"

namespace qelsim::run {
namespace {

constexpr double kDefaultBandFraction = 0.02;
constexpr double kFinalWindowFraction = 0.1;

// Mean of reference − measured over the rows in [from, to] whose time lies in the last tenth.
double meanError(const qelengine::SignalLog& log, const AnalysisConfig& config, size_t from, size_t to) {
    const double start = log.time[from] + (1.0 - kFinalWindowFraction) * (log.time[to] - log.time[from]);
    double total = 0.0;
    size_t count = 0;
    for (size_t row = from; row <= to; ++row) {
        if (log.time[row] < start) continue;
        total += log.at(row, config.referenceColumn) - log.at(row, config.measuredColumn);
        ++count;
    }
    return count > 0 ? total / static_cast<double>(count) : 0.0;
}

// Time from `origin` until the error stays within the band up to row `last`; none when the last
// row is still outside.
std::optional<double> timeToStayWithin(const qelengine::SignalLog& log, const AnalysisConfig& config, size_t first, size_t last,
                                       double band, double origin) {
    size_t outside = first;
    bool anyOutside = false;
    for (size_t row = first; row <= last; ++row) {
        const double error = log.at(row, config.referenceColumn) - log.at(row, config.measuredColumn);
        if (!(std::fabs(error) <= band)) {
            outside = row;
            anyOutside = true;
        }
    }
    if (!anyOutside) return 0.0;
    if (outside == last) return std::nullopt;
    return log.time[outside + 1] - origin;
}

std::string withUnit(double value, const std::string& unit) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4g", value);
    return unit.empty() ? std::string(text) : std::string(text) + " " + unit;
}

std::string milliseconds(const std::optional<double>& seconds, const char* absent) {
    if (!seconds) return absent;
    char text[32];
    std::snprintf(text, sizeof text, "%.3g ms", *seconds * 1e3);
    return text;
}

nlohmann::ordered_json optionalNumber(const std::optional<double>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

}  // namespace

StepMetrics analyseStep(const qelengine::SignalLog& log, const AnalysisConfig& config) {
    StepMetrics m;
    m.name = config.name;
    m.unit = config.unit;
    m.reference = config.reference.text;
    m.measured = config.measured.text;
    const size_t rows = log.time.size();
    if (rows == 0) return m;
    const size_t lastRow = rows - 1;
    m.finalReference = log.at(lastRow, config.referenceColumn);
    m.finalMeasured = log.at(lastRow, config.measuredColumn);

    // The rows before the disturbance belong to the reference step.
    size_t stepLast = lastRow;
    if (config.disturbanceTime) {
        m.disturbanceTime = *config.disturbanceTime;
        while (stepLast > 0 && log.time[stepLast] >= *config.disturbanceTime) --stepLast;
    }
    const double initialReference = log.at(0, config.referenceColumn);
    size_t stepRow = 0;
    while (stepRow <= stepLast && log.at(stepRow, config.referenceColumn) == initialReference) ++stepRow;
    if (stepRow > stepLast) {
        stepRow = 0;   // the reference never moves: the step goes from where the signal starts
        m.initialValue = log.at(0, config.measuredColumn);
    } else {
        m.initialValue = initialReference;
    }
    m.stepTime = log.time[stepRow];
    m.targetValue = log.at(stepLast, config.referenceColumn);
    const double height = m.targetValue - m.initialValue;
    m.band = config.band > 0.0 ? config.band : kDefaultBandFraction * std::max(std::fabs(height), std::fabs(m.targetValue));
    if (m.band == 0.0) m.band = 1e-9;

    if (height != 0.0) {
        std::optional<double> t10;
        std::optional<double> t90;
        double peak = 0.0;
        for (size_t row = stepRow; row <= stepLast; ++row) {
            const double progress = (log.at(row, config.measuredColumn) - m.initialValue) / height;
            if (!t10 && progress >= 0.1) t10 = log.time[row];
            if (!t90 && progress >= 0.9) t90 = log.time[row];
            peak = std::max(peak, progress - 1.0);
        }
        if (t10 && t90) m.riseTime = *t90 - *t10;
        m.overshootPercent = peak * 100.0;
    }
    m.settlingTime = timeToStayWithin(log, config, stepRow, stepLast, m.band, m.stepTime);
    m.stepError = meanError(log, config, stepRow, stepLast);

    if (config.disturbanceTime && stepLast < lastRow) {
        const size_t first = stepLast + 1;
        for (size_t row = first; row <= lastRow; ++row) {
            const double error = log.at(row, config.referenceColumn) - log.at(row, config.measuredColumn);
            m.peakDeviation = std::max(m.peakDeviation, std::fabs(error));
        }
        m.recoveryTime = timeToStayWithin(log, config, first, lastRow, m.band, *config.disturbanceTime);
        m.steadyStateError = meanError(log, config, first, lastRow);
    } else {
        m.steadyStateError = m.stepError;
    }
    return m;
}

nlohmann::ordered_json summaryJson(const RunPlan& plan, const qelengine::SignalLog& log, const std::vector<StepMetrics>& metrics,
                                   const RunTiming& timing) {
    nlohmann::ordered_json summary;
    summary["scenario"] = plan.name;
    summary["description"] = plan.description;
    summary["solver"] = std::string(qelengine::solverName(plan.model.solver));
    summary["stepSize"] = plan.model.stepSize;
    summary["stopTime"] = plan.stopTime;
    summary["steps"] = timing.steps;
    summary["simulatedSeconds"] = timing.simulatedSeconds;
    summary["wallSeconds"] = timing.wallSeconds;
    summary["simulatedSecondsPerWallSecond"] = timing.wallSeconds > 0.0 ? timing.simulatedSeconds / timing.wallSeconds : 0.0;
    nlohmann::ordered_json finals = nlohmann::ordered_json::object();
    if (!log.time.empty()) {
        finals["time"] = log.time.back();
        for (size_t c = 0; c < plan.columnNames.size(); ++c) finals[plan.columnNames[c]] = log.at(log.time.size() - 1, static_cast<int>(c));
    }
    summary["finalValues"] = finals;
    nlohmann::ordered_json analysis = nlohmann::ordered_json::array();
    for (const StepMetrics& m : metrics) {
        nlohmann::ordered_json item;
        item["name"] = m.name;
        item["unit"] = m.unit;
        item["reference"] = m.reference;
        item["measured"] = m.measured;
        item["stepTime"] = m.stepTime;
        item["initialValue"] = m.initialValue;
        item["targetValue"] = m.targetValue;
        item["finalReference"] = m.finalReference;
        item["finalMeasured"] = m.finalMeasured;
        item["band"] = m.band;
        item["riseTime"] = optionalNumber(m.riseTime);
        item["overshootPercent"] = m.overshootPercent;
        item["settlingTime"] = optionalNumber(m.settlingTime);
        item["stepError"] = m.stepError;
        if (m.disturbanceTime) {
            item["disturbanceTime"] = *m.disturbanceTime;
            item["peakDeviation"] = m.peakDeviation;
            item["recoveryTime"] = optionalNumber(m.recoveryTime);
        }
        item["steadyStateError"] = m.steadyStateError;
        analysis.push_back(item);
    }
    summary["analysis"] = analysis;
    return summary;
}

std::string summaryText(const RunPlan& plan, const qelengine::SignalLog& log, const std::vector<StepMetrics>& metrics,
                        const RunTiming& timing) {
    std::string text;
    char line[256];
    std::snprintf(line, sizeof line, "%s: %.6g s simulated in %.3g s (%.3g simulated s per s), %s, step %g s\n",
                  plan.name.c_str(), timing.simulatedSeconds, timing.wallSeconds,
                  timing.wallSeconds > 0.0 ? timing.simulatedSeconds / timing.wallSeconds : 0.0,
                  std::string(qelengine::solverName(plan.model.solver)).c_str(), plan.model.stepSize);
    text += line;
    for (const StepMetrics& m : metrics) {
        const std::string band = "±" + withUnit(m.band, m.unit);
        text += "  " + m.name + ": reference " + withUnit(m.finalReference, m.unit) + ", measured " +
                withUnit(m.finalMeasured, m.unit) + " at the end\n";
        char overshoot[32];
        std::snprintf(overshoot, sizeof overshoot, "%.3g %%", m.overshootPercent);
        text += "    step at " + withUnit(m.stepTime, "s") + ": rise time " + milliseconds(m.riseTime, "none") +
                ", overshoot " + overshoot + ", settling time (" + band + ") " + milliseconds(m.settlingTime, "not settled") +
                ", error " + withUnit(m.stepError, m.unit) + "\n";
        if (m.disturbanceTime) {
            text += "    load step at " + withUnit(*m.disturbanceTime, "s") + ": peak deviation " +
                    withUnit(m.peakDeviation, m.unit) + ", recovery (" + band + ") " + milliseconds(m.recoveryTime, "not recovered") +
                    ", steady-state error " + withUnit(m.steadyStateError, m.unit) + "\n";
        }
    }
    if (metrics.empty() && !log.time.empty()) {
        text += "  final values:";
        for (size_t c = 0; c < plan.columnNames.size() && c < 8; ++c) {
            text += " " + plan.columnNames[c] + " " + formatNumber(log.at(log.time.size() - 1, static_cast<int>(c)));
        }
        text += "\n";
    }
    return text;
}

}  // namespace qelsim::run

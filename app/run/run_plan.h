// From a scenario to what a run needs: the engine's model (blocks with their plug-in files and
// argument values, connections, logged ports, step, solver), the stop step, the names of the
// logged columns, the reference/measurement pairs to analyse and the plot panels. Every name in
// the scenario is checked here against the block catalogue and the built-in block kinds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/run/scenario.h"
#include "host/engine/engine.h"

namespace qelsim::run {

struct LoggedSignal {
    std::string name;        // "motor.measuredCurrent"
    qelengine::PortRef port;
    int width = 0;           // known once the engine has registered the blocks
    int firstColumn = 0;     // within the logged values, the time column not counted
};

// One logged signal, or one element of it.
struct SignalSelection {
    std::string text;        // as written in the scenario
    int logged = 0;          // index into RunPlan::logged
    int element = -1;        // -1: the whole signal
};

struct AnalysisConfig {
    std::string name;                      // "position"
    std::string unit;                      // "deg"
    SignalSelection reference, measured;
    double band = 0.0;                     // settling band, absolute; 0: 2 % of the step
    std::optional<double> disturbanceTime; // a load step, analysed apart from the reference step
    int referenceColumn = 0;               // filled by assignColumns
    int measuredColumn = 0;
};

struct PlotLine {
    int column = 0;
    std::string label;
};

struct PlotPanelConfig {
    struct Entry {
        SignalSelection signal;
        std::vector<std::string> labels;   // one per element drawn; empty: the signal's name
    };
    std::string title;
    std::string unit;
    std::vector<Entry> entries;
    std::optional<std::pair<double, double>> timeRange;   // a zoom; the whole run otherwise
    std::vector<PlotLine> lines;                          // filled by assignColumns
};

struct RunPlan {
    std::string name;
    std::string description;
    std::string origin;                     // where the scenario came from, for messages
    qelengine::ModelConfig model;
    double stopTime = 0.0;
    int64_t stopStep = 0;
    std::vector<LoggedSignal> logged;
    std::vector<std::string> columnNames;   // one per logged value: "motor.measuredCurrent[0]"
    std::vector<AnalysisConfig> analysis;
    std::string plotTitle;
    std::vector<PlotPanelConfig> panels;
};

struct RunOverrides {
    std::optional<double> stopTime;
    std::optional<qelengine::Solver> solver;
};

// InputError naming the item and where it is in the scenario when anything is wrong.
RunPlan buildRunPlan(const Scenario& scenario, const std::filesystem::path& pluginDir, const RunOverrides& overrides);

// Widths of the logged signals as the engine registered them, the column names, and the columns
// of the analysis and the plot. InputError for an analysed signal wider than one value.
void assignColumns(RunPlan& plan, const qelengine::Engine& engine);

// The parameters a built-in block of kind `type` takes ("step": time, initial, final); empty for
// an unknown kind.
std::span<const std::string_view> builtinParameterNames(std::string_view type);

}  // namespace qelsim::run

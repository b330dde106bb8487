#include "app/run/run_command.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/common/block_catalog.h"
#include "app/run/metrics.h"
#include "app/run/plot.h"
#include "app/run/progress.h"
#include "app/run/run_plan.h"
#include "app/run/scenario.h"
#include "app/run/signal_files.h"
#include "app/run/state_file.h"
#include "host/engine/engine.h"

namespace qelsim::run {

const char* const kRunHelp =
    "usage: qelsim run [SCENARIO] [--out DIR] [--set BLOCK.NAME=VALUE ...] [--stop-time T]\n"
    "                  [--solver ode4|ode1] [--save-state FILE] [--resume FILE] [--plugin-dir DIR]\n"
    "\n"
    "Simulates a closed drive loop: the blocks of the scenario (a JSON file, see docs/scenario.md)\n"
    "loaded from their plug-ins, wired together and run with a fixed step. Without SCENARIO it runs\n"
    "the built-in default, a position loop of the dq motor with its dq position controller.\n"
    "\n"
    "Writes into the output folder: signals.csv and signals.mat (time and every logged signal),\n"
    "plot.png (references against measurements, currents, voltages, torque) and summary.json, and\n"
    "prints a short summary (final values, rise time, overshoot, settling time, steady-state error).\n"
    "\n"
    "options:\n"
    "  --out DIR              output folder (default out/<scenario name>)\n"
    "  --set BLOCK.NAME=VALUE ...\n"
    "                         set model arguments of plug-in blocks or parameters of built-in\n"
    "                         blocks; VALUE is JSON (a number, an array); --set may be repeated\n"
    "  --stop-time T          simulate up to T seconds (after --resume: the time to continue to)\n"
    "  --solver ode4|ode1     integration method (default: the scenario's, else ode4)\n"
    "  --save-state FILE      at the stop time, save every block's state and the engine's into FILE\n"
    "  --resume FILE          continue from a state saved with --save-state\n"
    "  --plugin-dir DIR       where the plug-ins lie (default: the build tree of this executable)\n"
    "  --quiet                no progress bar and no summary\n"
    "  -h, --help             this text\n";

namespace {

struct Options {
    std::optional<std::string> scenario;
    std::optional<std::filesystem::path> out;
    std::vector<std::string> settings;
    RunOverrides overrides;
    std::optional<std::filesystem::path> saveState;
    std::optional<std::filesystem::path> resume;
    std::optional<std::filesystem::path> pluginDir;
    bool quiet = false;
    bool help = false;
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

double parseTime(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size()) throw UsageError(option + ": '" + text + "' is not a number");
    if (!(value > 0.0) || !std::isfinite(value)) throw UsageError(option + ": must be a positive number of seconds, got " + text);
    return value;
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError(arg + ": missing value");
            return argv[++i];
        };
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--out") {
            options.out = value();
        } else if (arg == "--set") {
            options.settings.push_back(value());
            // Several settings may follow one --set; a scenario file name holds no '='.
            while (i + 1 < argc && argv[i + 1][0] != '-' && std::strchr(argv[i + 1], '=') != nullptr) {
                options.settings.push_back(argv[++i]);
            }
        } else if (arg == "--stop-time") {
            options.overrides.stopTime = parseTime(arg, value());
        } else if (arg == "--solver") {
            const std::string solver = value();
            if (solver == "ode4") {
                options.overrides.solver = qelengine::Solver::ode4;
            } else if (solver == "ode1") {
                options.overrides.solver = qelengine::Solver::ode1;
            } else {
                throw UsageError("--solver: unknown solver '" + solver + "' (expected ode4 or ode1)");
            }
        } else if (arg == "--save-state") {
            options.saveState = value();
        } else if (arg == "--resume") {
            options.resume = value();
        } else if (arg == "--plugin-dir") {
            options.pluginDir = value();
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option '" + arg + "'");
        } else if (options.scenario) {
            throw UsageError("more than one scenario given: '" + *options.scenario + "' and '" + arg + "'");
        } else {
            options.scenario = arg;
        }
    }
    return options;
}

// Writes every result under a temporary name first and renames them together at the end, so
// that a failure leaves none of them half-written.
void writeResults(const std::filesystem::path& dir, const RunPlan& plan, const qelengine::SignalLog& log,
                  const nlohmann::ordered_json& summary) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) throw InputError(dir.string() + ": cannot create the output folder: " + error.message());
    std::vector<PendingFile> files;
    files.emplace_back(dir / "signals.csv");
    writeSignalsCsv(files.back().path(), plan, log);
    files.emplace_back(dir / "signals.mat");
    writeSignalsMat(files.back().path(), plan, log);
    files.emplace_back(dir / "plot.png");
    writePlot(files.back().path(), plan, log);
    files.emplace_back(dir / "summary.json");
    {
        std::ofstream out(files.back().path());
        out << summary.dump(2) << "\n";
        if (!out) throw InputError((dir / "summary.json").string() + ": cannot write the file");
    }
    for (PendingFile& file : files) file.commit();
}

int run(const Options& options, char* argv0) {
    Scenario scenario = options.scenario ? loadScenarioFile(*options.scenario) : defaultScenario();
    for (const std::string& setting : options.settings) applySetting(scenario, setting);
    const std::filesystem::path pluginDir = options.pluginDir ? *options.pluginDir : defaultPluginDir(argv0);
    RunPlan plan = buildRunPlan(scenario, pluginDir, options.overrides);

    std::optional<qelengine::EngineState> resumeState;
    if (options.resume) resumeState = readStateFile(*options.resume);

    // Model errors name blocks and ports; the scenario they come from goes in front.
    std::unique_ptr<qelengine::Engine> built;
    try {
        built = std::make_unique<qelengine::Engine>(plan.model);
    } catch (const qelengine::EngineError& error) {
        throw InputError(plan.origin + ": " + error.what());
    }
    qelengine::Engine& engine = *built;
    assignColumns(plan, engine);
    engine.initialize();
    if (resumeState) {
        try {
            engine.restoreState(*resumeState);
        } catch (const qelengine::EngineError& error) {
            throw InputError(options.resume->string() + ": " + error.what());
        }
        if (plan.stopStep <= engine.stepIndex()) {
            throw InputError("--stop-time: the run to continue already reached " +
                             formatNumber(engine.timeOfStep(engine.stepIndex())) + " s; give a later stop time");
        }
    }
    const int64_t firstStep = engine.stepIndex();
    // The log is held in memory for the whole run; refuse a run whose log would not fit.
    constexpr double kMaxLogBytes = 4.0 * 1024 * 1024 * 1024;
    const double logBytes = static_cast<double>((plan.stopStep - firstStep) / plan.model.logEvery + 2) *
                            static_cast<double>(engine.log().columns + 1) * sizeof(double);
    if (logBytes > kMaxLogBytes) {
        throw InputError(plan.origin + ": logInterval: the run would log " + formatNumber(std::ceil(logBytes / 1e9)) +
                         " GB of signals; raise logInterval or shorten the run");
    }
    engine.beginRun(plan.stopStep);

    Progress progress(!options.quiet && standardErrorIsTerminal(), firstStep, plan.stopStep, plan.model.stepSize);
    // Chunks keep the clock and the terminal off the simulation's own path.
    constexpr int64_t kChunkSteps = 20000;
    while (engine.stepIndex() < plan.stopStep) {
        engine.advanceTo(std::min(engine.stepIndex() + kChunkSteps, plan.stopStep));
        progress.update(engine.stepIndex());
    }
    std::optional<qelengine::EngineState> savedState;
    if (options.saveState) savedState = engine.saveState();
    engine.finishRun();
    progress.finish();
    const RunTiming timing{engine.timeOfStep(plan.stopStep - firstStep), progress.elapsedSeconds(), plan.stopStep - firstStep};

    const qelengine::SignalLog& log = engine.log();
    std::vector<StepMetrics> metrics;
    for (const AnalysisConfig& config : plan.analysis) metrics.push_back(analyseStep(log, config));
    const nlohmann::ordered_json summary = summaryJson(plan, log, metrics, timing);

    const std::filesystem::path outDir = options.out ? *options.out : std::filesystem::path("out") / plan.name;
    std::optional<PendingFile> stateFile;
    if (savedState) {
        stateFile.emplace(*options.saveState);
        writeStateFile(stateFile->path(), plan.name, *savedState);
    }
    writeResults(outDir, plan, log, summary);
    if (stateFile) stateFile->commit();

    if (!options.quiet) {
        std::cout << summaryText(plan, log, metrics, timing);
        std::error_code ignored;
        const std::filesystem::path shown = std::filesystem::absolute(outDir, ignored).lexically_normal();
        std::cout << "results in " << shown.string() << "/ (signals.csv, signals.mat, plot.png, summary.json)\n";
        if (savedState) std::cout << "state at " << formatNumber(plan.stopTime) << " s saved in " << options.saveState->string() << "\n";
    }
    return 0;
}

}  // namespace
}  // namespace qelsim::run

int runCommand(int argc, char** argv) {
    using namespace qelsim::run;
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const UsageError& error) {
        std::cerr << "qelsim run: " << error.what() << " (see 'qelsim run --help')\n";
        return 2;
    }
    if (options.help) {
        std::cout << kRunHelp;
        return 0;
    }
    try {
        return run(options, argc > 0 ? argv[0] : nullptr);
    } catch (const InputError& error) {
        std::cerr << "qelsim run: " << error.what() << "\n";
    } catch (const qelengine::EngineError& error) {
        std::cerr << "qelsim run: " << error.what() << "\n";
    } catch (const std::exception& error) {
        std::cerr << "qelsim run: " << error.what() << "\n";
    }
    return 1;
}

#include "app/run/run_plan.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <map>

#include "app/common/block_catalog.h"
#include "app/run/csv_column.h"
#include "app/run/signal_files.h"

namespace qelsim::run {
namespace {

using Json = nlohmann::ordered_json;
using qelengine::BuiltinKind;
using qelengine::BuiltinConfig;
using qelengine::PortRef;

constexpr double kDefaultStepSize = 1e-5;
constexpr double kDefaultLogInterval = 1e-4;

struct BuiltinType {
    std::string_view name;
    BuiltinKind kind;
    std::span<const std::string_view> parameters;
};

constexpr std::array<std::string_view, 1> kConstantParameters = {"value"};
constexpr std::array<std::string_view, 3> kStepParameters = {"time", "initial", "final"};
constexpr std::array<std::string_view, 3> kRampParameters = {"start", "slope", "initial"};
constexpr std::array<std::string_view, 4> kSineParameters = {"amplitude", "frequency", "phase", "bias"};
constexpr std::array<std::string_view, 3> kTableParameters = {"times", "values", "interpolation"};
constexpr std::array<std::string_view, 4> kCsvParameters = {"file", "column", "timeColumn", "interpolation"};
constexpr std::array<std::string_view, 1> kGainParameters = {"gain"};
constexpr std::array<std::string_view, 1> kSumParameters = {"signs"};
constexpr std::array<std::string_view, 0> kDqParameters = {};

constexpr std::array kBuiltinTypes = {
    BuiltinType{"constant", BuiltinKind::constant, kConstantParameters},
    BuiltinType{"step", BuiltinKind::step, kStepParameters},
    BuiltinType{"ramp", BuiltinKind::ramp, kRampParameters},
    BuiltinType{"sine", BuiltinKind::sine, kSineParameters},
    BuiltinType{"table", BuiltinKind::table, kTableParameters},
    BuiltinType{"csv", BuiltinKind::table, kCsvParameters},
    BuiltinType{"gain", BuiltinKind::gain, kGainParameters},
    BuiltinType{"sum", BuiltinKind::sum, kSumParameters},
    BuiltinType{"dq", BuiltinKind::dq, kDqParameters},
};

const BuiltinType* findBuiltinType(std::string_view name) {
    for (const BuiltinType& type : kBuiltinTypes) {
        if (type.name == name) return &type;
    }
    return nullptr;
}

std::string joinNames(auto&& names) {
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : ", ") + std::string(name);
    return text;
}

bool isIdentifier(std::string_view name) {
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0]))) return false;
    for (char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    }
    return true;
}

// Everything the plan needs to know about one block while it is built.
struct BlockEntry {
    std::string name;
    const BlockInfo* info = nullptr;        // a plug-in block
    const BuiltinType* builtin = nullptr;   // a built-in block
    int numBuiltinInputs = 0;
};

class PlanBuilder {
public:
    PlanBuilder(const Scenario& scenario, const std::filesystem::path& pluginDir, const RunOverrides& overrides)
        : scenario_(scenario), doc_(scenario.document), pluginDir_(pluginDir), overrides_(overrides) {}

    RunPlan build() {
        plan_.origin = scenario_.origin;
        checkKeys(doc_, "", {"name", "description", "stopTime", "stepSize", "solver", "logInterval", "blocks",
                             "connections", "log", "analysis", "plot"});
        plan_.name = optionalText(doc_, "name", "scenario");
        if (!isIdentifier(plan_.name)) fail("name", "'" + plan_.name + "' is not a name of letters, digits and '_'");
        plan_.description = optionalText(doc_, "description", "");
        readTiming();
        readBlocks();
        readConnections();
        readLog();
        readAnalysis();
        readPlot();
        return std::move(plan_);
    }

private:
    [[noreturn]] void fail(const std::string& path, const std::string& message) const {
        throw InputError(scenario_.origin + ": " + (path.empty() ? "" : path + ": ") + message);
    }

    void checkKeys(const Json& object, const std::string& path, std::initializer_list<std::string_view> known) const {
        for (const auto& [key, value] : object.items()) {
            bool found = false;
            for (std::string_view name : known) found = found || name == key;
            if (!found) fail(path.empty() ? key : path + "." + key, "unknown key (expected one of " + joinNames(known) + ")");
        }
    }

    double number(const Json& value, const std::string& path) const {
        if (value.is_number()) return value.get<double>();
        if (value.is_string()) {
            // JSON has no nan or inf; they may be given as text.
            const std::string text = value.get<std::string>();
            char* end = nullptr;
            const double parsed = std::strtod(text.c_str(), &end);
            if (!text.empty() && end == text.c_str() + text.size()) return parsed;
        }
        fail(path, "expected a number, got " + value.dump());
    }

    std::vector<double> numbers(const Json& value, const std::string& path) const {
        std::vector<double> result;
        if (!value.is_array()) {
            result.push_back(number(value, path));
            return result;
        }
        for (size_t i = 0; i < value.size(); ++i) result.push_back(number(value[i], path + "[" + std::to_string(i) + "]"));
        return result;
    }

    std::string text(const Json& value, const std::string& path) const {
        if (!value.is_string()) fail(path, "expected a text, got " + value.dump());
        return value.get<std::string>();
    }

    std::string optionalText(const Json& object, const char* key, const std::string& fallback) const {
        return object.contains(key) ? text(object[key], key) : fallback;
    }

    double positive(const Json& object, const char* key, const std::string& path, std::optional<double> fallback) const {
        if (!object.contains(key)) {
            if (!fallback) fail(path.empty() ? key : path + "." + key, "missing");
            return *fallback;
        }
        const std::string where = path.empty() ? key : path + "." + key;
        const double value = number(object[key], where);
        if (!(value > 0.0) || !std::isfinite(value)) fail(where, "must be a positive number, got " + object[key].dump());
        return value;
    }

    void readTiming() {
        auto& model = plan_.model;
        model.stepSize = positive(doc_, "stepSize", "", kDefaultStepSize);
        if (overrides_.stopTime) {
            if (!(*overrides_.stopTime > 0.0) || !std::isfinite(*overrides_.stopTime)) {
                throw InputError("--stop-time: must be a positive number");
            }
            plan_.stopTime = *overrides_.stopTime;
        } else {
            plan_.stopTime = positive(doc_, "stopTime", "", std::nullopt);
        }
        plan_.stopStep = std::llround(plan_.stopTime / model.stepSize);
        if (plan_.stopStep < 1) fail("stopTime", "shorter than one step");

        model.solver = qelengine::Solver::ode4;
        if (overrides_.solver) {
            model.solver = *overrides_.solver;
        } else if (doc_.contains("solver")) {
            const std::string solver = text(doc_["solver"], "solver");
            if (solver == "ode4") {
                model.solver = qelengine::Solver::ode4;
            } else if (solver == "ode1") {
                model.solver = qelengine::Solver::ode1;
            } else {
                fail("solver", "unknown solver '" + solver + "' (expected ode4 or ode1)");
            }
        }

        const double interval = positive(doc_, "logInterval", "", std::max(kDefaultLogInterval, model.stepSize));
        const double ratio = interval / model.stepSize;
        const double steps = std::round(ratio);
        if (steps < 1.0 || std::fabs(ratio - steps) > 1e-9 * ratio) {
            fail("logInterval", "must be a whole number of steps of " + formatNumber(model.stepSize) + " s");
        }
        model.logEvery = static_cast<int64_t>(steps);
    }

    void readBlocks() {
        if (!doc_.contains("blocks")) fail("blocks", "missing");
        const Json& blocks = doc_["blocks"];
        if (!blocks.is_object() || blocks.empty()) fail("blocks", "expected an object of named blocks");
        for (const auto& [name, block] : blocks.items()) {
            const std::string path = "blocks." + name;
            if (!isIdentifier(name)) fail(path, "a block name must be letters, digits and '_', starting with a letter");
            if (!block.is_object()) fail(path, "expected an object");
            qelengine::BlockConfig config;
            config.name = name;
            BlockEntry entry;
            entry.name = name;
            if (block.contains("model")) {
                readPluginBlock(block, path, config, entry);
            } else if (block.contains("type")) {
                readBuiltinBlock(block, path, config, entry);
            } else {
                fail(path, "needs a \"model\" (a plug-in block) or a \"type\" (a built-in block)");
            }
            plan_.model.blocks.push_back(std::move(config));
            entries_.push_back(entry);
        }
    }

    void readPluginBlock(const Json& block, const std::string& path, qelengine::BlockConfig& config, BlockEntry& entry) {
        checkKeys(block, path, {"model", "arguments", "description"});
        const std::string model = text(block["model"], path + ".model");
        const BlockInfo* info = findBlock(model);
        if (info == nullptr) {
            std::vector<std::string_view> known;
            for (const BlockInfo& candidate : blockCatalog()) known.push_back(candidate.modelName);
            fail(path + ".model", "unknown model '" + model + "' (known: " + joinNames(known) + ")");
        }
        entry.info = info;
        config.plugin = pluginPath(pluginDir_, *info);
        for (const PortInfo& port : info->inputs) config.inputNames.emplace_back(port.name);
        for (const PortInfo& port : info->outputs) config.outputNames.emplace_back(port.name);

        const std::string argumentsPath = path + ".arguments";
        if (!block.contains("arguments")) fail(argumentsPath, "missing");
        const Json& arguments = block["arguments"];
        if (!arguments.is_object()) fail(argumentsPath, "expected an object of named arguments");
        for (const auto& [key, value] : arguments.items()) {
            bool known = false;
            for (const ArgumentInfo& argument : info->arguments) known = known || argument.name == key;
            if (!known) {
                std::vector<std::string_view> names;
                for (const ArgumentInfo& argument : info->arguments) names.push_back(argument.name);
                fail(argumentsPath + "." + key, "unknown argument of " + std::string(info->modelName) + " (arguments: " +
                                                    joinNames(names) + ")");
            }
        }
        for (const ArgumentInfo& argument : info->arguments) {
            const std::string key(argument.name);
            const std::string where = argumentsPath + "." + key;
            if (!arguments.contains(key)) fail(where, "missing argument of " + std::string(info->modelName));
            const Json& value = arguments[key];
            std::vector<double> values;
            if (argument.width == 1) {
                if (value.is_array()) fail(where, "expected one number, got an array");
                values.push_back(number(value, where));
            } else {
                if (!value.is_array()) fail(where, "expected an array of " + std::to_string(argument.width) + " numbers");
                values = numbers(value, where);
                if (static_cast<int>(values.size()) != argument.width) {
                    fail(where, "expected " + std::to_string(argument.width) + " numbers, got " + std::to_string(values.size()));
                }
            }
            config.arguments.push_back(std::move(values));
        }
    }

    void readBuiltinBlock(const Json& block, const std::string& path, qelengine::BlockConfig& config, BlockEntry& entry) {
        const std::string typeName = text(block["type"], path + ".type");
        const BuiltinType* type = findBuiltinType(typeName);
        if (type == nullptr) {
            std::vector<std::string_view> known;
            for (const BuiltinType& candidate : kBuiltinTypes) known.push_back(candidate.name);
            fail(path + ".type", "unknown block type '" + typeName + "' (known: " + joinNames(known) + ")");
        }
        for (const auto& [key, value] : block.items()) {
            if (key == "type" || key == "description") continue;
            bool known = false;
            for (std::string_view name : type->parameters) known = known || name == key;
            if (!known) {
                fail(path + "." + key, "unknown parameter of a " + typeName + " block" +
                                           (type->parameters.empty() ? std::string(" (it takes none)")
                                                                     : " (parameters: " + joinNames(type->parameters) + ")"));
            }
        }
        auto required = [&](const char* key) -> const Json& {
            if (!block.contains(key)) fail(path + "." + key, "missing parameter of a " + typeName + " block");
            return block[key];
        };
        auto optionalNumber = [&](const char* key, double fallback) {
            return block.contains(key) ? number(block[key], path + "." + key) : fallback;
        };
        auto interpolation = [&]() {
            if (!block.contains("interpolation")) return false;
            const std::string mode = text(block["interpolation"], path + ".interpolation");
            if (mode == "linear") return false;
            if (mode == "hold") return true;
            fail(path + ".interpolation", "expected \"linear\" or \"hold\", got '" + mode + "'");
        };

        BuiltinConfig builtin;
        builtin.kind = type->kind;
        switch (type->kind) {
            case BuiltinKind::constant:
                builtin.value = numbers(required("value"), path + ".value");
                if (builtin.value.empty()) fail(path + ".value", "needs at least one number");
                break;
            case BuiltinKind::step:
                builtin.time = number(required("time"), path + ".time");
                builtin.initial = optionalNumber("initial", 0.0);
                builtin.final = number(required("final"), path + ".final");
                break;
            case BuiltinKind::ramp:
                builtin.time = optionalNumber("start", 0.0);
                builtin.slope = number(required("slope"), path + ".slope");
                builtin.initial = optionalNumber("initial", 0.0);
                break;
            case BuiltinKind::sine:
                builtin.amplitude = number(required("amplitude"), path + ".amplitude");
                builtin.frequency = number(required("frequency"), path + ".frequency");
                builtin.phase = optionalNumber("phase", 0.0);
                builtin.bias = optionalNumber("bias", 0.0);
                break;
            case BuiltinKind::table:
                if (typeName == "csv") {
                    const std::filesystem::path file = scenario_.baseDir / text(required("file"), path + ".file");
                    const std::string column = text(required("column"), path + ".column");
                    const std::string timeColumn = block.contains("timeColumn") ? text(block["timeColumn"], path + ".timeColumn") : "";
                    CsvColumn data;
                    try {
                        data = readCsvColumn(file, column, timeColumn);
                    } catch (const InputError& error) {
                        fail(path, error.what());
                    }
                    builtin.times = std::move(data.times);
                    builtin.values = std::move(data.values);
                } else {
                    builtin.times = numbers(required("times"), path + ".times");
                    builtin.values = numbers(required("values"), path + ".values");
                }
                builtin.hold = interpolation();
                break;
            case BuiltinKind::gain:
                builtin.gain = number(required("gain"), path + ".gain");
                break;
            case BuiltinKind::sum:
                builtin.signs = text(required("signs"), path + ".signs");
                break;
            case BuiltinKind::dq:
                break;
        }
        const std::string problem = qelengine::builtinConfigProblem(builtin);
        if (!problem.empty()) fail(path, problem);
        entry.builtin = type;
        entry.numBuiltinInputs = qelengine::builtinNumInputs(builtin);
        config.builtin = std::move(builtin);
    }

    int blockIndex(const std::string& name, const std::string& path) const {
        for (size_t b = 0; b < entries_.size(); ++b) {
            if (entries_[b].name == name) return static_cast<int>(b);
        }
        fail(path, "unknown block '" + name + "'");
    }

    std::vector<std::string> portNames(int block, bool input) const {
        const BlockEntry& entry = entries_[static_cast<size_t>(block)];
        std::vector<std::string> names;
        if (entry.info != nullptr) {
            for (const PortInfo& port : input ? entry.info->inputs : entry.info->outputs) names.emplace_back(port.name);
        } else if (input) {
            const auto& config = *plan_.model.blocks[static_cast<size_t>(block)].builtin;
            for (int p = 0; p < entry.numBuiltinInputs; ++p) names.push_back(qelengine::builtinInputName(config, p));
        } else {
            names.emplace_back(qelengine::kBuiltinOutputName);
        }
        return names;
    }

    // "block.port", or "block" alone for a block with a single port of that direction; with
    // `allowElement` also "block.port[i]".
    PortRef port(const std::string& reference, bool input, const std::string& path, int* element = nullptr) const {
        std::string name = reference;
        if (element != nullptr) {
            *element = -1;
            const size_t open = name.find('[');
            if (open != std::string::npos) {
                if (name.back() != ']') fail(path, "malformed signal '" + reference + "'");
                const std::string index = name.substr(open + 1, name.size() - open - 2);
                char* end = nullptr;
                const long value = std::strtol(index.c_str(), &end, 10);
                if (index.empty() || end != index.c_str() + index.size() || value < 0) {
                    fail(path, "malformed element index in '" + reference + "'");
                }
                *element = static_cast<int>(value);
                name = name.substr(0, open);
            }
        }
        const size_t dot = name.find('.');
        const std::string blockName = name.substr(0, dot);
        const int block = blockIndex(blockName, path);
        const std::vector<std::string> names = portNames(block, input);
        const BlockEntry& entry = entries_[static_cast<size_t>(block)];
        const std::string blockLabel =
            "block '" + blockName + "'" + (entry.info != nullptr ? " (" + std::string(entry.info->modelName) + ")" : "");
        if (dot == std::string::npos) {
            if (names.size() != 1) {
                fail(path, blockLabel + " has " + std::to_string(names.size()) + (input ? " inputs" : " outputs") +
                               ": name one of " + joinNames(names));
            }
            return {block, 0};
        }
        const std::string portName = name.substr(dot + 1);
        for (size_t p = 0; p < names.size(); ++p) {
            if (names[p] == portName) return {block, static_cast<int>(p)};
        }
        fail(path, blockLabel + " has no " + (input ? "input" : "output") + " '" + portName + "'" +
                       (names.empty() ? std::string(" (it has none)") : " (" + joinNames(names) + ")"));
    }

    void readConnections() {
        if (!doc_.contains("connections")) fail("connections", "missing");
        const Json& connections = doc_["connections"];
        if (!connections.is_array()) fail("connections", "expected an array");
        for (size_t c = 0; c < connections.size(); ++c) {
            const std::string path = "connections[" + std::to_string(c) + "]";
            const Json& connection = connections[c];
            if (!connection.is_object()) fail(path, "expected an object with \"from\" and \"to\"");
            checkKeys(connection, path, {"from", "to"});
            if (!connection.contains("from")) fail(path + ".from", "missing");
            if (!connection.contains("to")) fail(path + ".to", "missing");
            const PortRef from = port(text(connection["from"], path + ".from"), false, path + ".from");
            const Json& to = connection["to"];
            if (to.is_array()) {
                if (to.empty()) fail(path + ".to", "names no input");
                for (size_t t = 0; t < to.size(); ++t) {
                    const std::string where = path + ".to[" + std::to_string(t) + "]";
                    plan_.model.connections.push_back({from, port(text(to[t], where), true, where)});
                }
            } else {
                plan_.model.connections.push_back({from, port(text(to, path + ".to"), true, path + ".to")});
            }
        }
    }

    int logSignal(const PortRef& ref) {
        for (size_t i = 0; i < plan_.logged.size(); ++i) {
            if (plan_.logged[i].port.block == ref.block && plan_.logged[i].port.port == ref.port) return static_cast<int>(i);
        }
        LoggedSignal signal;
        // Every signal is block.port, a built-in block's too (its one output is "out"), so that
        // tools reading the files find one scheme.
        signal.name = entries_[static_cast<size_t>(ref.block)].name + "." + portNames(ref.block, false)[static_cast<size_t>(ref.port)];
        signal.port = ref;
        plan_.logged.push_back(signal);
        plan_.model.logged.push_back(ref);
        return static_cast<int>(plan_.logged.size() - 1);
    }

    SignalSelection selection(const Json& value, const std::string& path) {
        SignalSelection result;
        result.text = text(value, path);
        result.logged = logSignal(port(result.text, false, path, &result.element));
        return result;
    }

    void readLog() {
        if (!doc_.contains("log")) {
            // Nothing named: every output of every block.
            for (size_t b = 0; b < entries_.size(); ++b) {
                const size_t count = portNames(static_cast<int>(b), false).size();
                for (size_t p = 0; p < count; ++p) logSignal({static_cast<int>(b), static_cast<int>(p)});
            }
            return;
        }
        const Json& log = doc_["log"];
        if (!log.is_array()) fail("log", "expected an array of signals");
        for (size_t i = 0; i < log.size(); ++i) {
            const std::string path = "log[" + std::to_string(i) + "]";
            logSignal(port(text(log[i], path), false, path));
        }
    }

    void readAnalysis() {
        if (!doc_.contains("analysis")) return;
        const Json& analysis = doc_["analysis"];
        if (!analysis.is_array()) fail("analysis", "expected an array");
        for (size_t i = 0; i < analysis.size(); ++i) {
            const std::string path = "analysis[" + std::to_string(i) + "]";
            const Json& item = analysis[i];
            if (!item.is_object()) fail(path, "expected an object");
            checkKeys(item, path, {"name", "unit", "reference", "measured", "band", "disturbanceTime"});
            AnalysisConfig config;
            config.name = item.contains("name") ? text(item["name"], path + ".name") : "signal " + std::to_string(i + 1);
            config.unit = item.contains("unit") ? text(item["unit"], path + ".unit") : "";
            if (!item.contains("reference")) fail(path + ".reference", "missing");
            if (!item.contains("measured")) fail(path + ".measured", "missing");
            config.reference = selection(item["reference"], path + ".reference");
            config.measured = selection(item["measured"], path + ".measured");
            if (item.contains("band")) config.band = positive(item, "band", path, std::nullopt);
            if (item.contains("disturbanceTime")) config.disturbanceTime = number(item["disturbanceTime"], path + ".disturbanceTime");
            plan_.analysis.push_back(std::move(config));
        }
    }

    void readPlot() {
        plan_.plotTitle = plan_.description.empty() ? plan_.name : plan_.description;
        if (!doc_.contains("plot")) {
            // One panel per analysed pair, then one per other logged signal.
            std::vector<bool> shown(plan_.logged.size(), false);
            for (const AnalysisConfig& config : plan_.analysis) {
                PlotPanelConfig panel;
                panel.title = config.name;
                panel.unit = config.unit;
                panel.entries.push_back({config.reference, {"reference"}});
                panel.entries.push_back({config.measured, {"measured"}});
                shown[static_cast<size_t>(config.reference.logged)] = shown[static_cast<size_t>(config.measured.logged)] = true;
                plan_.panels.push_back(std::move(panel));
            }
            for (size_t i = 0; i < plan_.logged.size(); ++i) {
                if (shown[i]) continue;
                PlotPanelConfig panel;
                panel.title = plan_.logged[i].name;
                panel.entries.push_back({{plan_.logged[i].name, static_cast<int>(i), -1}, {}});
                plan_.panels.push_back(std::move(panel));
            }
            return;
        }
        const Json& plot = doc_["plot"];
        if (!plot.is_object()) fail("plot", "expected an object");
        checkKeys(plot, "plot", {"title", "panels"});
        if (plot.contains("title")) plan_.plotTitle = text(plot["title"], "plot.title");
        if (!plot.contains("panels") || !plot["panels"].is_array() || plot["panels"].empty()) {
            fail("plot.panels", "expected an array of panels");
        }
        const Json& panels = plot["panels"];
        for (size_t i = 0; i < panels.size(); ++i) {
            const std::string path = "plot.panels[" + std::to_string(i) + "]";
            const Json& item = panels[i];
            if (!item.is_object()) fail(path, "expected an object");
            checkKeys(item, path, {"title", "unit", "signals", "timeRange"});
            PlotPanelConfig panel;
            panel.title = item.contains("title") ? text(item["title"], path + ".title") : "";
            panel.unit = item.contains("unit") ? text(item["unit"], path + ".unit") : "";
            if (item.contains("timeRange")) {
                const std::vector<double> range = numbers(item["timeRange"], path + ".timeRange");
                if (range.size() != 2 || !(range[1] > range[0])) fail(path + ".timeRange", "expected [start, end] with end after start");
                panel.timeRange = std::make_pair(range[0], range[1]);
            }
            if (!item.contains("signals") || !item["signals"].is_array() || item["signals"].empty()) {
                fail(path + ".signals", "expected an array of signals");
            }
            const Json& signals = item["signals"];
            for (size_t s = 0; s < signals.size(); ++s) {
                const std::string where = path + ".signals[" + std::to_string(s) + "]";
                const Json& signal = signals[s];
                PlotPanelConfig::Entry entry;
                if (signal.is_object()) {
                    checkKeys(signal, where, {"signal", "label", "labels"});
                    if (!signal.contains("signal")) fail(where + ".signal", "missing");
                    entry.signal = selection(signal["signal"], where + ".signal");
                    if (signal.contains("label")) entry.labels.push_back(text(signal["label"], where + ".label"));
                    if (signal.contains("labels")) {
                        const Json& labels = signal["labels"];
                        if (!labels.is_array()) fail(where + ".labels", "expected an array of texts");
                        for (size_t l = 0; l < labels.size(); ++l) {
                            entry.labels.push_back(text(labels[l], where + ".labels[" + std::to_string(l) + "]"));
                        }
                    }
                } else {
                    entry.signal = selection(signal, where);
                }
                panel.entries.push_back(std::move(entry));
            }
            plan_.panels.push_back(std::move(panel));
        }
    }

    const Scenario& scenario_;
    const Json& doc_;
    std::filesystem::path pluginDir_;
    RunOverrides overrides_;
    RunPlan plan_;
    std::vector<BlockEntry> entries_;
};

}  // namespace

std::span<const std::string_view> builtinParameterNames(std::string_view type) {
    const BuiltinType* builtin = findBuiltinType(type);
    return builtin != nullptr ? builtin->parameters : std::span<const std::string_view>();
}

RunPlan buildRunPlan(const Scenario& scenario, const std::filesystem::path& pluginDir, const RunOverrides& overrides) {
    return PlanBuilder(scenario, pluginDir, overrides).build();
}

void assignColumns(RunPlan& plan, const qelengine::Engine& engine) {
    plan.columnNames.clear();
    int column = 0;
    for (LoggedSignal& signal : plan.logged) {
        signal.width = engine.outputWidth(signal.port);
        signal.firstColumn = column;
        column += signal.width;
        if (signal.width == 1) {
            plan.columnNames.push_back(signal.name);
        } else {
            for (int i = 0; i < signal.width; ++i) plan.columnNames.push_back(signal.name + "[" + std::to_string(i) + "]");
        }
    }
    auto columnOf = [&](const SignalSelection& selection, const std::string& where) {
        const LoggedSignal& signal = plan.logged[static_cast<size_t>(selection.logged)];
        if (selection.element >= signal.width) {
            throw InputError(plan.origin + ": " + where + ": '" + selection.text + "': " + signal.name + " has " +
                             std::to_string(signal.width) + " elements");
        }
        return signal.firstColumn + std::max(selection.element, 0);
    };
    for (size_t i = 0; i < plan.analysis.size(); ++i) {
        AnalysisConfig& config = plan.analysis[i];
        const std::string where = "analysis[" + std::to_string(i) + "]";
        for (const SignalSelection* selection : {&config.reference, &config.measured}) {
            const LoggedSignal& signal = plan.logged[static_cast<size_t>(selection->logged)];
            if (selection->element < 0 && signal.width != 1) {
                throw InputError(plan.origin + ": " + where + ": '" + selection->text + "' has " + std::to_string(signal.width) +
                                 " elements; name one as " + selection->text + "[i]");
            }
        }
        config.referenceColumn = columnOf(config.reference, where + ".reference");
        config.measuredColumn = columnOf(config.measured, where + ".measured");
    }
    for (size_t i = 0; i < plan.panels.size(); ++i) {
        PlotPanelConfig& panel = plan.panels[i];
        panel.lines.clear();
        for (const PlotPanelConfig::Entry& entry : panel.entries) {
            const LoggedSignal& signal = plan.logged[static_cast<size_t>(entry.signal.logged)];
            const std::string where = "plot.panels[" + std::to_string(i) + "]";
            if (entry.signal.element >= 0) {
                panel.lines.push_back({columnOf(entry.signal, where), entry.labels.empty() ? entry.signal.text : entry.labels[0]});
                continue;
            }
            for (int e = 0; e < signal.width; ++e) {
                std::string label;
                if (static_cast<size_t>(e) < entry.labels.size()) {
                    label = entry.labels[static_cast<size_t>(e)];
                } else if (signal.width == 1) {
                    label = entry.labels.empty() ? signal.name : entry.labels[0];
                } else {
                    label = signal.name + "[" + std::to_string(e) + "]";
                }
                panel.lines.push_back({signal.firstColumn + e, label});
            }
        }
    }
}

}  // namespace qelsim::run

#include "app/run/scenario.h"

#include <fstream>
#include <sstream>

#include "app/common/block_catalog.h"
#include "app/run/run_plan.h"

namespace qelsim::run {
namespace {

// Line and column (both from 1) of a byte offset.
std::pair<size_t, size_t> lineAndColumn(std::string_view text, size_t offset) {
    size_t line = 1;
    size_t column = 1;
    for (size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return {line, column};
}

}  // namespace

Scenario parseScenario(std::string_view text, std::string origin, std::filesystem::path baseDir) {
    Scenario scenario{std::move(origin), std::move(baseDir), {}};
    try {
        scenario.document = nlohmann::ordered_json::parse(text);
    } catch (const nlohmann::json::parse_error& error) {
        // The library's byte counts from 1 and points just past the offending character.
        const size_t offset = error.byte > 0 ? error.byte - 1 : 0;
        const auto [line, column] = lineAndColumn(text, offset);
        std::string reason = error.what();
        const size_t colon = reason.rfind(": ");
        if (colon != std::string::npos) reason = reason.substr(colon + 2);
        throw InputError(scenario.origin + ":" + std::to_string(line) + ":" + std::to_string(column) +
                         ": malformed JSON: " + reason);
    }
    if (!scenario.document.is_object()) throw InputError(scenario.origin + ": the scenario must be a JSON object");
    return scenario;
}

Scenario loadScenarioFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw InputError(file.string() + ": cannot read the scenario file");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw InputError(file.string() + ": cannot read the scenario file");
    std::filesystem::path base = file.parent_path();
    if (base.empty()) base = ".";
    return parseScenario(text.str(), file.string(), base);
}

Scenario defaultScenario() { return parseScenario(defaultScenarioText(), "default scenario", "."); }

void applySetting(Scenario& scenario, std::string_view setting) {
    const std::string where = "--set " + std::string(setting);
    const size_t equals = setting.find('=');
    if (equals == std::string_view::npos) throw InputError(where + ": expected block.name=value");
    const std::string_view key = setting.substr(0, equals);
    const std::string_view valueText = setting.substr(equals + 1);
    const size_t dot = key.find('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == key.size()) {
        throw InputError(where + ": expected block.name=value");
    }
    const std::string blockName(key.substr(0, dot));
    const std::string name(key.substr(dot + 1));

    nlohmann::ordered_json value;
    try {
        value = nlohmann::ordered_json::parse(valueText);
    } catch (const nlohmann::json::parse_error&) {
        // A bare word is taken as text, so that solver-like names need no quotes in a shell.
        if (valueText.empty()) throw InputError(where + ": the value is empty");
        value = std::string(valueText);
    }

    auto& blocks = scenario.document["blocks"];
    if (!blocks.is_object() || !blocks.contains(blockName)) {
        throw InputError(where + ": the scenario has no block '" + blockName + "'");
    }
    auto& block = blocks[blockName];
    if (!block.is_object()) throw InputError(where + ": block '" + blockName + "' is not an object");
    if (block.contains("model") && block["model"].is_string()) {
        const std::string model = block["model"].get<std::string>();
        const BlockInfo* info = findBlock(model);
        bool known = false;
        if (info != nullptr) {
            for (const ArgumentInfo& argument : info->arguments) known = known || argument.name == name;
        }
        if (!known) throw InputError(where + ": " + model + " has no argument '" + name + "'");
        block["arguments"][name] = value;
        return;
    }
    const std::string type = block.contains("type") && block["type"].is_string() ? block["type"].get<std::string>() : "";
    bool known = false;
    for (std::string_view parameter : builtinParameterNames(type)) known = known || parameter == name;
    if (!known) throw InputError(where + ": a " + type + " block has no parameter '" + name + "'");
    block[name] = value;
}

}  // namespace qelsim::run

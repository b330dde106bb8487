// A scenario: the JSON document that describes one closed-loop simulation (blocks with their
// model arguments, connections, logged signals, stop time, solver, analysis and plot). The schema
// is described in docs/scenario.md. This unit reads the document and applies command-line
// settings to it; run_plan.h turns it into a model the engine runs.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace qelsim::run {

// Bad input of any kind: one line naming the item, where it is, and what is wrong.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Scenario {
    std::string origin;                 // the file as given, or "default scenario"
    std::filesystem::path baseDir;      // where relative file names in the scenario start
    nlohmann::ordered_json document;
};

// Reads and parses a scenario file. InputError for a file that cannot be read or malformed JSON
// (with line and column).
Scenario loadScenarioFile(const std::filesystem::path& file);
Scenario parseScenario(std::string_view text, std::string origin, std::filesystem::path baseDir);

// The built-in default: the dq position loop, shipped as scenarios/dq_position_loop.json.
Scenario defaultScenario();
std::string_view defaultScenarioText();

// Applies one "block.name=value" setting: a model argument of a plug-in block or a parameter of a
// built-in block. The value is JSON (a number, an array, a string). InputError when the setting
// is malformed or names no block.
void applySetting(Scenario& scenario, std::string_view setting);

}  // namespace qelsim::run

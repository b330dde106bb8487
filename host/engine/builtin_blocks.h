// The parent model's own blocks: sources of time (constant, step, ramp, sine, piecewise-linear
// table, which also carries a column read from a CSV file), gain, sum, and the dq transform of
// three phase values for looking at measured currents the way the plant sees them. They have no
// state:
// every output is a function of the time and the inputs, so they run in major and minor steps
// alike and never enter a simulation state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qelengine {

enum class BuiltinKind { constant, step, ramp, sine, table, gain, sum, dq };

struct BuiltinConfig {
    BuiltinKind kind = BuiltinKind::constant;
    std::vector<double> value;       // constant: one value per output element
    double time = 0.0;               // step: switching time; ramp: start time (s)
    double initial = 0.0;            // step: value before the switch; ramp: value before the start
    double final = 0.0;              // step: value from the switch on
    double slope = 0.0;              // ramp: units per second
    double amplitude = 0.0;          // sine: bias + amplitude * sin(2 pi frequency t + phase)
    double frequency = 0.0;          // Hz
    double phase = 0.0;              // rad
    double bias = 0.0;
    std::vector<double> times;       // table: strictly increasing breakpoints (s)
    std::vector<double> values;      // table: one value per breakpoint
    bool hold = false;               // table: hold each value up to the next breakpoint
    double gain = 1.0;               // gain
    std::string signs;               // sum: one '+' or '-' per input
};

std::string_view builtinKindName(BuiltinKind kind);

// Port counts and names: sources have one output "out" and no input; gain has "in" → "out"; sum
// has "in1" .. "inN" → "out"; dq has "abc" (three phase values) and "angle" (electrical angle,
// rad) → "out" (d and q, amplitude-invariant, with the plant's own transform).
int builtinNumInputs(const BuiltinConfig& config);
std::string builtinInputName(const BuiltinConfig& config, int port);
inline constexpr std::string_view kBuiltinOutputName = "out";

// The output width; 0 for gain and sum, which take the width of their inputs.
int builtinSourceWidth(const BuiltinConfig& config);
// The width an input must have; 0 when it takes any width (gain, sum).
int builtinInputWidth(const BuiltinConfig& config, int port);

// What is wrong with the block's parameters ("" when they are usable), e.g. a table whose times
// do not increase.
std::string builtinConfigProblem(const BuiltinConfig& config);

// Computes the output at time t from the inputs. `inputs[k]` points at input k's `width` values;
// `output` receives `width` values. `switchTolerance` is how much earlier than its switching
// time a step may already switch, so that a switch placed on the step grid happens on that step
// whatever the rounding of the grid times.
void evaluateBuiltin(const BuiltinConfig& config, double t, double switchTolerance, const double* const* inputs,
                     int width, double* output);

}  // namespace qelengine

#include "host/engine/builtin_blocks.h"

#include <algorithm>
#include <cmath>

namespace qelengine {
namespace {

constexpr double kTwoPi = 6.283185307179586;
// The plant's amplitude-invariant Clarke weights.
constexpr double kAlphaA = 0.6666666666666666;
constexpr double kAlphaBC = -0.3333333333333333;
constexpr double kBeta = 0.5773502691896257;

double tableValue(const BuiltinConfig& config, double t) {
    const std::vector<double>& times = config.times;
    const std::vector<double>& values = config.values;
    if (!(t > times.front())) return values.front();
    if (t >= times.back()) return values.back();
    // First breakpoint after t: t lies in [times[i - 1], times[i]).
    const size_t i = static_cast<size_t>(std::upper_bound(times.begin(), times.end(), t) - times.begin());
    const double t0 = times[i - 1];
    const double v0 = values[i - 1];
    if (config.hold) return v0;
    return v0 + (values[i] - v0) * ((t - t0) / (times[i] - t0));
}

}  // namespace

std::string_view builtinKindName(BuiltinKind kind) {
    switch (kind) {
        case BuiltinKind::constant: return "constant";
        case BuiltinKind::step: return "step";
        case BuiltinKind::ramp: return "ramp";
        case BuiltinKind::sine: return "sine";
        case BuiltinKind::table: return "table";
        case BuiltinKind::gain: return "gain";
        case BuiltinKind::sum: return "sum";
        case BuiltinKind::dq: return "dq";
    }
    return "?";
}

int builtinNumInputs(const BuiltinConfig& config) {
    switch (config.kind) {
        case BuiltinKind::gain: return 1;
        case BuiltinKind::sum: return static_cast<int>(config.signs.size());
        case BuiltinKind::dq: return 2;
        default: return 0;
    }
}

std::string builtinInputName(const BuiltinConfig& config, int port) {
    if (config.kind == BuiltinKind::gain) return "in";
    if (config.kind == BuiltinKind::dq) return port == 0 ? "abc" : "angle";
    return "in" + std::to_string(port + 1);
}

int builtinSourceWidth(const BuiltinConfig& config) {
    switch (config.kind) {
        case BuiltinKind::constant: return static_cast<int>(config.value.size());
        case BuiltinKind::gain:
        case BuiltinKind::sum: return 0;
        case BuiltinKind::dq: return 2;
        default: return 1;
    }
}

int builtinInputWidth(const BuiltinConfig& config, int port) {
    if (config.kind == BuiltinKind::dq) return port == 0 ? 3 : 1;
    return 0;
}

std::string builtinConfigProblem(const BuiltinConfig& config) {
    switch (config.kind) {
        case BuiltinKind::constant:
            if (config.value.empty()) return "the value has no element";
            return "";
        case BuiltinKind::table:
            if (config.times.empty()) return "the table has no point";
            if (config.times.size() != config.values.size()) {
                return "the table has " + std::to_string(config.times.size()) + " times but " +
                       std::to_string(config.values.size()) + " values";
            }
            for (size_t i = 1; i < config.times.size(); ++i) {
                if (!(config.times[i] > config.times[i - 1])) {
                    return "the times do not increase at point " + std::to_string(i);
                }
            }
            for (size_t i = 0; i < config.times.size(); ++i) {
                if (!std::isfinite(config.times[i])) return "time " + std::to_string(i) + " is not finite";
            }
            return "";
        case BuiltinKind::sum:
            if (config.signs.empty()) return "the sum has no input";
            if (config.signs.find_first_not_of("+-") != std::string::npos) return "signs may hold only '+' and '-'";
            return "";
        default: return "";
    }
}

void evaluateBuiltin(const BuiltinConfig& config, double t, double switchTolerance, const double* const* inputs,
                     int width, double* output) {
    switch (config.kind) {
        case BuiltinKind::constant:
            for (int i = 0; i < width; ++i) output[i] = config.value[static_cast<size_t>(i)];
            return;
        case BuiltinKind::step:
            output[0] = t >= config.time - switchTolerance ? config.final : config.initial;
            return;
        case BuiltinKind::ramp:
            output[0] = t >= config.time ? config.initial + config.slope * (t - config.time) : config.initial;
            return;
        case BuiltinKind::sine:
            output[0] = config.bias + config.amplitude * std::sin(kTwoPi * config.frequency * t + config.phase);
            return;
        case BuiltinKind::table:
            output[0] = tableValue(config, t);
            return;
        case BuiltinKind::gain:
            for (int i = 0; i < width; ++i) output[i] = config.gain * inputs[0][i];
            return;
        case BuiltinKind::sum:
            for (int i = 0; i < width; ++i) {
                double total = 0.0;
                for (size_t k = 0; k < config.signs.size(); ++k) {
                    total = config.signs[k] == '+' ? total + inputs[k][i] : total - inputs[k][i];
                }
                output[i] = total;
            }
            return;
        case BuiltinKind::dq: {
            const double* abc = inputs[0];
            const double angle = inputs[1][0];
            const double alpha = kAlphaA * abc[0] + kAlphaBC * abc[1] + kAlphaBC * abc[2];
            const double beta = kBeta * abc[1] + (-kBeta) * abc[2];
            const double cosine = std::cos(angle);
            const double sine = std::sin(angle);
            output[0] = alpha * cosine + beta * sine;
            output[1] = beta * cosine - alpha * sine;
            return;
        }
    }
}

}  // namespace qelengine

// The clamping anti-windup decision shared by every controller integrator: whether the error
// is integrated, given the saturation flags of the loop it feeds.
#pragma once

// `high`/`low`: the loop is limited at its upper/lower bound. Integrating is stopped only when
// the error would drive the loop further into its limit; with both flags set it always stops.
// The comparisons are strict, so an error of 0.0 passes as itself and a NaN passes unchanged.
inline double integratorClamp(bool high, bool low, double error) {
    constexpr double kClampingThreshold = 0.0;
    constexpr double kClampedInput = 0.0;
    if (high && low) return kClampedInput;
    if (high) return error > kClampingThreshold ? kClampedInput : error;
    if (low) return error < kClampingThreshold ? kClampedInput : error;
    return error;
}

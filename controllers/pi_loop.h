// The pieces every controller loop is built from: the strict two-sided limit, the PI sum and the
// PI step with magnitude saturation and clamping anti-windup.
#pragma once

#include "controllers/integrator_clamp.h"
#include "runtime/host_math.h"

// Strict comparisons: a value equal to a limit, or NaN, passes unchanged. The upper limit is
// tested first, so with upper < lower every value above upper becomes upper.
inline double limitToRange(double value, double upper, double lower) {
    if (value > upper) return upper;
    if (lower > value) return lower;
    return value;
}

// Evaluated in exactly this order: the state is divided, not multiplied by a reciprocal.
inline double piSum(double integratorState, double integralTime, double error, double gain) {
    return (integratorState / integralTime + error) * gain;
}

struct SaturatedPi {
    double sum;               // the PI sum before saturation
    double output;            // the sum limited in magnitude
    double integratorInput;   // the error, or 0.0 while it would drive the loop further into its limit
};

// |sum| exactly equal to the limit is not saturated. A negative limit saturates every sum, to the
// opposite sign.
inline SaturatedPi saturatedPiStep(double integratorState, double integralTime, double error, double gain,
                                   double outputLimit) {
    const double sum = piSum(integratorState, integralTime, error, gain);
    double output = sum;
    if (muDoubleScalarAbs(sum) > outputLimit) output = muDoubleScalarSign(sum) * outputLimit;
    return {sum, output, integratorClamp(sum > output, output > sum, error)};
}

// The host's scalar math library. Round halves away from zero; Mod keeps its result in [0, y)
// for a positive divisor; Min and Max with one NaN operand return the other one; Sign maps both
// zeros to +0.0 and NaN to NaN.
#include <cmath>

#include "runtime/host_math.h"

#define QEL_HOST_EXPORT __attribute__((visibility("default")))

extern "C" {

QEL_HOST_EXPORT double muDoubleScalarAbs(double x) { return std::fabs(x); }

QEL_HOST_EXPORT double muDoubleScalarSign(double x) {
    if (x > 0.0) return 1.0;
    if (x < 0.0) return -1.0;
    if (x == 0.0) return 0.0;
    return x;
}

QEL_HOST_EXPORT double muDoubleScalarSin(double x) { return std::sin(x); }
QEL_HOST_EXPORT double muDoubleScalarCos(double x) { return std::cos(x); }

QEL_HOST_EXPORT double muDoubleScalarMod(double x, double y) {
    const double r = x - std::floor(x / y) * y;
    // A tiny negative x gives x + y rounded up to y itself; the callers rely on [0, y).
    return r == y ? 0.0 : r;
}

QEL_HOST_EXPORT double muDoubleScalarRound(double x) { return std::round(x); }
QEL_HOST_EXPORT double muDoubleScalarMin(double a, double b) { return std::fmin(a, b); }
QEL_HOST_EXPORT double muDoubleScalarMax(double a, double b) { return std::fmax(a, b); }

}  // extern "C"

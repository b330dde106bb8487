// The transforms and the three-phase output stage of the dq controllers: the Clarke transform
// and the Park rotation of the measured currents, the rotation of the axis outputs back to the
// stator frame and onto three phases, min-max centring and the per-phase clamp. Each model keeps
// what it does differently: the scaling of the currents before the transform, the decoupling
// term and the output gain.
#pragma once

#include "runtime/host_math.h"

namespace qeldq {

inline constexpr double kAlphaCoefficientA = 0.6666666666666666;
inline constexpr double kAlphaCoefficientB = -0.3333333333333333;
inline constexpr double kAlphaCoefficientC = -0.3333333333333333;
inline constexpr double kBetaCoefficientB = 0.5773502691896257;
inline constexpr double kBetaCoefficientC = -0.5773502691896257;
inline constexpr double kDReference = 0.0;
inline constexpr double kInverseAlphaCoefficient = -0.5;
inline constexpr double kInverseBetaCoefficientB = 0.8660254037844386;
inline constexpr double kInverseBetaCoefficientC = -0.8660254037844386;
inline constexpr double kCentringBase = 0.0;
inline constexpr double kCentringFactor = 0.5;

inline double clarkeAlpha(double a, double b, double c) {
    return kAlphaCoefficientA * a + kAlphaCoefficientB * b + kAlphaCoefficientC * c;
}

inline double clarkeBeta(double b, double c) { return kBetaCoefficientB * b + kBetaCoefficientC * c; }

// The q and d components of (alpha, beta) in the frame at the angle whose sine and cosine are given.
inline double parkQ(double alpha, double beta, double sine, double cosine) { return beta * cosine - alpha * sine; }
inline double parkD(double alpha, double beta, double sine, double cosine) { return alpha * cosine + beta * sine; }

struct AlphaBeta {
    double alpha;
    double beta;
};

inline AlphaBeta inversePark(double d, double q, double sine, double cosine) {
    return {cosine * d - q * sine, q * cosine + sine * d};
}

inline void inverseClarke(const AlphaBeta& stator, double phase[3]) {
    phase[0] = stator.alpha;
    phase[1] = kInverseAlphaCoefficient * stator.alpha + kInverseBetaCoefficientB * stator.beta;
    phase[2] = kInverseAlphaCoefficient * stator.alpha + kInverseBetaCoefficientC * stator.beta;
}

// Zero-sequence injection: shifts the three values so that the largest and the smallest lie
// symmetric about zero. How a NaN value shifts the others depends on the host's min and max.
inline void centreMinMax(double phase[3]) {
    const double lowest = muDoubleScalarMin(muDoubleScalarMin(phase[0], phase[1]), phase[2]);
    const double highest = muDoubleScalarMax(muDoubleScalarMax(phase[0], phase[1]), phase[2]);
    const double offset = (kCentringBase - (highest - lowest)) * kCentringFactor;
    for (int k = 0; k < 3; ++k) phase[k] = phase[k] - lowest + offset;
}

// Strict comparisons: a value equal to the limit, or NaN, passes unchanged.
inline double clampSymmetric(double value, double limit) {
    if (value > limit) return limit;
    if (-limit > value) return -limit;
    return value;
}

}  // namespace qeldq

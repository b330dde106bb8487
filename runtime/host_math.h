// The host's scalar math library, as the models call it. The host implements these; models use
// nothing else for abs, sign, sin, cos, mod, round, min and max so that every plug-in computes
// with the host's own functions.
#pragma once

extern "C" {
double muDoubleScalarAbs(double x);
double muDoubleScalarSign(double x);
double muDoubleScalarSin(double x);
double muDoubleScalarCos(double x);
double muDoubleScalarMod(double x, double y);
double muDoubleScalarRound(double x);
double muDoubleScalarMin(double a, double b);
double muDoubleScalarMax(double a, double b);
}

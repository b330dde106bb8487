// The measurement chain of both motor plants: three position-sensor models, speed estimation
// with first-order filters, conversion through the gear to load-side degrees and rev/min, and
// sampled, quantised currents. It acts at sensor ticks only (a major step with a hit of the
// 1e-4 s rate, task slot 2); the caller makes that test.
//
// Inside the chain angles are in revolutions and speeds in rev/s. Sensor 1 is a tabulated angle
// error read by a tracking observer, sensor 2 a quantised angle with a two-harmonic error and a
// difference-quotient speed, sensor 3 a quantised angle with a fixed one-degree error and a
// quantised difference-quotient speed. All three run at every tick; `sensorSelect` only picks
// which one reaches the outputs.
//
// The step and the update work on the plant's own records by field name, so both plants keep
// their record layouts (the chain's block signals sit at different indices in the two).
#pragma once

#include <array>
#include <cstdint>

#include "runtime/host_math.h"

namespace qelsensing {

inline constexpr int kSensorTickRate = 2;   // model rate slot of the 1e-4 s rate
inline constexpr uint32_t kAngleErrorLastIndex = 119;

inline constexpr double kRadiansToRevolutions = 0.15915494309189535;
inline constexpr double kDegreesToRevolutions = 0.002777777777777778;
inline constexpr double kEnc2FirstFrequency = 12.566370614359172;
inline constexpr double kEnc2FirstAmplitude = 1.0;
inline constexpr double kEnc2FirstPhase = 0.0;
inline constexpr double kEnc2FirstBias = 0.0;
inline constexpr double kEnc2SecondFrequency = 251.32741228718345;
inline constexpr double kEnc2SecondAmplitude = 0.1;
inline constexpr double kEnc2SecondPhase = 0.0;
inline constexpr double kEnc2SecondBias = 0.0;
inline constexpr double kEnc3ErrorFrequency = 12.566370614359172;
inline constexpr double kEnc3ErrorAmplitude = 1.0;
inline constexpr double kEnc3ErrorPhase = 0.0;
inline constexpr double kEnc3ErrorBias = 0.0;
inline constexpr double kEnc3ErrorGain = 1.0;
inline constexpr double kLookupGain = 120.0;
inline constexpr double kLookupWrap = 120.0;
inline constexpr double kTickPeriod = 0.0001;
inline constexpr double kEnc3SpeedQuantum = 2.44140625;
inline constexpr double kObserverQuantum = 0.00048828125;
inline constexpr double kObserverErrorGain = 1440000.0;
inline constexpr double kObserverProportional = 0.0014;
inline constexpr double kObserverWrap = 6.283185307179586;
inline constexpr double kDegreesPerRevolution = 360.0;
inline constexpr double kSecondsPerMinute = 60.0;

// Sensor 1's breakpoints: one per 1/120 revolution, 0.0 to 119.0.
inline constexpr std::array<double, kAngleErrorLastIndex + 1> kAngleErrorBreakpoints = [] {
    std::array<double, kAngleErrorLastIndex + 1> breakpoints{};
    for (uint32_t i = 0; i <= kAngleErrorLastIndex; ++i) breakpoints[i] = static_cast<double>(i);
    return breakpoints;
}();

// The model arguments the chain reads; the plants pass them in their own argument order.
struct SensingParameters {
    double sensorSelect;
    double currentResolution;       // A
    double angleResolution;         // rev
    double speedFilterTau;          // s
    const double* angleErrorTable;  // 120 values, degrees; owned by the host for this call only
    double gearLoadTurns;
    double gearMotorTurns;
    double encoderErrorAmplitude;   // degrees
    double sensorErrorsOn;
};

// Linear interpolation over breakpoints[0..lastIndex] (ascending, lastIndex >= 1), extrapolating
// the first segment below breakpoints[0] and the last one from breakpoints[lastIndex] on. NaN
// gives NaN.
double sensorLookup(double x, const double* breakpoints, const double* table, uint32_t lastIndex);

// round(value / step) * step.
inline double quantise(double value, double step) { return muDoubleScalarRound(value / step) * step; }

// 1, 2 or 3. Truncated in double arithmetic: a cast to an integer is undefined for NaN, the
// infinities and values out of the integer's range, which all select sensor 3 here.
int selectedSensor(double sensorSelect);

// Truncated toward zero and compared with 0, so NaN counts as on.
bool sensorErrorsEnabled(double sensorErrorsOn);

struct RawAngles {
    double sensor1;
    double sensor2;
    double sensor3;
};

// The three sensors' angles in revolutions for the rotor angle thetaM (rad).
RawAngles rawSensorAngles(double thetaM, const SensingParameters& parameters);

// The sensing step of a sensor tick, up to the current channels: sensor angles and holds, the
// selected angle and speed as outputs, the observer and the filter rates. The plant then takes
// its current holds and writes the quantised currents.
template <class Rtb, class Rtdw>
void sensingStep(double thetaM, const SensingParameters& parameters, Rtb* rtb, Rtdw* rtdw, double* measuredAngle,
                 double* measuredSpeed) {
    const RawAngles raw = rawSensorAngles(thetaM, parameters);
    const double observerAngle = rtdw->obsAngle;   // before this tick's update
    rtdw->enc2AngleHold = raw.sensor2;
    rtb->enc2Angle = rtdw->enc2AngleHold;
    rtdw->enc3AngleHold = raw.sensor3;
    rtb->enc3Angle = rtdw->enc3AngleHold;

    double angle;
    double speed;
    switch (selectedSensor(parameters.sensorSelect)) {
        case 1:
            angle = observerAngle;
            speed = rtdw->obsSpeedFilt;
            break;
        case 2:
            angle = rtb->enc2Angle;
            speed = rtdw->enc2SpeedFilt;
            break;
        default:
            angle = rtb->enc3Angle;
            speed = rtdw->enc3SpeedFilt;
            break;
    }
    *measuredSpeed = kSecondsPerMinute * speed * parameters.gearLoadTurns / parameters.gearMotorTurns;
    *measuredAngle = kDegreesPerRevolution * (parameters.gearLoadTurns * angle / parameters.gearMotorTurns);

    const double enc3Difference = (rtb->enc3Angle - rtdw->enc3PrevAngle) / kTickPeriod;
    const double enc3Speed = muDoubleScalarRound(enc3Difference / kEnc3SpeedQuantum) * kEnc3SpeedQuantum;
    rtb->enc3SpeedFiltDot = (enc3Speed - rtdw->enc3SpeedFilt) / parameters.speedFilterTau;

    const double observerAngleWrapped = muDoubleScalarMod(observerAngle, kObserverWrap);
    rtdw->sens1AngleHold = raw.sensor1;

    // The observer feeds revolutions to sin and cos; sin(sensor - observer) still vanishes when
    // the observer angle equals the sensor angle, so it locks in revolutions.
    const double sensorAngleWrapped = muDoubleScalarMod(rtdw->sens1AngleHold, kObserverWrap);
    const double sensorSin = quantise(muDoubleScalarSin(sensorAngleWrapped), kObserverQuantum);
    const double sensorCos = quantise(muDoubleScalarCos(sensorAngleWrapped), kObserverQuantum);
    rtb->obsError = (sensorSin * muDoubleScalarCos(observerAngleWrapped) -
                     muDoubleScalarSin(observerAngleWrapped) * sensorCos) *
                    kObserverErrorGain;
    rtb->obsSpeed = rtb->obsError * kObserverProportional + rtdw->obsSpeedInt;
    rtb->obsSpeedFiltDot = (rtb->obsSpeed - rtdw->obsSpeedFilt) / parameters.speedFilterTau;

    const double enc2Speed = (rtb->enc2Angle - rtdw->enc2PrevAngle) / kTickPeriod;
    rtb->enc2SpeedFiltDot = (enc2Speed - rtdw->enc2SpeedFilt) / parameters.speedFilterTau;
}

// The sensing update of a sensor tick, after the step: forward Euler over one tick for the
// observer and the three speed filters, and the previous-sample fields of sensors 2 and 3.
template <class Rtb, class Rtdw>
void sensingUpdate(const Rtb* rtb, Rtdw* rtdw) {
    rtdw->obsAngle = rtb->obsSpeed * kTickPeriod + rtdw->obsAngle;
    rtdw->obsSpeedFilt = rtb->obsSpeedFiltDot * kTickPeriod + rtdw->obsSpeedFilt;
    rtdw->enc2SpeedFilt = rtb->enc2SpeedFiltDot * kTickPeriod + rtdw->enc2SpeedFilt;
    rtdw->enc3SpeedFilt = rtb->enc3SpeedFiltDot * kTickPeriod + rtdw->enc3SpeedFilt;
    rtdw->enc3PrevAngle = rtb->enc3Angle;
    rtdw->obsSpeedInt = rtb->obsError * kTickPeriod + rtdw->obsSpeedInt;
    rtdw->enc2PrevAngle = rtb->enc2Angle;
}

// The initial conditions of system-initialize and system-reset: the observer, the speed filters
// and the previous-sample fields start at 0. The holds keep the values of the last tick.
template <class Rtdw>
void sensingInitialConditions(Rtdw* rtdw) {
    rtdw->obsAngle = 0.0;
    rtdw->obsSpeedFilt = 0.0;
    rtdw->enc2SpeedFilt = 0.0;
    rtdw->enc3SpeedFilt = 0.0;
    rtdw->enc3PrevAngle = 0.0;
    rtdw->obsSpeedInt = 0.0;
    rtdw->enc2PrevAngle = 0.0;
}

}  // namespace qelsensing

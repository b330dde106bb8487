// Three-phase permanent-magnet synchronous motor in the rotor-fixed dq frame (one inductance for
// both axes) with one gear stage and a load, followed by the measurement chain.
//
// Inputs:  phaseVoltage[3] (V: va, vb, vc), loadTorque (N·m at the load side of the gear).
// Outputs: measuredAngle (load-side degrees), measuredSpeed (load-side rev/min),
//          measuredCurrent[3] (A, phases a, b, c, quantised): written at sensor ticks only;
//          shaftTorque (N·m, load side) and electricalAngle (rad, in [0, 2π)): every call.
// Continuous states: thetaM (rad, never wrapped), iq (A), id (A), omegaM (rad/s); iq before id.
// Rates: continuous, 1e-5 s, 1e-4 s (the sensor tick, rate slot 2), constant.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/model_instance.h"

namespace Qel_Lib_motor_dq_sub {

inline constexpr char kModelName[] = "Qel_Lib_motor_dq_sub";

struct Rtb {
    double enc2Angle;
    double enc3Angle;
    double omegaMSignal;        // copy of the state omegaM
    double idDot;
    double iqDot;
    double omegaMDot;
    double enc3SpeedFiltDot;
    double obsError;
    double obsSpeed;
    double obsSpeedFiltDot;
    double enc2SpeedFiltDot;
};

struct Rtdw {
    double obsAngle;
    double obsSpeedFilt;
    double enc2SpeedFilt;
    double enc3SpeedFilt;
    double enc3PrevAngle;
    double obsSpeedInt;
    double enc2PrevAngle;
    double enc2AngleHold;
    double enc3AngleHold;
    double sens1AngleHold;
    double iaHold;              // phase currents of the last sensor tick, not quantised
    double ibHold;
    double icHold;
};

using Instance = ModelInstance<11, 5, 4>;
struct WorkRecord {
    Rtb rtb;
    Rtdw rtdw;
    Instance instance;
};
inline constexpr size_t kMdlrefDWBytes = 664;
inline constexpr size_t kNumContinuousStates = 4;
static_assert(sizeof(Rtb) == 88);
static_assert(sizeof(Rtdw) == 13 * sizeof(double));
static_assert(sizeof(WorkRecord) <= kMdlrefDWBytes);

// The last four arguments are always null, null, 0, -1 and unused: the instance has no parent.
void modelInitialize(SimStruct* hostLink, int32_t g0, int32_t g1, int32_t g2, int32_t g3, Instance* instance, Rtb* rtb,
                     Rtdw* rtdw, double* x, void* context, int32_t contextTid, const void* parentMap,
                     const char* childPath, int32_t childIndex, int32_t contStateStart);
void modelSystemInitialize(Rtdw* rtdw, double* x);
void modelSystemReset(Rtdw* rtdw, double* x);
// phaseVoltage and angleErrorTable (120 values) are read during the call only.
void modelOutputs(Instance* instance, const double* phaseVoltage, double loadTorque, double* measuredAngle,
                  double* measuredSpeed, double* measuredCurrent, double* shaftTorque, double* electricalAngle, Rtb* rtb,
                  Rtdw* rtdw, const double* x, double sensorSelect, double currentResolution, double angleResolution,
                  double inertia, double inductance, double resistance, double coulombFriction,
                  double viscousFriction, double fluxLinkage, double polePairs, double speedFilterTau,
                  const double* angleErrorTable, double gearLoadTurns, double gearEfficiency, double gearMotorTurns,
                  double encoderErrorAmplitude, double sensorErrorsOn);
void modelParameterSetup();
void modelUpdate(Instance* instance, Rtb* rtb, Rtdw* rtdw);
// dX in state order: [omegaMSignal, iqDot, idDot, omegaMDot].
void modelDerivatives(const Rtb* rtb, double* dX);
void modelTerminate(Instance* instance);

}  // namespace Qel_Lib_motor_dq_sub

// The mechanical side both motor plants share: one gear stage between rotor and load, friction
// and the rotor's equation of motion. Torques in N·m, speeds in rad/s; the gear turns the load
// gearLoadTurns / gearMotorTurns times per motor turn and passes torque with gearEfficiency.
#pragma once

#include "runtime/host_math.h"

namespace qelmechanics {

// The motor torque as the load side sees it.
inline double shaftTorque(double electromagneticTorque, double gearLoadTurns, double gearEfficiency,
                          double gearMotorTurns) {
    return gearMotorTurns * electromagneticTorque / gearLoadTurns * gearEfficiency;
}

// d omegaM / dt: the motor torque less the load referred to the motor and the friction.
inline double rotorAcceleration(double electromagneticTorque, double omega, double loadTorque, double gearLoadTurns,
                                double gearEfficiency, double gearMotorTurns, double coulombFriction,
                                double viscousFriction, double inertia) {
    const double loadTorqueAtMotor = loadTorque * gearLoadTurns / gearMotorTurns / gearEfficiency;
    // Sign(0) is 0: at standstill the friction term vanishes.
    const double friction = muDoubleScalarSign(omega) * (muDoubleScalarAbs(omega) * viscousFriction + coulombFriction);
    return (electromagneticTorque - loadTorqueAtMotor - friction) / inertia;
}

}  // namespace qelmechanics

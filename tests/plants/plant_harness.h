// Drives one motor plant the way the host does: a work record, the continuous states, the ports
// and the model arguments, stepped with or without a sensor tick. The states are set by the test;
// nothing here integrates them.
#pragma once

#include <array>
#include <cstring>

#include "plants/Qel_Lib_motor_dq_sub.h"
#include "plants/Qel_Lib_motor_sub.h"
#include "tests/support/model_fixture.h"

namespace plantstest {

// Global task ids 0..3 for the four rates; the top model's tasks 0, 1, 2 carry the first three,
// id 3 (constant) is always due.
inline constexpr int kSensorTask = 2;

// A record of doubles as an array of its fields, and back.
template <class Record>
using FieldsOf = std::array<double, sizeof(Record) / sizeof(double)>;

template <class Record>
FieldsOf<Record> fieldsOf(const Record& record) {
    FieldsOf<Record> fields;
    std::memcpy(fields.data(), &record, sizeof record);
    return fields;
}

template <class Record>
Record recordOf(const FieldsOf<Record>& fields) {
    Record record;
    std::memcpy(&record, fields.data(), sizeof record);
    return record;
}

struct SensingArguments {
    double sensorSelect = 3.0;
    double currentResolution = 0.25;
    double angleResolution = 1.0 / 4096.0;
    double speedFilterTau = 1e-3;
    std::array<double, 120> angleErrorTable{};
    double gearLoadTurns = 1.0;
    double gearEfficiency = 1.0;
    double gearMotorTurns = 1.0;
    double encoderErrorAmplitude = 1.0;
    double sensorErrorsOn = 0.0;
};

struct SingleWindingArguments : SensingArguments {
    double inertia = 0.5;
    double inductance = 0.25;
    double resistance = 0.5;
    double coulombFriction = 0.0;
    double viscousFriction = 0.0;
    double motorConstant = 0.5;
};

struct DqArguments : SensingArguments {
    double inertia = 0.5;
    double inductance = 0.25;
    double resistance = 0.5;
    double coulombFriction = 0.0;
    double viscousFriction = 0.0;
    double fluxLinkage = 0.5;
    double polePairs = 2.0;
};

class SingleWindingPlant {
public:
    SingleWindingPlant() : fixture_(Qel_Lib_motor_sub::kModelName) {
        Qel_Lib_motor_sub::modelInitialize(fixture_.block(), 0, 1, 2, 3, &work.instance, &work.rtb, &work.rtdw, x,
                                           nullptr, 0, nullptr, nullptr, 0, -1);
        Qel_Lib_motor_sub::modelSystemInitialize(&work.rtdw, x);
    }

    void outputs() {
        Qel_Lib_motor_sub::modelOutputs(
            &work.instance, armatureVoltage, loadTorque, &measuredAngle, &measuredSpeed, &measuredCurrent,
            &shaftTorque, &work.rtb, &work.rtdw, x, args.sensorSelect, args.currentResolution, args.angleResolution,
            args.inertia, args.inductance, args.resistance, args.coulombFriction, args.viscousFriction,
            args.motorConstant, args.speedFilterTau, args.angleErrorTable.data(), args.gearLoadTurns,
            args.gearEfficiency, args.gearMotorTurns, args.encoderErrorAmplitude, args.sensorErrorsOn);
    }
    void update() { Qel_Lib_motor_sub::modelUpdate(&work.instance, &work.rtb, &work.rtdw); }
    std::array<double, 3> derivatives() {
        std::array<double, 3> dX;
        Qel_Lib_motor_sub::modelDerivatives(&work.rtb, dX.data());
        return dX;
    }
    // Outputs and update of one sensor tick.
    void tick() {
        fixture_.majorStep({0, 1, kSensorTask});
        outputs();
        update();
    }
    qeltest::ModelFixture& host() { return fixture_; }

    Qel_Lib_motor_sub::WorkRecord work;
    double x[3] = {};           // thetaM, iArm, omegaM
    double armatureVoltage = 0.0;
    double loadTorque = 0.0;
    double measuredAngle = 0.0;
    double measuredSpeed = 0.0;
    double measuredCurrent = 0.0;
    double shaftTorque = 0.0;
    SingleWindingArguments args;

private:
    qeltest::ModelFixture fixture_;
};

class DqPlant {
public:
    DqPlant() : fixture_(Qel_Lib_motor_dq_sub::kModelName) {
        Qel_Lib_motor_dq_sub::modelInitialize(fixture_.block(), 0, 1, 2, 3, &work.instance, &work.rtb, &work.rtdw,
                                              x, nullptr, 0, nullptr, nullptr, 0, -1);
        Qel_Lib_motor_dq_sub::modelSystemInitialize(&work.rtdw, x);
    }

    void outputs() {
        Qel_Lib_motor_dq_sub::modelOutputs(
            &work.instance, phaseVoltage.data(), loadTorque, &measuredAngle, &measuredSpeed, measuredCurrent.data(),
            &shaftTorque, &electricalAngle, &work.rtb, &work.rtdw, x, args.sensorSelect, args.currentResolution,
            args.angleResolution, args.inertia, args.inductance, args.resistance, args.coulombFriction,
            args.viscousFriction, args.fluxLinkage, args.polePairs, args.speedFilterTau, args.angleErrorTable.data(),
            args.gearLoadTurns, args.gearEfficiency, args.gearMotorTurns, args.encoderErrorAmplitude,
            args.sensorErrorsOn);
    }
    void update() { Qel_Lib_motor_dq_sub::modelUpdate(&work.instance, &work.rtb, &work.rtdw); }
    std::array<double, 4> derivatives() {
        std::array<double, 4> dX;
        Qel_Lib_motor_dq_sub::modelDerivatives(&work.rtb, dX.data());
        return dX;
    }
    void tick() {
        fixture_.majorStep({0, 1, kSensorTask});
        outputs();
        update();
    }
    qeltest::ModelFixture& host() { return fixture_; }

    Qel_Lib_motor_dq_sub::WorkRecord work;
    double x[4] = {};           // thetaM, iq, id, omegaM
    std::array<double, 3> phaseVoltage{};
    double loadTorque = 0.0;
    double measuredAngle = 0.0;
    double measuredSpeed = 0.0;
    std::array<double, 3> measuredCurrent{};
    double shaftTorque = 0.0;
    double electricalAngle = 0.0;
    DqArguments args;

private:
    qeltest::ModelFixture fixture_;
};

}  // namespace plantstest

#include "plants/measurement_chain.h"

#include <cmath>

namespace qelsensing {

double sensorLookup(double x, const double* breakpoints, const double* table, uint32_t lastIndex) {
    uint32_t index;
    double fraction;
    if (x <= breakpoints[0]) {
        index = 0;
        fraction = (x - breakpoints[0]) / (breakpoints[1] - breakpoints[0]);
    } else if (x < breakpoints[lastIndex]) {
        uint32_t low = 0;
        uint32_t high = lastIndex;
        uint32_t middle = lastIndex >> 1;
        while (high - low > 1) {
            if (x < breakpoints[middle]) {
                high = middle;
            } else {
                low = middle;
            }
            middle = (high + low) >> 1;
        }
        index = low;
        fraction = (x - breakpoints[index]) / (breakpoints[index + 1] - breakpoints[index]);
    } else {
        // Also NaN, which fails both comparisons above.
        index = lastIndex - 1;
        fraction = (x - breakpoints[lastIndex - 1]) / (breakpoints[lastIndex] - breakpoints[lastIndex - 1]);
    }
    return (table[index + 1] - table[index]) * fraction + table[index];
}

int selectedSensor(double sensorSelect) {
    const double truncated = std::trunc(sensorSelect);
    if (truncated == 1.0) return 1;
    if (truncated == 2.0) return 2;
    return 3;
}

bool sensorErrorsEnabled(double sensorErrorsOn) { return std::trunc(sensorErrorsOn) != 0.0; }

RawAngles rawSensorAngles(double thetaM, const SensingParameters& parameters) {
    const double revolutions = thetaM * kRadiansToRevolutions;
    if (!sensorErrorsEnabled(parameters.sensorErrorsOn)) return {revolutions, revolutions, revolutions};

    const double enc2Error =
        (kEnc2SecondAmplitude * muDoubleScalarSin(kEnc2SecondFrequency * revolutions + kEnc2SecondPhase) +
         kEnc2SecondBias) +
        (kEnc2FirstAmplitude * muDoubleScalarSin(kEnc2FirstFrequency * revolutions + kEnc2FirstPhase) +
         kEnc2FirstBias);
    const double enc2Angle =
        quantise(revolutions + enc2Error * parameters.encoderErrorAmplitude * kDegreesToRevolutions,
                 parameters.angleResolution);

    const double enc3Error =
        kEnc3ErrorAmplitude * muDoubleScalarSin(kEnc3ErrorFrequency * revolutions + kEnc3ErrorPhase) + kEnc3ErrorBias;
    const double enc3Angle =
        quantise(revolutions + enc3Error * kEnc3ErrorGain * kDegreesToRevolutions, parameters.angleResolution);

    // Indexed by the position within the revolution; the table does not wrap around at 120.
    const double tablePosition = muDoubleScalarMod(kLookupGain * revolutions, kLookupWrap);
    const double sens1Error =
        sensorLookup(tablePosition, kAngleErrorBreakpoints.data(), parameters.angleErrorTable, kAngleErrorLastIndex);
    const double sens1Angle = quantise(sens1Error * kDegreesToRevolutions + revolutions, parameters.angleResolution);

    return {sens1Angle, enc2Angle, enc3Angle};
}

}  // namespace qelsensing

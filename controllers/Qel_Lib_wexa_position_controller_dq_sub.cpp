#include "controllers/Qel_Lib_wexa_position_controller_dq_sub.h"

#include <cstring>

#include "controllers/integrator_clamp.h"
#include "runtime/host_math.h"

namespace Qel_Lib_wexa_position_controller_dq_sub {

namespace {

// Multiplied by the literals, not divided by 360 and 60: the two round differently.
constexpr double kPositionConversion = 0.002777777777777778;
constexpr double kSpeedConversion = 0.016666666666666666;
constexpr double kElectricalSpeedFactor = 0.10471975511965977;   // 2π/60
constexpr double kSpeedOutputFactor = 0.6666666666666666;
constexpr double kAlphaCoefficientA = 0.6666666666666666;
constexpr double kAlphaCoefficientB = -0.3333333333333333;
constexpr double kAlphaCoefficientC = -0.3333333333333333;
constexpr double kBetaCoefficientB = 0.5773502691896257;
constexpr double kBetaCoefficientC = -0.5773502691896257;
constexpr double kDReference = 0.0;
constexpr double kCouplingSetupFactor = 0.15915494309189535;   // 1/(2π)
constexpr double kInverseAlphaCoefficient = -0.5;
constexpr double kInverseBetaCoefficientB = 0.8660254037844386;
constexpr double kInverseBetaCoefficientC = -0.8660254037844386;
constexpr double kCentringBase = 0.0;
constexpr double kCentringFactor = 0.5;
constexpr double kIntegratorGain = 1e-4;   // the period of the computing rate
constexpr double kIntegratorInitialCondition = 0.0;
constexpr bool kFlagInitialCondition = false;
constexpr double kSpeedLimitFactor = 3.0;
constexpr double kOutputLimitFactor = 0.95;

const MapStateSpec kMapStates[] = {
    {false, offsetof(Rtdw, integratorStateQ), 0, 0, -1, 0},
    {false, offsetof(Rtdw, integratorStateD), 0, 0, -1, 0},
    {false, offsetof(Rtdw, speedIntegratorState), 0, 0, -1, 0},
    {false, offsetof(Rtdw, saturatedHighPrev), 1, 0, 0, 0},
    {false, offsetof(Rtdw, saturatedLowPrev), 1, 0, 0, 1},
};
const MapSampleTimeSpec kMapSampleTimes[] = {{1e-4, 0}};
const uint8_t kSystemTaskRates[] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const ModelMapDescription kMapDescription = {kMapStates, kMapSampleTimes, 2, true, kSystemTaskRates,
                                             {0x345D48DB, 0xDABD3AA0, 0x74C562DB, 0x96623882}};

}  // namespace

void modelInitialize(SimStruct* hostLink, int32_t g0, int32_t g1, Instance* instance, Rtb* rtb, Rtdw* rtdw,
                     void* context, int32_t contextTid, const void*, const char*, int32_t, int32_t) {
    beginModelInstance(instance, hostLink, {g0, g1}, kModelName);
    // Whole records, padding included: they are saved byte for byte in the simulation state.
    std::memset(static_cast<void*>(rtb), 0, sizeof *rtb);
    std::memset(static_cast<void*>(rtdw), 0, sizeof *rtdw);
    static ModelMap map(kMapDescription);
    map.fill(mapViewOf(instance), rtdw, nullptr, context, contextTid);
}

void modelSystemInitialize(Rtdw* rtdw) {
    rtdw->speedIntegratorState = kIntegratorInitialCondition;
    rtdw->integratorStateQ = kIntegratorInitialCondition;
    rtdw->integratorStateD = kIntegratorInitialCondition;
    rtdw->saturatedHighPrev = kFlagInitialCondition;
    rtdw->saturatedLowPrev = kFlagInitialCondition;
}

void modelSystemReset(Rtdw* rtdw) { modelSystemInitialize(rtdw); }

void modelOutputs(double positionReference, double speedFeedForward, double currentFeedForward,
                  double positionMeasured, double speedMeasured, const double* phaseCurrents, double electricalAngle,
                  double* phaseOutputs, Rtb* rtb, Rtdw* rtdw, double speedGain, double currentGain,
                  double positionGain, double couplingFactorB, double speedIntegralTime, double currentIntegralTime,
                  double speedScaleDenominator, double speedScaleNumerator, double outputLimitBase) {
    const double speedMeas = speedMeasured * kSpeedConversion * speedScaleNumerator / speedScaleDenominator;
    const double positionRef = positionReference * kPositionConversion * speedScaleNumerator / speedScaleDenominator;
    const double positionMeas = positionMeasured * kPositionConversion * speedScaleNumerator / speedScaleDenominator;
    // The speed feed-forward is not scaled by the ratio.
    const double speedError =
        speedFeedForward * kSpeedConversion + (positionRef - positionMeas) * positionGain - speedMeas;
    const double speedSum =
        (rtdw->speedIntegratorState / speedIntegralTime + speedError) * speedGain * kSpeedOutputFactor;

    // Strict comparisons: a sum equal to a limit, or NaN, passes unchanged.
    double qReference = speedSum;
    if (speedSum > rtb->speedUpperLimit) {
        qReference = rtb->speedUpperLimit;
    } else if (rtb->speedLowerLimit > speedSum) {
        qReference = rtb->speedLowerLimit;
    }

    // Unlike the other dq controllers, the currents enter the transform unscaled.
    const double alpha = kAlphaCoefficientA * phaseCurrents[0] + kAlphaCoefficientB * phaseCurrents[1] +
                         kAlphaCoefficientC * phaseCurrents[2];
    const double beta = kBetaCoefficientB * phaseCurrents[1] + kBetaCoefficientC * phaseCurrents[2];

    const double sine = muDoubleScalarSin(electricalAngle);
    const double cosine = muDoubleScalarCos(electricalAngle);

    // The feed-forward is added after the speed-loop limit.
    const double qError = currentFeedForward + qReference - (beta * cosine - alpha * sine);
    const double qSum = (rtdw->integratorStateQ / currentIntegralTime + qError) * currentGain;
    double qOutput = qSum;
    if (muDoubleScalarAbs(qSum) > rtb->outputLimitQ) qOutput = muDoubleScalarSign(qSum) * rtb->outputLimitQ;
    rtb->integratorInputQ = integratorClamp(qSum > qOutput, qOutput > qSum, qError);

    const double dError = kDReference - (alpha * cosine + beta * sine);
    const double dSum = (rtdw->integratorStateD / currentIntegralTime + dError) * currentGain;
    double dOutput = dSum;
    if (muDoubleScalarAbs(dSum) > rtb->outputLimitD) dOutput = muDoubleScalarSign(dSum) * rtb->outputLimitD;
    rtb->integratorInputD = integratorClamp(dSum > dOutput, dOutput > dSum, dError);

    rtb->speedIntegratorInput = integratorClamp(rtdw->saturatedHighPrev, rtdw->saturatedLowPrev, speedError);

    // speedMeas already carries the speed conversion and the ratio; they enter the term twice.
    const double decoupling = kSpeedConversion * speedMeas * speedScaleNumerator / speedScaleDenominator *
                              kElectricalSpeedFactor * couplingFactorB * qReference * rtb->couplingFactorScaled;
    const double dVoltage = dOutput - decoupling;

    const double alphaVoltage = cosine * dVoltage - qOutput * sine;
    const double betaVoltage = qOutput * cosine + sine * dVoltage;

    double phase[3];
    phase[0] = alphaVoltage;
    phase[1] = kInverseAlphaCoefficient * alphaVoltage + kInverseBetaCoefficientB * betaVoltage;
    phase[2] = kInverseAlphaCoefficient * alphaVoltage + kInverseBetaCoefficientC * betaVoltage;

    // The d-axis saturation does not enter the flags.
    rtb->saturatedHigh = qSum > qOutput || speedSum > qReference;
    rtb->saturatedLow = qOutput > qSum || qReference > speedSum;

    const double lowest = muDoubleScalarMin(muDoubleScalarMin(phase[0], phase[1]), phase[2]);
    const double highest = muDoubleScalarMax(muDoubleScalarMax(phase[0], phase[1]), phase[2]);
    const double offset = (kCentringBase - (highest - lowest)) * kCentringFactor;

    // No output gain in this variant: the clamped values are the outputs.
    for (int k = 0; k < 3; ++k) {
        double value = phase[k] - lowest + offset;
        if (value > outputLimitBase) {
            value = outputLimitBase;
        } else if (-outputLimitBase > value) {
            value = -outputLimitBase;
        }
        phaseOutputs[k] = value;
    }
}

void modelParameterSetup(Rtb* rtb, double couplingFactorA, double currentLimitBase, double outputLimitBase) {
    rtb->speedUpperLimit = kSpeedLimitFactor * currentLimitBase;
    rtb->speedLowerLimit = -currentLimitBase * kSpeedLimitFactor;
    rtb->couplingFactorScaled = kCouplingSetupFactor * couplingFactorA;
    rtb->outputLimitQ = kOutputLimitFactor * outputLimitBase;
    rtb->outputLimitD = kOutputLimitFactor * outputLimitBase;
}

void modelUpdate(Rtb* rtb, Rtdw* rtdw) {
    rtdw->speedIntegratorState = rtb->speedIntegratorInput * kIntegratorGain + rtdw->speedIntegratorState;
    rtdw->integratorStateQ = rtb->integratorInputQ * kIntegratorGain + rtdw->integratorStateQ;
    rtdw->integratorStateD = rtb->integratorInputD * kIntegratorGain + rtdw->integratorStateD;
    rtdw->saturatedHighPrev = rtb->saturatedHigh;
    rtdw->saturatedLowPrev = rtb->saturatedLow;
}

void modelTerminate(Instance* instance) { endModelInstance(instance, kModelName); }

}  // namespace Qel_Lib_wexa_position_controller_dq_sub

#include "controllers/Qel_Lib_wexa_velocity_controller_dq_sub.h"

#include <cstring>

#include "controllers/integrator_clamp.h"
#include "runtime/host_math.h"

namespace Qel_Lib_wexa_velocity_controller_dq_sub {

namespace {

constexpr int kComputingRate = 1;
// Multiplied by the literals, not divided by 60: the two round differently.
constexpr double kSpeedConversion = 0.016666666666666666;
constexpr double kElectricalSpeedFactor = 0.10471975511965977;   // 2π/60
constexpr double kSpeedOutputFactor = 0.6666666666666666;
// Applied on top of the transform's own coefficients, so the measured components carry 2/3.
constexpr double kPhaseCurrentGain = 0.6666666666666666;
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
constexpr double kOutputGain = 1.35;
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
const MapSampleTimeSpec kMapSampleTimes[] = {{1e-4, 1}};
const uint8_t kSystemTaskRates[] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
const ModelMapDescription kMapDescription = {kMapStates, kMapSampleTimes, 2, true, kSystemTaskRates,
                                             {0x2B10C70A, 0xF2CAB392, 0xA52ABB68, 0xD90A6415}};

}  // namespace

void modelInitialize(SimStruct* hostLink, int32_t g0, int32_t g1, int32_t g2, Instance* instance, Rtb* rtb,
                     Rtdw* rtdw, void* context, int32_t contextTid, const void*, const char*, int32_t, int32_t) {
    beginModelInstance(instance, hostLink, {g0, g1, g2}, kModelName);
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

void modelOutputs(Instance* instance, double speedReference, double currentFeedForward, double speedMeasured,
                  const double* phaseCurrents, double electricalAngle, double* phaseOutputs, Rtb* rtb, Rtdw* rtdw,
                  double speedGain, double currentGain, double couplingFactorB, double speedIntegralTime,
                  double currentIntegralTime, double speedScaleDenominator, double speedScaleNumerator,
                  double outputLimitBase) {
    if (!rateIsDue(instance, kComputingRate)) return;

    const double speedMeas = speedMeasured * kSpeedConversion * speedScaleNumerator / speedScaleDenominator;
    const double speedError =
        speedReference * kSpeedConversion * speedScaleNumerator / speedScaleDenominator - speedMeas;
    const double speedSum =
        (rtdw->speedIntegratorState / speedIntegralTime + speedError) * speedGain * kSpeedOutputFactor;

    // Strict comparisons: a sum equal to a limit, or NaN, passes unchanged.
    double qReference = speedSum;
    if (speedSum > rtb->speedUpperLimit) {
        qReference = rtb->speedUpperLimit;
    } else if (rtb->speedLowerLimit > speedSum) {
        qReference = rtb->speedLowerLimit;
    }

    const double scaledA = phaseCurrents[0] * kPhaseCurrentGain;
    const double scaledB = phaseCurrents[1] * kPhaseCurrentGain;
    const double scaledC = phaseCurrents[2] * kPhaseCurrentGain;
    const double alpha = kAlphaCoefficientA * scaledA + kAlphaCoefficientB * scaledB + kAlphaCoefficientC * scaledC;
    const double beta = kBetaCoefficientB * scaledB + kBetaCoefficientC * scaledC;

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

    const double lowest = muDoubleScalarMin(muDoubleScalarMin(phase[0], phase[1]), phase[2]);
    const double highest = muDoubleScalarMax(muDoubleScalarMax(phase[0], phase[1]), phase[2]);
    const double offset = (kCentringBase - (highest - lowest)) * kCentringFactor;

    // The d-axis saturation does not enter the flags.
    rtb->saturatedHigh = qSum > qOutput || speedSum > qReference;
    rtb->saturatedLow = qOutput > qSum || qReference > speedSum;

    for (int k = 0; k < 3; ++k) {
        double value = phase[k] - lowest + offset;
        if (value > outputLimitBase) {
            value = outputLimitBase;
        } else if (-outputLimitBase > value) {
            value = -outputLimitBase;
        }
        phaseOutputs[k] = kOutputGain * value;
    }
}

void modelParameterSetup(Rtb* rtb, double couplingFactorA, double currentLimitBase, double outputLimitBase) {
    rtb->speedUpperLimit = kSpeedLimitFactor * currentLimitBase;
    rtb->speedLowerLimit = -currentLimitBase * kSpeedLimitFactor;
    rtb->couplingFactorScaled = kCouplingSetupFactor * couplingFactorA;
    rtb->outputLimitQ = kOutputLimitFactor * outputLimitBase;
    rtb->outputLimitD = kOutputLimitFactor * outputLimitBase;
}

void modelUpdate(Instance* instance, Rtb* rtb, Rtdw* rtdw) {
    if (!rateIsDue(instance, kComputingRate)) return;
    rtdw->speedIntegratorState = rtb->speedIntegratorInput * kIntegratorGain + rtdw->speedIntegratorState;
    rtdw->integratorStateQ = rtb->integratorInputQ * kIntegratorGain + rtdw->integratorStateQ;
    rtdw->integratorStateD = rtb->integratorInputD * kIntegratorGain + rtdw->integratorStateD;
    rtdw->saturatedHighPrev = rtb->saturatedHigh;
    rtdw->saturatedLowPrev = rtb->saturatedLow;
}

void modelTerminate(Instance* instance) { endModelInstance(instance, kModelName); }

}  // namespace Qel_Lib_wexa_velocity_controller_dq_sub

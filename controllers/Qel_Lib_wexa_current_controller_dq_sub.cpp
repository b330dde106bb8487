#include "controllers/Qel_Lib_wexa_current_controller_dq_sub.h"

#include <cstring>

#include "controllers/integrator_clamp.h"
#include "runtime/host_math.h"

namespace Qel_Lib_wexa_current_controller_dq_sub {

namespace {

// Applied on top of the transform's own coefficients, so the measured components carry 2/3.
constexpr double kPhaseCurrentGain = 0.6666666666666666;
constexpr double kAlphaCoefficientA = 0.6666666666666666;
constexpr double kAlphaCoefficientB = -0.3333333333333333;
constexpr double kAlphaCoefficientC = -0.3333333333333333;
constexpr double kBetaCoefficientB = 0.5773502691896257;
constexpr double kBetaCoefficientC = -0.5773502691896257;
constexpr double kDReference = 0.0;
constexpr double kIntegratorGain = 1e-4;   // the period of the computing rate
constexpr double kIntegratorInitialCondition = 0.0;
constexpr double kReferenceLimitFactor = 3.0;
constexpr double kCouplingSetupFactor = 0.15915494309189535;   // 1/(2π)
constexpr double kOutputLimitFactor = 0.95;
// Multiplied by the literals, not divided by 60: the two round differently.
constexpr double kSpeedConversion = 0.016666666666666666;
constexpr double kElectricalSpeedFactor = 0.10471975511965977;   // 2π/60
constexpr double kInverseAlphaCoefficient = -0.5;
constexpr double kInverseBetaCoefficientB = 0.8660254037844386;
constexpr double kInverseBetaCoefficientC = -0.8660254037844386;
constexpr double kCentringBase = 0.0;
constexpr double kCentringFactor = 0.5;
constexpr double kOutputGain = 1.35;

const MapStateSpec kMapStates[] = {
    {false, offsetof(Rtdw, integratorStateQ), 0, 0, -1, 0},
    {false, offsetof(Rtdw, integratorStateD), 0, 0, -1, 0},
};
const MapSampleTimeSpec kMapSampleTimes[] = {{1e-4, 0}};
const uint8_t kSystemTaskRates[] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const ModelMapDescription kMapDescription = {kMapStates, kMapSampleTimes, 1, false, kSystemTaskRates,
                                             {0xD8030978, 0xA7AECE6F, 0xD74BD263, 0x9C409DC2}};

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
    rtdw->integratorStateQ = kIntegratorInitialCondition;
    rtdw->integratorStateD = kIntegratorInitialCondition;
}

void modelSystemReset(Rtdw* rtdw) { modelSystemInitialize(rtdw); }

void modelOutputs(double qCurrentReference, double speedInput, const double* phaseCurrents, double electricalAngle,
                  double* phaseOutputs, Rtb* rtb, Rtdw* rtdw, double proportionalGain, double couplingFactorB,
                  double integralTime, double couplingDivisor, double couplingFactorC, double phaseLimit) {
    // Strict comparisons: a reference equal to a limit, or NaN, passes unchanged.
    double qReference = qCurrentReference;
    if (qCurrentReference > rtb->referenceUpperLimit) {
        qReference = rtb->referenceUpperLimit;
    } else if (rtb->referenceLowerLimit > qCurrentReference) {
        qReference = rtb->referenceLowerLimit;
    }

    const double scaledA = phaseCurrents[0] * kPhaseCurrentGain;
    const double scaledB = phaseCurrents[1] * kPhaseCurrentGain;
    const double scaledC = phaseCurrents[2] * kPhaseCurrentGain;
    const double alpha = kAlphaCoefficientA * scaledA + kAlphaCoefficientB * scaledB + kAlphaCoefficientC * scaledC;
    const double beta = kBetaCoefficientC * scaledC + kBetaCoefficientB * scaledB;

    const double sine = muDoubleScalarSin(electricalAngle);
    const double cosine = muDoubleScalarCos(electricalAngle);

    const double qError = qReference - (beta * cosine - alpha * sine);
    const double qSum = (rtdw->integratorStateQ / integralTime + qError) * proportionalGain;
    double qOutput = qSum;
    if (muDoubleScalarAbs(qSum) > rtb->outputLimitQ) qOutput = muDoubleScalarSign(qSum) * rtb->outputLimitQ;
    rtb->integratorInputQ = integratorClamp(qSum > qOutput, qOutput > qSum, qError);

    const double dError = kDReference - (alpha * cosine + beta * sine);
    const double dSum = (rtdw->integratorStateD / integralTime + dError) * proportionalGain;
    double dOutput = dSum;
    if (muDoubleScalarAbs(dSum) > rtb->outputLimitD) dOutput = muDoubleScalarSign(dSum) * rtb->outputLimitD;
    rtb->integratorInputD = integratorClamp(dSum > dOutput, dOutput > dSum, dError);

    const double decoupling = speedInput * kSpeedConversion * couplingFactorC / couplingDivisor *
                              kElectricalSpeedFactor * couplingFactorB * qReference * rtb->couplingFactorScaled;
    const double dVoltage = dOutput - decoupling;
    const double qVoltage = qOutput;

    const double alphaVoltage = cosine * dVoltage - qVoltage * sine;
    const double betaVoltage = qVoltage * cosine + sine * dVoltage;

    double phase[3];
    phase[0] = alphaVoltage;
    phase[1] = kInverseBetaCoefficientB * betaVoltage + kInverseAlphaCoefficient * alphaVoltage;
    phase[2] = kInverseBetaCoefficientC * betaVoltage + kInverseAlphaCoefficient * alphaVoltage;

    const double lowest = muDoubleScalarMin(muDoubleScalarMin(phase[0], phase[1]), phase[2]);
    const double highest = muDoubleScalarMax(muDoubleScalarMax(phase[0], phase[1]), phase[2]);
    const double offset = (kCentringBase - (highest - lowest)) * kCentringFactor;

    for (int k = 0; k < 3; ++k) {
        double value = phase[k] - lowest + offset;
        if (value > phaseLimit) {
            value = phaseLimit;
        } else if (-phaseLimit > value) {
            value = -phaseLimit;
        }
        phaseOutputs[k] = kOutputGain * value;
    }
}

void modelParameterSetup(Rtb* rtb, double couplingFactorA, double referenceLimitBase, double phaseLimit) {
    rtb->referenceUpperLimit = kReferenceLimitFactor * referenceLimitBase;
    rtb->referenceLowerLimit = -referenceLimitBase * kReferenceLimitFactor;
    rtb->couplingFactorScaled = kCouplingSetupFactor * couplingFactorA;
    rtb->outputLimitQ = kOutputLimitFactor * phaseLimit;
    rtb->outputLimitD = kOutputLimitFactor * phaseLimit;
}

void modelUpdate(Rtb* rtb, Rtdw* rtdw) {
    rtdw->integratorStateQ = rtb->integratorInputQ * kIntegratorGain + rtdw->integratorStateQ;
    rtdw->integratorStateD = rtb->integratorInputD * kIntegratorGain + rtdw->integratorStateD;
}

void modelTerminate(Instance* instance) { endModelInstance(instance, kModelName); }

}  // namespace Qel_Lib_wexa_current_controller_dq_sub

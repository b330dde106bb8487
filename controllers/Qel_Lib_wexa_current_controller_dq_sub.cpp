#include "controllers/Qel_Lib_wexa_current_controller_dq_sub.h"

#include <cstring>

#include "controllers/dq_output_stage.h"
#include "controllers/pi_loop.h"

namespace Qel_Lib_wexa_current_controller_dq_sub {

namespace {

// Applied on top of the transform's own coefficients, so the measured components carry 2/3.
constexpr double kPhaseCurrentGain = 0.6666666666666666;
constexpr double kIntegratorGain = 1e-4;   // the period of the computing rate
constexpr double kIntegratorInitialCondition = 0.0;
constexpr double kReferenceLimitFactor = 3.0;
constexpr double kCouplingSetupFactor = 0.15915494309189535;   // 1/(2π)
constexpr double kOutputLimitFactor = 0.95;
// Multiplied by the literals, not divided by 60: the two round differently.
constexpr double kSpeedConversion = 0.016666666666666666;
constexpr double kElectricalSpeedFactor = 0.10471975511965977;   // 2π/60
constexpr double kOutputGain = 1.35;

const MapStateInfo kMapStates[] = {
    {false, offsetof(Rtdw, integratorStateQ), 0, 0, -1, 0},
    {false, offsetof(Rtdw, integratorStateD), 0, 0, -1, 0},
};
const MapSampleTimeInfo kMapSampleTimes[] = {{1e-4, 0}};
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
    const double qReference =
        limitToRange(qCurrentReference, rtb->referenceUpperLimit, rtb->referenceLowerLimit);

    const double scaledA = phaseCurrents[0] * kPhaseCurrentGain;
    const double scaledB = phaseCurrents[1] * kPhaseCurrentGain;
    const double scaledC = phaseCurrents[2] * kPhaseCurrentGain;
    const double alpha = qeldq::clarkeAlpha(scaledA, scaledB, scaledC);
    // This model adds the beta products phase c first.
    const double beta = qeldq::kBetaCoefficientC * scaledC + qeldq::kBetaCoefficientB * scaledB;

    const double sine = muDoubleScalarSin(electricalAngle);
    const double cosine = muDoubleScalarCos(electricalAngle);

    const double qError = qReference - qeldq::parkQ(alpha, beta, sine, cosine);
    const SaturatedPi q = saturatedPiStep(rtdw->integratorStateQ, integralTime, qError, proportionalGain,
                                          rtb->outputLimitQ);
    rtb->integratorInputQ = q.integratorInput;

    const double dError = qeldq::kDReference - qeldq::parkD(alpha, beta, sine, cosine);
    const SaturatedPi d = saturatedPiStep(rtdw->integratorStateD, integralTime, dError, proportionalGain,
                                          rtb->outputLimitD);
    rtb->integratorInputD = d.integratorInput;

    const double decoupling = speedInput * kSpeedConversion * couplingFactorC / couplingDivisor *
                              kElectricalSpeedFactor * couplingFactorB * qReference * rtb->couplingFactorScaled;
    const double dVoltage = d.output - decoupling;
    const double qVoltage = q.output;
    const qeldq::AlphaBeta stator = qeldq::inversePark(dVoltage, qVoltage, sine, cosine);

    // This model adds the beta product first.
    double phase[3];
    phase[0] = stator.alpha;
    phase[1] = qeldq::kInverseBetaCoefficientB * stator.beta + qeldq::kInverseAlphaCoefficient * stator.alpha;
    phase[2] = qeldq::kInverseBetaCoefficientC * stator.beta + qeldq::kInverseAlphaCoefficient * stator.alpha;
    qeldq::centreMinMax(phase);

    for (int k = 0; k < 3; ++k) phaseOutputs[k] = kOutputGain * qeldq::clampSymmetric(phase[k], phaseLimit);
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

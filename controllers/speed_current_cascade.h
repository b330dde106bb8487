// The speed and current cascade of the velocity and position controllers, from the speed error
// on: a speed PI loop limited to ±3 × currentLimitBase feeds, plus a feed-forward, a current PI
// loop limited in magnitude to 0.95 × outputLimitBase. The speed integrator is clamped by the
// combined saturation flags of the previous computing step, the current integrator by its own
// loop in the same step. The dq form doubles the current loop into q and d axes and ends in the
// three-phase output stage. The models form the speed error (and, in dq, the measured alpha and
// beta currents) and make the rate test; the cascade works on their records by field name, so
// each model keeps its own record types.
#pragma once

#include "controllers/dq_output_stage.h"
#include "controllers/integrator_clamp.h"
#include "controllers/pi_loop.h"

namespace qelcascade {

inline constexpr double kIntegratorGain = 1e-4;   // the period of the computing rate
inline constexpr double kIntegratorInitialCondition = 0.0;
inline constexpr bool kFlagInitialCondition = false;
inline constexpr double kSpeedLimitFactor = 3.0;
inline constexpr double kOutputLimitFactor = 0.95;
inline constexpr double kDqSpeedOutputFactor = 0.6666666666666666;
inline constexpr double kCouplingSetupFactor = 0.15915494309189535;   // 1/(2π)
// Multiplied by the literals, not divided by 60: the two round differently.
inline constexpr double kSpeedConversion = 0.016666666666666666;
inline constexpr double kElectricalSpeedFactor = 0.10471975511965977;   // 2π/60

template <class Rtb, class Rtdw>
void cascadeOutputs(double speedError, double currentFeedForward, double currentMeasured, double* controllerOutput,
                    Rtb* rtb, Rtdw* rtdw, double speedGain, double currentGain, double speedIntegralTime,
                    double currentIntegralTime) {
    const double speedSum = piSum(rtdw->speedIntegratorState, speedIntegralTime, speedError, speedGain);
    const double currentReference = limitToRange(speedSum, rtb->speedUpperLimit, rtb->speedLowerLimit);

    rtb->measuredCopy = currentMeasured;
    // The feed-forward is added after the speed-loop limit.
    const double currentError = currentFeedForward + currentReference - rtb->measuredCopy;
    const SaturatedPi current = saturatedPiStep(rtdw->currentIntegratorState, currentIntegralTime, currentError,
                                                currentGain, rtb->outputLimit);

    rtb->currentIntegratorInput = current.integratorInput;
    rtb->speedIntegratorInput = integratorClamp(rtdw->saturatedHighPrev, rtdw->saturatedLowPrev, speedError);
    rtb->saturatedHigh = current.sum > current.output || speedSum > currentReference;
    rtb->saturatedLow = current.output > current.sum || currentReference > speedSum;
    *controllerOutput = current.output;
}

template <class Rtb>
void cascadeParameterSetup(Rtb* rtb, double currentLimitBase, double outputLimitBase) {
    rtb->speedUpperLimit = kSpeedLimitFactor * currentLimitBase;
    rtb->speedLowerLimit = -currentLimitBase * kSpeedLimitFactor;
    rtb->outputLimit = kOutputLimitFactor * outputLimitBase;
}

template <class Rtb, class Rtdw>
void cascadeUpdate(const Rtb* rtb, Rtdw* rtdw) {
    rtdw->speedIntegratorState = rtb->speedIntegratorInput * kIntegratorGain + rtdw->speedIntegratorState;
    rtdw->currentIntegratorState = rtb->currentIntegratorInput * kIntegratorGain + rtdw->currentIntegratorState;
    rtdw->saturatedHighPrev = rtb->saturatedHigh;
    rtdw->saturatedLowPrev = rtb->saturatedLow;
}

template <class Rtdw>
void cascadeInitialConditions(Rtdw* rtdw) {
    rtdw->speedIntegratorState = kIntegratorInitialCondition;
    rtdw->currentIntegratorState = kIntegratorInitialCondition;
    rtdw->saturatedHighPrev = kFlagInitialCondition;
    rtdw->saturatedLowPrev = kFlagInitialCondition;
}

// speedMeas is the measured speed as it entered the speed error, with the speed conversion and the
// ratio already applied. Leaves in clampedPhase the centred phase values clamped to
// ±outputLimitBase; any output gain is the model's.
template <class Rtb, class Rtdw>
void dqCascadeOutputs(double speedError, double speedMeas, double currentFeedForward, double alpha, double beta,
                      double electricalAngle, double clampedPhase[3], Rtb* rtb, Rtdw* rtdw, double speedGain,
                      double currentGain, double couplingFactorB, double speedIntegralTime,
                      double currentIntegralTime, double speedScaleDenominator, double speedScaleNumerator,
                      double outputLimitBase) {
    const double speedSum =
        piSum(rtdw->speedIntegratorState, speedIntegralTime, speedError, speedGain) * kDqSpeedOutputFactor;
    const double qReference = limitToRange(speedSum, rtb->speedUpperLimit, rtb->speedLowerLimit);

    const double sine = muDoubleScalarSin(electricalAngle);
    const double cosine = muDoubleScalarCos(electricalAngle);

    // The feed-forward is added after the speed-loop limit.
    const double qError = currentFeedForward + qReference - qeldq::parkQ(alpha, beta, sine, cosine);
    const SaturatedPi q =
        saturatedPiStep(rtdw->integratorStateQ, currentIntegralTime, qError, currentGain, rtb->outputLimitQ);
    rtb->integratorInputQ = q.integratorInput;

    const double dError = qeldq::kDReference - qeldq::parkD(alpha, beta, sine, cosine);
    const SaturatedPi d =
        saturatedPiStep(rtdw->integratorStateD, currentIntegralTime, dError, currentGain, rtb->outputLimitD);
    rtb->integratorInputD = d.integratorInput;

    rtb->speedIntegratorInput = integratorClamp(rtdw->saturatedHighPrev, rtdw->saturatedLowPrev, speedError);

    // speedMeas already carries the speed conversion and the ratio; they enter the term twice.
    const double decoupling = kSpeedConversion * speedMeas * speedScaleNumerator / speedScaleDenominator *
                              kElectricalSpeedFactor * couplingFactorB * qReference * rtb->couplingFactorScaled;
    const double dVoltage = d.output - decoupling;

    double phase[3];
    qeldq::inverseClarke(qeldq::inversePark(dVoltage, q.output, sine, cosine), phase);
    qeldq::centreMinMax(phase);

    // The d-axis saturation does not enter the flags.
    rtb->saturatedHigh = q.sum > q.output || speedSum > qReference;
    rtb->saturatedLow = q.output > q.sum || qReference > speedSum;

    for (int k = 0; k < 3; ++k) clampedPhase[k] = qeldq::clampSymmetric(phase[k], outputLimitBase);
}

template <class Rtb>
void dqCascadeParameterSetup(Rtb* rtb, double couplingFactorA, double currentLimitBase, double outputLimitBase) {
    rtb->speedUpperLimit = kSpeedLimitFactor * currentLimitBase;
    rtb->speedLowerLimit = -currentLimitBase * kSpeedLimitFactor;
    rtb->couplingFactorScaled = kCouplingSetupFactor * couplingFactorA;
    rtb->outputLimitQ = kOutputLimitFactor * outputLimitBase;
    rtb->outputLimitD = kOutputLimitFactor * outputLimitBase;
}

template <class Rtb, class Rtdw>
void dqCascadeUpdate(const Rtb* rtb, Rtdw* rtdw) {
    rtdw->speedIntegratorState = rtb->speedIntegratorInput * kIntegratorGain + rtdw->speedIntegratorState;
    rtdw->integratorStateQ = rtb->integratorInputQ * kIntegratorGain + rtdw->integratorStateQ;
    rtdw->integratorStateD = rtb->integratorInputD * kIntegratorGain + rtdw->integratorStateD;
    rtdw->saturatedHighPrev = rtb->saturatedHigh;
    rtdw->saturatedLowPrev = rtb->saturatedLow;
}

template <class Rtdw>
void dqCascadeInitialConditions(Rtdw* rtdw) {
    rtdw->speedIntegratorState = kIntegratorInitialCondition;
    rtdw->integratorStateQ = kIntegratorInitialCondition;
    rtdw->integratorStateD = kIntegratorInitialCondition;
    rtdw->saturatedHighPrev = kFlagInitialCondition;
    rtdw->saturatedLowPrev = kFlagInitialCondition;
}

}  // namespace qelcascade

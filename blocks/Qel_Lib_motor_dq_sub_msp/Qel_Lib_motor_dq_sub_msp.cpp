// The dq-frame motor plant's plug-in: its block table, the adapters from the frame's fetched inputs,
// outputs and arguments to the model's entry functions, and the two exports.
#include <cstddef>
#include <iterator>

#include "frame/block_table.h"
#include "frame/entry.h"
#include "frame/identifiers.h"
#include "plants/Qel_Lib_motor_dq_sub.h"

namespace {

namespace model = Qel_Lib_motor_dq_sub;
using model::WorkRecord;

WorkRecord* recordOf(void* workRecord) { return static_cast<WorkRecord*>(workRecord); }

void initialize(SimStruct* block, const int32_t* g, void* workRecord, double* x, void* context, int32_t contextTid) {
    WorkRecord* r = recordOf(workRecord);
    model::modelInitialize(block, g[0], g[1], g[2], g[3], &r->instance, &r->rtb, &r->rtdw, x, context, contextTid,
                           nullptr, nullptr, 0, -1);
}

void systemInitialize(void* workRecord, double* x) { model::modelSystemInitialize(&recordOf(workRecord)->rtdw, x); }

void systemReset(void* workRecord, double* x) { model::modelSystemReset(&recordOf(workRecord)->rtdw, x); }

void outputs(void* workRecord, const double* const* u, double* const* y, const double* x, const double* const* a) {
    WorkRecord* r = recordOf(workRecord);
    model::modelOutputs(&r->instance, u[0], *u[1], y[0], y[1], y[2], y[3], y[4], &r->rtb, &r->rtdw, x, *a[0], *a[1],
                        *a[2], *a[3], *a[4], *a[5], *a[6], *a[7], *a[8], *a[9], *a[10], a[11], *a[12], *a[13], *a[14],
                        *a[15], *a[16]);
}

// The plants have no parameter-dependent quantities.
void parameterSetup(void*, const double* const*) { model::modelParameterSetup(); }

void update(void* workRecord) {
    WorkRecord* r = recordOf(workRecord);
    model::modelUpdate(&r->instance, &r->rtb, &r->rtdw);
}

void derivatives(const void* workRecord, double* dX) {
    model::modelDerivatives(&static_cast<const WorkRecord*>(workRecord)->rtb, dX);
}

void terminate(void* workRecord) { model::modelTerminate(&recordOf(workRecord)->instance); }

ModelMapInfo* mapInfo(void* workRecord) { return &recordOf(workRecord)->instance.mapInfo; }

constexpr BlockPort kInputs[] = {
    {3, 0.0},    // phaseVoltage
    {1, 0.0},    // loadTorque
};
constexpr BlockPort kOutputs[] = {
    {1, 1e-4},   // measuredAngle
    {1, 1e-4},   // measuredSpeed
    {3, 1e-4},   // measuredCurrent
    {1, 0.0},    // shaftTorque
    {1, 0.0},    // electricalAngle
};
constexpr double kSampleTimes[] = {0.0, 1e-5, 1e-4, kConstantRate};
constexpr int kOutputArguments[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
constexpr size_t kRtdw = offsetof(WorkRecord, rtdw);
constexpr RtdwMember kRtdwMembers[] = {
    {kRtdw + offsetof(model::Rtdw, obsAngle), sizeof(model::Rtdw::obsAngle)},
    {kRtdw + offsetof(model::Rtdw, obsSpeedFilt), sizeof(model::Rtdw::obsSpeedFilt)},
    {kRtdw + offsetof(model::Rtdw, enc2SpeedFilt), sizeof(model::Rtdw::enc2SpeedFilt)},
    {kRtdw + offsetof(model::Rtdw, enc3SpeedFilt), sizeof(model::Rtdw::enc3SpeedFilt)},
    {kRtdw + offsetof(model::Rtdw, enc3PrevAngle), sizeof(model::Rtdw::enc3PrevAngle)},
    {kRtdw + offsetof(model::Rtdw, obsSpeedInt), sizeof(model::Rtdw::obsSpeedInt)},
    {kRtdw + offsetof(model::Rtdw, enc2PrevAngle), sizeof(model::Rtdw::enc2PrevAngle)},
    {kRtdw + offsetof(model::Rtdw, enc2AngleHold), sizeof(model::Rtdw::enc2AngleHold)},
    {kRtdw + offsetof(model::Rtdw, enc3AngleHold), sizeof(model::Rtdw::enc3AngleHold)},
    {kRtdw + offsetof(model::Rtdw, sens1AngleHold), sizeof(model::Rtdw::sens1AngleHold)},
    {kRtdw + offsetof(model::Rtdw, iaHold), sizeof(model::Rtdw::iaHold)},
    {kRtdw + offsetof(model::Rtdw, ibHold), sizeof(model::Rtdw::ibHold)},
    {kRtdw + offsetof(model::Rtdw, icHold), sizeof(model::Rtdw::icHold)},
};
constexpr BlockIdentifiers kIdentifiers(model::kModelName, 22, 11, static_cast<int>(std::size(kRtdwMembers)));

}  // namespace

constexpr BlockTable kBlockTable = {
    .modelName = model::kModelName,
    .pluginName = "Qel_Lib_motor_dq_sub_msp",
    .inputs = kInputs,
    .outputs = kOutputs,
    .sampleTimes = kSampleTimes,
    .numContStates = static_cast<int>(model::kNumContinuousStates),
    .numArguments = 17,
    .outputArguments = kOutputArguments,
    .mdlrefDWBytes = model::kMdlrefDWBytes,
    .rtbOffset = offsetof(WorkRecord, rtb),
    .rtbBytes = sizeof(model::Rtb),
    .rtdwMembers = kRtdwMembers,
    .simStateChecksum = {0x5A84F6D9u, 0x76F993F3u, 0x895AAAB1u, 0x5EBD401Eu},
    .identifiers = &kIdentifiers,
    .outputOptimOpts = 3,
    .outputReuseSetting = 3,
    .isPlant = true,
    .entry = {initialize, systemInitialize, systemReset, outputs, parameterSetup, update, derivatives, terminate,
              mapInfo},
};
static_assert(validBlockTable(kBlockTable));

QEL_PLUGIN_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    qelframe::mexEntry(nlhs, plhs, nrhs, prhs);
}

QEL_PLUGIN_EXPORT void mexfilerequiredapiversion(uint32_t* release, uint32_t* apiVersion) {
    qelframe::requiredApiVersion(release, apiVersion);
}

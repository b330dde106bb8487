// The dq velocity controller's plug-in: its block table, the adapters from the frame's fetched inputs,
// outputs and arguments to the model's entry functions, and the two exports.
#include <cstddef>
#include <iterator>

#include "controllers/Qel_Lib_wexa_velocity_controller_dq_sub.h"
#include "frame/block_table.h"
#include "frame/entry.h"
#include "frame/identifiers.h"

namespace {

namespace model = Qel_Lib_wexa_velocity_controller_dq_sub;
using model::WorkRecord;

WorkRecord* recordOf(void* workRecord) { return static_cast<WorkRecord*>(workRecord); }

void initialize(SimStruct* block, const int32_t* g, void* workRecord, double*, void* context, int32_t contextTid) {
    WorkRecord* r = recordOf(workRecord);
    model::modelInitialize(block, g[0], g[1], g[2], &r->instance, &r->rtb, &r->rtdw, context, contextTid,
                           nullptr, nullptr, 0, -1);
}

void systemInitialize(void* workRecord, double*) { model::modelSystemInitialize(&recordOf(workRecord)->rtdw); }

void systemReset(void* workRecord, double*) { model::modelSystemReset(&recordOf(workRecord)->rtdw); }

void outputs(void* workRecord, const double* const* u, double* const* y, const double*, const double* const* a) {
    WorkRecord* r = recordOf(workRecord);
    model::modelOutputs(&r->instance, *u[0], *u[1], *u[2], u[3], *u[4], y[0], &r->rtb, &r->rtdw, *a[0], *a[1],
                        *a[3], *a[4], *a[5], *a[6], *a[7], *a[9]);
}

void parameterSetup(void* workRecord, const double* const* a) {
    model::modelParameterSetup(&recordOf(workRecord)->rtb, *a[2], *a[8], *a[9]);
}

void update(void* workRecord) {
    WorkRecord* r = recordOf(workRecord);
    model::modelUpdate(&r->instance, &r->rtb, &r->rtdw);
}

void terminate(void* workRecord) { model::modelTerminate(&recordOf(workRecord)->instance); }

ModelMapInfo* mapInfo(void* workRecord) { return &recordOf(workRecord)->instance.mapInfo; }

constexpr BlockPort kInputs[] = {
    {1, 1e-4},   // speedReference
    {1, 1e-4},   // currentFeedForward
    {1, 1e-4},   // speedMeasured
    {3, 1e-4},   // phaseCurrents
    {1, 1e-4},   // electricalAngle
};
constexpr BlockPort kOutputs[] = {
    {3, 1e-4},   // phaseOutputs
};
constexpr double kSampleTimes[] = {1e-5, 1e-4, kConstantRate};
constexpr int kOutputArguments[] = {0, 1, 3, 4, 5, 6, 7, 9};
constexpr size_t kRtdw = offsetof(WorkRecord, rtdw);
constexpr RtdwMember kRtdwMembers[] = {
    {kRtdw + offsetof(model::Rtdw, speedIntegratorState), sizeof(model::Rtdw::speedIntegratorState)},
    {kRtdw + offsetof(model::Rtdw, integratorStateQ), sizeof(model::Rtdw::integratorStateQ)},
    {kRtdw + offsetof(model::Rtdw, integratorStateD), sizeof(model::Rtdw::integratorStateD)},
    {kRtdw + offsetof(model::Rtdw, saturatedHighPrev), sizeof(model::Rtdw::saturatedHighPrev)},
    {kRtdw + offsetof(model::Rtdw, saturatedLowPrev), sizeof(model::Rtdw::saturatedLowPrev)},
};
constexpr BlockIdentifiers kIdentifiers(model::kModelName, 21, 11, static_cast<int>(std::size(kRtdwMembers)));

}  // namespace

constexpr BlockTable kBlockTable = {
    .modelName = model::kModelName,
    .pluginName = "Qel_Lib_wexa_velocity_controller_dq_sub_msp",
    .inputs = kInputs,
    .outputs = kOutputs,
    .sampleTimes = kSampleTimes,
    .numContStates = 0,
    .numArguments = 10,
    .outputArguments = kOutputArguments,
    .mdlrefDWBytes = model::kMdlrefDWBytes,
    .rtbOffset = offsetof(WorkRecord, rtb),
    .rtbBytes = sizeof(model::Rtb),
    .rtdwMembers = kRtdwMembers,
    .simStateChecksum = {0xD0143005u, 0x4FEE621Bu, 0x73C5AF38u, 0xF976D4AEu},
    .identifiers = &kIdentifiers,
    .outputOptimOpts = 3,
    .outputReuseSetting = 3,
    .isPlant = false,
    .entry = {initialize, systemInitialize, systemReset, outputs, parameterSetup, update, nullptr, terminate, mapInfo},
};
static_assert(validBlockTable(kBlockTable));

QEL_PLUGIN_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    qelframe::mexEntry(nlhs, plhs, nrhs, prhs);
}

QEL_PLUGIN_EXPORT void mexfilerequiredapiversion(uint32_t* release, uint32_t* apiVersion) {
    qelframe::requiredApiVersion(release, apiVersion);
}

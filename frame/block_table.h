// What one plug-in tells the frame about its model. The frame (registration, run-time methods,
// simulation state, entry) is written once and reads everything that differs between the eight
// blocks from one constant BlockTable per plug-in; blocks/<model>_msp/ defines it as `kBlockTable`
// together with the small adapters that call the model's entry functions.
//
// Anything a model lacks is empty or null: the controllers have no continuous states and no
// derivatives adapter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include "frame/host_interface.h"

struct ModelMapInfo;
class BlockIdentifiers;

// A period of +infinity in a table stands for the constant rate; registration writes the host's
// own infinity (mxGetInf_800) in its place.
inline constexpr double kConstantRate = std::numeric_limits<double>::infinity();

struct BlockPort {
    int width;              // number of doubles
    double sampleTime;      // offset 0
};

// One member of the model's rtdw record, saved byte for byte in the simulation state.
struct RtdwMember {
    size_t offset;          // from the start of the work record mdlrefDW
    size_t bytes;           // 8 for a double, 1 for a boolean
};

// The adapters between the frame and the model's entry functions. `workRecord` is the block's
// mdlrefDW (rtb, rtdw, then the ModelInstance). Inputs, outputs and arguments arrive as the
// frame fetched them from the host, indexed by port and argument number; they are valid for
// this call only. An argument below numArguments that the call did not fetch is null; nothing
// beyond the table's ports and arguments is filled in.
struct ModelEntry {
    // globalTid holds one task id per rate, rate 0 first; x is the continuous-state vector.
    void (*initialize)(SimStruct* block, const int32_t* globalTid, void* workRecord, double* x, void* context,
                       int32_t contextTid);
    void (*systemInitialize)(void* workRecord, double* x);
    void (*systemReset)(void* workRecord, double* x);
    void (*outputs)(void* workRecord, const double* const* u, double* const* y, const double* x,
                    const double* const* a);
    void (*parameterSetup)(void* workRecord, const double* const* a);
    void (*update)(void* workRecord);
    void (*derivatives)(const void* workRecord, double* dX);   // null: the model has no continuous states
    void (*terminate)(void* workRecord);
    ModelMapInfo* (*mapInfo)(void* workRecord);                // the instance's signal and state map
};

// Upper bounds of the frame's fixed fetch buffers; validBlockTable checks a table against them.
inline constexpr size_t kMaxPorts = 8;
inline constexpr size_t kMaxArguments = 32;
inline constexpr size_t kMaxRates = 4;
inline constexpr size_t kMaxRtdwMembers = 16;

struct BlockTable {
    const char* modelName;                      // "Qel_Lib_wexa_current_controller_sub"
    const char* pluginName;                     // the plug-in's file name without extension
    std::span<const BlockPort> inputs;
    std::span<const BlockPort> outputs;
    std::span<const double> sampleTimes;        // one per model rate, in rate order
    int numContStates;
    int numArguments;                           // fetched by the output method: a0 .. a(n-1)
    std::span<const int> outputArguments;       // those modelOutputs uses, ascending (periodic method)
    size_t mdlrefDWBytes;
    size_t rtbOffset;
    size_t rtbBytes;
    std::span<const RtdwMember> rtdwMembers;
    uint32_t simStateChecksum[4];
    const BlockIdentifiers* identifiers;        // identifier list and simulation-state field names
    uint8_t outputOptimOpts;                    // output optimisation option of every output port
    uint8_t outputReuseSetting;                 // the two-bit setting made after code 141
    bool isPlant;                               // block-rate test, continuous bookkeeping flags
    ModelEntry entry;
};

// Defined by the plug-in's block directory; the host-facing methods of the frame act on it.
extern const BlockTable kBlockTable;

// Checks, at compile time in each block directory, that a table fits the frame's buffers.
constexpr bool validBlockTable(const BlockTable& table) {
    if (table.inputs.size() > kMaxPorts || table.outputs.size() > kMaxPorts) return false;
    if (table.sampleTimes.empty() || table.sampleTimes.size() > kMaxRates) return false;
    if (table.numArguments < 0 || static_cast<size_t>(table.numArguments) > kMaxArguments) return false;
    for (int k : table.outputArguments)
        if (k < 0 || k >= table.numArguments) return false;
    for (size_t i = 1; i < table.outputArguments.size(); ++i)
        if (table.outputArguments[i] <= table.outputArguments[i - 1]) return false;
    if (table.rtdwMembers.size() > kMaxRtdwMembers) return false;
    if (table.rtbOffset + table.rtbBytes > table.mdlrefDWBytes) return false;
    for (const RtdwMember& member : table.rtdwMembers)
        if (member.bytes == 0 || member.offset + member.bytes > table.mdlrefDWBytes) return false;
    if ((table.numContStates > 0) != (table.entry.derivatives != nullptr)) return false;
    // Only the adapters are checked for presence: comparing the address of a variable is no
    // constant expression in sanitizer builds.
    return table.entry.initialize != nullptr && table.entry.systemInitialize != nullptr &&
           table.entry.systemReset != nullptr && table.entry.outputs != nullptr &&
           table.entry.parameterSetup != nullptr && table.entry.update != nullptr &&
           table.entry.terminate != nullptr && table.entry.mapInfo != nullptr;
}

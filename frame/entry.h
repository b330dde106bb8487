// The plug-in's entry point: the sizes call (from the MATLAB command line, or from the host with
// its block structure) with its argument checks, and the host's run-time calls by method flag.
#pragma once

#include <cstdint>

#include "frame/block_table.h"
#include "frame/host_interface.h"

// The two functions a plug-in exports; everything else stays hidden.
#define QEL_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace qelframe {

inline constexpr uint32_t kBuiltWithRelease = 0x2019B;
inline constexpr uint32_t kTargetApiVersion = 0x08000000;   // the _800 generation of the imports
inline constexpr uint32_t kOptionsReportedBit = 0x2000;
inline constexpr double kHostCallMarkerValue = 8480229.0;

// Both act on the plug-in's own kBlockTable: the method slots they fill are bound to it.
void mexEntry(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void requiredApiVersion(uint32_t* release, uint32_t* apiVersion);

}  // namespace qelframe

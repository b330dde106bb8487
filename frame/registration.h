// Block registration: what a block declares to the host (ports, widths, sample times, states, the
// work record, options) in the sizes method, and the sample-time and work-width methods.
#pragma once

#include "frame/block_table.h"
#include "frame/host_interface.h"

namespace qelframe {

inline constexpr uint32_t kOptionsWord = 0x68000822u;
inline constexpr int kCustomSimStateCompliance = 3;
inline constexpr char kHostInterfaceVersion[] = "10.0";

// Stops silently, leaving the registration partial, at the first step the host refuses.
void mdlInitializeSizes(const BlockTable& table, SimStruct* block);
void mdlInitializeSampleTimes(const BlockTable& table, SimStruct* block);
void mdlSetWorkWidths(const BlockTable& table, SimStruct* block);

}  // namespace qelframe

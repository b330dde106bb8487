// The block's simulation state: packing rtb, every rtdw member, the continuous states and the
// next-hit bookkeeping into a host struct and back, byte for byte; and the two registrations
// that identify the layout to the host (the checksum and the identifier list).
//
// The saved struct, field by field: "localX" (continuous-state bytes, plants only), "mdlrefDW"
// (a struct of "rtb" bytes, an "rtdw" struct of one byte row per member, and "NULL->rtzce"),
// "disallowedStateData", "tNext", "tNextTid", "nonContDerivSigInfoPrevVal". Fields the model
// does not fill stay empty.
#pragma once

#include <cstddef>

#include "frame/block_table.h"
#include "frame/host_interface.h"

namespace qelframe {

inline constexpr char kInvalidSimStateFormat[] =
    "<diag_root><diag id=\"Simulink:SFunctions:SimStructSimStateLayoutMismatch\"><arguments>"
    "<arg type=\"string\">%s</arg><arg type=\"string\">%s</arg><arg type=\"string\">%s</arg>"
    "</arguments></diag></diag_root>";

// The state of `block` as a new host struct.
mxArray* mdlGetSimState(const BlockTable& table, SimStruct* block);

// Restores a state made by mdlGetSimState. The whole struct is checked first: a missing field, a
// wrong class or a byte count other than the layout's sets the error status (naming the plug-in,
// the field and the problem) and leaves every state of the block as it was.
void mdlSetSimState(const BlockTable& table, SimStruct* block, const mxArray* state);

// The "mdlrefDW" struct of a work record, and its restoration (the struct must have been checked).
mxArray* getDWork(const BlockTable& table, const void* workRecord);
void setDWork(const BlockTable& table, void* workRecord, const mxArray* dwork);

// Stores `bytes` bytes of `source` as a 1×bytes unsigned 8-bit row in field `field` of element
// `element`, and copies them back.
void cacheDataAsMxArray(mxArray* structArray, size_t element, int field, const void* source, size_t bytes);
void restoreDataFromMxArray(void* destination, const mxArray* structArray, size_t element, int field, size_t bytes);

// No block of any model is excluded from the state.
mxArray* getSimStateDisallowedBlocks();

void registerSimStateChecksum(const BlockTable& table, SimStruct* block);

// Hands the host the identifier list (dispatcher codes 239 and 72); true when it accepted it.
bool registerIdentifierList(const BlockTable& table, SimStruct* block);

}  // namespace qelframe

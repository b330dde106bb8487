// The plug-ins' numbering of array classes and complexity, spelled without the host interface's
// type names: the bridge also includes Octave's mex.h, which declares mxArray, mxClassID and
// mxComplexity itself. plugin_array_types_check.cpp holds these to frame/host_interface.h.
#pragma once

namespace qeloctave {

enum class PluginClassId : int {
    kUnknown = 0,
    kCell = 1,
    kStruct = 2,
    kLogical = 3,
    kChar = 4,
    kVoid = 5,
    kDouble = 6,
    kSingle = 7,
    kInt8 = 8,
    kUint8 = 9,
    kInt16 = 10,
    kUint16 = 11,
    kInt32 = 12,
    kUint32 = 13,
    kInt64 = 14,
    kUint64 = 15,
    kFunction = 16,
};

enum class PluginComplexity : int {
    kReal = 0,
    kComplex = 1,
};

}  // namespace qeloctave

// Compile-time proof that the bridge's class and complexity numbers are the plug-ins' own. This
// file sees only the host interface, never Octave's headers.
#include "frame/host_interface.h"
#include "octave/plugin_array_types.h"

namespace {

using qeloctave::PluginClassId;
using qeloctave::PluginComplexity;

constexpr bool same(mxClassID plugin, PluginClassId bridge) {
    return static_cast<int>(plugin) == static_cast<int>(bridge);
}

static_assert(same(mxUNKNOWN_CLASS, PluginClassId::kUnknown));
static_assert(same(mxCELL_CLASS, PluginClassId::kCell));
static_assert(same(mxSTRUCT_CLASS, PluginClassId::kStruct));
static_assert(same(mxLOGICAL_CLASS, PluginClassId::kLogical));
static_assert(same(mxCHAR_CLASS, PluginClassId::kChar));
static_assert(same(mxVOID_CLASS, PluginClassId::kVoid));
static_assert(same(mxDOUBLE_CLASS, PluginClassId::kDouble));
static_assert(same(mxSINGLE_CLASS, PluginClassId::kSingle));
static_assert(same(mxINT8_CLASS, PluginClassId::kInt8));
static_assert(same(mxUINT8_CLASS, PluginClassId::kUint8));
static_assert(same(mxINT16_CLASS, PluginClassId::kInt16));
static_assert(same(mxUINT16_CLASS, PluginClassId::kUint16));
static_assert(same(mxINT32_CLASS, PluginClassId::kInt32));
static_assert(same(mxUINT32_CLASS, PluginClassId::kUint32));
static_assert(same(mxINT64_CLASS, PluginClassId::kInt64));
static_assert(same(mxUINT64_CLASS, PluginClassId::kUint64));
static_assert(same(mxFUNCTION_CLASS, PluginClassId::kFunction));
static_assert(static_cast<int>(mxREAL) == static_cast<int>(PluginComplexity::kReal));
static_assert(static_cast<int>(mxCOMPLEX) == static_cast<int>(PluginComplexity::kComplex));
// The enums travel by value through the extern "C" functions: same size, same register.
static_assert(sizeof(mxClassID) == sizeof(PluginClassId));
static_assert(sizeof(mxComplexity) == sizeof(PluginComplexity));

}  // namespace

// The names of the eight blocks as qelsim shows them: ports, model arguments, continuous states
// and record fields, each in the block's own order. The catalogue holds names and shapes only;
// sample times, states and sizes are always taken from the plug-in's own registration, and a test
// checks that every entry agrees with what its plug-in registers.
#pragma once

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace qelsim {

struct PortInfo {
    std::string_view name;
    int width;
};

struct ArgumentInfo {
    std::string_view name;
    int width;   // 120 for the angle error table of the motor plants, else 1
};

struct FieldInfo {
    std::string_view name;
    bool isBoolean;   // one byte; otherwise a double
};

struct BlockInfo {
    std::string_view modelName;                  // "Qel_Lib_wexa_current_controller_sub"
    std::string_view description;                // one line
    std::span<const PortInfo> inputs;
    std::span<const PortInfo> outputs;
    std::span<const ArgumentInfo> arguments;     // in the order the host delivers them
    std::span<const std::string_view> stateNames;   // continuous states in order (plants), else empty
    std::span<const FieldInfo> rtbFields;        // record order
    std::span<const FieldInfo> rtdwFields;       // record order
};

// All eight blocks: the two plants first, then the controllers.
std::span<const BlockInfo> blockCatalog();

// The block of a model name, given with or without the plug-in suffix "_msp"; null if unknown.
const BlockInfo* findBlock(std::string_view modelOrPluginName);

// The plug-in's name: the model name with "_msp".
std::string pluginName(const BlockInfo& block);

// Byte offset of field `index` within its record: doubles first, then the one-byte booleans, each
// at its natural alignment.
std::size_t fieldOffset(std::span<const FieldInfo> fields, std::size_t index);
// Byte size of a record, padded to a multiple of 8 as the simulation state caches it.
std::size_t recordBytes(std::span<const FieldInfo> fields);

// Sum of the widths: the number of doubles of all ports, or of all argument values.
int totalWidth(std::span<const PortInfo> ports);
int totalWidth(std::span<const ArgumentInfo> arguments);

// Where the plug-ins of a build tree lie, seen from the executable: <exe dir>/../plugins.
std::filesystem::path defaultPluginDir(const char* argv0);
// The plug-in file of a block in a plug-in directory: <dir>/<model>_msp.mexa64.
std::filesystem::path pluginPath(const std::filesystem::path& dir, const BlockInfo& block);

}  // namespace qelsim

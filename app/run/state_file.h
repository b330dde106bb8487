// The saved state of a run in one MAT file: the engine's own state (step, step size, every
// signal value) and every plug-in block's simulation state as its get method made it. A block's
// state is a tree of host arrays whose field names need not be MATLAB names, so each struct is
// stored as a pair of cells, its field names and its field values; numeric arrays keep their
// class, shape and bytes, and an absent field is an empty cell. The file loads in MATLAB and
// Octave as the struct `qelState`.
#pragma once

#include <filesystem>
#include <string>

#include "host/engine/engine.h"

namespace qelsim::run {

void writeStateFile(const std::filesystem::path& file, const std::string& scenarioName, const qelengine::EngineState& state);

// InputError naming the file and the item when it is not a state this program wrote.
qelengine::EngineState readStateFile(const std::filesystem::path& file);

}  // namespace qelsim::run

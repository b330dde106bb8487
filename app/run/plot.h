// The picture of a run: one panel per plot panel of the plan, stacked over a common time axis,
// references dashed against what tracks them, a legend in every panel. PNG through PLplot's
// cairo driver.
#pragma once

#include <filesystem>

#include "app/run/run_plan.h"
#include "host/engine/engine.h"

namespace qelsim::run {

// InputError naming the file when PLplot cannot produce it.
void writePlot(const std::filesystem::path& file, const RunPlan& plan, const qelengine::SignalLog& log);

}  // namespace qelsim::run

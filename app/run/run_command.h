// qelsim run: a closed-loop drive simulation from a scenario, with its signals (CSV and MAT), a
// plot, a summary, and optionally a saved state to continue from.
#pragma once

// argv[0] is the command's own name ("run"). Returns the process exit code.
int runCommand(int argc, char** argv);

namespace qelsim::run {

extern const char* const kRunHelp;

}  // namespace qelsim::run

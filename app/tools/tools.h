// qelsim's block tools: list the blocks, describe one, show its sizes column, trace it through
// the rows of a CSV file. Every one of them reaches a block only through its plug-in, loaded into
// the stand-in host.
#pragma once

#include <ostream>
#include <span>
#include <string>

namespace qelsim {

// Where a command writes, and the program path that locates the default plug-in directory.
struct Console {
    std::ostream& out;
    std::ostream& err;
    const char* argv0 = nullptr;
};

// Each command takes the words after its name and returns the process exit code. Results go to
// `out`; a failure is one line on `err` naming what is wrong and where.
int blocksCommand(std::span<const std::string> args, const Console& console);
int infoCommand(std::span<const std::string> args, const Console& console);
int sizesCommand(std::span<const std::string> args, const Console& console);
int traceCommand(std::span<const std::string> args, const Console& console);

// Help of each command, printed for `qelsim <command> --help`.
extern const char* const kBlocksHelp;
extern const char* const kInfoHelp;
extern const char* const kSizesHelp;
extern const char* const kTraceHelp;

}  // namespace qelsim

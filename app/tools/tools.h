// qelsim's block tools: list the blocks, describe one, show its sizes column, trace it through
// the rows of a CSV file. Every one of them reaches a block only through its plug-in, loaded into
// the stand-in host.
#pragma once

#include <filesystem>
#include <ostream>
#include <span>
#include <string>

#include "app/common/block_catalog.h"

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

// The work of each command, for callers that have parsed the command line themselves. They throw
// ToolError (app/tools/trace_csv.h) with the one-line message of a failure.
void listBlocks(const std::filesystem::path& pluginDir, std::ostream& out);
void describeBlock(const BlockInfo& block, const std::filesystem::path& pluginDir, std::ostream& out);
void printSizes(const BlockInfo& block, const std::filesystem::path& pluginDir, std::ostream& out);
// Drives the block through the rows of `inFile` and writes `outFile` only when every row is done.
void traceBlock(const BlockInfo& block, const std::filesystem::path& pluginDir,
                const std::filesystem::path& inFile, const std::filesystem::path& outFile);

// Help of each command, printed for `qelsim <command> --help`.
extern const char* const kBlocksHelp;
extern const char* const kInfoHelp;
extern const char* const kSizesHelp;
extern const char* const kTraceHelp;

}  // namespace qelsim

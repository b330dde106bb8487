// The CSV side of `qelsim trace`: the column names of a block's input and output files, reading
// an input file into values, and writing numbers the way every qel tool prints them.
#pragma once

#include <cstdio>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/common/block_catalog.h"

namespace qelsim {

// A failure the tools report as one line; the text names what is wrong and where.
class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Column names of a group of values: `name` for width 1, `name[0]` .. `name[w-1]` otherwise.
void appendElementNames(std::vector<std::string>& names, std::string_view name, int width);

// Input columns of a trace, in canonical order: input ports, model arguments, then x[0] ..
// x[n-1] for the n continuous states.
std::vector<std::string> traceInputColumns(const BlockInfo& block, int numContStates);
// Output columns: k, output ports, dx[0] .. dx[n-1], rtb.<field>, rtdw.<field>.
std::vector<std::string> traceOutputColumns(const BlockInfo& block, int numContStates);

// The rows of an input file, each holding the values of `columns` in that order whatever the
// file's column order. Throws ToolError naming the line, row and column of the first fault: a
// missing, unknown or repeated column, a value that strtod does not read whole, or a row with
// fewer or more values than the header.
std::vector<std::vector<double>> readTraceInput(const std::filesystem::path& path,
                                                std::span<const std::string> columns);

// A double as the tools print it: %.17g, with nan, inf and -inf spelled out whatever the sign
// or payload of a NaN.
std::string formatDouble(double value);

// Writes a file next to its target and moves it in place only when complete, so a failed run
// leaves neither a partial file nor a changed old one.
class AtomicFile {
public:
    explicit AtomicFile(std::filesystem::path target);
    ~AtomicFile();   // removes the temporary file unless committed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    std::FILE* stream() { return file_; }
    // Flushes, closes and renames onto the target; throws ToolError on any write failure.
    void commit();

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    std::FILE* file_ = nullptr;
    bool committed_ = false;
};

}  // namespace qelsim

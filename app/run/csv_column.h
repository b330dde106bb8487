// One column of a CSV file against its time column, for the parent model's table source. The
// first line names the columns; every later line is one row of numbers (anything strtod reads
// whole, so nan and inf too).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qelsim::run {

struct CsvColumn {
    std::vector<double> times;
    std::vector<double> values;
};

// InputError naming the file, row and column for a missing file or column, a malformed number,
// a short row or times that do not increase. `timeColumn` empty: the first column.
CsvColumn readCsvColumn(const std::filesystem::path& file, const std::string& column, const std::string& timeColumn);

}  // namespace qelsim::run

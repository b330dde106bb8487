#include "app/run/csv_column.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "app/run/scenario.h"

namespace qelsim::run {
namespace {

std::vector<std::string> splitRow(const std::string& line) {
    std::vector<std::string> cells;
    size_t start = 0;
    while (true) {
        const size_t comma = line.find(',', start);
        std::string cell = line.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const size_t first = cell.find_first_not_of(" \t\r");
        const size_t last = cell.find_last_not_of(" \t\r");
        cells.push_back(first == std::string::npos ? std::string() : cell.substr(first, last - first + 1));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return cells;
}

bool readWhole(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size();
}

}  // namespace

CsvColumn readCsvColumn(const std::filesystem::path& file, const std::string& column, const std::string& timeColumn) {
    const std::string name = file.string();
    std::ifstream in(file);
    if (!in) throw InputError(name + ": cannot read the CSV file");
    std::string line;
    if (!std::getline(in, line)) throw InputError(name + ": the file is empty, expected a header line");
    const std::vector<std::string> header = splitRow(line);

    auto indexOf = [&](const std::string& wanted) -> size_t {
        for (size_t i = 0; i < header.size(); ++i) {
            if (header[i] == wanted) return i;
        }
        std::string known;
        for (const std::string& cell : header) known += (known.empty() ? "" : ", ") + cell;
        throw InputError(name + ":1: no column '" + wanted + "' (columns: " + known + ")");
    };
    const size_t timeIndex = timeColumn.empty() ? 0 : indexOf(timeColumn);
    const size_t valueIndex = indexOf(column);

    CsvColumn result;
    size_t row = 1;
    while (std::getline(in, line)) {
        ++row;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        const std::vector<std::string> cells = splitRow(line);
        const std::string where = name + ":" + std::to_string(row);
        if (cells.size() <= std::max(timeIndex, valueIndex)) {
            throw InputError(where + ": the row has " + std::to_string(cells.size()) + " cells, column '" +
                             header[std::max(timeIndex, valueIndex)] + "' is missing");
        }
        double time = 0.0;
        double value = 0.0;
        if (!readWhole(cells[timeIndex], time) || !std::isfinite(time)) {
            throw InputError(where + ": column '" + header[timeIndex] + "': '" + cells[timeIndex] + "' is not a finite number");
        }
        if (!readWhole(cells[valueIndex], value)) {
            throw InputError(where + ": column '" + header[valueIndex] + "': '" + cells[valueIndex] + "' is not a number");
        }
        if (!result.times.empty() && !(time > result.times.back())) {
            throw InputError(where + ": column '" + header[timeIndex] + "': the times do not increase");
        }
        result.times.push_back(time);
        result.values.push_back(value);
    }
    if (result.times.empty()) throw InputError(name + ": the file has no data row");
    return result;
}

}  // namespace qelsim::run

#include "app/tools/trace_csv.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <system_error>
#include <unistd.h>

namespace qelsim {
namespace {

std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    while (true) {
        const std::string::size_type comma = line.find(',', start);
        if (comma == std::string::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, comma - start));
        start = comma + 1;
    }
}

// Lines without their terminator; a CR before the LF is dropped too. A final line break does
// not start another (empty) line.
std::vector<std::string> readLines(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw ToolError(path.string() + ": cannot open for reading: " + std::strerror(errno));
    }
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    if (in.bad()) {
        throw ToolError(path.string() + ": read error");
    }
    return lines;
}

bool parseDouble(const std::string& text, double& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size();
}

}  // namespace

void appendElementNames(std::vector<std::string>& names, std::string_view name, int width) {
    if (width == 1) {
        names.emplace_back(name);
        return;
    }
    for (int i = 0; i < width; ++i) {
        names.push_back(std::string(name) + "[" + std::to_string(i) + "]");
    }
}

std::vector<std::string> traceInputColumns(const BlockInfo& block, int numContStates) {
    std::vector<std::string> columns;
    for (const PortInfo& port : block.inputs) {
        appendElementNames(columns, port.name, port.width);
    }
    for (const ArgumentInfo& argument : block.arguments) {
        appendElementNames(columns, argument.name, argument.width);
    }
    for (int i = 0; i < numContStates; ++i) {
        columns.push_back("x[" + std::to_string(i) + "]");
    }
    return columns;
}

std::vector<std::string> traceOutputColumns(const BlockInfo& block, int numContStates) {
    std::vector<std::string> columns{"k"};
    for (const PortInfo& port : block.outputs) {
        appendElementNames(columns, port.name, port.width);
    }
    for (int i = 0; i < numContStates; ++i) {
        columns.push_back("dx[" + std::to_string(i) + "]");
    }
    for (const FieldInfo& field : block.rtbFields) {
        columns.push_back("rtb." + std::string(field.name));
    }
    for (const FieldInfo& field : block.rtdwFields) {
        columns.push_back("rtdw." + std::string(field.name));
    }
    return columns;
}

std::vector<std::vector<double>> readTraceInput(const std::filesystem::path& path,
                                                std::span<const std::string> columns) {
    const std::string file = path.string();
    const std::vector<std::string> lines = readLines(path);
    if (lines.empty()) {
        throw ToolError(file + ": empty file, expected a header line");
    }

    // Where each file column's values go among `columns`.
    std::map<std::string, std::size_t, std::less<>> wanted;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        wanted.emplace(columns[i], i);
    }
    const std::vector<std::string> header = splitFields(lines[0]);
    std::vector<std::size_t> target(header.size());
    std::vector<bool> seen(columns.size(), false);
    for (std::size_t c = 0; c < header.size(); ++c) {
        const auto found = wanted.find(header[c]);
        if (found == wanted.end()) {
            throw ToolError(file + " line 1 (header), column " + std::to_string(c + 1) + " \"" +
                            header[c] + "\": unknown column");
        }
        if (seen[found->second]) {
            throw ToolError(file + " line 1 (header), column " + std::to_string(c + 1) + " \"" +
                            header[c] + "\": repeated column");
        }
        seen[found->second] = true;
        target[c] = found->second;
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (!seen[i]) {
            throw ToolError(file + " line 1 (header): missing column \"" + columns[i] + "\"");
        }
    }

    std::vector<std::vector<double>> rows;
    rows.reserve(lines.size() - 1);
    for (std::size_t l = 1; l < lines.size(); ++l) {
        const std::string where =
            file + " line " + std::to_string(l + 1) + " (row k=" + std::to_string(l - 1) + ")";
        const std::vector<std::string> fields = splitFields(lines[l]);
        if (fields.size() < header.size()) {
            throw ToolError(where + ", column " + std::to_string(fields.size() + 1) + " \"" +
                            header[fields.size()] + "\": short row, " +
                            std::to_string(fields.size()) + " of " + std::to_string(header.size()) +
                            " values");
        }
        if (fields.size() > header.size()) {
            throw ToolError(where + ", column " + std::to_string(header.size() + 1) + ": row has " +
                            std::to_string(fields.size()) + " values, the header " +
                            std::to_string(header.size()));
        }
        std::vector<double> row(columns.size());
        for (std::size_t c = 0; c < fields.size(); ++c) {
            if (!parseDouble(fields[c], row[target[c]])) {
                throw ToolError(where + ", column " + std::to_string(c + 1) + " \"" + header[c] +
                                "\": malformed value \"" + fields[c] + "\"");
            }
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string formatDouble(double value) {
    if (std::isnan(value)) {
        return "nan";
    }
    if (std::isinf(value)) {
        return value > 0 ? "inf" : "-inf";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

AtomicFile::AtomicFile(std::filesystem::path target) : target_(std::move(target)) {
    temporary_ = target_;
    temporary_ += ".tmp" + std::to_string(::getpid());
    file_ = std::fopen(temporary_.c_str(), "wb");
    if (file_ == nullptr) {
        throw ToolError(target_.string() + ": cannot create: " + std::strerror(errno));
    }
}

AtomicFile::~AtomicFile() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
    if (!committed_) {
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
    }
}

void AtomicFile::commit() {
    const bool writeFailed = std::ferror(file_) != 0;
    const bool closeFailed = std::fclose(file_) != 0;
    file_ = nullptr;
    if (writeFailed || closeFailed) {
        throw ToolError(target_.string() + ": write failed");
    }
    std::error_code error;
    std::filesystem::rename(temporary_, target_, error);
    if (error) {
        throw ToolError(target_.string() + ": cannot move the finished file in place: " +
                        error.message());
    }
    committed_ = true;
}

}  // namespace qelsim

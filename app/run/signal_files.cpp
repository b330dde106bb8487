#include "app/run/signal_files.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <system_error>
#include <unistd.h>

#include <matio.h>

#include "app/run/mat_file.h"
#include "app/run/scenario.h"

namespace qelsim::run {

PendingFile::PendingFile(std::filesystem::path target) : target_(std::move(target)) {
    temporary_ = target_.parent_path() / ("." + target_.filename().string() + ".part-" + std::to_string(::getpid()));
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : target_(std::move(other.target_)), temporary_(std::move(other.temporary_)), committed_(other.committed_) {
    other.committed_ = true;
}

PendingFile::~PendingFile() {
    if (committed_) return;
    std::error_code ignored;
    std::filesystem::remove(temporary_, ignored);
}

void PendingFile::commit() {
    std::error_code error;
    std::filesystem::rename(temporary_, target_, error);
    if (error) throw InputError(target_.string() + ": cannot write the file: " + error.message());
    committed_ = true;
}

std::string formatNumber(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

void writeSignalsCsv(const std::filesystem::path& file, const RunPlan& plan, const qelengine::SignalLog& log) {
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(file.c_str(), "w"), std::fclose);
    if (!out) throw InputError(file.string() + ": cannot create the file");
    std::string line = "time";
    for (const std::string& name : plan.columnNames) line += "," + name;
    line += "\n";
    std::fputs(line.c_str(), out.get());
    for (size_t row = 0; row < log.time.size(); ++row) {
        line = formatNumber(log.time[row]);
        for (int column = 0; column < log.columns; ++column) {
            line += ',';
            line += formatNumber(log.at(row, column));
        }
        line += '\n';
        std::fputs(line.c_str(), out.get());
    }
    if (std::ferror(out.get()) || std::fclose(out.release()) != 0) throw InputError(file.string() + ": cannot write the file");
}

void writeSignalsMat(const std::filesystem::path& file, const RunPlan& plan, const qelengine::SignalLog& log) {
    MatWriter writer(file);
    const size_t rows = log.time.size();
    writer.write(matDoubles("time", log.time, rows, 1));

    // signals.<block>.<port>, blocks and ports in the order they were first logged.
    auto blockOf = [](const std::string& name) { return name.substr(0, name.find('.')); };
    std::vector<std::string> blockNames;
    for (const LoggedSignal& signal : plan.logged) {
        const std::string block = blockOf(signal.name);
        if (std::find(blockNames.begin(), blockNames.end(), block) == blockNames.end()) blockNames.push_back(block);
    }
    std::vector<MatStructField> blocks;
    for (const std::string& block : blockNames) {
        std::vector<MatStructField> ports;
        for (const LoggedSignal& signal : plan.logged) {
            if (blockOf(signal.name) != block) continue;
            std::vector<double> columnMajor(rows * static_cast<size_t>(signal.width));
            for (int element = 0; element < signal.width; ++element) {
                for (size_t row = 0; row < rows; ++row) {
                    columnMajor[static_cast<size_t>(element) * rows + row] = log.at(row, signal.firstColumn + element);
                }
            }
            const std::string port = signal.name.substr(block.size() + 1);
            ports.push_back({port, matDoubles(port, columnMajor, rows, static_cast<size_t>(signal.width))});
        }
        blocks.push_back({block, matStruct(block, std::move(ports))});
    }
    writer.write(matStruct("signals", std::move(blocks)));
    writer.close();
}

}  // namespace qelsim::run

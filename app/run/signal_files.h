// The files a run leaves: each is written under a temporary name next to its target and renamed
// once complete, so that a failed run leaves no half-written file behind.
#pragma once

#include <filesystem>
#include <string>

#include "app/run/run_plan.h"
#include "host/engine/engine.h"

namespace qelsim::run {

// A file being written: `path()` is a temporary name in the target's folder. commit() renames it
// to the target; destroying it uncommitted removes the temporary file.
class PendingFile {
public:
    explicit PendingFile(std::filesystem::path target);
    ~PendingFile();
    PendingFile(PendingFile&&) noexcept;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    PendingFile& operator=(PendingFile&&) = delete;

    const std::filesystem::path& path() const { return temporary_; }
    const std::filesystem::path& target() const { return target_; }
    // InputError naming the target when the rename fails.
    void commit();

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    bool committed_ = false;
};

// The shortest text that reads back as the same double; "nan", "inf", "-inf".
std::string formatNumber(double value);

// time, then every logged value, one row per logged step.
void writeSignalsCsv(const std::filesystem::path& file, const RunPlan& plan, const qelengine::SignalLog& log);

// A MAT file (version 5) with `time` (a column) and `signals`, a struct with one field per
// block holding one field per logged port: a matrix of one row per time and one column per
// element, e.g. signals.motor.measuredCurrent(:, 1), signals.positionReference.out.
void writeSignalsMat(const std::filesystem::path& file, const RunPlan& plan, const qelengine::SignalLog& log);

}  // namespace qelsim::run

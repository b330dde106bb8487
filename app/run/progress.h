// A progress bar on standard error for runs that take a while on a terminal; silent otherwise,
// so that logs and pipes stay clean.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace qelsim::run {

class Progress {
public:
    // `enabled` false: never draws (not a terminal, or the caller asked for quiet).
    Progress(bool enabled, int64_t firstStep, int64_t lastStep, double stepSize);
    ~Progress();
    void update(int64_t step);
    void finish();
    double elapsedSeconds() const;

private:
    using Clock = std::chrono::steady_clock;
    bool enabled_;
    bool drawn_ = false;
    int64_t firstStep_;
    int64_t lastStep_;
    double stepSize_;
    Clock::time_point start_;
    Clock::time_point lastDraw_;
};

// True when standard error is a terminal.
bool standardErrorIsTerminal();

}  // namespace qelsim::run

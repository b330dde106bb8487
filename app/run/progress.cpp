#include "app/run/progress.h"

#include <unistd.h>

namespace qelsim::run {
namespace {

// Runs shorter than this show no bar at all.
constexpr double kQuietSeconds = 1.0;
constexpr double kRedrawSeconds = 0.1;
constexpr int kBarWidth = 30;

}  // namespace

bool standardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

Progress::Progress(bool enabled, int64_t firstStep, int64_t lastStep, double stepSize)
    : enabled_(enabled), firstStep_(firstStep), lastStep_(lastStep), stepSize_(stepSize), start_(Clock::now()), lastDraw_(start_) {}

Progress::~Progress() { finish(); }

double Progress::elapsedSeconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

void Progress::update(int64_t step) {
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (std::chrono::duration<double>(now - start_).count() < kQuietSeconds) return;
    if (drawn_ && std::chrono::duration<double>(now - lastDraw_).count() < kRedrawSeconds) return;
    lastDraw_ = now;
    const int64_t total = lastStep_ - firstStep_;
    const double fraction = total > 0 ? static_cast<double>(step - firstStep_) / static_cast<double>(total) : 1.0;
    const int filled = static_cast<int>(fraction * kBarWidth);
    char bar[kBarWidth + 1];
    for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kBarWidth] = '\0';
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double simulated = static_cast<double>(step - firstStep_) * stepSize_;
    std::fprintf(stderr, "\r[%s] %3d%%  t = %.4g s  %.3g simulated s per s ", bar, static_cast<int>(fraction * 100.0),
                 static_cast<double>(step) * stepSize_, elapsed > 0.0 ? simulated / elapsed : 0.0);
    std::fflush(stderr);
    drawn_ = true;
}

void Progress::finish() {
    if (!drawn_) return;
    std::fprintf(stderr, "\r%*s\r", kBarWidth + 60, "");
    std::fflush(stderr);
    drawn_ = false;
}

}  // namespace qelsim::run

#include "app/run/plot.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include <plplot.h>

#include "app/run/scenario.h"

// PLplot loads its drivers through libltdl and the cairo driver's fonts through fontconfig; both
// keep process-wide caches they never free. Only a leak-checking build calls this.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\nleak:libltdl.so\n"; }

namespace qelsim::run {
namespace {

struct Rgb {
    int r, g, b;
};

// cmap0 entries: 0 background, 1 text and axes, 2 grid, 3 reference, then the line colours.
constexpr Rgb kBackground{255, 255, 255};
constexpr Rgb kForeground{40, 40, 40};
constexpr Rgb kGrid{200, 200, 200};
constexpr Rgb kReference{20, 20, 20};
constexpr std::array<Rgb, 8> kLineColours = {{
    {31, 119, 180}, {214, 39, 40}, {44, 160, 44}, {255, 127, 14}, {148, 103, 189}, {140, 86, 75}, {227, 119, 194}, {23, 190, 207},
}};
constexpr int kReferenceIndex = 3;
constexpr int kFirstLineIndex = 4;

// Layout in pixels: title band, panels with gaps (wider below a zoom, whose own time axis is
// labelled), the time axis band, the label band on the left and the legend band on the right.
constexpr int kWidthPixels = 1800;
constexpr int kTitlePixels = 90;
constexpr int kPanelPixels = 300;
constexpr int kGapPixels = 36;
constexpr int kZoomGapPixels = 80;
constexpr int kBottomPixels = 110;
constexpr int kLeftPixels = 140;
constexpr int kLegendPixels = 300;
constexpr double kCharacterScale = 0.55;

std::string axisLabel(const PlotPanelConfig& panel) {
    if (panel.unit.empty()) return panel.title;
    return panel.title + " [" + panel.unit + "]";
}

}  // namespace

void writePlot(const std::filesystem::path& file, const RunPlan& plan, const qelengine::SignalLog& log) {
    if (plan.panels.empty() || log.time.size() < 2) throw InputError(file.string() + ": nothing to plot");
    std::set<int> referenceColumns;
    for (const AnalysisConfig& config : plan.analysis) referenceColumns.insert(config.referenceColumn);

    const int numPanels = static_cast<int>(plan.panels.size());
    int heightPixels = kTitlePixels + kBottomPixels + kPanelPixels * numPanels;
    for (int p = 0; p + 1 < numPanels; ++p) heightPixels += plan.panels[static_cast<size_t>(p)].timeRange ? kZoomGapPixels : kGapPixels;

    plsdev("pngcairo");
    plsfnam(file.c_str());
    plspage(0.0, 0.0, kWidthPixels, heightPixels, 0, 0);
    plscmap0n(kFirstLineIndex + static_cast<int>(kLineColours.size()));
    plscol0(0, kBackground.r, kBackground.g, kBackground.b);
    plscol0(1, kForeground.r, kForeground.g, kForeground.b);
    plscol0(2, kGrid.r, kGrid.g, kGrid.b);
    plscol0(kReferenceIndex, kReference.r, kReference.g, kReference.b);
    for (size_t i = 0; i < kLineColours.size(); ++i) {
        plscol0(kFirstLineIndex + static_cast<int>(i), kLineColours[i].r, kLineColours[i].g, kLineColours[i].b);
    }
    plinit();
    pladv(0);
    plschr(0.0, kCharacterScale);

    // Legends stand right of the panels, where they hide no data.
    const double left = static_cast<double>(kLeftPixels) / kWidthPixels;
    const double right = 1.0 - static_cast<double>(kLegendPixels) / kWidthPixels;
    int panelTopPixels = kTitlePixels;

    const double runStart = log.time.front();
    const double runEnd = log.time.back();
    std::vector<double> times;
    std::vector<double> values;

    for (int p = 0; p < numPanels; ++p) {
        const PlotPanelConfig& panel = plan.panels[static_cast<size_t>(p)];
        double t0 = runStart;
        double t1 = runEnd;
        if (panel.timeRange) {
            t0 = std::max(panel.timeRange->first, runStart);
            t1 = std::min(panel.timeRange->second, runEnd);
            if (!(t1 > t0)) {
                t0 = runStart;
                t1 = runEnd;
            }
        }
        size_t first = 0;
        while (first < log.time.size() && log.time[first] < t0) ++first;
        size_t last = first;
        while (last < log.time.size() && log.time[last] <= t1) ++last;

        double low = INFINITY;
        double high = -INFINITY;
        for (const PlotLine& line : panel.lines) {
            for (size_t row = first; row < last; ++row) {
                const double value = log.at(row, line.column);
                if (!std::isfinite(value)) continue;
                low = std::min(low, value);
                high = std::max(high, value);
            }
        }
        if (!(low <= high)) {
            low = -1.0;
            high = 1.0;
        }
        const double span = high - low;
        const double margin = span > 0.0 ? 0.08 * span : std::max(1.0, std::fabs(high) * 0.1);
        low -= margin;
        high += margin;

        const double panelTop = 1.0 - static_cast<double>(panelTopPixels) / heightPixels;
        const double panelBottom = 1.0 - static_cast<double>(panelTopPixels + kPanelPixels) / heightPixels;
        panelTopPixels += kPanelPixels + (panel.timeRange ? kZoomGapPixels : kGapPixels);
        plvpor(left, right, panelBottom, panelTop);
        // A short zoom reads better in milliseconds.
        const double timeScale = panel.timeRange && t1 - t0 < 0.05 ? 1e3 : 1.0;
        plwind(t0 * timeScale, t1 * timeScale, low, high);
        plcol0(2);
        plwidth(0.5);
        pllsty(1);
        plbox("g", 0.0, 0, "g", 0.0, 0);
        plcol0(1);
        plwidth(1.0);
        const bool lastPanel = p == numPanels - 1;
        plbox(lastPanel || panel.timeRange ? "bcnst" : "bcst", 0.0, 0, "bcnstv", 0.0, 0);
        plmtex("l", 4.6, 0.5, 0.5, axisLabel(panel).c_str());
        if (panel.timeRange) {
            char zoom[64];
            std::snprintf(zoom, sizeof zoom, timeScale == 1.0 ? "zoom, time [s]" : "zoom, time [ms]");
            plmtex("t", 0.6, 1.0, 1.0, zoom);
        }
        if (lastPanel) plmtex("b", 2.8, 0.5, 0.5, "time [s]");

        std::vector<PLINT> optArray;
        std::vector<PLINT> textColours;
        std::vector<PLINT> lineColours;
        std::vector<PLINT> lineStyles;
        std::vector<PLFLT> lineWidths;
        std::vector<const char*> labels;
        int colour = 0;
        for (const PlotLine& line : panel.lines) {
            const bool isReference = referenceColumns.count(line.column) > 0;
            const int index = isReference ? kReferenceIndex : kFirstLineIndex + (colour++ % static_cast<int>(kLineColours.size()));
            const int style = isReference ? 2 : 1;
            const double width = isReference ? 1.8 : (panel.lines.size() > 2 ? 1.2 : 1.6);
            times.clear();
            values.clear();
            for (size_t row = first; row < last; ++row) {
                times.push_back(log.time[row] * timeScale);
                values.push_back(log.at(row, line.column));
            }
            plcol0(index);
            pllsty(style);
            plwidth(width);
            if (times.size() > 1) plline(static_cast<PLINT>(times.size()), times.data(), values.data());
            optArray.push_back(PL_LEGEND_LINE);
            textColours.push_back(1);
            lineColours.push_back(index);
            lineStyles.push_back(style);
            lineWidths.push_back(width);
            labels.push_back(line.label.c_str());
        }
        pllsty(1);
        plwidth(1.0);
        plcol0(1);
        PLFLT legendWidth = 0.0;
        PLFLT legendHeight = 0.0;
        const int n = static_cast<int>(labels.size());
        pllegend(&legendWidth, &legendHeight, PL_LEGEND_BACKGROUND | PL_LEGEND_BOUNDING_BOX,
                 PL_POSITION_RIGHT | PL_POSITION_OUTSIDE, 0.012, 0.0, 0.035, 0, 2, 1, n, 1, n,
                 optArray.data(), 1.0, kCharacterScale, 2.0, 0.0, textColours.data(), labels.data(), nullptr, nullptr, nullptr, nullptr,
                 lineColours.data(), lineStyles.data(), lineWidths.data(), nullptr, nullptr, nullptr, nullptr);
        if (p == 0) {
            plschr(0.0, kCharacterScale * 1.15);
            plmtex("t", 1.8, 0.0, 0.0, plan.plotTitle.c_str());
            plschr(0.0, kCharacterScale);
        }
    }
    plend();

    std::error_code error;
    if (!std::filesystem::exists(file, error) || std::filesystem::file_size(file, error) == 0) {
        throw InputError(file.string() + ": the plot could not be drawn (is the cairo driver of PLplot installed?)");
    }
}

}  // namespace qelsim::run

// The host's workflow: fractals of every bar, merged into weighted levels,
// rescaled, and the last close tested against them; all through the exports.
// No file or terminal is touched here, so any front end can compile it in:
// bars in (see bars.h), numbers out.
#ifndef TIDEMARK_ANALYSIS_ANALYSIS_H
#define TIDEMARK_ANALYSIS_ANALYSIS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bars.h"
#include "exports.h"

namespace tidemark::analysis {

using reader::Bar;
using reader::BarSeries;
using reader::Progress;

struct Settings {
    int32_t depth = 2;
    double tolerance = -1;  // below 0: kToleranceShare of the mean bar range
    int32_t mode = 1;
    int32_t span = 11;
    // Count the fractals that fed each level (Level::fractals); a screen,
    // which shows none, saves the sort this takes.
    bool count_fractals = true;
};

// The default tolerance as a share of the mean bar range (high - low).
constexpr double kToleranceShare = 0.5;

// 24 bytes, in this order: a long series has hundreds of thousands.
struct Fractal {
    std::size_t bar;   // index into the series, oldest first
    double price;      // the bar's high or low
    int32_t strength;  // 1 ... depth
    bool up;           // a high (up fractal) or a low (down fractal)
};

struct Level {
    double price;
    int32_t merged_weight;  // as Hlop wrote it back
    int32_t weight;         // after Resize
    int32_t fractals;       // how many fractals fed the level
};

struct Analysis {
    Settings settings;
    double mean_range = 0;
    double tolerance = 0;
    bool tolerance_given = false;
    std::vector<Fractal> fractals;  // in bar order
    int32_t up_count = 0, down_count = 0;
    std::vector<Level> levels;  // ascending price, Hlop's order
    // True when each level's fractal count is exact: the weights add in the
    // merge, so every level's weight is the sum of its fractals' strengths.
    bool counts_exact = false;
    double last_close = 0;
    int32_t close_level = -1;  // CheckLevel's answer: index into levels, or -1
    bool timed = false;        // the stopwatch could be created and started
    double seconds_fractals = 0, seconds_merge = 0, seconds_total = 0;
};

// Runs the workflow. bars must not be empty. Every number it reports comes
// from the library's exports except the mean range, the candidate list and
// the fractal counts per level, which are the host's bookkeeping.
Analysis analyse(const Exports& lib, const BarSeries& series, const Settings& settings,
                 const Progress& progress = nullptr);

// The mean of high - low over the bars; finite whenever every range is.
double mean_range(const std::vector<Bar>& bars);

// Each fractal counted for the level nearest its price; on a tie the lower
// level, as Hlop merges the lower of two equal gaps first. levels ascending.
void count_by_nearness(const std::vector<Fractal>& fractals, std::vector<Level>& levels);

// Indices of all levels, heaviest first: by merged weight, the lower price
// first on a tie.
std::vector<std::size_t> levels_by_weight(const Analysis& analysis);

// Indices (ascending) of the `count` heaviest levels: by merged weight, the
// lower price first on a tie. All of them when count is 0 or more than there
// are.
std::vector<std::size_t> heaviest_levels(const Analysis& analysis, std::size_t count);

}  // namespace tidemark::analysis

#endif

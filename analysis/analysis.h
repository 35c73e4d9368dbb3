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
#include "track_record.h"

namespace tidemark::analysis {

using reader::Bar;
using reader::BarSeries;
using reader::Progress;

struct Settings {
    int32_t depth = 2;
    double tolerance = -1;  // below 0: kToleranceShare of the mean bar range
    int32_t mode = 1;
    int32_t span = 11;
    // Which fractals fed each level: their count (Level::fractals) and the
    // levels' track records (Analysis::records). A screen or a walk, which
    // show neither, saves the work.
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
    // Parallel to levels when count_fractals: when each formed and how price
    // behaved at it since (track_record.h).
    std::vector<TrackRecord> records;
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
double mean_range(const Bar* bars, std::size_t count);

// The tolerance a run uses: the one given, or kToleranceShare of the mean
// bar range when none is (a negative one).
double tolerance_of(const Settings& settings, double mean_range);

// The fractals of every bar with depth neighbours on both sides, in bar
// order (a bar's up fractal first), through the exports.
std::vector<Fractal> find_fractals(const Exports& lib, const std::vector<Bar>& bars, int32_t depth,
                                   const Progress& progress = nullptr);

// When merges add weights, every level is a run of neighbouring candidates
// in price order whose strengths sum to its merged weight: lengths[k] is how
// many candidates level k took. strengths in the merge's order (by price,
// ties in bar order), merged as Hlop wrote them back. False when the
// weights do not split so (a merge that does not add, or weights saturated).
bool runs_by_weight(const int32_t* strengths, std::size_t count, const int32_t* merged, std::size_t levels,
                    std::vector<int32_t>& lengths);

// The level each fractal fed: read off the runs when the weights add (and
// then counts_exact is set), else the nearest level. -1 when there is none.
std::vector<int32_t> fractal_levels(Analysis& analysis);

// For each fractal the nearest level; on a tie the lower one. levels ascending.
std::vector<int32_t> nearest_levels(const std::vector<Fractal>& fractals, const std::vector<Level>& levels);

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

// The walk: for every bar of a series, the levels as a host calling the
// library at that bar's close would have had them, and where the close
// stood against them. Only the bars up to that one are used (or the last
// `window` of them): a fractal counts from the bar that confirms it (its bar
// + depth), and the default tolerance, the merge and the rescale come from
// those bars alone.
//
// By definition the row at bar t is walk_row_by_analysis: the one-shot
// analysis (analyse) of the bars in view at t and screen_row of it. walk
// gives the same rows, bit for bit, without redoing the whole analysis at
// every bar: it keeps the confirmed candidates sorted as bars arrive and
// leave, and redoes through the exports only the merging that a new or
// expiring candidate, or a new tolerance, can change.
//
// For another front end: walk(exports, series, settings, window) returns
// the rows of the bars from first_bar on (the bars before it have no level);
// row i belongs to bar first_bar + i. Each row is a ScreenRow
// (screen_row.h): bars in view, the bar's time and close, the tolerance,
// level_count, on_level / level_index / level / level_weight (CheckLevel's
// answer), below / above with their indices and weights after Resize, and
// distance_price / distance (in tolerances). walk_row_fields (result.h)
// names them as the command writes them.
#ifndef TIDEMARK_ANALYSIS_WALK_H
#define TIDEMARK_ANALYSIS_WALK_H

#include <cstddef>
#include <functional>
#include <vector>

#include "analysis.h"
#include "screen_row.h"

namespace tidemark::analysis {

struct Walk {
    std::size_t first_bar = 0;  // the first bar that has a level; the series' size when none has
    std::vector<ScreenRow> rows;
};

// Called for every bar from the first that has a level, in bar order.
using WalkSink = std::function<void(std::size_t bar, const ScreenRow& row)>;

// window: the levels of bar t come from its last `window` bars (0: all bars
// up to t). settings.count_fractals is not used. Progress comes as the
// stage "walking".
void walk(const Exports& lib, const BarSeries& series, const Settings& settings, std::size_t window,
          const WalkSink& sink, const Progress& progress = nullptr);
Walk walk(const Exports& lib, const BarSeries& series, const Settings& settings, std::size_t window = 0,
          const Progress& progress = nullptr);

// The row of bar t by its definition: analyse the bars in view at t (the
// last `window` up to t, or all up to t) and place its close.
ScreenRow walk_row_by_analysis(const Exports& lib, const BarSeries& series, const Settings& settings,
                               std::size_t window, std::size_t bar);

}  // namespace tidemark::analysis

#endif

// Where the last close stands against the levels, one row of a screen, and
// the cut of a series to the bars a run looks at.
#ifndef TIDEMARK_ANALYSIS_SCREEN_ROW_H
#define TIDEMARK_ANALYSIS_SCREEN_ROW_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "analysis.h"
#include "bars.h"

namespace tidemark::analysis {

// The bars analysed: from and to inclusive (a date alone as to takes in
// that whole day), then the last `last` of those.
struct Window {
    bool has_from = false, has_to = false;
    int64_t from = 0, to = 0;
    std::size_t last = 0;  // 0: all
};
// Cuts the series to the window. False, with the series untouched, when no
// bar is in it.
bool apply_window(BarSeries& series, const Window& window);

// The window's bounds from the texts a user gives (null: none), each read
// as the reader reads a bound (reader::parse_bound: any form a file's date
// takes, in the given day-month order; a date alone as `to` takes in that
// whole day, a month its whole month). False with why set (naming the
// option by the name given, and the options it suggests as spelling
// spells them) when a text is no such bound or from comes after to.
bool window_bounds(const std::string* from, const std::string* to, reader::DateOrder order, Window& window,
                   std::string& why, const char* from_name = "--from", const char* to_name = "--to",
                   const reader::OptionSpelling& spelling = reader::command_spelling());

// Where the last close stands, as one row of a screen.
struct ScreenRow {
    std::size_t bars = 0;
    int64_t last_time = 0;
    bool intraday = false;  // the series has times of day: dates are shown with them
    double last_close = 0;
    double tolerance = 0;
    bool on_level = false;  // CheckLevel found a level within the tolerance
    int32_t level_index = -1;
    double level = 0;          // CheckLevel's level, when on_level
    int32_t level_weight = 0;  // its weight after Resize, when on_level
    std::size_t level_count = 0;
    bool has_below = false, has_above = false;
    int32_t below_index = -1, above_index = -1;
    double below = 0, above = 0;  // the nearest level at or below / above the close
    int32_t below_weight = 0, above_weight = 0;  // their weights after Resize
    // |close - nearest level|, infinite when there is no level.
    double distance_price = 0;
    // The same in tolerances; not finite when there is no level, or the
    // tolerance is 0 and the close is on no level.
    double distance = 0;
};
ScreenRow screen_row(const BarSeries& series, const Analysis& analysis);

// The part of a row that the levels' prices give: where the close stands
// (level_count, on_level, level_index, level, below, above and the
// distances), with close_level CheckLevel's answer for it and prices as Hlop
// wrote them back. The weights and the bar are the caller's to fill.
ScreenRow place_close(double close, double tolerance, const double* prices, std::size_t count, int32_t close_level);

// Orders screen rows: finite distances first, nearest first; ties (and the
// rest) by file name.
bool screen_order(const ScreenRow& a, const std::string& a_file, const ScreenRow& b,
                  const std::string& b_file);

}  // namespace tidemark::analysis

#endif

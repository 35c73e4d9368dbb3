// The fields of a result, built once for every front end: the command's JSON
// and the Python package name and fill them the same way, each only choosing
// how to write a value down.
#ifndef TIDEMARK_ANALYSIS_RESULT_H
#define TIDEMARK_ANALYSIS_RESULT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis.h"
#include "bars.h"
#include "screen_row.h"

namespace tidemark::analysis {

struct Value {
    // A moment is a bar's time: shown as a date text (time_text) under the
    // field's key, which ends in "date", or as seconds since 1970 under the
    // key with "time" in place of "date" (moment_key).
    enum class Kind { null, flag, integer, number, text, moment };
    Kind kind = Kind::null;
    bool flag = false;
    int64_t integer = 0;  // also a moment's seconds
    double number = 0;
    bool intraday = false;  // a moment's series has times of day
    std::string text;
};

struct Field {
    const char* key;
    Value value;
};

// "first_date" -> "first_time", "date" -> "time".
std::string moment_key(const char* key);

// A run over a series: bar_count, bars_in_file (when given), file_order,
// intraday, first_date, last_date, the settings, mean_bar_range, tolerance
// and its rule, the fractal and candidate counts and level_count. A number
// that is not finite is null.
std::vector<Field> run_fields(const BarSeries& series, const Analysis& analysis,
                              const std::size_t* bars_in_file = nullptr);

// What reading the file passed over: duplicates_dropped (bars repeated
// exactly), null_rows_skipped, unknown_volumes, other_symbol_rows (of the
// symbols --symbol did not choose), name_rows_skipped (rows of names under
// the header), notes_skipped (lines that cannot be bars), close_column (null
// unless the close is the file's only close and not named close: an
// adjusted close, or a column of a table of closes), close_only (the bars
// are closes alone) and bar_period ("intraday", "daily", "weekly",
// "monthly" or "quarterly", as the dates are written).
std::vector<Field> reading_fields(const BarSeries& series);

// The bars' period as bar_period names it: "intraday", or as the dates are
// written.
const char* bar_period(const BarSeries& series);

// One sentence of the same for a report, or "" when nothing was passed over.
std::string reading_text(const BarSeries& series);

// One level: index, price, merged_weight, resized_weight, fractals and,
// when the analysis has them, its track record: formed_date,
// last_fractal_date, touches, held, broke and bars_since_touch (null before
// any touch).
std::vector<Field> level_fields(const BarSeries& series, const Analysis& analysis, std::size_t index);

// The last close of a run: date, price, level_index and the close fields.
std::vector<Field> last_close_fields(const ScreenRow& row);

// A screen's row: bars, last_date, last_close and the close fields.
std::vector<Field> screen_row_fields(const ScreenRow& row);

// A walk's row (walk.h): date, close, bars (in view), tolerance,
// level_count, on_level, level, level_weight, below, below_weight, above,
// above_weight, distance_price and distance; a level that is not there and
// its weight are null, and so is a distance without a level.
std::vector<Field> walk_row_fields(const ScreenRow& row);

}  // namespace tidemark::analysis

#endif

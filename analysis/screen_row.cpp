#include "screen_row.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace tidemark::analysis {

bool apply_window(BarSeries& series, const Window& window) {
    std::vector<Bar>& bars = series.bars;
    auto first = bars.begin(), last = bars.end();
    if (window.has_from)
        first = std::lower_bound(bars.begin(), bars.end(), window.from,
                                 [](const Bar& bar, int64_t t) { return bar.time < t; });
    if (window.has_to)
        last = std::upper_bound(first, bars.end(), window.to,
                                [](int64_t t, const Bar& bar) { return t < bar.time; });
    if (first >= last) return false;
    if (window.last > 0 && static_cast<std::size_t>(last - first) > window.last)
        first = last - static_cast<std::ptrdiff_t>(window.last);
    bars.erase(last, bars.end());
    bars.erase(bars.begin(), first);
    series.intraday = reader::intraday(reader::times_of(bars));
    return true;
}

ScreenRow screen_row(const BarSeries& series, const Analysis& a) {
    ScreenRow row;
    row.bars = series.bars.size();
    row.last_time = series.bars.back().time;
    row.intraday = series.intraday;
    row.last_close = a.last_close;
    row.tolerance = a.tolerance;
    row.on_level = a.close_level >= 0;
    if (row.on_level) {
        const Level& level = a.levels[static_cast<std::size_t>(a.close_level)];
        row.level_index = a.close_level;
        row.level = level.price;
        row.level_weight = level.weight;
    }
    // Levels are ascending: the first above the close, and the one before it.
    const auto above = std::upper_bound(a.levels.begin(), a.levels.end(), a.last_close,
                                        [](double price, const Level& level) { return price < level.price; });
    double nearest = std::numeric_limits<double>::infinity();
    if (above != a.levels.begin()) {
        row.has_below = true;
        row.below = (above - 1)->price;
        nearest = a.last_close - row.below;
    }
    if (above != a.levels.end()) {
        row.has_above = true;
        row.above = above->price;
        nearest = std::min(nearest, row.above - a.last_close);
    }
    row.distance = nearest == 0 ? 0.0 : nearest / a.tolerance;
    return row;
}

bool screen_order(const ScreenRow& a, const std::string& a_file, const ScreenRow& b,
                  const std::string& b_file) {
    const bool a_finite = std::isfinite(a.distance), b_finite = std::isfinite(b.distance);
    if (a_finite != b_finite) return a_finite;
    if (a_finite && a.distance != b.distance) return a.distance < b.distance;
    return a_file < b_file;
}

}  // namespace tidemark::analysis

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

bool window_bounds(const std::string* from, const std::string* to, reader::DateOrder order, Window& window,
                   std::string& why, const char* from_name, const char* to_name,
                   const reader::OptionSpelling& spelling) {
    window.has_from = from != nullptr;
    window.has_to = to != nullptr;
    // In every form a file's date takes, read by the reader's own rule.
    if (from != nullptr && !reader::parse_bound(*from, order, false, window.from, why, spelling)) {
        why = std::string(from_name) + ": " + why;
        return false;
    }
    if (to != nullptr && !reader::parse_bound(*to, order, true, window.to, why, spelling)) {
        why = std::string(to_name) + ": " + why;
        return false;
    }
    if (from != nullptr && to != nullptr && window.from > window.to) {
        why = std::string(from_name) + " is after " + to_name;
        return false;
    }
    return true;
}

ScreenRow place_close(double close, double tolerance, const double* prices, std::size_t count,
                      int32_t close_level) {
    ScreenRow row;
    row.last_close = close;
    row.tolerance = tolerance;
    row.level_count = count;
    row.on_level = close_level >= 0;
    if (row.on_level) {
        row.level_index = close_level;
        row.level = prices[close_level];
    }
    // Levels are ascending: the first above the close, and the one before it.
    const double* above = std::upper_bound(prices, prices + count, close);
    double nearest = std::numeric_limits<double>::infinity();
    if (above != prices) {
        row.has_below = true;
        row.below_index = static_cast<int32_t>(above - 1 - prices);
        row.below = above[-1];
        nearest = close - row.below;
    }
    if (above != prices + count) {
        row.has_above = true;
        row.above_index = static_cast<int32_t>(above - prices);
        row.above = *above;
        nearest = std::min(nearest, row.above - close);
    }
    row.distance_price = nearest;
    row.distance = nearest == 0 ? 0.0 : nearest / tolerance;
    return row;
}

ScreenRow screen_row(const BarSeries& series, const Analysis& a) {
    std::vector<double> prices(a.levels.size());
    for (std::size_t k = 0; k < prices.size(); ++k) prices[k] = a.levels[k].price;
    ScreenRow row = place_close(a.last_close, a.tolerance, prices.data(), prices.size(), a.close_level);
    row.bars = series.bars.size();
    row.last_time = series.bars.back().time;
    row.intraday = series.intraday;
    if (row.on_level) row.level_weight = a.levels[static_cast<std::size_t>(row.level_index)].weight;
    if (row.has_below) row.below_weight = a.levels[static_cast<std::size_t>(row.below_index)].weight;
    if (row.has_above) row.above_weight = a.levels[static_cast<std::size_t>(row.above_index)].weight;
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

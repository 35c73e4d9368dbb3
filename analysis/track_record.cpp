#include "track_record.h"

#include <algorithm>
#include <cstddef>

#include "analysis.h"

namespace tidemark::analysis {

Touch judge_touch(double previous_close, double close, double price, double tolerance) {
    if (previous_close > price) {
        if (close > price) return Touch::held;
        if (close < price - tolerance) return Touch::broke;
    } else if (previous_close < price) {
        if (close < price) return Touch::held;
        if (close > price + tolerance) return Touch::broke;
    }
    return Touch::neither;  // closed on the level, or came from it
}

std::vector<TouchAt> touches_of(const std::vector<reader::Bar>& bars, double price, int64_t formed,
                                 double tolerance) {
    std::vector<TouchAt> out;
    if (formed < 0) return out;
    for (auto b = static_cast<std::size_t>(formed) + 1; b < bars.size(); ++b)
        if (low_reaches(bars[b], price, tolerance) && high_reaches(bars[b], price, tolerance))
            out.push_back({b, judge_touch(bars[b - 1].close, bars[b].close, price, tolerance)});
    return out;
}

std::vector<TrackRecord> track_records(const std::vector<reader::Bar>& bars, const Analysis& a,
                                       const std::vector<int32_t>& level_of) {
    std::vector<TrackRecord> records(a.levels.size());
    const auto depth = static_cast<int64_t>(a.settings.depth);
    int64_t first = -1;  // the first bar any level formed at
    for (std::size_t i = 0; i < a.fractals.size(); ++i) {
        if (level_of[i] < 0) continue;
        TrackRecord& r = records[static_cast<std::size_t>(level_of[i])];
        const auto bar = static_cast<int64_t>(a.fractals[i].bar);
        if (r.formed < 0 || bar + depth < r.formed) r.formed = bar + depth;
        if (first < 0 || bar + depth < first) first = bar + depth;
        r.last_fractal = std::max(r.last_fractal, bar);
    }
    if (first < 0) return records;
    // The levels by price, so that each bar finds the ones its range reaches
    // by two searches. Both tests are monotonic in the price, so the levels
    // that pass both are one stretch of this order.
    std::vector<std::size_t> by_price(a.levels.size());
    for (std::size_t k = 0; k < by_price.size(); ++k) by_price[k] = k;
    std::stable_sort(by_price.begin(), by_price.end(),
                     [&](std::size_t x, std::size_t y) { return a.levels[x].price < a.levels[y].price; });
    const double tolerance = a.tolerance;
    for (auto b = static_cast<std::size_t>(first) + 1; b < bars.size(); ++b) {
        const reader::Bar& bar = bars[b];
        const auto begin = std::partition_point(by_price.begin(), by_price.end(), [&](std::size_t k) {
            return !low_reaches(bar, a.levels[k].price, tolerance);
        });
        const auto end = std::partition_point(begin, by_price.end(), [&](std::size_t k) {
            return high_reaches(bar, a.levels[k].price, tolerance);
        });
        for (auto it = begin; it != end; ++it) {
            TrackRecord& r = records[*it];
            if (static_cast<int64_t>(b) <= r.formed) continue;
            ++r.touches;
            r.last_touch = static_cast<int64_t>(b);
            switch (judge_touch(bars[b - 1].close, bar.close, a.levels[*it].price, tolerance)) {
                case Touch::held: ++r.held; break;
                case Touch::broke: ++r.broke; break;
                case Touch::neither: break;
            }
        }
    }
    return records;
}

}  // namespace tidemark::analysis

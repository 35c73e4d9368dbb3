#include "analysis.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <numeric>
#include <string>

#include "track_record.h"

namespace tidemark::analysis {

bool runs_by_weight(const int32_t* strengths, std::size_t count, const int32_t* merged, std::size_t levels,
                    std::vector<int32_t>& lengths) {
    // Every level is a run of neighbouring candidates in price order (a merge
    // joins neighbours and the survivor keeps its place) whose weight is the
    // sum of the run's strengths, all of them 1 or more, so the runs can be
    // read off exactly.
    lengths.assign(levels, 0);
    std::size_t next = 0;
    for (std::size_t k = 0; k < levels; ++k) {
        int64_t sum = 0;
        int32_t n = 0;
        while (sum < merged[k] && next < count) {
            sum += strengths[next++];
            ++n;
        }
        if (sum != merged[k]) return false;
        lengths[k] = n;
    }
    return next == count;
}

double mean_range(const Bar* bars, std::size_t count) {
    const auto n = static_cast<double>(count);
    const double sum = std::accumulate(bars, bars + count, 0.0,
                                       [](double s, const Bar& bar) { return s + (bar.high - bar.low); });
    if (std::isfinite(sum)) return sum / n;
    // Ranges near the largest double overflow the sum, not the mean.
    return std::accumulate(bars, bars + count, 0.0,
                           [n](double mean, const Bar& bar) { return mean + (bar.high - bar.low) / n; });
}

double mean_range(const std::vector<Bar>& bars) { return mean_range(bars.data(), bars.size()); }

double tolerance_of(const Settings& settings, double mean_range) {
    return settings.tolerance >= 0 ? settings.tolerance : kToleranceShare * mean_range;
}

std::vector<int32_t> nearest_levels(const std::vector<Fractal>& fractals, const std::vector<Level>& levels) {
    std::vector<int32_t> level_of(fractals.size(), -1);
    if (levels.empty()) return level_of;
    for (std::size_t i = 0; i < fractals.size(); ++i) {
        const double price = fractals[i].price;
        // Levels are in ascending price: the nearest is at or just below the
        // first level not under the fractal's price.
        const auto k = static_cast<std::size_t>(
            std::lower_bound(levels.begin(), levels.end(), price,
                             [](const Level& level, double p) { return level.price < p; }) -
            levels.begin());
        std::size_t best = k == levels.size() ? k - 1 : k;
        if (k > 0 && k < levels.size() && price - levels[k - 1].price <= levels[k].price - price) best = k - 1;
        level_of[i] = static_cast<int32_t>(best);
    }
    return level_of;
}

void count_by_nearness(const std::vector<Fractal>& fractals, std::vector<Level>& levels) {
    for (Level& level : levels) level.fractals = 0;
    for (int32_t k : nearest_levels(fractals, levels)) ++levels[static_cast<std::size_t>(k)].fractals;
}

std::vector<Fractal> find_fractals(const Exports& lib, const std::vector<Bar>& bars, int32_t depth,
                                   const Progress& progress) {
    std::vector<Fractal> fractals;
    const auto n = static_cast<int64_t>(bars.size());
    // Strength of every bar that has depth neighbours on both sides. shift is
    // the host's index, 0 the newest bar. The records go to the library a
    // block at a time, each block with its depth neighbours on either side
    // (all a fractal reads): the records of the whole series would take as
    // much memory again as the bars.
    constexpr int64_t kBlock = 1 << 16;
    // Not zeroed first: layout_records writes every byte of it.
    std::unique_ptr<unsigned char[]> window;
    std::size_t window_size = 0;
    for (int64_t first = depth; first < n - depth; first += kBlock) {
        const int64_t last = std::min<int64_t>(n - depth, first + kBlock);
        const int64_t base = first - depth;
        const auto count = static_cast<std::size_t>(last + depth - base);
        if (window_size < count * reader::kRecordBytes) {
            window.reset(new unsigned char[count * reader::kRecordBytes]);
            window_size = count * reader::kRecordBytes;
        }
        reader::layout_records(bars, static_cast<std::size_t>(base), count, window.get());
        const auto* record = reinterpret_cast<const BarRecord*>(window.get());
        for (int64_t shift = first; shift < last; ++shift) {
            const auto at = static_cast<int32_t>(shift - base);
            const int32_t up = lib.check_up_fractal(0, 0, record, depth, at);
            const int32_t down = lib.check_down_fractal(0, 0, record, depth, at);
            // Newest first for now, a bar's down fractal before its up one:
            // reversed below into bar order, up first.
            const auto i = static_cast<std::size_t>(n - 1 - shift);
            if (down >= 1) fractals.push_back({i, bars[i].low, down, false});
            if (up >= 1) fractals.push_back({i, bars[i].high, up, true});
        }
        if (progress) progress("fractals", static_cast<double>(last) / static_cast<double>(n));
    }
    std::reverse(fractals.begin(), fractals.end());
    return fractals;
}

Analysis analyse(const Exports& lib, const BarSeries& series, const Settings& settings,
                 const Progress& progress) {
    Analysis a;
    a.settings = settings;
    const std::vector<Bar>& bars = series.bars;
    const auto n = static_cast<int32_t>(bars.size());

    a.mean_range = mean_range(bars);
    a.tolerance_given = settings.tolerance >= 0;
    a.tolerance = tolerance_of(settings, a.mean_range);

    void* timer = lib.create_timer();
    a.timed = timer != nullptr && lib.start_timer(timer) != 0;
    a.fractals = find_fractals(lib, bars, settings.depth, progress);
    // One stopwatch runs through the whole workflow; the phases are
    // differences of readings, which never reset it.
    if (a.timed) a.seconds_fractals = lib.stop_timer(timer, 0);
    for (const Fractal& f : a.fractals) ++(f.up ? a.up_count : a.down_count);

    // Candidate levels: weight = strength, tag = the bar's index.
    std::vector<double> prices;
    std::vector<int32_t> weights, tags;
    prices.reserve(a.fractals.size());
    weights.reserve(a.fractals.size());
    tags.reserve(a.fractals.size());
    for (const Fractal& f : a.fractals) {
        prices.push_back(f.price);
        weights.push_back(f.strength);
        tags.push_back(n - 1 - static_cast<int32_t>(f.bar));
    }
    const auto count = static_cast<int32_t>(prices.size());

    if (progress) progress("merging", 0.0);  // one call: no finer progress to give
    const double before_merge = a.timed ? lib.stop_timer(timer, 0) : 0.0;
    lib.hlop(0, 0, prices.data(), weights.data(), tags.data(), count, a.tolerance, settings.mode);
    if (a.timed) a.seconds_merge = lib.stop_timer(timer, 0) - before_merge;

    // Survivors come first; every candidate weighs at least 1, so the zeroed
    // tail starts at the first zero weight.
    int32_t levels = 0;
    while (levels < count && weights[levels] != 0) ++levels;
    std::vector<int32_t> rescaled(weights.begin(), weights.begin() + levels);
    lib.resize(0, 0, settings.span, rescaled.data(), levels);
    a.last_close = bars.back().close;
    a.close_level = lib.check_level(0, 0, a.last_close, a.tolerance, prices.data(), levels);
    if (timer != nullptr) {
        const double total = lib.stop_timer(timer, 1);  // the last reading frees it
        if (a.timed) a.seconds_total = total;
    }

    for (int32_t k = 0; k < levels; ++k) a.levels.push_back({prices[k], weights[k], rescaled[k], 0});
    if (settings.count_fractals) {
        const std::vector<int32_t> level_of = fractal_levels(a);
        for (int32_t k : level_of) ++a.levels[static_cast<std::size_t>(k)].fractals;
        a.records = track_records(bars, a, level_of);
    }
    if (progress) progress("merging", 1.0);
    return a;
}

std::vector<int32_t> fractal_levels(Analysis& a) {
    a.counts_exact = false;
    if (a.levels.empty()) return std::vector<int32_t>(a.fractals.size(), -1);
    if (a.settings.mode == 1 || a.settings.mode == 2) {
        // The candidates in the merge's order: by price, equal prices in bar
        // order (its sort is stable, and the candidates come in bar order).
        std::vector<std::size_t> order(a.fractals.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
            const double px = a.fractals[x].price, py = a.fractals[y].price;
            return px < py || (px == py && x < y);
        });
        std::vector<int32_t> strengths(order.size()), merged(a.levels.size()), lengths;
        for (std::size_t i = 0; i < order.size(); ++i) strengths[i] = a.fractals[order[i]].strength;
        for (std::size_t k = 0; k < merged.size(); ++k) merged[k] = a.levels[k].merged_weight;
        if (runs_by_weight(strengths.data(), strengths.size(), merged.data(), merged.size(), lengths)) {
            a.counts_exact = true;
            std::vector<int32_t> level_of(a.fractals.size());
            std::size_t next = 0;
            for (std::size_t k = 0; k < lengths.size(); ++k)
                for (int32_t j = 0; j < lengths[k]; ++j) level_of[order[next++]] = static_cast<int32_t>(k);
            return level_of;
        }
    }
    return nearest_levels(a.fractals, a.levels);
}

std::vector<std::size_t> levels_by_weight(const Analysis& a) {
    std::vector<std::size_t> order(a.levels.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        return a.levels[x].merged_weight > a.levels[y].merged_weight;
    });
    return order;
}

std::vector<std::size_t> heaviest_levels(const Analysis& a, std::size_t count) {
    std::vector<std::size_t> order = levels_by_weight(a);
    if (count > 0 && count < order.size()) order.resize(count);
    std::sort(order.begin(), order.end());
    return order;
}

}  // namespace tidemark::analysis

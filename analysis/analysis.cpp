#include "analysis.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <numeric>
#include <string>

namespace tidemark::analysis {
namespace {

// Fractal counts for merges that add weights: every level is a run of
// neighbouring candidates in price order (a merge joins neighbours and the
// survivor keeps its place), and its weight is the sum of the run's
// strengths, all of them 1 or more, so the runs can be read off exactly.
bool count_by_weight(const std::vector<const Fractal*>& sorted, std::vector<Level>& levels) {
    std::size_t next = 0;
    for (Level& level : levels) {
        int64_t sum = 0;
        int32_t n = 0;
        while (sum < level.merged_weight && next < sorted.size()) {
            sum += sorted[next++]->strength;
            ++n;
        }
        if (sum != level.merged_weight) return false;
        level.fractals = n;
    }
    return next == sorted.size();
}

}  // namespace

double mean_range(const std::vector<Bar>& bars) {
    const auto n = static_cast<double>(bars.size());
    const double sum = std::accumulate(bars.begin(), bars.end(), 0.0,
                                       [](double s, const Bar& bar) { return s + (bar.high - bar.low); });
    if (std::isfinite(sum)) return sum / n;
    // Ranges near the largest double overflow the sum, not the mean.
    return std::accumulate(bars.begin(), bars.end(), 0.0,
                           [n](double mean, const Bar& bar) { return mean + (bar.high - bar.low) / n; });
}

void count_by_nearness(const std::vector<Fractal>& fractals, std::vector<Level>& levels) {
    for (Level& level : levels) level.fractals = 0;
    if (levels.empty()) return;
    for (const Fractal& f : fractals) {
        // Levels are in ascending price: the nearest is at or just below the
        // first level not under the fractal's price.
        const auto k = static_cast<std::size_t>(
            std::lower_bound(levels.begin(), levels.end(), f.price,
                             [](const Level& level, double price) { return level.price < price; }) -
            levels.begin());
        std::size_t best = k == levels.size() ? k - 1 : k;
        if (k > 0 && k < levels.size() && f.price - levels[k - 1].price <= levels[k].price - f.price) best = k - 1;
        ++levels[best].fractals;
    }
}

Analysis analyse(const Exports& lib, const BarSeries& series, const Settings& settings,
                 const Progress& progress) {
    Analysis a;
    a.settings = settings;
    const std::vector<Bar>& bars = series.bars;
    const auto n = static_cast<int32_t>(bars.size());

    a.mean_range = mean_range(bars);
    a.tolerance_given = settings.tolerance >= 0;
    a.tolerance = a.tolerance_given ? settings.tolerance : kToleranceShare * a.mean_range;

    void* timer = lib.create_timer();
    a.timed = timer != nullptr && lib.start_timer(timer) != 0;

    // Strength of every bar that has depth neighbours on both sides. shift is
    // the host's index, 0 the newest bar. The records go to the library a
    // block at a time, each block with its depth neighbours on either side
    // (all a fractal reads): the records of the whole series would take as
    // much memory again as the bars.
    const int32_t depth = settings.depth;
    constexpr int32_t kBlock = 1 << 16;
    // Not zeroed first: layout_records writes every byte of it.
    std::unique_ptr<unsigned char[]> window;
    std::size_t window_size = 0;
    for (int64_t first = depth; first < int64_t{n} - depth; first += kBlock) {
        const int64_t last = std::min<int64_t>(int64_t{n} - depth, first + kBlock);
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
            if (down >= 1) a.fractals.push_back({i, bars[i].low, down, false});
            if (up >= 1) a.fractals.push_back({i, bars[i].high, up, true});
        }
        if (progress) progress("fractals", static_cast<double>(last) / n);
    }
    window.reset();
    // One stopwatch runs through the whole workflow; the phases are
    // differences of readings, which never reset it.
    if (a.timed) a.seconds_fractals = lib.stop_timer(timer, 0);

    std::reverse(a.fractals.begin(), a.fractals.end());
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
    if (!settings.count_fractals) {
        if (progress) progress("merging", 1.0);
        return a;
    }
    std::vector<const Fractal*> sorted;
    sorted.reserve(a.fractals.size());
    // cppcheck-suppress useStlAlgorithm ; the addresses of the elements themselves
    for (const Fractal& f : a.fractals) sorted.push_back(&f);
    // Equal prices keep their bar order, as in the merge's own stable sort
    // (the pointers run in bar order).
    std::sort(sorted.begin(), sorted.end(), [](const Fractal* x, const Fractal* y) {
        return x->price < y->price || (x->price == y->price && x < y);
    });
    a.counts_exact = (settings.mode == 1 || settings.mode == 2) && count_by_weight(sorted, a.levels);
    if (!a.counts_exact) count_by_nearness(a.fractals, a.levels);
    if (progress) progress("merging", 1.0);
    return a;
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

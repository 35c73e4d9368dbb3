// The walk against its definition: at every bar (or at sampled bars of long
// series) the row equals, bit for bit, the one-shot analysis of the bars in
// view at that bar. And the track record's hand-worked example.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "analysis.h"
#include "bars.h"
#include "loader.h"
#include "screen_row.h"
#include "track_record.h"
#include "walk.h"
#include <functional>

using namespace tidemark::analysis;
using tidemark::reader::Bar;
using tidemark::reader::BarSeries;
using tidemark::reader::ReadError;

namespace {

class Walk : public testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(library_.open(tidemark::loader::library_path(), error)) << error;
    }
    static const Exports& lib() { return library_.exports(); }

private:
    static tidemark::loader::Library library_;
};
tidemark::loader::Library Walk::library_;

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Every field, doubles bit for bit; empty when the rows agree.
std::string difference(const ScreenRow& a, const ScreenRow& b) {
    std::string d;
    const auto number = [&](const char* name, double x, double y) {
        if (!same_bits(x, y)) d += std::string(" ") + name + " " + std::to_string(x) + " vs " + std::to_string(y);
    };
    const auto whole = [&](const char* name, int64_t x, int64_t y) {
        if (x != y) d += std::string(" ") + name + " " + std::to_string(x) + " vs " + std::to_string(y);
    };
    whole("bars", static_cast<int64_t>(a.bars), static_cast<int64_t>(b.bars));
    whole("time", a.last_time, b.last_time);
    number("close", a.last_close, b.last_close);
    number("tolerance", a.tolerance, b.tolerance);
    whole("level_count", static_cast<int64_t>(a.level_count), static_cast<int64_t>(b.level_count));
    whole("on_level", a.on_level, b.on_level);
    whole("level_index", a.level_index, b.level_index);
    number("level", a.level, b.level);
    whole("level_weight", a.level_weight, b.level_weight);
    whole("has_below", a.has_below, b.has_below);
    whole("below_index", a.below_index, b.below_index);
    number("below", a.below, b.below);
    whole("below_weight", a.below_weight, b.below_weight);
    whole("has_above", a.has_above, b.has_above);
    whole("above_index", a.above_index, b.above_index);
    number("above", a.above, b.above);
    whole("above_weight", a.above_weight, b.above_weight);
    number("distance_price", a.distance_price, b.distance_price);
    number("distance", a.distance, b.distance);
    return d;
}

// A random walk of daily bars. On a coarse tick many prices, and so many
// gaps, are equal: the merge's ties are exercised too.
BarSeries random_series(std::size_t n, uint64_t seed, double tick) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> step(0.0, 1.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    BarSeries s;
    double price = 100;
    const auto on_tick = [&](double x) { return tick > 0 ? std::round(x / tick) * tick : x; };
    for (std::size_t i = 0; i < n; ++i) {
        // Volatility that drifts, so the default tolerance moves both ways.
        const double vol = 1.0 + 0.8 * std::sin(static_cast<double>(i) / 37.0);
        const double open = on_tick(price);
        const double close = on_tick(price + vol * step(rng));
        const double high = on_tick(std::max(open, close) + vol * unit(rng));
        const double low = on_tick(std::min(open, close) - vol * unit(rng));
        s.bars.push_back({static_cast<int64_t>(i) * 86400, open, high, low, close, 0});
        price = close;
    }
    return s;
}

struct WalkCase {
    int32_t depth, mode;
    double tolerance;  // below 0: the default
    std::size_t window;
};

// Compares the walk with the definition at the bars `at` chooses; returns
// the number of rows compared. Before the first row no bar has a level.
std::size_t check_walk(const Exports& lib, const BarSeries& s, const WalkCase& c,
                       const std::function<bool(std::size_t)>& at) {
    Settings settings;
    settings.depth = c.depth;
    settings.mode = c.mode;
    settings.tolerance = c.tolerance;
    const tidemark::analysis::Walk w = walk(lib, s, settings, c.window);
    std::size_t compared = 0;
    for (std::size_t t = 0; t < s.bars.size(); ++t) {
        if (!at(t) && t + 1 != s.bars.size()) continue;
        const ScreenRow want = walk_row_by_analysis(lib, s, settings, c.window, t);
        if (t < w.first_bar) {
            EXPECT_EQ(want.level_count, 0u) << "bar " << t << " has levels, but the walk starts at " << w.first_bar;
            if (want.level_count != 0) return compared;
            continue;
        }
        const std::string d = difference(w.rows[t - w.first_bar], want);
        EXPECT_EQ(d, "") << "bar " << t;
        if (!d.empty()) return compared;
        ++compared;
    }
    EXPECT_EQ(w.rows.size(), w.first_bar < s.bars.size() ? s.bars.size() - w.first_bar : 0u);
    return compared;
}

std::string name_of(const WalkCase& c) {
    return "depth " + std::to_string(c.depth) + ", mode " + std::to_string(c.mode) + ", tolerance " +
           (c.tolerance < 0 ? std::string("default") : std::to_string(c.tolerance)) + ", window " +
           std::to_string(c.window);
}

// Every bar of short random series, every mode, given and default
// tolerances, whole history and windows (shorter than a fractal's
// neighbourhood, just long enough, short enough to empty the levels, the
// whole series).
TEST_F(Walk, EqualsTheOneShotAnalysisAtEveryBar) {
    const std::vector<WalkCase> setups = {
        {2, 1, -1, 0},  {2, 1, 1.0, 0},  {2, 1, 0.0, 0}, {1, 1, -1, 0},  {3, 1, 2.5, 0},  {2, 0, -1, 0},
        {2, 2, -1, 0},  {2, 2, 0.75, 0}, {1, 0, 0.5, 0}, {2, 1, -1, 25}, {2, 1, 1.0, 40}, {1, 1, -1, 3},
        {2, 1, -1, 4},  {2, 1, -1, 5},   {2, 0, -1, 12}, {2, 2, -1, 30}, {3, 1, -1, 7},   {2, 1, -1, 160},
        {2, 7, 1.0, 0},
    };
    std::size_t compared = 0;
    for (uint64_t seed = 1; seed <= 6; ++seed) {
        const BarSeries s = random_series(160, seed, seed % 2 == 0 ? 0.25 : 0.0);
        for (const WalkCase& c : setups) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", " + name_of(c));
            compared += check_walk(lib(), s, c, [](std::size_t) { return true; });
            if (HasFailure()) return;
        }
    }
    EXPECT_GT(compared, 10000u);

    // A window of 2 x depth + 1 bars holds one fractal's neighbourhood: the
    // levels come and go, and a row without any is still a row.
    Settings settings;
    const BarSeries s = random_series(160, 3, 0.0);
    const tidemark::analysis::Walk w = walk(lib(), s, settings, 5);
    std::size_t empty = 0, some = 0;
    for (const ScreenRow& row : w.rows) (row.level_count == 0 ? empty : some) += 1;
    EXPECT_GT(empty, 10u);
    EXPECT_GT(some, 10u);
    EXPECT_EQ(w.rows.size() + w.first_bar, s.bars.size());
    // Shorter, it never has a level: no rows at all.
    EXPECT_TRUE(walk(lib(), s, settings, 4).rows.empty());
}

// Long series and the bundled sample at sampled bars.
TEST_F(Walk, EqualsTheOneShotAnalysisOnLongSeries) {
    const BarSeries s = random_series(3000, 99, 0.0);
    const BarSeries ticks = random_series(3000, 98, 0.5);
    BarSeries sample;
    ReadError error;
    ASSERT_TRUE(tidemark::reader::read_bars(TIDEMARK_SAMPLE, sample, error)) << error.text();
    const std::vector<WalkCase> setups = {{2, 1, -1, 0}, {2, 1, 3.0, 0}, {2, 0, -1, 0}, {2, 2, -1, 0},
                                       {2, 1, -1, 250}, {5, 1, -1, 500}};
    for (const BarSeries* series : std::vector<const BarSeries*>{&s, &ticks, &sample}) {
        for (const WalkCase& c : setups) {
            SCOPED_TRACE(std::to_string(series->bars.size()) + " bars, " + name_of(c));
            const std::size_t compared = check_walk(lib(), *series, c, [](std::size_t t) { return t % 97 == 5; });
            EXPECT_GT(compared, 8u);
            if (HasFailure()) return;
        }
    }
}

}  // namespace

namespace {

// The ten bars of docs/scan.md (The track record), depth 1, tolerance 0.5:
// the up fractal of bar 1 at 13 is confirmed at bar 2, and bars 3 to 8
// touch it.
BarSeries ten_bars() {
    const double rows[10][4] = {{10, 11, 9, 10},        {10, 13, 10, 12},        {12, 12.5, 11, 11.2},
                                {11.2, 12.8, 11, 12.6},  {12.6, 13.1, 12.4, 13.05}, {13.05, 13.9, 12.9, 13.8},
                                {13.8, 14.2, 12.2, 12.3}, {12.3, 12.6, 11.8, 12.4}, {12.4, 13.9, 12.3, 13.7},
                                {13.7, 14.5, 13.6, 14.2}};
    BarSeries s;
    for (int i = 0; i < 10; ++i)
        s.bars.push_back({int64_t{i} * 86400, rows[i][0], rows[i][1], rows[i][2], rows[i][3], 0});
    return s;
}

TEST_F(Walk, TrackRecordOfTheTenBars) {
    const BarSeries s = ten_bars();
    Settings settings;
    settings.depth = 1;
    settings.tolerance = 0.5;
    const Analysis a = analyse(lib(), s, settings);
    struct Want {
        double price;
        int64_t formed, last_fractal;
        int32_t touches, held, broke;
        int64_t last_touch;
    };
    // 13: bar 3 came from below and closed below (held), 4 closed on it, 5
    // came from above and closed above (held), 6 closed 0.7 under it
    // (broke), 7 held from below, 8 closed 0.7 over it (broke).
    const std::vector<Want> want = {{11, 4, 3, 0, 0, 0, -1},
                                    {11.8, 8, 7, 0, 0, 0, -1},
                                    {13, 2, 1, 6, 3, 2, 8},
                                    {14.2, 7, 6, 2, 1, 0, 9}};
    ASSERT_EQ(a.levels.size(), want.size());
    ASSERT_EQ(a.records.size(), want.size());
    for (std::size_t k = 0; k < want.size(); ++k) {
        SCOPED_TRACE("level " + std::to_string(a.levels[k].price));
        const TrackRecord& r = a.records[k];
        EXPECT_EQ(a.levels[k].price, want[k].price);
        EXPECT_EQ(r.formed, want[k].formed);
        EXPECT_EQ(r.last_fractal, want[k].last_fractal);
        EXPECT_EQ(r.touches, want[k].touches);
        EXPECT_EQ(r.held, want[k].held);
        EXPECT_EQ(r.broke, want[k].broke);
        EXPECT_EQ(r.last_touch, want[k].last_touch);
    }

    // Each rule on its own: the close before, the close, the level, the
    // tolerance.
    struct Judged {
        double before, close;
        Touch want;
    };
    const std::vector<Judged> judged = {
        {12, 12.9, Touch::held},    {14, 13.1, Touch::held},    {12, 13.6, Touch::broke}, {14, 12.4, Touch::broke},
        {12, 13.5, Touch::neither}, {14, 12.5, Touch::neither}, {13, 15, Touch::neither}, {12, 13, Touch::neither},
    };
    for (const Judged& j : judged) {
        EXPECT_EQ(judge_touch(j.before, j.close, 13, 0.5), j.want) << j.before << " -> " << j.close;
    }

    // Tolerance 2 merges 11 (bar 3), 11.8 (bar 7) and 13 (bar 1) into 11.8:
    // formed at the first confirmation, bar 2, its latest fractal bar 7.
    // Without the bookkeeping there is no record.
    settings.tolerance = 2;
    const Analysis wide = analyse(lib(), s, settings);
    ASSERT_EQ(wide.levels.size(), 2u);
    EXPECT_EQ(wide.levels[0].price, 11.8);
    EXPECT_EQ(wide.records[0].formed, 2);
    EXPECT_EQ(wide.records[0].last_fractal, 7);
    settings.count_fractals = false;
    EXPECT_TRUE(analyse(lib(), s, settings).records.empty());
}

}  // namespace

// The walk's goals, side by side in one run: the walk over 10,000 daily bars
// against the one-shot analysis of every prefix (the walk's definition), and
// how a walk with a fixed window grows with the bars; each with a given
// tolerance and with the default one, which changes at every bar. The
// library is loaded by file name through the loader, as a host does. Both
// sides of a ratio are timed alternately and the fastest round of each
// counts. Prints the load average beside the figures.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>

#include "host.h"
#include "walk.h"

namespace {

using namespace tidemark::analysis;
using Clock = std::chrono::steady_clock;

volatile double sink;

// Daily bars of a random walk whose volatility drifts over months, so that
// the default tolerance rises and falls.
BarSeries daily_bars(std::size_t n) {
    std::mt19937_64 rng(20261208u);
    std::normal_distribution<double> step(0.0, 1.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    BarSeries s;
    double price = 100;
    for (std::size_t i = 0; i < n; ++i) {
        const double vol = 0.015 * (1.0 + 0.5 * std::sin(static_cast<double>(i) / 90.0));
        const double close = std::round(price * std::exp(vol * step(rng)) * 100) / 100;
        const double high = std::round(std::max(price, close) * (1 + vol * unit(rng)) * 100) / 100;
        const double low = std::round(std::min(price, close) * (1 - vol * unit(rng)) * 100) / 100;
        s.bars.push_back({static_cast<int64_t>(i) * 86400, price, high, low, close, 0});
        price = close;
    }
    return s;
}

double seconds(const std::function<void()>& body) {
    const auto start = Clock::now();
    body();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The fastest of `rounds` rounds of each side, run alternately.
std::pair<double, double> fastest(const std::function<void()>& a, const std::function<void()>& b, int rounds) {
    double best_a = 1e300, best_b = 1e300;
    for (int r = 0; r < rounds; ++r) {
        best_a = std::min(best_a, seconds(a));
        best_b = std::min(best_b, seconds(b));
    }
    return {best_a, best_b};
}

double walk_rows(const BarSeries& s, const Settings& settings, std::size_t window) {
    double total = 0;
    walk(host::exports(), s, settings, window, [&](std::size_t, const ScreenRow& row) { total += row.distance_price; });
    return total;
}

double every_prefix(const BarSeries& s, const Settings& settings, std::size_t window) {
    double total = 0;
    for (std::size_t t = 0; t < s.bars.size(); ++t) {
        const ScreenRow row = walk_row_by_analysis(host::exports(), s, settings, window, t);
        if (row.level_count > 0) total += row.distance_price;
    }
    return total;
}

}  // namespace

int main() {
    double load[3] = {0, 0, 0};
    if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf %lf %lf", &load[0], &load[1], &load[2]) != 3) load[0] = -1;
        std::fclose(f);
    }
    std::printf("=== The walk (bench/walk.cpp), load average %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    const BarSeries bars = daily_bars(10000), twice = daily_bars(20000);
    const double mean = mean_range(bars.bars);
    for (const bool given : {true, false}) {
        Settings settings;
        settings.tolerance = given ? 0.5 * mean : -1;
        const char* which = given ? "given tolerance" : "default tolerance";
        // The one-shot on every prefix takes seconds: one round of it.
        const double walked = std::min({seconds([&] { sink = walk_rows(bars, settings, 0); }),
                                        seconds([&] { sink = walk_rows(bars, settings, 0); }),
                                        seconds([&] { sink = walk_rows(bars, settings, 0); })});
        const double naive = seconds([&] { sink = every_prefix(bars, settings, 0); });
        std::printf("ratio walk_vs_every_prefix_%s %.1f  walk %.4f s, one-shot on every prefix %.3f s "
                    "(10,000 daily bars, %s; goal >= 20)\n",
                    given ? "given" : "default", naive / walked, walked, naive, which);
        const auto [short_walk, long_walk] =
            fastest([&] { sink = walk_rows(bars, settings, 250); }, [&] { sink = walk_rows(twice, settings, 250); }, 5);
        std::printf("ratio window_twice_the_bars_%s %.2f  20,000 bars %.4f s, 10,000 bars %.4f s "
                    "(window of 250 bars, %s; goal <= 2.2)\n",
                    given ? "given" : "default", long_walk / short_walk, long_walk, short_walk, which);
    }
    return 0;
}

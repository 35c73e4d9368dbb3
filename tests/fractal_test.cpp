#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bar_buffer.h"
#include "differential.h"
#include "host.h"
#include "numbers.h"
#include "reference.h"

namespace {

using namespace numbers;

enum class Side { kUp, kDown };

using Fractal = int32_t (*)(const BarRecord*, int32_t, int32_t);

struct FractalCase {
    const char* name;
    Side side;
    std::vector<double> values;  // highs for the up test, lows for the down test
    int32_t depth;
    int32_t shift;
    int32_t want;
};

// Exactly the records the case names, so reading one past either end is a
// sanitizer error. The field the function must not read holds a decoy that
// would give 0 if it were read instead: NaN lows for the up test; for the
// down test a centre high above every other high.
BarBuffer bars_for(const FractalCase& c, std::size_t misalign) {
    BarBuffer bars(c.values.size(), misalign);
    for (std::size_t i = 0; i < c.values.size(); ++i) {
        bars.set_time(i, static_cast<int32_t>(1700000000 + 86400 * i));
        if (c.side == Side::kUp) {
            bars.set_high(i, c.values[i]);
            bars.set_low(i, kNaN);
        } else {
            bars.set_low(i, c.values[i]);
            bars.set_high(i, static_cast<int32_t>(i) == c.shift ? 1e300 : -1e300);
        }
    }
    return bars;
}

TEST(Fractal, StrengthAsDocumented) {
    const std::vector<FractalCase> cases = {
        {"up: highs 1 2 3 9 4 8 10", Side::kUp, {1, 2, 3, 9, 4, 8, 10}, 3, 3, 2},
        {"up: the same with depth 1", Side::kUp, {1, 2, 3, 9, 4, 8, 10}, 1, 3, 1},
        {"up: depth 0", Side::kUp, {1, 2, 3, 9, 4, 8, 10}, 0, 3, 0},
        {"up: negative depth", Side::kUp, {1, 2, 3, 9, 4, 8, 10}, -3, 3, 0},
        {"up: depth limits longer runs", Side::kUp, {1, 1, 1, 5, 1, 1, 1}, 2, 3, 2},
        {"up: depth past both runs", Side::kUp, {7, 1, 2, 5, 2, 1, 9}, 100, 3, 2},
        {"up: depth past the shorter run", Side::kUp, {1, 2, 3, 5, 4, 8}, 3, 3, 1},
        {"up: both neighbours break, huge depth", Side::kUp, {9, 5, 9}, 1000000, 1, 0},
        {"up: right neighbour breaks", Side::kUp, {1, 6, 5, 1, 1}, 2, 2, 0},
        {"up: left neighbour breaks", Side::kUp, {1, 1, 5, 6, 1}, 2, 2, 0},
        {"up: right run cut after one", Side::kUp, {6, 1, 5, 1, 1}, 2, 2, 1},
        {"up: left run cut after one", Side::kUp, {1, 1, 5, 1, 6}, 2, 2, 1},
        {"up: equal highs qualify", Side::kUp, {5, 5, 5, 5, 5}, 2, 2, 2},
        {"up: signed zeros are equal", Side::kUp, {0.0, -0.0, 0.0}, 1, 1, 1},
        {"up: NaN centre fails at once", Side::kUp, {1, 1, kNaN, 1, 1}, 2, 2, 0},
        {"up: NaN neighbour ends the run", Side::kUp, {kNaN, 1, 5, 1, 1}, 2, 2, 1},
        {"up: NaN next to the centre", Side::kUp, {1, 1, 5, kNaN, 1}, 2, 2, 0},
        {"up: infinite centre", Side::kUp, {kInf, -kInf, kInf, 1e308, kInf}, 2, 2, 2},

        {"down: lows 5 4 3 1 2 1 0.5", Side::kDown, {5, 4, 3, 1, 2, 1, 0.5}, 3, 3, 2},
        {"down: the same with depth 1", Side::kDown, {5, 4, 3, 1, 2, 1, 0.5}, 1, 3, 1},
        {"down: depth 0", Side::kDown, {5, 4, 3, 1, 2, 1, 0.5}, 0, 3, 0},
        {"down: most negative depth", Side::kDown, {5, 4, 3, 1, 2, 1, 0.5}, kMin, 3, 0},
        {"down: depth limits longer runs", Side::kDown, {9, 9, 9, 1, 9, 9, 9}, 2, 3, 2},
        {"down: depth past both runs", Side::kDown, {0.1, 9, 8, 5, 8, 9, 0.1}, 100, 3, 2},
        {"down: both neighbours break, huge depth", Side::kDown, {0, 5, 0}, 1000000, 1, 0},
        {"down: right neighbour breaks", Side::kDown, {9, 0.5, 1, 9, 9}, 2, 2, 0},
        {"down: left neighbour breaks", Side::kDown, {9, 9, 1, 0.5, 9}, 2, 2, 0},
        {"down: right run cut after one", Side::kDown, {0.5, 9, 1, 9, 9}, 2, 2, 1},
        {"down: equal lows qualify", Side::kDown, {1, 1, 1, 1, 1}, 2, 2, 2},
        {"down: signed zeros are equal", Side::kDown, {-0.0, 0.0, -0.0}, 1, 1, 1},
        {"down: NaN centre qualifies everything", Side::kDown, {1, -5, kNaN, -7, 3}, 2, 2, 2},
        {"down: NaN neighbours continue the run", Side::kDown, {1, kNaN, 0.5, kNaN, 2}, 2, 2, 2},
        {"down: a NaN does not hide a later break", Side::kDown, {0.1, kNaN, 0.5, 1, 2}, 2, 2, 1},
        {"down: minus infinite centre", Side::kDown, {-kInf, 1, -kInf, -kInf, kInf}, 2, 2, 2},
    };
    const auto up = host::exports().check_up_fractal;
    const auto down = host::exports().check_down_fractal;
    for (const FractalCase& c : cases) {
        // Start addresses of every residue that matters: aligned, odd, 4 mod 8.
        for (std::size_t misalign : {0u, 1u, 4u, 7u}) {
            SCOPED_TRACE(std::string(c.name) + ", records " + std::to_string(misalign) +
                         " bytes past an 8-aligned address");
            const BarBuffer bars = bars_for(c, misalign);
            const auto library = c.side == Side::kUp ? up : down;
            const Fractal literal = c.side == Side::kUp ? reference::check_up_fractal
                                                        : reference::check_down_fractal;
            EXPECT_EQ(library(0, 0, bars.data(), c.depth, c.shift), c.want);
            EXPECT_EQ(library(-99, 0x7fffffff, bars.data(), c.depth, c.shift), c.want)
                << "reserved arguments changed the result";
            if (c.depth <= 100) {
                EXPECT_EQ(literal(bars.data(), c.depth, c.shift), c.want) << "reference";
            }
        }
    }
}

TEST(Fractal, DepthBelowOneReadsNothing) {
    const auto up = host::exports().check_up_fractal;
    const auto down = host::exports().check_down_fractal;
    // One record and no neighbours: any neighbour read is out of bounds.
    BarBuffer one(1, 3);
    one.set_high(0, 1.0);
    one.set_low(0, 1.0);
    for (int32_t depth : {0, -1, kMin}) {
        SCOPED_TRACE("depth " + std::to_string(depth));
        EXPECT_EQ(up(0, 0, one.data(), depth, 0), 0);
        EXPECT_EQ(down(0, 0, one.data(), depth, 0), 0);
        // Not even the centre is read.
        EXPECT_EQ(up(0, 0, nullptr, depth, 12345), 0);
        EXPECT_EQ(down(0, 0, nullptr, depth, kMin), 0);
    }
}

// Every pair of the values where comparing on bits could go wrong (the
// zeros, the subnormals, the extremes, NaN of either sign, neighbouring
// patterns) as centre and neighbour, on both sides: the library must answer
// as the processor compares them, here in the test's default environment.
TEST(Fractal, EveryPairOfEdgeValuesComparesAsTheProcessorDoes) {
    const double negative_nan = -kNaN;
    const std::vector<double> edges = {-kInf, -kMaxDouble, -1.0, -0x1.0000000000001p0, -2 * kTiny, -kTiny,
                                       -0.0, 0.0, kTiny, 2 * kTiny, 1.0, 0x1.0000000000001p0,
                                       kMaxDouble, kInf, kNaN, negative_nan};
    const auto up = host::exports().check_up_fractal;
    const auto down = host::exports().check_down_fractal;
    for (double c : edges) {
        for (double n : edges) {
            SCOPED_TRACE("centre " + std::to_string(c) + ", neighbours " + std::to_string(n));
            BarBuffer bars(3, 1);
            for (std::size_t i = 0; i < 3; ++i) {
                bars.set_high(i, i == 1 ? c : n);
                bars.set_low(i, i == 1 ? c : n);
            }
            EXPECT_EQ(up(0, 0, bars.data(), 1, 1), c >= n ? 1 : 0);
            EXPECT_EQ(down(0, 0, bars.data(), 1, 1), !(c > n) ? 1 : 0);
        }
    }
}

// A value that lets the centre c pass the test for its side most of the time
// (so runs grow long), and otherwise anything at all.
double neighbour(random_values::Rng& rng, Side side, double c, uint64_t fail_percent) {
    if (random_values::below(rng, 100) < fail_percent) return random_values::price(rng);
    switch (random_values::below(rng, 3)) {
        case 0: return c;
        case 1: return side == Side::kUp ? c - 0.5 : c + 0.5;
        default: return side == Side::kUp ? -kInf : kInf;
    }
}

// Random bars of every kind, at every start alignment, compared with the
// literal reference. The array holds exactly shift - depth ... shift + depth
// (plus random slack), so an over-read is a sanitizer error.
std::string random_fractals(differential::Rng& rng, const differential::Around& around) {
    using random_values::below;
    const int32_t depth = below(rng, 8) == 0 ? static_cast<int32_t>(below(rng, 6)) - 5
                                             : static_cast<int32_t>(below(rng, below(rng, 4) == 0 ? 40 : 8));
    const int32_t reach = depth > 0 ? depth : 0;
    const int32_t before = static_cast<int32_t>(below(rng, 3));
    const int32_t after = static_cast<int32_t>(below(rng, 3));
    const int32_t shift = before + reach;
    const std::size_t count = static_cast<std::size_t>(before + 2 * reach + 1 + after);
    const uint64_t fail_percent = below(rng, 4) == 0 ? 50 : below(rng, 20);
    BarBuffer bars(count, static_cast<std::size_t>(below(rng, 8)));
    const double high_c = random_values::price(rng);
    const double low_c = random_values::price(rng);
    for (std::size_t i = 0; i < count; ++i) {
        const bool centre = static_cast<int32_t>(i) == shift;
        bars.set_time(i, static_cast<int32_t>(rng()));
        bars.set_high(i, centre ? high_c : neighbour(rng, Side::kUp, high_c, fail_percent));
        bars.set_low(i, centre ? low_c : neighbour(rng, Side::kDown, low_c, fail_percent));
    }
    const auto reserved1 = static_cast<int32_t>(rng());
    const auto reserved2 = static_cast<int32_t>(rng());

    const int32_t want_up = reference::check_up_fractal(bars.data(), depth, shift);
    const int32_t want_down = reference::check_down_fractal(bars.data(), depth, shift);
    int32_t got_up = 0;
    int32_t got_down = 0;
    differential::call(around, [&] { got_up = host::exports().check_up_fractal(reserved1, reserved2, bars.data(), depth, shift); });
    differential::call(around, [&] {
        got_down = host::exports().check_down_fractal(reserved1, reserved2, bars.data(), depth, shift);
    });
    differential::record(got_up);
    differential::record(got_down);
    if (got_up == want_up && got_down == want_down) return {};
    return "depth " + std::to_string(depth) + " shift " + std::to_string(shift) + " count " +
           std::to_string(count) + "\n up   got " + std::to_string(got_up) + " want " + std::to_string(want_up) +
           "\n down got " + std::to_string(got_down) + " want " + std::to_string(want_down);
}

TEST(Fractal, MatchesLiteralReferenceOnRandomBars) { differential::run(differential::kFractals); }

}  // namespace

const differential::Differential differential::kFractals = {"up and down fractal", 20261208, 100000,
                                                            random_fractals};

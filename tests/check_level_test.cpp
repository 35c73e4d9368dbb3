#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "differential.h"
#include "host.h"
#include "numbers.h"
#include "reference.h"

namespace {

using namespace numbers;

struct LookupCase {
    const char* name;
    std::vector<double> prices;
    double price;
    double tolerance;
    int32_t want;
};

TEST(CheckLevel, FindsTheFirstLevelWithinTolerance) {
    const std::vector<LookupCase> cases = {
        {"nearer later level loses to the first match", {1.0000, 1.0010}, 1.0012, 0.0020, 0},
        {"only the later level is close enough", {1.0000, 1.0010}, 1.0012, 0.0005, 1},
        {"first match, not nearest", {1.0, 1.1, 1.05}, 1.05, 0.1, 0},
        {"distance equal to tolerance matches", {2.0, 1.5}, 1.0, 0.5, 1},
        {"nothing within tolerance", {2.0, 3.0, -1.0}, 1.0, 0.5, -1},
        {"zero tolerance: equal level only", {1.0, 2.0, 2.0}, 2.0, 0.0, 1},
        {"negative zero tolerance: equal level only", {1.0, 2.0, 2.0}, 2.0, -0.0, 1},
        {"zero tolerance, next double up", {2.0000000000000004}, 2.0, 0.0, -1},
        {"signed zeros are equal", {5.0, -0.0}, 0.0, 0.0, 1},
        {"negative tolerance matches nothing", {2.0, 2.0}, 2.0, -1.0, -1},
        {"negative tolerance still matches a NaN level", {2.0, 2.0, kNaN, 3.0}, 2.0, -1.0, 2},
        {"NaN tolerance: index 0", {100.0, 200.0}, 0.0, kNaN, 0},
        {"NaN price: index 0", {100.0, 200.0}, kNaN, 0.5, 0},
        {"NaN level matches where it stands", {10.0, 20.0, 30.0, kNaN, 0.0}, 0.0, 0.5, 3},
        {"infinite level and price: NaN distance", {5.0, kInf}, kInf, 1.0, 1},
        {"opposite infinities never match", {-kInf}, kInf, 1.0, -1},
        {"infinite tolerance reaches an infinite distance", {-kInf}, kInf, kInf, 0},
        {"overflowing distance", {1e308}, -1e308, 1e308, -1},
        {"overflowing distance, infinite tolerance", {1e308}, -1e308, kInf, 0},
        {"smallest subnormal tolerance", {3.0, kTiny}, 0.0, kTiny, 1},
        {"subnormal distance beyond zero tolerance", {kTiny}, 0.0, 0.0, -1},
    };
    const auto check_level = host::exports().check_level;
    for (const LookupCase& c : cases) {
        const int32_t count = static_cast<int32_t>(c.prices.size());
        EXPECT_EQ(check_level(3, -3, c.price, c.tolerance, c.prices.data(), count), c.want) << c.name;
        EXPECT_EQ(reference::check_level(c.price, c.tolerance, c.prices.data(), count), c.want)
            << "reference: " << c.name;
    }
}

TEST(CheckLevel, EmptyOrNegativeCountReadsNothing) {
    const auto check_level = host::exports().check_level;
    // A null array crashes on any read; a NaN tolerance would match any level.
    for (int32_t count : {0, -1, -8, kMin}) EXPECT_EQ(check_level(0, 0, 1.0, kNaN, nullptr, count), -1);
}

// The match (a level equal to the price, or a NaN level) at every position of
// arrays of every length up to a few blocks, from an aligned and a misaligned
// start, with a second match after it. Catches a scan that skips elements,
// reports a later match first, or reads past count (under the sanitizers).
TEST(CheckLevel, FirstMatchAtEveryPosition) {
    const auto check_level = host::exports().check_level;
    const double price = 7.25;
    for (int32_t count = 1; count <= 40; ++count) {
        for (int32_t shift = 0; shift <= 1; ++shift) {
            for (int32_t at = -1; at < count; ++at) {
                for (double hit : {price + 0.5, kNaN}) {
                    std::vector<double> buffer(static_cast<size_t>(count + shift));
                    double* levels = buffer.data() + shift;
                    for (int32_t i = 0; i < count; ++i) levels[i] = price + 1.0 + i * 0.25;
                    if (at >= 0) levels[at] = hit;
                    if (at >= 0 && at + 1 < count) levels[count - 1] = price;
                    EXPECT_EQ(check_level(0, 0, price, 0.5, levels, count), at)
                        << "count " << count << " shift " << shift << " hit " << hit;
                }
            }
        }
    }
}

// Levels at the very edge of the tolerance's reach, a few doubles either side
// of price -/+ tolerance, planted in long runs of levels that lie wholly below
// or above the price, in runs that straddle it, and in runs that change from
// one to the other. Catches a block being ruled out as a whole when one of
// its levels matches after rounding, for awkward magnitudes (a tolerance
// below one ulp of the price, an overflowing reach, subnormals).
TEST(CheckLevel, EdgeOfTheToleranceInsideLongRuns) {
    const auto check_level = host::exports().check_level;
    const struct {
        double price;
        double tolerance;
    } reaches[] = {{150.5, 0.25},  {1e20, 1.0},     {0.1, 0.2},     {-3.75, 1e-3},  {0.0, 0.0},
                   {1e308, 1e308}, {-1e308, 1e308}, {kTiny, 0.0},   {100.0, kTiny}, {1e-300, 1e300},
                   {7.0, 1e-15},   {-0.0, 2.5},     {kMaxDouble, 0.0}, {3.0, kMaxDouble}};
    enum Run { kBelow, kAbove, kSortedAcross, kStraddling, kStraddlingThenBelow, kNearMisses };
    for (const auto& r : reaches) {
        // Far levels: the infinities and the finite extremes, always beyond.
        const auto far = [&](Run run, int32_t i) {
            bool below = true;
            switch (run) {
                case kBelow: below = true; break;
                case kAbove: below = false; break;
                case kSortedAcross: below = i < 300; break;
                case kStraddling: below = i % 3 != 0; break;
                case kStraddlingThenBelow: below = i >= 600 || i % 3 != 0; break;
                case kNearMisses: break;
            }
            const double level = i % 2 == 0 ? kInf : kMaxDouble;
            return below ? -level : level;
        };
        std::vector<double> edges;
        for (double centre : {r.price - r.tolerance, r.price + r.tolerance}) {
            double down = centre;
            double up = centre;
            edges.push_back(centre);
            for (int k = 0; k < 3; ++k) {
                down = std::nextafter(down, -kInf);
                up = std::nextafter(up, kInf);
                edges.push_back(down);
                edges.push_back(up);
            }
        }
        // The edges that just miss, on both sides in turn: every block
        // straddles the price and needs the exact test, level by level.
        std::vector<double> misses;
        for (double edge : edges)
            if (reference::check_level(r.price, r.tolerance, &edge, 1) == -1) misses.push_back(edge);
        edges.push_back(kNaN);
        for (Run run : {kBelow, kAbove, kSortedAcross, kStraddling, kStraddlingThenBelow, kNearMisses}) {
            for (int32_t at : {0, 7, 8, 299, 300, 517, 600, 601, 777}) {
                for (double edge : edges) {
                    std::vector<double> levels(800);
                    for (int32_t i = 0; i < 800; ++i)
                        levels[static_cast<size_t>(i)] =
                            run == kNearMisses && !misses.empty() ? misses[static_cast<size_t>(i) % misses.size()]
                                                                  : far(run, i);
                    levels[static_cast<size_t>(at)] = edge;
                    const int32_t want = reference::check_level(r.price, r.tolerance, levels.data(), 800);
                    ASSERT_EQ(check_level(0, 0, r.price, r.tolerance, levels.data(), 800), want)
                        << "price " << r.price << " tolerance " << r.tolerance << " run " << run << " at " << at
                        << " level " << edge;
                }
            }
        }
    }
}

// A double a few patterns away from d (the same sign's side of zero).
double patterns_away(double d, int64_t steps) {
    uint64_t bits = 0;
    std::memcpy(&bits, &d, sizeof bits);
    bits += static_cast<uint64_t>(steps);
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// Short lookups whose answer turns on the last bit: prices next to a power
// of two (where the spacing of doubles halves or doubles within the
// tolerance's reach), at the smallest and largest exponents, of either sign;
// tolerances up to and just past a quarter of the price, subnormal, signed
// zeros; levels within a few doubles of price -/+ tolerance, of the price
// itself and of its negation, subnormals, zeros, infinities and NaNs.
void edge_lookup(differential::Rng& rng, double& price, double& tolerance, double* levels, int32_t count) {
    using random_values::below;
    const auto away = [&](double d) { return patterns_away(d, static_cast<int64_t>(below(rng, 9)) - 4); };
    const int exponents[] = {-1022, -1021, -1020, -1019, -60, -1, 0, 1, 6, 52, 1021, 1022, 1023};
    switch (below(rng, 4)) {
        case 0: price = away(std::ldexp(1.0, exponents[below(rng, std::size(exponents))])); break;
        case 1: price = std::uniform_real_distribution<double>(0.5, 200.0)(rng); break;
        case 2: price = away(numbers::kMaxDouble); break;
        default: price = random_values::price(rng); break;
    }
    if (below(rng, 2) == 0) price = -price;
    switch (below(rng, 5)) {
        case 0: tolerance = away(std::fabs(price) / 4); break;
        case 1: tolerance = std::fabs(price) * std::uniform_real_distribution<double>(0.0, 1e-3)(rng); break;
        case 2:  // subnormal, or just above
            tolerance = std::ldexp(static_cast<double>(below(rng, 1000)), -1074 + static_cast<int>(below(rng, 60)));
            break;
        case 3: tolerance = random_values::tolerance(rng); break;
        default: tolerance = std::fabs(price) * std::uniform_real_distribution<double>(0.0, 0.3)(rng); break;
    }
    if (below(rng, 8) == 0) tolerance = -tolerance;
    for (int32_t i = 0; i < count; ++i) {
        switch (below(rng, 8)) {
            case 0: levels[i] = away(price - tolerance); break;
            case 1: levels[i] = away(price + tolerance); break;
            case 2: levels[i] = away(below(rng, 2) == 0 ? price : -price); break;
            case 3: levels[i] = away(numbers::kTiny); break;
            default: levels[i] = random_values::price(rng); break;
        }
        // Mostly out of reach, so that the match, if any, comes late.
        if (below(rng, 3) != 0 && reference::check_level(price, tolerance, levels + i, 1) == 0)
            levels[i] = price - 1e3 * (std::fabs(price) + 1.0);
    }
}

// Random inputs compared with the literal reference. A third of the arrays
// are made of far-away levels with a few special values planted in them, so
// that matches come late and the whole scan is exercised, and a third are
// short lookups at the edges (edge_lookup); the arrays are exactly count
// long, so the sanitizers see any read past the end.
std::string random_lookup(differential::Rng& rng, const differential::Around& around) {
    using random_values::below;
    const uint64_t kind = below(rng, 3);
    const int32_t count = kind == 2 ? static_cast<int32_t>(below(rng, 70)) : random_values::count(rng);
    const int32_t shift = static_cast<int32_t>(below(rng, 2));
    std::vector<double> buffer(static_cast<size_t>(count + shift));
    double* levels = buffer.data() + shift;
    double price;
    double tolerance;
    if (kind == 2) {
        edge_lookup(rng, price, tolerance, levels, count);
    } else if (kind == 0) {
        price = random_values::price(rng);
        tolerance = random_values::tolerance(rng);
        for (int32_t i = 0; i < count; ++i) levels[i] = random_values::price(rng);
    } else {
        price = std::uniform_real_distribution<double>(-10.0, 10.0)(rng);
        tolerance = below(rng, 4) == 0 ? random_values::tolerance(rng)
                                       : std::uniform_real_distribution<double>(-1.0, 2.0)(rng);
        for (int32_t i = 0; i < count; ++i) levels[i] = (below(rng, 2) == 0 ? 1.0 : -1.0) * (50.0 + i);
        const uint64_t planted = count == 0 ? 0 : below(rng, 4);
        for (uint64_t k = 0; k < planted; ++k) {
            const int32_t at = static_cast<int32_t>(below(rng, static_cast<uint64_t>(count)));
            levels[at] = below(rng, 2) == 0 ? random_values::price(rng)
                                            : price + std::uniform_real_distribution<double>(-2.0, 2.0)(rng);
        }
    }
    const int32_t want = reference::check_level(price, tolerance, levels, count);
    const auto reserved1 = static_cast<int32_t>(rng());
    const auto reserved2 = static_cast<int32_t>(rng());
    int32_t got = 0;
    differential::call(around, [&] {
        got = host::exports().check_level(reserved1, reserved2, price, tolerance, levels, count);
    });
    differential::record(got);
    if (got == want) return {};
    std::ostringstream difference;
    difference << "count " << count << " price " << price << " tolerance " << tolerance << ": got " << got
               << " want " << want;
    return difference.str();
}

TEST(CheckLevel, MatchesLiteralReferenceOnRandomInputs) { differential::run(differential::kCheckLevel); }

}  // namespace

const differential::Differential differential::kCheckLevel = {"lookup", 20261208, 100000, random_lookup};

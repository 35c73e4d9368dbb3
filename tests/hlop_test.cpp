#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
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

struct MergeCase {
    const char* name;
    std::vector<double> prices;
    std::vector<int32_t> weights;
    double tolerance;
    int32_t mode;
    std::vector<double> want_prices;
    std::vector<int32_t> want_weights;
};

std::string show(const std::vector<double>& v) {
    std::string s;
    for (double d : v) s += std::to_string(d) + (std::signbit(d) ? "(-) " : " ");
    return s;
}

using Merge = void (*)(double*, int32_t*, const int32_t*, int32_t, double, int32_t);

void expect_merge(const MergeCase& c, const char* who, Merge merge) {
    std::vector<double> prices = c.prices;
    std::vector<int32_t> weights = c.weights;
    std::vector<int32_t> tags;
    for (size_t i = 0; i < prices.size(); ++i) tags.push_back(100 + static_cast<int32_t>(i));
    const std::vector<int32_t> tags_before = tags;
    merge(prices.data(), weights.data(), tags.data(), static_cast<int32_t>(prices.size()),
          c.tolerance, c.mode);
    SCOPED_TRACE(std::string(who) + ": " + c.name);
    ASSERT_EQ(prices.size(), c.want_prices.size());
    for (size_t i = 0; i < prices.size(); ++i) {
        if (same_bits(prices[i], c.want_prices[i])) continue;
        // The whole arrays when they are short, else the first difference.
        if (prices.size() <= 16)
            ADD_FAILURE() << "price " << i << ": got " << show(prices) << " want " << show(c.want_prices);
        else
            ADD_FAILURE() << "price " << i << " of " << prices.size() << ": got " << prices[i] << " want "
                          << c.want_prices[i];
        break;
    }
    if (weights.size() <= 16) EXPECT_EQ(weights, c.want_weights);
    else EXPECT_TRUE(weights == c.want_weights) << "weights differ";
    EXPECT_EQ(tags, tags_before);
}

// Mode 2, tolerance 1: 70 lone levels 1.5 apart (0, 1.5, ..., 103.5) with
// weights alternating +2, -2; above them the pair 153.75 (weight 100) and
// 154.25 (weight -99), which merges into 104.25 (weight 1), 0.75 above the
// top lone level; then 2,000 more lone levels from 160 up. Each merge
// lands 0.75 below the lone level it took in (weight -1 after a -2, 1 after
// a +2), so the merge walks down all 70 levels, to -0.75 with weight 1,
// and nothing else merges. Each step joins the region of the next lone
// level, further back than the regions a fast merge keeps a record of;
// the levels above are there so that its scan budget reaches that far.
MergeCase cascade_down_lone_levels() {
    constexpr int32_t kLone = 70;
    constexpr int32_t kAbove = 2000;
    MergeCase c{"mode 2 merge walking down 70 lone levels", {}, {}, 1.0, 2, {}, {}};
    for (int32_t i = 0; i < kLone; ++i) {
        c.prices.push_back(1.5 * i);
        c.weights.push_back(i % 2 == 0 ? 2 : -2);
    }
    c.prices.insert(c.prices.end(), {153.75, 154.25});
    c.weights.insert(c.weights.end(), {100, -99});
    c.want_prices.push_back(-0.75);
    c.want_weights.push_back(1);
    for (int32_t i = 0; i < kAbove; ++i) {
        c.prices.push_back(160.0 + 1.5 * i);
        c.weights.push_back(i % 2 == 0 ? 2 : -2);
        c.want_prices.push_back(c.prices.back());
        c.want_weights.push_back(c.weights.back());
    }
    c.want_prices.resize(c.prices.size(), 0.0);
    c.want_weights.resize(c.prices.size(), 0);
    return c;
}

TEST(Hlop, MergesAsDocumented) {
    const std::vector<MergeCase> cases = {
        {"unsorted, tolerance 0, mode 0", {3.0, 1.0, 2.0}, {1, 2, 3}, 0.0, 0, {1.0, 2.0, 3.0}, {2, 3, 1}},
        {"unsorted, tolerance 0, mode 1", {3.0, 1.0, 2.0}, {1, 2, 3}, 0.0, 1, {1.0, 2.0, 3.0}, {2, 3, 1}},
        {"unsorted, tolerance 0, mode 2", {3.0, 1.0, 2.0}, {1, 2, 3}, 0.0, 2, {1.0, 2.0, 3.0}, {2, 3, 1}},
        {"mode 1, heavier lower level", {1.0, 1.1, 3.0}, {5, 2, 1}, 0.2, 1, {1.0, 3.0, 0.0}, {7, 1, 0}},
        {"mode 0, gap equal to tolerance", {1.0, 1.5, 5.0}, {1, 2, 1}, 0.5, 0, {1.5, 5.0, 0.0}, {2, 1, 0}},
        {"mode 7 acts as mode 0", {1.0, 1.5, 5.0}, {1, 2, 1}, 0.5, 7, {1.5, 5.0, 0.0}, {2, 1, 0}},
        {"mode -1 acts as mode 0", {1.0, 1.5, 5.0}, {1, 2, 1}, 0.5, -1, {1.5, 5.0, 0.0}, {2, 1, 0}},
        {"mode 2, lighter lower level", {2.0, 2.1, 5.0}, {1, 3, 1}, 0.5, 2, {2.075, 5.0, 0.0}, {4, 1, 0}},
        {"equal weights: upper survives", {1.0, 1.05, 9.0}, {2, 2, 1}, 0.1, 1, {1.05, 9.0, 0.0}, {4, 1, 0}},
        {"equal gaps: nearest the head first", {1.0, 1.5, 2.0, 9.0}, {1, 2, 5, 1}, 0.5, 1,
         {2.0, 9.0, 0.0, 0.0}, {8, 1, 0, 0}},
        {"survivor keeps its place", {2.0, 1.0, 1.2, 3.0}, {1, 1, 9, 1}, 0.25, 1,
         {1.2, 2.0, 3.0, 0.0}, {10, 1, 1, 0}},
        {"no re-sort after a mode 2 merge", {1.0, 2.0, 3.0}, {-3, 4, 1}, 1.0, 2, {5.0, 3.0, 0.0}, {1, 1, 0}},
        {"single level", {4.0}, {3}, 1.0, 1, {4.0}, {3}},
        {"merging stops at one level", {1.0, 1.2}, {1, 1}, 0.5, 1, {1.2, 0.0}, {2, 0}},
        {"NaN tolerance merges everything", {1.0, 5.0, 9.0}, {1, 2, 3}, kNaN, 1, {9.0, 0.0, 0.0}, {6, 0, 0}},
        {"negative tolerance merges nothing", {2.0, 2.0, 1.0}, {1, 2, 3}, -1.0, 1, {1.0, 2.0, 2.0}, {3, 1, 2}},
        {"signed zeros keep input order", {0.0, -0.0, -0.0, 0.0}, {1, 2, 3, 4}, -1.0, 1,
         {0.0, -0.0, -0.0, 0.0}, {1, 2, 3, 4}},
        {"NaN does not move; NaN gap is closest", {1.0, kNaN, 0.5}, {1, 2, 3}, 0.1, 1,
         {1.0, 0.5, 0.0}, {1, 5, 0}},
        {"runs between NaNs sort alone", {3.0, 1.0, kNaN, 2.0, 0.0}, {1, 2, 3, 4, 5}, -1.0, 0,
         {1.0, 3.0, kNaN, 0.0, 2.0}, {2, 1, 3, 5, 4}},
        {"two infinities merge (NaN gap)", {kInf, kInf, 1.0}, {1, 1, 1}, 0.0, 1, {1.0, kInf, 0.0}, {1, 2, 0}},
        // Corrections of the plain reading.
        {"mode 2 zero weight sum keeps price", {1.0, 1.1}, {2, -2}, 0.5, 2, {1.0, 0.0}, {0, 0}},
        {"mode 2 zero weights keep price", {1.0, 1.1, 1.15}, {0, 0, 0}, 0.5, 2, {1.15, 0.0, 0.0}, {0, 0, 0}},
        {"mode 1 sum saturates high", {1.0, 1.1}, {kMax, 1}, 0.5, 1, {1.0, 0.0}, {kMax, 0}},
        {"mode 1 sum saturates low", {1.0, 1.1}, {kMin, -1}, 0.5, 1, {1.1, 0.0}, {kMin, 0}},
        {"mode 2 huge weights average exactly", {1.0, 2.0}, {kMax, kMax}, 1.0, 2, {1.5, 0.0}, {kMax, 0}},
        {"mode 2 negative weight moves outside", {1.0, 2.0, 10.0}, {-1, 3, 1}, 1.0, 2,
         {2.5, 10.0, 0.0}, {2, 1, 0}},
        // 3 and 3.5 merge to 1 (weight 1), exactly one tolerance above 0,
        // so that pair merges too: into 0.5, weight 2.
        {"mode 2 mean lands one tolerance from its neighbour", {0.0, 3.0, 3.5}, {1, 5, -4}, 1.0, 2,
         {0.5, 0.0, 0.0}, {2, 0, 0}},
        cascade_down_lone_levels(),
    };
    const Merge library = [](double* p, int32_t* w, const int32_t* t, int32_t n, double tol,
                             int32_t mode) { host::exports().hlop(7, -7, p, w, t, n, tol, mode); };
    const Merge literal = [](double* p, int32_t* w, const int32_t* t, int32_t n, double tol,
                             int32_t mode) { reference::hlop(p, w, t, n, tol, mode); };
    for (const MergeCase& c : cases) {
        expect_merge(c, "library", library);
        expect_merge(c, "reference", literal);
    }
}

TEST(Hlop, EmptyOrNegativeCountTouchesNothing) {
    const auto hlop = host::exports().hlop;
    for (int32_t count : {0, -1, kMin}) {
        // Null arrays: any read or write would crash.
        hlop(0, 0, nullptr, nullptr, nullptr, count, 1.0, 1);
        double prices[1] = {5.0};
        int32_t weights[1] = {3};
        hlop(0, 0, prices, weights, nullptr, count, 1.0, 1);
        EXPECT_EQ(prices[0], 5.0);
        EXPECT_EQ(weights[0], 3);
    }
}

TEST(Hlop, StorageFailureLeavesArraysUntouched) {
    if (sizeof(void*) != 4) GTEST_SKIP() << "only a 32-bit address space makes the failure certain";
    const auto hlop = host::exports().hlop;
    // Working storage for this many levels cannot exist in 4 GiB, so the
    // call must give up before it reads or writes a single element.
    double prices[2] = {2.0, 1.0};
    int32_t weights[2] = {1, 2};
    int32_t tags[2] = {0, 0};
    hlop(0, 0, prices, weights, tags, kMax, 10.0, 1);
    EXPECT_EQ(prices[0], 2.0);
    EXPECT_EQ(prices[1], 1.0);
    EXPECT_EQ(weights[0], 1);
    EXPECT_EQ(weights[1], 2);
}

// Runs the library and the literal reference on the same levels and returns
// the first difference, or "": prices bit for bit, weights, the tags left
// alone and a guard element past count left untouched.
std::string compare_with_reference(std::vector<double> prices, std::vector<int32_t> weights,
                                   double tolerance, int32_t mode, uint64_t seed,
                                   const differential::Around& around = {}) {
    constexpr double kGuardPrice = -12345.678;
    constexpr int32_t kGuardWeight = 0x5eed;
    const int32_t count = static_cast<int32_t>(prices.size());
    random_values::Rng rng(seed);
    std::vector<int32_t> tags(count + 1);
    for (int32_t& tag : tags) tag = static_cast<int32_t>(rng());
    prices.push_back(kGuardPrice);
    weights.push_back(kGuardWeight);
    std::vector<double> want_prices = prices;
    std::vector<int32_t> want_weights = weights;
    const std::vector<int32_t> tags_before = tags;
    reference::hlop(want_prices.data(), want_weights.data(), tags.data(), count, tolerance, mode);
    const auto reserved1 = static_cast<int32_t>(rng());
    const auto reserved2 = static_cast<int32_t>(rng());
    differential::call(around, [&] {
        host::exports().hlop(reserved1, reserved2, prices.data(), weights.data(), tags.data(), count, tolerance,
                             mode);
    });
    differential::record_all(prices.data(), prices.size());
    differential::record_all(weights.data(), weights.size());
    if (tags != tags_before) return "tags written";
    for (int32_t i = 0; i <= count; ++i) {
        if (!same_bits(prices[i], want_prices[i]) || weights[i] != want_weights[i]) {
            char text[160];
            std::snprintf(text, sizeof text, "first difference at %d of %d: got %.17g/%d want %.17g/%d", i,
                          count, prices[i], weights[i], want_prices[i], want_weights[i]);
            return text;
        }
    }
    return {};
}

int32_t random_mode(random_values::Rng& rng) {
    return random_values::below(rng, 4) == 0 ? random_values::int32(rng)
                                             : static_cast<int32_t>(random_values::below(rng, 3));
}

// Random inputs of every kind, mostly small so that many shapes are seen,
// compared bit for bit with the literal reference.
std::string random_merge(differential::Rng& rng, const differential::Around& around) {
    using random_values::below;
    const uint64_t size_class = below(rng, 100);
    const int32_t count = static_cast<int32_t>(size_class < 70   ? below(rng, 8)
                                               : size_class < 98 ? below(rng, 64)
                                                                 : below(rng, 400));
    std::vector<double> prices(count);
    std::vector<int32_t> weights(count);
    for (int32_t i = 0; i < count; ++i) {
        prices[i] = random_values::price(rng);
        weights[i] = random_values::int32(rng);
    }
    const double tolerance = random_values::tolerance(rng);
    const int32_t mode = random_mode(rng);
    const std::string difference = compare_with_reference(prices, weights, tolerance, mode, rng(), around);
    if (difference.empty()) return {};
    std::ostringstream out;
    out << "count " << count << " tolerance " << tolerance << " mode " << mode << ": " << difference
        << "\n input " << show(prices);
    return out.str();
}

TEST(Hlop, MatchesLiteralReferenceOnRandomInputs) { differential::run(differential::kHlop); }

// Large inputs of the shapes that break fast merges and sorts: long runs
// (sorted by a different method than short ones), ties everywhere, NaN
// runs, infinities, prices from the whole double range, and mode 2 with
// weights that move prices out of order.
TEST(Hlop, MatchesLiteralReferenceOnLargeAndAdversarialInputs) {
    using random_values::below;
    using Rng = random_values::Rng;
    auto uniform = [](Rng& rng, double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    auto small_weight = [](Rng& rng) { return static_cast<int32_t>(below(rng, 9)) + 1; };
    struct Shape {
        const char* name;
        std::function<void(Rng&, int32_t, std::vector<double>&, std::vector<int32_t>&)> make;
    };
    const std::vector<Shape> shapes = {
        {"random", [&](Rng& rng, int32_t n, auto& p, auto& w) {
             for (int32_t i = 0; i < n; ++i) {
                 p[i] = uniform(rng, 0.0, 1.0);
                 w[i] = small_weight(rng);
             }
         }},
        {"all prices equal", [&](Rng& rng, int32_t n, auto& p, auto& w) {
             for (int32_t i = 0; i < n; ++i) {
                 p[i] = 2.5;
                 w[i] = small_weight(rng);
             }
         }},
        {"all gaps equal, shuffled", [&](Rng& rng, int32_t n, auto& p, auto& w) {
             for (int32_t i = 0; i < n; ++i) {
                 p[i] = 0.25 * i;
                 w[i] = small_weight(rng);
             }
             std::shuffle(p.begin(), p.end(), rng);
         }},
        {"sorted, duplicates", [&](Rng& rng, int32_t n, auto& p, auto& w) {
             for (int32_t i = 0; i < n; ++i) {
                 p[i] = static_cast<double>(i / 3) * 0.125;
                 w[i] = small_weight(rng);
             }
         }},
        {"reverse sorted", [&](Rng& rng, int32_t n, auto& p, auto& w) {
             for (int32_t i = 0; i < n; ++i) {
                 p[i] = static_cast<double>(n - i) * 0.001 + uniform(rng, 0.0, 0.0005);
                 w[i] = small_weight(rng);
             }
         }},
        {"signed zeros and a small grid", [&](Rng& rng, int32_t n, auto& p, auto& w) {
             for (int32_t i = 0; i < n; ++i) {
                 const uint64_t k = below(rng, 6);
                 p[i] = k == 0 ? 0.0 : k == 1 ? -0.0 : static_cast<double>(below(rng, 16)) * 0.5 - 4.0;
                 w[i] = random_values::int32(rng);
             }
         }},
        {"whole double range", [&](Rng& rng, int32_t n, auto& p, auto& w) {
             for (int32_t i = 0; i < n; ++i) {
                 do {
                     const uint64_t bits = rng();
                     std::memcpy(&p[i], &bits, sizeof bits);
                 } while (std::isnan(p[i]));
                 w[i] = random_values::int32(rng);
             }
         }},
        {"NaN runs, some long", [&](Rng& rng, int32_t n, auto& p, auto& w) {
             for (int32_t i = 0; i < n; ++i) {
                 // Mostly runs of about 2500, long enough for the radix sort,
                 // with short runs and NaN clusters between them.
                 const bool cut = below(rng, 5000) == 0 || (i % 2600 >= 2500 && below(rng, 20) == 0);
                 p[i] = cut ? kNaN : uniform(rng, -5.0, 5.0);
                 w[i] = small_weight(rng);
             }
         }},
        {"infinities", [&](Rng& rng, int32_t n, auto& p, auto& w) {
             for (int32_t i = 0; i < n; ++i) {
                 const uint64_t k = below(rng, 40);
                 p[i] = k == 0 ? kInf : k == 1 ? -kInf : uniform(rng, -1.0, 1.0);
                 w[i] = small_weight(rng);
             }
         }},
        {"negative and zero weights", [&](Rng& rng, int32_t n, auto& p, auto& w) {
             for (int32_t i = 0; i < n; ++i) {
                 p[i] = static_cast<double>(below(rng, 1000)) * 0.01;
                 w[i] = static_cast<int32_t>(below(rng, 11)) - 5;
             }
         }},
        {"scattered, weights of either sign", [&](Rng& rng, int32_t n, auto& p, auto& w) {
             // Merged prices leave their pairs and come near their
             // neighbours' neighbours.
             for (int32_t i = 0; i < n; ++i) {
                 p[i] = uniform(rng, 100.0, 200.0);
                 w[i] = static_cast<int32_t>(below(rng, 13)) - 3;
             }
         }},
        {"weights that throw merged prices far", [&](Rng& rng, int32_t n, auto& p, auto& w) {
             // Pairs like 1000 and -999 put the mean a thousand gaps away,
             // across many levels that have merged already.
             for (int32_t i = 0; i < n; ++i) {
                 p[i] = uniform(rng, 0.0, 1.0);
                 const uint64_t k = below(rng, 8);
                 w[i] = k == 0 ? 1000 : k == 1 ? -999 : static_cast<int32_t>(below(rng, 5)) - 2;
             }
         }},
        {"repeated decimals, positive weights", [&](Rng& rng, int32_t n, auto& p, auto& w) {
             // A weighted mean of two equal prices like 0.1 can round to a
             // neighbouring double, outside the pair.
             for (int32_t i = 0; i < n; ++i) {
                 p[i] = 0.1 * static_cast<double>(1 + below(rng, 40));
                 w[i] = static_cast<int32_t>(below(rng, 7)) + 1;
             }
         }},
        {"random with specials", [&](Rng& rng, int32_t n, auto& p, auto& w) {
             for (int32_t i = 0; i < n; ++i) {
                 p[i] = below(rng, 50) == 0 ? random_values::price(rng) : uniform(rng, 0.0, 3.0);
                 w[i] = random_values::int32(rng);
             }
         }},
    };
    // Tolerances relative to the mean gap, plus the special ones.
    const std::vector<double> tolerance_scale = {0.0, 0.5, 3.0, kInf, kNaN, -1.0};
    random_values::Rng rng(777);
    long compared = 0;
    // Fixed inputs that once got past the fast merges: a mode 2 mean exactly
    // one tolerance from its neighbour, and joins reaching further back than
    // the regions kept, alone and shuffled among levels that do not merge.
    {
        const MergeCase cascade = cascade_down_lone_levels();
        std::vector<double> shuffled = cascade.prices;
        std::shuffle(shuffled.begin(), shuffled.end(), rng);
        std::vector<double> wider = cascade.prices;
        for (double& p : wider) p *= 1.0 + 1.0 / 1024;  // the lone gaps stay above the tolerance
        const struct {
            const char* name;
            std::vector<double> prices;
            std::vector<int32_t> weights;
            double tolerance;
        } fixed[] = {
            {"mean one tolerance from its neighbour", {0.0, 3.0, 3.5}, {1, 5, -4}, 1.0},
            {"mean one tolerance from its neighbour, reversed", {3.5, 3.0, 0.0}, {-4, 5, 1}, 1.0},
            {cascade.name, cascade.prices, cascade.weights, cascade.tolerance},
            {"cascade, prices shuffled (weights stay in place)", shuffled, cascade.weights, cascade.tolerance},
            {"cascade, spread by 1/1024", wider, cascade.weights, cascade.tolerance},
        };
        for (const auto& f : fixed) {
            EXPECT_EQ(compare_with_reference(f.prices, f.weights, f.tolerance, 2, rng()), "") << f.name;
            ++compared;
        }
    }
    for (const Shape& shape : shapes) {
        for (int32_t count : {1500, 3000}) {
            for (double scale : tolerance_scale) {
                for (int32_t mode : {0, 1, 2}) {
                    std::vector<double> prices(count);
                    std::vector<int32_t> weights(count);
                    shape.make(rng, count, prices, weights);
                    const double tolerance = std::isfinite(scale) && scale > 0 ? scale / count : scale;
                    const std::string difference = compare_with_reference(prices, weights, tolerance, mode, rng());
                    ++compared;
                    EXPECT_EQ(difference, "") << shape.name << ", count " << count << ", tolerance "
                                              << tolerance << ", mode " << mode;
                }
            }
        }
    }
    // A few at the largest size, random and the worst shape for a quadratic
    // reference.
    for (const char* name : {"random", "random with specials", "reverse sorted", "NaN runs, some long"}) {
        const Shape& shape = *std::find_if(shapes.begin(), shapes.end(),
                                           [&](const Shape& s) { return std::string(s.name) == name; });
        constexpr int32_t count = 20000;
        std::vector<double> prices(count);
        std::vector<int32_t> weights(count);
        shape.make(rng, count, prices, weights);
        const int32_t mode = static_cast<int32_t>(below(rng, 3));
        const std::string difference = compare_with_reference(prices, weights, 0.7 / count, mode, rng());
        ++compared;
        EXPECT_EQ(difference, "") << name << ", count " << count << ", mode " << mode;
    }
    // Random shapes at random sizes up to 20,000, spread evenly over the
    // orders of magnitude, with random modes and tolerances.
    for (int n = 0; n < 12; ++n) {
        const Shape& shape = shapes[below(rng, shapes.size())];
        const int32_t count = static_cast<int32_t>(std::exp(std::log(20000.0) * uniform(rng, 0.0, 1.0)));
        std::vector<double> prices(count);
        std::vector<int32_t> weights(count);
        shape.make(rng, count, prices, weights);
        const int32_t mode = random_mode(rng);
        const double scale = tolerance_scale[below(rng, tolerance_scale.size())];
        const double tolerance = std::isfinite(scale) && scale > 0 ? scale / count : scale;
        const std::string difference = compare_with_reference(prices, weights, tolerance, mode, rng());
        ++compared;
        EXPECT_EQ(difference, "") << shape.name << ", count " << count << ", tolerance " << tolerance
                                  << ", mode " << mode;
    }
    std::printf("[ large    ] %ld large merge cases compared\n", compared);
}

}  // namespace

const differential::Differential differential::kHlop = {"merge", 20261207, 100000, random_merge};

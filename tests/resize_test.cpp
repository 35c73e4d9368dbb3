#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "differential.h"
#include "host.h"
#include "numbers.h"
#include "reference.h"

namespace {

using namespace numbers;

struct ResizeCase {
    const char* name;
    int32_t span;
    std::vector<int32_t> weights;
    std::vector<int32_t> want;
};

std::string show(const std::vector<int32_t>& v) {
    std::string s;
    for (int32_t w : v) s += std::to_string(w) + " ";
    return s;
}

TEST(Resize, RescalesAsDocumented) {
    const std::vector<ResizeCase> cases = {
        {"min 10: denominator 29, factor 10/29", 11, {10, 20, 40}, {3, 6, 13}},
        {"negative min: cut truncates toward zero", 5, {-25, 5, 15}, {-2, 0, 1}},
        {"span 0 acts as span 2", 0, {100, 200}, {1, 2}},
        {"span 1: factor 0", 1, {10, 20, 40}, {0, 0, 0}},
        {"rounded factor falls just short", 11, {0, 77}, {0, 9}},
        {"negative denominator counts by its size", 11, {100, 100, 100}, {100, 100, 100}},
        {"scaled up, not shifted", 11, {10, 12}, {100, 120}},
        {"negative weights scale toward zero", 11, {-10, -10}, {-100, -100}},
        {"weights near the int32 maximum", 2, {kMax, kMax - 1}, {10, 10}},
        {"int32 minimum weights", 3, {kMin, kMin}, {-20, -20}},
        // Corrections of the plain reading.
        {"zero denominator: all zero, unchanged", 11, {0, 0, 0}, {0, 0, 0}},
        {"zero denominator: min 10, max 11, unchanged", 11, {10, 11}, {10, 11}},
        {"zero denominator with span 1, unchanged", 1, {10, 11}, {10, 11}},
        {"zero denominator: equal small weights, unchanged", 11, {9, 9, 9}, {9, 9, 9}},
        {"zero denominator: equal negative weights, unchanged", 11, {-9, -9}, {-9, -9}},
        {"span - 1 below int32: factor 2^31+1 over 1000", kMin, {0, 500, 1000, 250, 750, 999},
         {0, 1073741824, kMax, 536870912, 1610612736, 2145336165}},
        {"denominator beyond int32", 11, {kMin, 0, kMax}, {-4, 0, 4}},
        {"denominator beyond int32, largest span", kMax, {kMin, 0, kMax}, {-1022611260, 0, 1022611259}},
        {"both beyond int32", kMin, {kMin, kMax}, {-1022611261, 1022611261}},
        {"huge positive products saturate", kMax, {10, 12, 11, 12, 10, 11}, {kMax, kMax, kMax, kMax, kMax, kMax}},
        {"huge negative products saturate", kMax, {-12, -10, -11, -12, -10}, {kMin, kMin, kMin, kMin, kMin}},
        {"product -2^31 - 1 saturates", kMin, {0, -1}, {0, kMin}},
        {"product 2^31 + 1 saturates", kMin, {0, 1}, {0, kMax}},
    };
    const auto resize = host::exports().resize;
    for (const ResizeCase& c : cases) {
        const int32_t count = static_cast<int32_t>(c.weights.size());
        std::vector<int32_t> got = c.weights;
        resize(-1, 1, c.span, got.data(), count);
        EXPECT_EQ(got, c.want) << c.name << ": got " << show(got);
        std::vector<int32_t> literal = c.weights;
        reference::resize(c.span, literal.data(), count);
        EXPECT_EQ(literal, c.want) << "reference: " << c.name;
    }
}

TEST(Resize, EmptyOrNegativeCountTouchesNothing) {
    const auto resize = host::exports().resize;
    for (int32_t count : {0, -1, kMin}) {
        resize(0, 0, 11, nullptr, count);  // any access would crash
        int32_t weights[2] = {10, 40};
        resize(0, 0, 11, weights, count);
        EXPECT_EQ(weights[0], 10);
        EXPECT_EQ(weights[1], 40);
    }
}

// Weights 20 with one 10 and one 40 rescale to 6 with one 3 and one 13,
// wherever the extremes stand: catches a min/max scan that misses elements
// or a rewrite that skips or repeats some.
TEST(Resize, ExtremesAtEveryPosition) {
    const auto resize = host::exports().resize;
    for (int32_t count = 2; count <= 40; ++count) {
        for (int32_t low = 0; low < count; ++low) {
            for (int32_t high = 0; high < count; ++high) {
                if (low == high) continue;
                std::vector<int32_t> weights(static_cast<size_t>(count), 20);
                std::vector<int32_t> want(static_cast<size_t>(count), 6);
                weights[low] = 10;
                want[low] = 3;
                weights[high] = 40;
                want[high] = 13;
                resize(0, 0, 11, weights.data(), count);
                ASSERT_EQ(weights, want) << "count " << count << " min at " << low << " max at " << high;
            }
        }
    }
}

int32_t random_span(random_values::Rng& rng) {
    return random_values::below(rng, 2) == 0 ? random_values::int32(rng)
                                             : static_cast<int32_t>(random_values::below(rng, 40)) - 10;
}

// Random weights (extremes, clustered, equal) and spans compared with the
// literal reference; a guard element after count must stay as it was.
std::string random_rescale(differential::Rng& rng, const differential::Around& around) {
    using random_values::below;
    constexpr int32_t kGuard = 0x5eed;
    const int32_t count = random_values::count(rng);
    const int32_t shift = static_cast<int32_t>(below(rng, 4));
    std::vector<int32_t> weights(static_cast<size_t>(count + shift + 1), kGuard);
    int32_t* at = weights.data() + shift;
    const uint64_t kind = below(rng, 4);
    const int32_t base = random_values::int32(rng);
    const int32_t spread = static_cast<int32_t>(below(rng, 1000)) + 1;
    for (int32_t i = 0; i < count; ++i) {
        switch (kind) {
            case 0: at[i] = random_values::int32(rng); break;
            case 1: at[i] = static_cast<int32_t>(below(rng, 2000)) - 500; break;
            case 2: {  // a cluster near base, kept inside int32
                const int64_t w = static_cast<int64_t>(base) +
                                  static_cast<int64_t>(below(rng, static_cast<uint64_t>(spread)));
                at[i] = static_cast<int32_t>(w > kMax ? kMax - (w - kMax) : w);
                break;
            }
            default: at[i] = base; break;
        }
    }
    const int32_t span = random_span(rng);
    std::vector<int32_t> want = weights;
    reference::resize(span, want.data() + shift, count);
    const auto reserved1 = static_cast<int32_t>(rng());
    const auto reserved2 = static_cast<int32_t>(rng());
    differential::call(around, [&] { host::exports().resize(reserved1, reserved2, span, at, count); });
    if (weights == want) return {};
    return "span " + std::to_string(span) + " count " + std::to_string(count) + "\n got  " + show(weights) +
           "\n want " + show(want);
}

TEST(Resize, MatchesLiteralReferenceOnRandomInputs) { differential::run(differential::kResize); }

}  // namespace

const differential::Differential differential::kResize = {"rescale", 20261209, 100000, random_rescale};

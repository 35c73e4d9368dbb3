#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host.h"
#include "random_values.h"
#include "reference.h"

namespace {

using random_values::same_bits;

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

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
    for (size_t i = 0; i < prices.size(); ++i)
        EXPECT_TRUE(same_bits(prices[i], c.want_prices[i]))
            << "price " << i << ": got " << show(prices) << " want " << show(c.want_prices);
    EXPECT_EQ(weights, c.want_weights);
    EXPECT_EQ(tags, tags_before);
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
    };
    const auto hlop = HOST_EXPORT(Hlop);
    ASSERT_NE(hlop, nullptr);
    const Merge library = [](double* p, int32_t* w, const int32_t* t, int32_t n, double tol,
                             int32_t mode) { HOST_EXPORT(Hlop)(7, -7, p, w, t, n, tol, mode); };
    const Merge literal = [](double* p, int32_t* w, const int32_t* t, int32_t n, double tol,
                             int32_t mode) { reference::hlop(p, w, t, n, tol, mode); };
    for (const MergeCase& c : cases) {
        expect_merge(c, "library", library);
        expect_merge(c, "reference", literal);
    }
}

TEST(Hlop, EmptyOrNegativeCountTouchesNothing) {
    const auto hlop = HOST_EXPORT(Hlop);
    ASSERT_NE(hlop, nullptr);
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
    const auto hlop = HOST_EXPORT(Hlop);
    ASSERT_NE(hlop, nullptr);
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

// Random inputs of every kind, compared bit for bit with the literal
// reference; guard elements past count must stay untouched.
TEST(Hlop, MatchesLiteralReferenceOnRandomInputs) {
    const auto hlop = HOST_EXPORT(Hlop);
    ASSERT_NE(hlop, nullptr);
    random_values::Rng rng(20261207);
    const long cases = random_values::case_count(100000);
    constexpr double kGuardPrice = -12345.678;
    constexpr int32_t kGuardWeight = 0x5eed;
    long mismatches = 0;
    for (long n = 0; n < cases && mismatches < 5; ++n) {
        const uint64_t size_class = random_values::below(rng, 10);
        const int32_t count = static_cast<int32_t>(
            size_class < 7 ? random_values::below(rng, 8) : random_values::below(rng, 64));
        std::vector<double> prices(count + 1, kGuardPrice);
        std::vector<int32_t> weights(count + 1, kGuardWeight);
        std::vector<int32_t> tags(count + 1);
        for (int32_t i = 0; i < count; ++i) {
            prices[i] = random_values::price(rng);
            weights[i] = random_values::int32(rng);
            tags[i] = static_cast<int32_t>(rng());
        }
        const double tolerance = random_values::tolerance(rng);
        const int32_t mode = random_values::below(rng, 4) == 0 ? random_values::int32(rng)
                                                                : static_cast<int32_t>(random_values::below(rng, 3));
        const int32_t reserved1 = static_cast<int32_t>(rng());
        const int32_t reserved2 = static_cast<int32_t>(rng());

        std::vector<double> want_prices = prices;
        std::vector<int32_t> want_weights = weights;
        const std::vector<int32_t> tags_before = tags;
        reference::hlop(want_prices.data(), want_weights.data(), tags.data(), count, tolerance, mode);
        hlop(reserved1, reserved2, prices.data(), weights.data(), tags.data(), count, tolerance, mode);

        bool same = weights == want_weights && tags == tags_before;
        for (int32_t i = 0; i <= count; ++i) same = same && same_bits(prices[i], want_prices[i]);
        if (!same) {
            ++mismatches;
            ADD_FAILURE() << "case " << n << ": count " << count << " tolerance " << tolerance
                          << " mode " << mode << "\n got  " << show(prices) << "\n want "
                          << show(want_prices);
        }
    }
    EXPECT_EQ(mismatches, 0);
    RecordProperty("random_cases", std::to_string(cases));
    std::printf("[ random   ] %ld random merge cases compared\n", cases);
}

}  // namespace

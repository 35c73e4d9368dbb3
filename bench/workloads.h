// The inputs and floors of the performance goals, shared by the Google
// Benchmark program (bench.cpp) and the plain timing loop that also runs
// against the Windows DLLs (ratios.cpp), so that both measure the same work.
#ifndef TIDEMARK_BENCH_WORKLOADS_H
#define TIDEMARK_BENCH_WORKLOADS_H

#include <emmintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "tidemark.h"

namespace workloads {

using Rng = std::mt19937_64;

// ---------------------------------------------------------------------------
// Hlop

enum class Shape { kRandom, kEqualPrices, kEqualGaps, kSignedWeights };

struct Levels {
    std::vector<double> prices;
    std::vector<int32_t> weights;
    std::vector<int32_t> tags;
    double tolerance = 0.0;
};

// Uniform prices in [100, 200). A tolerance of 0.9 times the mean gap leaves
// about half of the levels (the "survivors" counter shows the share).
inline Levels make_levels(Shape shape, int32_t count) {
    Rng rng(20261207u + static_cast<uint64_t>(count));
    std::uniform_real_distribution<double> price(100.0, 200.0);
    Levels l;
    l.prices.resize(count);
    l.weights.resize(count);
    l.tags.resize(count);
    for (int32_t i = 0; i < count; ++i) {
        l.weights[i] = static_cast<int32_t>(rng() % 9) + 1;
        l.tags[i] = i;
        switch (shape) {
            case Shape::kRandom: l.prices[i] = price(rng); break;
            case Shape::kSignedWeights:
                l.prices[i] = price(rng);
                l.weights[i] = static_cast<int32_t>(rng() % 13) - 3;
                break;
            case Shape::kEqualPrices: l.prices[i] = 150.0; break;
            case Shape::kEqualGaps: l.prices[i] = 100.0 + 0.25 * i; break;
        }
    }
    switch (shape) {
        case Shape::kRandom:
        case Shape::kSignedWeights: l.tolerance = 0.9 * 100.0 / count; break;
        case Shape::kEqualPrices: l.tolerance = 0.0; break;
        case Shape::kEqualGaps:
            std::shuffle(l.prices.begin(), l.prices.end(), rng);
            l.tolerance = 0.25;
            break;
    }
    return l;
}

// The records of Hlop's floor, a stable sort of the same levels.
struct Record {
    double price;
    int32_t weight;
    int32_t tag;
};

// ---------------------------------------------------------------------------
// CheckLevel and Resize over a million elements

constexpr int32_t kMillion = 1000000;

inline std::vector<double> level_prices() {
    Rng rng(11);
    std::uniform_real_distribution<double> price(100.0, 200.0);
    std::vector<double> prices(kMillion);
    for (double& p : prices) p = price(rng);
    return prices;
}

// Where CheckLevel's price stands: beyond every level, or among them with a
// tolerance of a few ulps at this magnitude that matches none of these
// levels (bench.cpp checks), so that the whole array is always scanned.
constexpr double kBeyondPrice = 1000.0;
constexpr double kBeyondTolerance = 1.0;
constexpr double kAmongPrice = 150.5;
constexpr double kAmongTolerance = 1e-12;

// The floor for CheckLevel: reading the array once, as fast as SSE2 can add
// it up (eight independent sums keep the adds off the critical path; four
// are measurably slower here). 32-bit x86 has eight XMM registers, so eight
// sums and a load spill to the stack and run at a third of the speed; six
// read as fast as the memory allows there.
__attribute__((noipa)) inline double vector_sum(const double* p, int32_t count) {
    constexpr int kSums = sizeof(void*) == 4 ? 6 : 8;
    __m128d sum[kSums];
    for (__m128d& s : sum) s = _mm_setzero_pd();
    int32_t i = 0;
    for (; i + 2 * kSums <= count; i += 2 * kSums)
        for (int k = 0; k < kSums; ++k) sum[k] = _mm_add_pd(sum[k], _mm_loadu_pd(p + i + 2 * k));
    for (int k = 1; k < kSums; ++k) sum[0] = _mm_add_pd(sum[0], sum[k]);
    double pair[2];
    _mm_storeu_pd(pair, sum[0]);
    double total = pair[0] + pair[1];
    for (; i < count; ++i) total += p[i];
    return total;
}

inline std::vector<int32_t> level_weights() {
    Rng rng(12);
    std::vector<int32_t> weights(kMillion);
    for (int32_t& w : weights) w = static_cast<int32_t>(rng() % 1000000);
    return weights;
}

constexpr int32_t kSpan = 11;

// The floor for Resize: one pass that multiplies every weight by a factor
// and truncates it, as a plain loop (left to the compiler, which vectorises
// it in the release build).
__attribute__((noipa)) inline void multiply_truncate(int32_t* weights, int32_t count, double factor) {
    for (int32_t i = 0; i < count; ++i) weights[i] = static_cast<int32_t>(weights[i] * factor);
}

// ---------------------------------------------------------------------------
// Fractals and the floating-point guard

// A random walk whose centre bar holds both the highest high and the lowest
// low, so that both scans run the full depth on both sides.
inline std::vector<BarRecord> fractal_bars(int32_t centre) {
    Rng rng(13);
    std::normal_distribution<double> step(0.0, 1.0);
    std::vector<BarRecord> bars(2 * static_cast<size_t>(centre) + 1);
    double close = 100.0;
    for (size_t i = 0; i < bars.size(); ++i) {
        const double open = close;
        close = open + step(rng);
        bars[i] = BarRecord{static_cast<int32_t>(1700000000 + 86400 * i), open,
                            std::min(open, close) - 0.5, std::max(open, close) + 0.5, close, 1000.0};
    }
    bars[centre].high = 1e6;
    bars[centre].low = -1e6;
    return bars;
}

// Eight sorted levels and a price beyond them, so that the whole block is
// examined and nothing matches.
constexpr double kEightLevels[8] = {100.0, 100.5, 101.0, 101.5, 102.0, 102.5, 103.0, 103.5};

}  // namespace workloads

#endif

// Random inputs for differential tests, biased towards the values where
// numeric code goes wrong: signed zeros, NaN, infinities, int32 limits and
// repeated values.
#ifndef TIDEMARK_TESTS_RANDOM_VALUES_H
#define TIDEMARK_TESTS_RANDOM_VALUES_H

#include <cstdint>
#include <cstring>
#include <random>

#include "numbers.h"

namespace random_values {

using Rng = std::mt19937_64;

inline uint64_t below(Rng& rng, uint64_t n) { return rng() % n; }

// A double from a mix of special values, a small grid (so that duplicates
// and equal gaps are common) and arbitrary values.
inline double price(Rng& rng) {
    switch (below(rng, 16)) {
        case 0: return 0.0;
        case 1: return -0.0;
        case 2: return numbers::kNaN;
        case 3: return numbers::kInf;
        case 4: return -numbers::kInf;
        case 5: return numbers::kMaxDouble;
        case 6: return numbers::kTiny;
        case 7:
        case 8: return static_cast<double>(below(rng, 8)) * 0.5 - 1.0;
        case 9: {  // arbitrary bit pattern, NaN payloads included
            double d;
            const uint64_t bits = rng();
            std::memcpy(&d, &bits, sizeof d);
            return d;
        }
        default: return std::uniform_real_distribution<double>(-10.0, 10.0)(rng);
    }
}

// A tolerance: zero of either sign, negative, NaN, infinite or ordinary.
inline double tolerance(Rng& rng) {
    switch (below(rng, 10)) {
        case 0: return 0.0;
        case 1: return -0.0;
        case 2: return -1.0;
        case 3: return numbers::kNaN;
        case 4: return numbers::kInf;
        case 5: return 0.5;
        default: return std::uniform_real_distribution<double>(0.0, 4.0)(rng);
    }
}

inline int32_t int32(Rng& rng) {
    switch (below(rng, 12)) {
        case 0: return 0;
        case 1: return -1;
        case 2: return numbers::kMax;
        case 3: return numbers::kMin;
        case 4: return numbers::kMax - static_cast<int32_t>(below(rng, 3));
        case 5: return static_cast<int32_t>(static_cast<uint32_t>(rng()));
        default: return static_cast<int32_t>(below(rng, 11)) - 2;
    }
}

// An array length for the lookup and rescale tests: mostly short, so that
// the edge cases of tiny arrays come up often, sometimes a few dozen
// vector blocks long.
inline int32_t count(Rng& rng) {
    const uint64_t size_class = below(rng, 10);
    return static_cast<int32_t>(size_class < 6 ? below(rng, 20) : below(rng, 300));
}

}  // namespace random_values

#endif
